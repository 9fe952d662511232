// Errors and the ziz-thread error list.
//
// Every operation returns a KvStatus or an ODBC return code; the details of a
// failure travel as KvError objects appended to the error list that is
// current for the calling thread. A handle owns one list; on entry to an ODBC
// call the handle's list becomes current, every layer below adds errors to
// the current list without knowing whose it is, and on exit the list is
// given up again.
//
// A list that is not keep-all keeps warnings until the first error, keeps
// that first error and refuses everything after it. An allocation failure
// never needs memory to be reported: the list enters its out-of-memory state
// and reads back the static memory error first.
#pragma once

#include "util/containers/kv_list.h"
#include "util/containers/kv_string.h"
#include "util/util_message_ids.h"

enum ErrorType : int { etError = 0, etWarning = 1 };
enum ErrorsMix : int { mixNone = 0, mixBoth = 1, mixErrors = 2, mixWarnings = 3 };

class KV_UTIL_API KvError : public KvNode {
 public:
  enum : uint32_t {
    flagWarning = 0x1,
    flagStatic = 0x2,
    flagMemory = 0x4,
    flagSink = 0x8,
    flagNoDbmsName = 0x20,
  };

  KvError(uint16_t number, const unsigned char* text, ErrorType type, uint16_t stateIndex,
          int32_t native);
  ~KvError() override;

  // "Out Of Memory" for the memory error, else the text.
  const unsigned char* getErrorText() const;
  void appendText(const unsigned char* text);

  // Fill the next marker of the text; on the sink they do nothing. They
  // return the error itself, or the sink when the text could not grow.
  KvError& operator<<(const unsigned char* text);
  KvError& operator<<(const char* text) { return *this << reinterpret_cast<const unsigned char*>(text); }
  KvError& operator<<(uint32_t number);
  KvError& operator<<(int32_t number);
  KvError& operator<<(const KvSubString& text);

  int32_t getNative() const { return native_; }
  uint16_t getNumber() const { return number_; }
  uint16_t getStateIndex() const { return stateIndex_; }
  void setStateIndex(uint16_t index) { stateIndex_ = index; }
  const char* getSqlState() const { return sqlState_; }
  void setSqlState(const char* state);
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  int isWarning() const { return (flags_ & flagWarning) != 0; }
  int isStatic() const { return (flags_ & flagStatic) != 0; }
  int isSink() const { return (flags_ & flagSink) != 0; }
  KvParamString& getParamText() { return text_; }
  // Restarts the marker numbering, so that later fills go to an appended text.
  void restartParams() { text_.restartParams(); }

  // The two static errors, alive from library load to unload.
  static KvError& memoryError();
  static KvError& sinkError();

 private:
  struct StaticTag {};
  KV_LOCAL KvError(StaticTag, uint16_t number, uint32_t flags);

  int32_t native_ = 0;
  uint16_t number_ = 0;
  uint16_t stateIndex_ = 0;
  KvParamString text_;
  char sqlState_[6] = {0};
  uint32_t flags_ = 0;
};

class KV_UTIL_API KvErrorList : public KvList {
 public:
  enum : uint32_t { flagKeepAll = 0x1, flagOutOfMemory = 0x2 };

  KvErrorList(void* owner, unsigned keepAll);
  // Deletes every error it holds.
  ~KvErrorList() override;

  KvError* removeFirstError();
  KvError* removeLastError();
  KvError* getLastError();
  ErrorsMix getErrorsMix() const;
  KvStatus concatErrors(KvString* out, unsigned char separator) const;
  void setWarningAfterPos(uint32_t pos);
  void appendTextStartingAtPos(const unsigned char* text, uint32_t pos);
  // Deletes every error and leaves the out-of-memory state.
  void clearErrors();

  void* getOwner() const { return owner_; }
  void setOwner(void* owner) { owner_ = owner; }
  int isKeepAll() const { return (flags_ & flagKeepAll) != 0; }
  int isOutOfMemory() const { return (flags_ & flagOutOfMemory) != 0; }
  void setOutOfMemory() { flags_ |= flagOutOfMemory; }
  KvErrorList* getPrevious() const { return previous_; }
  // The error at a 0-based position, null past the end.
  KvError* getErrorAtPos(uint32_t pos) const;

 private:
  friend class KvErrorKeeper;
  void* owner_;
  uint32_t flags_;
  KvErrorList* previous_ = nullptr;
};

// Static functions on the calling thread's current list.
class KV_UTIL_API KvErrorKeeper {
 public:
  static void setErrorList(KvErrorList* list);
  static KvErrorList* giveUpErrorList();
  static KvErrorList* getErrorList();
  static KvError& addError(KvError* error);
  static void addMemoryError();
  static KvError* getLastError();
  static uint16_t getLastErrorNumber();
  static KvError& appendTextToLastError(const unsigned char* text);
  static void clearLastError();
  static void* getOwnerOfList();
};

KV_UTIL_API KvError& addDatabaseError(uint16_t number, int32_t native, const unsigned char* text,
                                      ErrorType type);
