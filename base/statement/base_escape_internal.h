// What the escape pass shares with its helpers inside the framework (not
// exported): the scanner settings of escape text, and the hand-over of an
// outer join's condition from processOuterJoinEscape to the pass.
//
// processOuterJoinEscape runs inside the driver's expandNativeEscape, while
// the pass still holds the clause open; the condition must go into the
// statement's WHERE behind the clause, which no driver may touch then. So
// the condition is parked in the pass's BaseOuterJoinMove, found through the
// calling thread (two statements of one connection may run the pass at the
// same time on two threads), and placed by the pass once the clause is
// closed.
#pragma once

#include "util/containers/kv_string.h"
#include "util/containers/scanner.h"

// A scanner over escape text quotes with the connection's characters (0:
// none, which must never match a zero byte of the text).
inline void baseSetEscapeQuotes(KvScanner& scanner, const unsigned char* quotes) {
  auto quote = [](unsigned char c) { return c ? uint16_t(c) : uint16_t(0xFFFF); };
  scanner.setQuoteChars(quote(quotes[0]), quote(quotes[1]), quote(quotes[2]));
}

class BaseOuterJoinMove {
 public:
  // Becomes the calling thread's receiver until destroyed (nests).
  BaseOuterJoinMove();
  ~BaseOuterJoinMove();
  BaseOuterJoinMove(const BaseOuterJoinMove&) = delete;
  BaseOuterJoinMove& operator=(const BaseOuterJoinMove&) = delete;

  // The receiver of the calling thread, null outside the pass.
  static BaseOuterJoinMove* current();

  // Inserts the parked condition into the WHERE of sql (which the pass has
  // made its own), looking for it from offset from, and clears it.
  KvStatus place(KvString* sql, uint32_t from, const unsigned char* quotes, const unsigned char* extraStops);

  KvString condition;  // the condition as it goes into WHERE, marks applied
  bool pending = false;

 private:
  BaseOuterJoinMove* previous_;
};
