// Connection establishment: SQLConnect, SQLDriverConnect, SQLBrowseConnect
// and SQLDisconnect for every driver, the attributes all drivers share, and
// the translation library.
//
// Attributes are looked up in the connection string (short key, then long
// key), else, unless the string names a DRIVER, in the data source's
// section of ODBC.INI (long key), else the default:
//   UID/LogonID, PWD/Password       user id and password (unless the call gave them)
//   MS/ModifySql "1"                extended SQL grammar unless the value begins with '0'
//   YLD/YieldProc "1"               yield mode 0-3 (above 3 reads as 1)
//   AE/AsyncExec "0"                with yield mode 1, a value beginning '1' gives mode 3
//   WA/WorkArounds "0"              compatibility switches
//   FH/FileHandles "0"              descriptors the process wants available
//   TransDLL/TranslationDLL         translation library, with TransOpt/TranslationOption "0"
#include "base/connection/base_connection.h"

#include "base/handles/base_env.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/setup/base_profile.h"
#include "base/statement/base_statement.h"
#include "util/os/bos.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"
#include "util/containers/text_convert.h"
#include "util/containers/value_parser.h"

#include <cstring>

namespace {

const unsigned char defaultDataSource[] = "Default";

// A copy of a value without its enclosing quotes (doubled quotes inside
// undoubled), or as it stands when it does not begin with a quote.
unsigned char* copyUnquoted(const KvSubString& value) {
  const unsigned char* text = value.getText();
  uint32_t length = value.getLength();
  if (length == 0 || (text[0] != '\'' && text[0] != '"')) return ramAllocStr(text, length);
  unsigned char quote = text[0];
  auto* out = static_cast<unsigned char*>(ramAlloc(length + 1));
  if (!out) return nullptr;
  uint32_t used = 0;
  for (uint32_t i = 1; i < length; ++i) {
    if (text[i] == quote) {
      if (i + 1 < length && text[i + 1] == quote) ++i;
      else break;  // the closing quote
    }
    out[used++] = text[i];
  }
  out[used] = 0;
  return out;
}

// Appends "key" + value + ";" when there is a value.
KvStatus appendAttribute(KvString* text, const char* key, const unsigned char* value) {
  if (!value) return kvSuccess;
  if (text->concat(kvU(key)) != kvSuccess || text->concat(value) != kvSuccess || text->concat(';') != kvSuccess)
    return kvFailure;
  return kvSuccess;
}

// The answer of every connect call on a shared connection: it is connected
// already and stays as the first application made it; the caller still gets
// a connection string (empty) and its length.
SQLRETURN answerShared(SQLCHAR* out, SQLSMALLINT outMax, SQLSMALLINT* outLength) {
  if (out && outMax > 0) out[0] = 0;
  if (outLength) *outLength = 0;
  return SQL_SUCCESS;
}

int yieldNone(BaseConnection*) { return 0; }
// The message pump of a windowing system; there is none to pump here.
int yieldPumpMessages(BaseConnection*) { return 0; }

}  // namespace

int BaseConnection::hasDriverAttribute(KvValueParser* parser) const {
  return parser && parser->isAttributeValue(kvU("DRIVER"));
}

KvStatus BaseConnection::getConnectionValue(KvValueParser* parser, const char* shortKey, const char* longKey,
                                            const char* defaultValue, unsigned char** out, uint16_t* source) {
  *out = nullptr;
  const KvSubString* value = nullptr;
  if (parser) {
    if (shortKey) {
      if (parser->getAttributeValue(kvU(shortKey), kvU(longKey), value) != kvSuccess) return kvFailure;
    } else {
      value = parser->getAttributeValue(kvU(longKey));
    }
  }
  uint16_t from = 2;
  if (value) {
    *out = copyUnquoted(*value);
    from = 0;
  } else if (!hasDriverAttribute(parser)) {
    unsigned char text[256];
    baseGetProfileString(dsn_ ? dsn_ : defaultDataSource, kvU(longKey), kvU(""), text, sizeof(text));
    if (text[0]) {
      *out = ramAllocStr(text);
      from = 1;
    }
  }
  if (from == 2) {
    if (source) *source = 2;
    if (!defaultValue) return kvSuccess;
    *out = ramAllocStr(kvU(defaultValue));
  }
  if (source) *source = from;
  return *out ? kvSuccess : kvFailure;
}

