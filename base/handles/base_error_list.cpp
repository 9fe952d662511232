// Error lists of the handles and the functions that post ODBC errors; see
// base_error_list.h.
#include "base/handles/base_error_list.h"

#include "base/connection/base_connection.h"
#include "base/handles/base_app_text.h"
#include "base/handles/base_messages.h"
#include "util/os/message_box.h"
#include "util/resource.h"

#include <cstring>

namespace {

const char vendorPrefix[] = "[KESTRANE][ODBC ";

bool isDriverMessage(uint16_t id) {
  return (id >= baseDriverMessageFirst && id <= baseDriverMessageLast) ||
         (id >= baseEngineMessageFirst && id <= baseEngineMessageLast);
}

BaseConnection* currentOwner() { return static_cast<BaseConnection*>(KvErrorKeeper::getOwnerOfList()); }

// The text of a message id as an ODBC error: the driver's for its ranges,
// the state's default message for 0, the framework's otherwise.
void messageText(uint16_t stateIndex, uint16_t msgId, unsigned char* text, uint32_t size) {
  text[0] = 0;
  if (isDriverMessage(msgId)) {
    if (BaseConnection* owner = currentOwner()) owner->getDriverResourceStr(msgId, text, size);
  } else {
    loadResourceString(text, msgId ? msgId : baseStateMessageId(stateIndex), size);
  }
}

// Writes pieces of text into a buffer of room + 1 bytes, cut to the room
// and always terminated.
class MessageWriter {
 public:
  MessageWriter(unsigned char* buffer, uint32_t room) : buffer_(buffer), room_(room) { buffer_[0] = 0; }
  void add(const unsigned char* text) {
    uint32_t length = uint32_t(std::strlen(kvC(text)));
    if (length > room_ - used_) {
      length = room_ - used_;
      cut_ = 1;
    }
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
    buffer_[used_] = 0;
  }
  uint32_t getLength() const { return used_; }
  int wasCut() const { return cut_; }

 private:
  unsigned char* buffer_;
  uint32_t room_;
  uint32_t used_ = 0;
  int cut_ = 0;
};

KvError& addOdbc(uint16_t stateIndex, uint16_t msgId, ErrorType type) {
  unsigned char text[512];
  messageText(stateIndex, msgId, text, sizeof(text));
  return KvErrorKeeper::addError(new KvError(msgId, text, type, stateIndex, 0));
}

KvError& addNativeResource(uint16_t stateIndex, uint16_t msgId, ErrorType type) {
  unsigned char text[512];
  text[0] = 0;
  if (BaseConnection* owner = currentOwner()) owner->getDriverResourceStr(msgId, text, sizeof(text));
  KvError& error = KvErrorKeeper::addError(new KvError(msgId, text, type, stateIndex, msgId));
  if (!error.isStatic()) error.setFlags(error.getFlags() | KvError::flagNoDbmsName);
  return error;
}

}  // namespace

BaseErrorList::BaseErrorList(BaseConnection* owner) : KvErrorList(owner, 1) {}
BaseErrorList::~BaseErrorList() = default;

SQLRETURN BaseErrorList::SQLError(SQLCHAR* szSqlState, SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg,
                                  SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg) {
  bool wantMessage = szErrorMsg && cbErrorMsgMax >= 1;
  if (getCount() == 0 && !isOutOfMemory()) {
    if (szSqlState) std::memcpy(szSqlState, baseSqlStateText(stateSuccess), 6);
    if (pfNativeError) *pfNativeError = 0;
    if (pcbErrorMsg) *pcbErrorMsg = 0;
    if (wantMessage) szErrorMsg[0] = 0;
    return SQL_NO_DATA_FOUND;
  }
  KvError* error = removeFirstError();
  bool isMemory = (error->getFlags() & KvError::flagMemory) != 0;

  if (szSqlState) {
    const char* own = error->getSqlState();
    if (own[0]) {
      std::memcpy(szSqlState, own, 6);
    } else {
      uint16_t index = error->getStateIndex();
      if (index == 0) index = isMemory ? stateMemory : stateGeneral;
      std::memcpy(szSqlState, baseSqlStateText(index), 6);
    }
  }
  int32_t native = error->getNative();
  if (native == 0 && error->getStateIndex() == 0) native = error->getNumber();
  if (pfNativeError) *pfNativeError = native;

  SQLRETURN result = SQL_SUCCESS;
  if (!wantMessage) {
    if (pcbErrorMsg) *pcbErrorMsg = 0;
  } else {
    // The message is composed on the stack, so that handing out an error
    // never needs memory, then goes out in the application's code set.
    unsigned char composed[4096];
    MessageWriter message(composed, uint32_t(sizeof(composed) - 1));
    const unsigned char* text = error->getErrorText();
    if (text[0]) {
      message.add(kvU(vendorPrefix));
      BaseConnection* owner = getConnection();
      unsigned char driverName[256];
      driverName[0] = 0;
      if (owner) {
        owner->getDriverResourceStr(strDriverName, driverName, sizeof(driverName));
        message.add(driverName);
        message.add(kvU(" driver"));
      }
      message.add(kvU("]"));
      if (error->getNative() != 0 && !(error->getFlags() & KvError::flagNoDbmsName)) {
        const unsigned char* dbms = owner && owner->getDbmsName() ? owner->getDbmsName() : driverName;
        message.add(kvU("["));
        message.add(dbms);
        message.add(kvU("]"));
      }
      message.add(text);
    }
    const uint32_t room = uint32_t(cbErrorMsgMax - 1);
    bool cut = false;
    const uint32_t written = baseMessageToApp(composed, message.getLength(), szErrorMsg, room, &cut);
    if (message.wasCut() || cut) result = SQL_SUCCESS_WITH_INFO;
    if (pcbErrorMsg) *pcbErrorMsg = SQLSMALLINT(written);
  }
  if (!error->isStatic()) delete error;
  return result;
}

