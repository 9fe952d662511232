// KvErrorMark: remembers the end of the calling thread's current error list,
// so that messages a lower layer added since can be taken back where the
// caller handles that failure itself (a missing settings file read as its
// defaults, a page that is read from the file instead of the cache).
#pragma once

#include "util/error_list.h"

class KvErrorMark {
 public:
  KvErrorMark() : last_(KvErrorKeeper::getLastError()) {}

  // The number of the newest message added since the mark, 0 when none.
  uint16_t newestNumber() const {
    KvError* newest = KvErrorKeeper::getLastError();
    return newest && newest != last_ ? newest->getNumber() : 0;
  }

  // Deletes every message added since the mark. The out-of-memory state of
  // a list is never taken back: it stands for a loss the list has no room
  // to record.
  void dropNew() const {
    for (;;) {
      KvError* newest = KvErrorKeeper::getLastError();
      if (!newest || newest == last_ || newest->isStatic()) return;
      KvErrorKeeper::clearLastError();
    }
  }

 private:
  KvError* last_;
};