KvStatus BaseConnection::lookupDataSource(const unsigned char* name, uint32_t length) {
  ramFree(dsn_);
  dsn_ = nullptr;
  if (name && length) {
    dsn_ = ramAllocStr(name, length);
    if (!dsn_) return kvFailure;
    unsigned char driver[80];
    baseGetProfileString(dsn_, kvU("Driver"), kvU(""), driver, sizeof(driver));
    if (driver[0]) return kvSuccess;
    ramFree(dsn_);
  }
  dsn_ = ramAllocStr(defaultDataSource);
  return dsn_ ? kvSuccess : kvFailure;
}

KvStatus BaseConnection::readCommonAttributes(KvValueParser* parser) {
  unsigned char* value = nullptr;
  uint16_t source = 0;
  if (!userId_) {
    if (getConnectionValue(parser, "UID", "LogonID", nullptr, &userId_, &source) != kvSuccess) return kvFailure;
    if (userId_ && source == 1) flags_ |= flagUidFromIni;
  }
  if (!password_) {
    if (getConnectionValue(parser, "PWD", "Password", nullptr, &password_, &source) != kvSuccess)
      return kvFailure;
    if (password_ && source == 1) flags_ |= flagPwdFromIni;
  }

  if (getConnectionValue(parser, "MS", "ModifySql", "1", &value, nullptr) != kvSuccess) return kvFailure;
  if (value[0] != '0') flags_ |= flagModifySql;
  else flags_ &= ~flagModifySql;
  ramFree(value);

  uint32_t number = 0;
  if (getConnectionValue(parser, "YLD", "YieldProc", "1", &value, nullptr) != kvSuccess) return kvFailure;
  KvStatus status = convert(value, &number);
  ramFree(value);
  if (status != kvSuccess) return kvFailure;
  yieldMode_ = uint16_t(number > 3 ? 1 : number);
  if (yieldMode_ == 1) {
    if (getConnectionValue(parser, "AE", "AsyncExec", "0", &value, nullptr) != kvSuccess) return kvFailure;
    if (value[0] == '1') yieldMode_ = 3;
    ramFree(value);
  }

  if (getConnectionValue(parser, "WA", "WorkArounds", "0", &value, nullptr) != kvSuccess) return kvFailure;
  status = convert(value, &number);
  ramFree(value);
  if (status != kvSuccess) return kvFailure;
  setWorkArounds(number);

  if (getConnectionValue(parser, "FH", "FileHandles", "0", &value, nullptr) != kvSuccess) return kvFailure;
  status = convert(value, &number);
  ramFree(value);
  if (status != kvSuccess) return kvFailure;
  if (number) bosSetHandleCount(number);

  unsigned char* library = nullptr;
  if (getConnectionValue(parser, "TransDLL", "TranslationDLL", nullptr, &library, nullptr) != kvSuccess)
    return kvFailure;
  if (library && library[0]) {
    int32_t option = 0;
    status = getConnectionValue(parser, "TransOpt", "TranslationOption", "0", &value, nullptr);
    if (status == kvSuccess) {
      status = convert(value, &option);
      ramFree(value);
    }
    if (status == kvSuccess) {
      translateOption_ = option;
      status = loadTranslationDll(library);
    }
    ramFree(library);
    if (status != kvSuccess) return kvFailure;
  } else {
    ramFree(library);
  }
  yieldCallbacks_[0] = yieldPumpMessages;
  yieldCallbacks_[1] = yieldCallbacks_[2] = yieldCallbacks_[3] = yieldNone;
  return kvSuccess;
}

// ---------------------------------------------------------------- connect calls

// Every connect call: a shared connection answers success at once and is
// left as it is; a connection that is connected already answers 08002 and
// is left as it is too.
SQLRETURN BaseConnection::SQLConnect(SQLCHAR* szDSN, SQLSMALLINT cbDSN, SQLCHAR* szUID, SQLSMALLINT cbUID,
                                     SQLCHAR* szAuthStr, SQLSMALLINT cbAuthStr) {
  if (isShared()) return SQL_SUCCESS;
  BaseCall call(this, SQL_API_SQLCONNECT);
  if (!call.isOpen()) return call.getResult();
  if (isConnected()) {
    addOdbcError(stateConnectionInUse);
    return call.exit(SQL_ERROR);
  }
  BaseInString dsn(szDSN, cbDSN), uid(szUID, cbUID), auth(szAuthStr, cbAuthStr);
  if (dsn.convertFromApp() != kvSuccess || uid.convertFromApp() != kvSuccess || auth.convertFromApp() != kvSuccess)
    return call.exit(SQL_ERROR);
  KvStatus status = lookupDataSource(dsn.getText(), dsn.getLength());
  if (status == kvSuccess && szUID) {
    userId_ = ramAllocStr(uid.getStr(), uid.getLength());
    if (!userId_) status = kvFailure;
  }
  if (status == kvSuccess && szAuthStr) {
    password_ = ramAllocStr(auth.getStr(), auth.getLength());
    if (!password_) status = kvFailure;
  }
  if (status == kvSuccess) status = readCommonAttributes(nullptr);
  if (status == kvSuccess) status = connectInit(nullptr);
  if (status == kvSuccess) status = finishConnect();
  if (status != kvSuccess) {
    kvIgnoreStatus(disconnect());  // clean-up; the first failure stands
    return call.exit(SQL_ERROR);
  }
  return call.exit(SQL_SUCCESS);
}