void BaseErrorList::displayErrorWin(void* parentWindow) {
  // One text of at most 1024 bytes: the first message with room for 1022
  // characters, each later one after a line feed in what is left.
  unsigned char text[1024];
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLError(nullptr, nullptr, text, 1023, &length);
  uint32_t used = (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) ? uint32_t(length) : 0;
  text[used] = 0;
  while (used > 0 && used + 2 < sizeof(text)) {
    rc = SQLError(nullptr, nullptr, text + used + 1, SQLSMALLINT(sizeof(text) - used - 1), &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    text[used] = '\n';
    used += 1 + uint32_t(length);
  }
  unsigned char caption[64];
  loadResourceString(caption, strWarningCaption, sizeof(caption));
  kvMessageBox(static_cast<KvWindow*>(parentWindow), text, caption,
               kvMbOk | kvMbIconExclamation | kvMbTaskModal);
  clearErrors();  // whatever did not fit was handed out too
}

KvError& addOdbcError(uint16_t stateIndex, uint16_t msgId) { return addOdbc(stateIndex, msgId, etError); }
KvError& addOdbcError(uint16_t stateIndex) { return addOdbc(stateIndex, 0, etError); }
KvError& addOdbcWarning(uint16_t stateIndex, uint16_t msgId) { return addOdbc(stateIndex, msgId, etWarning); }
KvError& addOdbcWarning(uint16_t stateIndex) { return addOdbc(stateIndex, 0, etWarning); }

KvError& addNativeError(uint16_t stateIndex, int32_t native, const unsigned char* text) {
  return KvErrorKeeper::addError(new KvError(0, text, etError, stateIndex, native));
}

KvError& addNativeWarning(uint16_t stateIndex, int32_t native, const unsigned char* text) {
  return KvErrorKeeper::addError(new KvError(0, text, etWarning, stateIndex, native));
}

KvError& addNativeResourceError(uint16_t stateIndex, uint16_t msgId) {
  return addNativeResource(stateIndex, msgId, etError);
}
KvError& addNativeResourceError(uint16_t msgId) { return addNativeResource(stateGeneral, msgId, etError); }
KvError& addNativeResourceWarning(uint16_t stateIndex, uint16_t msgId) {
  return addNativeResource(stateIndex, msgId, etWarning);
}
KvError& addNativeResourceWarning(uint16_t msgId) { return addNativeResource(stateWarning, msgId, etWarning); }

void resetLastErrorSqlState(uint16_t stateIndex) {
  KvError* last = KvErrorKeeper::getLastError();
  if (last && !last->isStatic()) last->setSqlState(kvC(baseSqlStateText(stateIndex)));
}

KvError& appendResourceTextAtPos(uint16_t id, uint32_t pos) {
  KvErrorList* list = KvErrorKeeper::getErrorList();
  KvError* error = list ? list->getErrorAtPos(pos) : nullptr;
  if (!error || error->isStatic()) return KvError::sinkError();
  unsigned char text[512];
  loadResourceString(text, id, sizeof(text));
  error->appendText(text);
  error->restartParams();
  return *error;
}

KvError& appendBaseTextToLastError(uint16_t id) { return appendResourceTextToLastError(id); }