SQLRETURN BaseConnection::SQLDriverConnect(SQLHWND hwnd, SQLCHAR* szConnStrIn, SQLSMALLINT cbConnStrIn,
                                           SQLCHAR* szConnStrOut, SQLSMALLINT cbConnStrOutMax,
                                           SQLSMALLINT* pcbConnStrOut, SQLUSMALLINT fDriverCompletion) {
  if (isShared()) return answerShared(szConnStrOut, cbConnStrOutMax, pcbConnStrOut);
  BaseCall call(this, SQL_API_SQLDRIVERCONNECT);
  if (!call.isOpen()) return call.getResult();
  if (isConnected()) {
    addOdbcError(stateConnectionInUse);
    return call.exit(SQL_ERROR);
  }
  BaseInString input(szConnStrIn, cbConnStrIn);
  if (input.convertFromApp() != kvSuccess) return call.exit(SQL_ERROR);
  KvValueParser parser(&input, ';', nullptr);
  KvStatus status = parser.initialize();
  if (status == kvSuccess) {
    // DRIVER is the Driver Manager's keyword: read here, it is never
    // reported as an attribute nobody understood.
    parser.getAttributeValue(kvU("DRIVER"));
    const KvSubString* dsn = parser.getAttributeValue(kvU("DSN"));
    unsigned char* name = dsn ? copyUnquoted(*dsn) : nullptr;
    status = lookupDataSource(name, kvTextLength(name));
    ramFree(name);
  }
  if (status == kvSuccess) status = readCommonAttributes(&parser);
  if (status == kvSuccess) status = connectInit(&parser);
  if (status == kvSuccess) {
    BaseReportUnusedConnectionAttrs(&parser);
    status = connectLogonDialogStart(hwnd, fDriverCompletion, &parser);
  }
  if (status != kvSuccess) {
    kvIgnoreStatus(disconnect());  // clean-up; the first failure stands
    return call.exit(SQL_ERROR);
  }
  if (!isConnected()) {
    kvIgnoreStatus(disconnect());  // the user cancelled: only forgets what was read
    return call.exit(SQL_NO_DATA_FOUND);
  }
  KvString completed;
  status = parser.addAttribute(kvU("DSN"), dsn_, nullptr);
  if (status == kvSuccess && userId_) status = parser.addAttribute(kvU("UID"), userId_, kvU("LogonID"));
  if (status == kvSuccess && password_) status = parser.addAttribute(kvU("PWD"), password_, kvU("Password"));
  if (status == kvSuccess) status = parser.buildString(completed);
  if (status == kvSuccess && (workArounds_ & waRenameDb)) {
    // The first DB= outside quotes becomes DATABASE=.
    const unsigned char* text = completed.getStr();
    uint32_t length = completed.getLength();
    char quote = 0;
    for (uint32_t i = 0; i + 3 <= length; ++i) {
      unsigned char c = text[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '\'' || c == '"') {
        quote = char(c);
      } else if ((i == 0 || text[i - 1] == ';' || text[i - 1] == ' ') && strEqualCi(text + i, 3, kvU("DB="), 3)) {
        status = completed.changeBytes(i, 2, kvU("DATABASE"), 8);
        break;
      }
    }
  }
  if (status != kvSuccess) {
    kvIgnoreStatus(disconnect());  // clean-up; the first failure stands
    return call.exit(SQL_ERROR);
  }
  BaseOutString out(szConnStrOut, int32_t(cbConnStrOutMax), pcbConnStrOut);
  return call.exit(out.setStrValue(completed) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

SQLRETURN BaseConnection::SQLBrowseConnect(SQLCHAR* szConnStrIn, SQLSMALLINT cbConnStrIn, SQLCHAR* szConnStrOut,
                                           SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut) {
  if (isShared()) return answerShared(szConnStrOut, cbConnStrOutMax, pcbConnStrOut);
  BaseCall call(this, SQL_API_SQLBROWSECONNECT);
  if (!call.isOpen()) return call.getResult();
  if (isConnected()) {
    addOdbcError(stateConnectionInUse);
    return call.exit(SQL_ERROR);
  }
  bool starting = (flags_ & flagNoBrowse) != 0;
  KvStatus status = kvSuccess;
  if (starting) {
    delete browseText_;
    browseText_ = new KvParamString();
    if (!browseText_) status = kvFailure;
  }
  BaseInString input(szConnStrIn, cbConnStrIn);
  if (status == kvSuccess) status = input.convertFromApp();
  KvValueParser parser(&input, ';', nullptr);
  bool hasInput = szConnStrIn && input.getLength() != 0;
  if (status == kvSuccess && hasInput) status = parser.initialize();
  if (status == kvSuccess && (starting || parser.isAttributeValue(kvU("DSN")))) {
    const KvSubString* dsn = hasInput ? parser.getAttributeValue(kvU("DSN")) : nullptr;
    unsigned char* name = dsn ? copyUnquoted(*dsn) : nullptr;
    status = lookupDataSource(name, kvTextLength(name));
    ramFree(name);
  }
  ramFree(userId_);
  ramFree(password_);
  userId_ = password_ = nullptr;
  if (status == kvSuccess) status = readCommonAttributes(hasInput ? &parser : nullptr);
  unsigned more = 0;
  if (status == kvSuccess) status = connectBrowse(hasInput ? &parser : nullptr, browseText_, &more);
  if (status != kvSuccess) {
    kvIgnoreStatus(disconnect());  // clean-up; the first failure stands
    return call.exit(SQL_ERROR);
  }
  flags_ &= ~flagNoBrowse;
  BaseOutString out(szConnStrOut, int32_t(cbConnStrOutMax), pcbConnStrOut);
  if (more) {
    return call.exit(out.setStrValue(*browseText_) == kvSuccess ? SQL_NEED_DATA : SQL_ERROR);
  }
  // Complete: the driver has logged on. The connection finishes as every
  // connect does; the completed connection string is what the connection
  // took, then what the driver's browsing gathered.
  KvString result;
  if (completeConnect() != kvSuccess || appendAttribute(&result, "DSN=", dsn_) != kvSuccess ||
      appendAttribute(&result, "UID=", userId_) != kvSuccess ||
      appendAttribute(&result, "PWD=", password_) != kvSuccess || result.concat(browseText_->getStr()) != kvSuccess) {
    kvIgnoreStatus(disconnect());  // clean-up; the first failure stands
    return call.exit(SQL_ERROR);
  }
  flags_ |= flagNoBrowse;
  delete browseText_;
  browseText_ = nullptr;
  return call.exit(out.setStrValue(result) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

SQLRETURN BaseConnection::SQLDisconnect() {
  if (isShared()) return SQL_SUCCESS;
  BaseCall call(this, SQL_API_SQLDISCONNECT);
  if (!call.isOpen()) return call.getResult();
  if (flags_ & flagTransaction) {
    addOdbcError(stateTxnState);
    return call.exit(SQL_ERROR);
  }
  // A statement whose call, from another thread, waits for this connection
  // would be deleted under it.
  if (!statements_.forEach<BaseStatement>([self = baseThreadId()](BaseStatement* s) {
        const uintptr_t holder = s->getCallingThread();
        return holder == 0 || holder == self;
      })) {
    addOdbcError(stateSequence);
    return call.exit(SQL_ERROR);
  }
  return call.exit(disconnect() == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

// ---------------------------------------------------------------- common steps

KvStatus BaseConnection::finishConnect() {
  if (connectLogon() != kvSuccess) return kvFailure;
  return completeConnect();
}

KvStatus BaseConnection::completeConnect() {
  KvStatus status = kvSuccess;
  txnIsolation_ = getInfoNumber(SQL_DEFAULT_TXN_ISOLATION, &status);
  if (status != kvSuccess) return kvFailure;
  flags_ |= flagConnected;
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  unsigned owned = 0;
  if (getInfo(SQL_DBMS_NAME, &value, &kind, &owned) != kvSuccess) return kvFailure;
  ramFree(dbmsName_);
  dbmsName_ = ramAllocStr(kind == infoText && value ? static_cast<unsigned char*>(value) : kvU(""));
  if (owned) ramFree(value);
  if (!dbmsName_) return kvFailure;
  replayQueuedOptions();
  return kvSuccess;
}

KvStatus BaseConnection::disconnect() {
  if (!statements_.forEach<BaseStatement>(
          [](BaseStatement* s) { return s->returnToAllocatedState(0) == kvSuccess; }))
    return kvFailure;
  KvStatus status = setToAllocatedState();
  flags_ &= ~(flagConnected | flagTransaction);
  while (KvNode* node = statements_.peekFirst()) delete static_cast<BaseStatement*>(node);
  unloadTranslationDll();
  ramFree(dsn_);
  ramFree(userId_);
  ramFree(password_);
  ramFree(dbmsName_);
  dsn_ = userId_ = password_ = dbmsName_ = nullptr;
  flags_ &= ~(flagUidFromIni | flagPwdFromIni);
  clearQueuedOptions();
  delete browseText_;
  browseText_ = nullptr;
  flags_ |= flagNoBrowse;
  workArounds_ &= 0xFFFF0000u;
  resetOptions();
  return status;
}

int16_t BaseConnection::yield() {
  BaseYieldCallback callback = yieldCallbacks_[yieldMode_ & 3];
  if (callback) callback(this);
  return yieldResult_;
}

BaseYieldCallback BaseConnection::yieldCallback(void*) {
  BaseYieldCallback callback = yieldCallbacks_[yieldMode_ & 3];
  return callback ? callback : yieldNone;
}

// ---------------------------------------------------------------- translation

KvStatus BaseConnection::loadTranslationDll(const unsigned char* path) {
  unloadTranslationDll();
  void* library = bosLoadLibrary(path, 0);
  BaseTranslateFunction toDriver = nullptr, toDataSource = nullptr;
  if (library) {
    toDriver = reinterpret_cast<BaseTranslateFunction>(bosGetProcAddress(library, "SQLDataSourceToDriver"));
    toDataSource = reinterpret_cast<BaseTranslateFunction>(bosGetProcAddress(library, "SQLDriverToDataSource"));
  }
  if (!library || !toDriver || !toDataSource) {
    bosFreeLibrary(library);
    addOdbcError(stateTranslation);
    return kvFailure;
  }
  translationPath_ = ramAllocStr(path);
  if (!translationPath_) {
    bosFreeLibrary(library);
    return kvFailure;
  }
  translationDll_ = library;
  toDriverFunction_ = toDriver;
  toDataSourceFunction_ = toDataSource;
  return kvSuccess;
}

void BaseConnection::unloadTranslationDll() {
  bosFreeLibrary(translationDll_);
  translationDll_ = nullptr;
  toDriverFunction_ = toDataSourceFunction_ = nullptr;
  ramFree(translationPath_);
  translationPath_ = nullptr;
}

namespace {

KvStatus translate(BaseTranslateFunction function, uint32_t option, int16_t sqlType, void* buffer,
                   uint32_t length) {
  unsigned char message[512];
  message[0] = 0;
  int16_t messageLength = 0;
  int32_t outLength = int32_t(length);
  function(option, sqlType, buffer, int32_t(length), buffer, int32_t(length), &outLength, message,
           int16_t(sizeof(message)), &messageLength);
  message[sizeof(message) - 1] = 0;
  if (message[0]) {
    addOdbcError(stateGeneral, msgTranslationError) << message;
    return kvFailure;
  }
  if (outLength != int32_t(length)) {
    addOdbcError(stateGeneral, msgTranslationSize);
    return kvFailure;
  }
  return kvSuccess;
}

}  // namespace

KvStatus BaseConnection::toDriver(int16_t sqlType, void* buffer, uint32_t length) {
  if (!translationDll_) return kvSuccess;
  return translate(toDriverFunction_, uint32_t(translateOption_), sqlType, buffer, length);
}

KvStatus BaseConnection::toDataSource(int16_t sqlType, void* buffer, uint32_t length) {
  if (!translationDll_) return kvSuccess;
  return translate(toDataSourceFunction_, uint32_t(translateOption_), sqlType, buffer, length);
}

void BaseReportUnusedConnectionAttrs(KvValueParser* parser) {
  if (!parser) return;
  while (const KvSubString* key = parser->getUnusedAttribute())
    addOdbcWarning(stateBadConnString, msgBadConnAttribute) << *key;
}
