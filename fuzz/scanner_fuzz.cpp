// Fuzz target of the scanner and buttoken.
//
// Input: three bytes of settings, then the text.
//   byte 0: bits 0-1 search type (3 reads as 0), bits 2-3 group flags,
//           bit 4 comments, bit 5 decimal-point mode off, bit 6 DBCS lead
//           bytes 0x81-0x9F and 0xE0-0xFC, bit 7 a custom group "[" "]"
//   byte 1: the delimiter of delimited reads and lists
//   byte 2: bits 0-2 buttoken mode, bits 5-7 buttoken flag bits 13-15
// Besides what the sanitizers catch, every scan must stay inside its text,
// move on at every step and reach the end within one step per byte.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "util/containers/buttoken.h"
#include "util/charsets/charset.h"
#include "util/error_list.h"
#include "util/containers/kv_array.h"
#include "util/containers/scanner.h"

namespace {

void checkToken(const KvScanner& scanner, const KvToken& token) {
  FUZZ_CHECK(token.getOffset() <= scanner.getLength());
  FUZZ_CHECK(token.getLength() <= scanner.getLength() - token.getOffset());
  FUZZ_CHECK(token.getText() == scanner.getText() + token.getOffset());
}

void scanTokens(KvScanner& scanner, int searchType) {
  KvToken token;
  uint32_t previousEnd = 0;
  for (uint32_t step = 0;; ++step) {
    FUZZ_CHECK(step <= scanner.getLength() + 1);
    scanner.getToken(token, searchType);
    checkToken(scanner, token);
    if (token.getType() == kvTokenEnd) break;
    FUZZ_CHECK(token.getLength() > 0);
    FUZZ_CHECK(token.getOffset() >= previousEnd);
    previousEnd = token.getOffset() + token.getLength();
  }
  FUZZ_CHECK(scanner.isAtEnd());
}

void scanDelimited(KvScanner& scanner, char delimiter) {
  KvToken token;
  for (uint32_t step = 0;; ++step) {
    FUZZ_CHECK(step <= scanner.getLength() + 1);
    scanner.getDelimitedToken(token, delimiter);
    checkToken(scanner, token);
    if (token.getType() == kvTokenEnd) break;
    scanner.getToken(token);
    checkToken(scanner, token);
    if (token.getType() == kvTokenEnd) break;
  }
}

void compareWords(KvScanner& scanner) {
  KvToken token;
  for (uint32_t step = 0;; ++step) {
    FUZZ_CHECK(step <= scanner.getLength() + 1);
    scanner.getToken(token);
    if (token.getType() == kvTokenEnd) break;
    const uint32_t offset = scanner.getOffset();
    if (!scanner.isEqualCi(token, kvU("a b ("))) FUZZ_CHECK(scanner.getOffset() == offset);
    checkToken(scanner, token);
    scanner.isInSet(token, kvU("x\0y z\0"));
  }
  scanner.setOffset(0);
  scanner.isTokenWithinCi(kvU("select from"));
}

// Replaces every word by "xy" and puts "( " before every number, on an
// editable copy; stops when the string cannot grow any more.
void editTokens(const unsigned char* text, uint32_t length, int searchType) {
  KvString source;
  if (length > 60000 || source.initialize(text, length) != kvSuccess) return;
  KvScanner scanner(&source);
  KvToken token;
  const KvSubString word(kvU("xy"), 2);
  const KvSubString prefix(kvU("( "), 2);
  for (uint32_t step = 0;; ++step) {
    FUZZ_CHECK(step <= length + 1);
    scanner.getToken(token, searchType);
    checkToken(scanner, token);
    if (token.getType() == kvTokenEnd) break;
    KvStatus status = kvSuccess;
    if (token.getType() == kvTokenWord) {
      status = scanner.changeToken(&token, word);
      FUZZ_CHECK(status != kvSuccess || scanner.getOffset() == token.getOffset() + 2);
    } else if (token.getType() == kvTokenNumber) {
      const uint32_t before = scanner.getOffset();
      status = scanner.insertToken(&token, prefix);
      if (status == kvSuccess) {
        checkToken(scanner, token);
        FUZZ_CHECK(scanner.getOffset() == before + 2);
      }
    }
    if (status != kvSuccess) break;
    FUZZ_CHECK(scanner.getLength() == source.getLength());
  }
}

void readButtokens(const uint8_t* data, size_t size, unsigned short flags) {
  std::vector<unsigned char> text(data, data + size);
  text.push_back(0);
  const unsigned char* const end = text.data() + std::strlen(reinterpret_cast<const char*>(text.data()));
  const unsigned char* source = text.data();
  for (size_t step = 0; *source != 0; ++step) {
    FUZZ_CHECK(step <= size);
    unsigned char buffer[kvButtokenBufferBytes + 16];
    std::memset(buffer, 0xEE, sizeof(buffer));
    const unsigned char* before = source;
    const KvStatus status = buttoken(buffer, &source, flags);
    FUZZ_CHECK(source > before || *source == 0);
    FUZZ_CHECK(source <= end);
    // Nothing is written past the buffer of kvButtokenBufferBytes bytes.
    for (size_t i = kvButtokenBufferBytes; i < sizeof(buffer); ++i) FUZZ_CHECK(buffer[i] == 0xEE);
    unsigned char* block = status == kvSuccess ? buttokenBlock(buffer) : nullptr;
    if (block) {
      FUZZ_CHECK(flags & kvButAllocLong);
      FUZZ_CHECK(std::strlen(reinterpret_cast<const char*>(block)) > kvButtokenMaxBytes);
      ramFree(block);
    } else if (status == kvSuccess) {
      FUZZ_CHECK(std::strlen(reinterpret_cast<const char*>(buffer)) <= kvButtokenMaxBytes);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t settings = data[0];
  const char delimiter = static_cast<char>(data[1]);
  const uint8_t butSettings = data[2];
  data += 3;
  size -= 3;
  const unsigned char* text = size ? data : kvU("");
  const uint32_t length = static_cast<uint32_t>(size);

  static const unsigned char leadRanges[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};
  kvSetDbcsLeadBytes(settings & 0x40 ? leadRanges : nullptr);

  KvErrorList list(nullptr, 1);
  KvErrorKeeper::setErrorList(&list);
  {
    int searchType = settings & 3;
    if (searchType == 3) searchType = 0;
    KvScanner scanner(text, length);
    scanner.setGroupFlags(static_cast<uint16_t>((settings >> 2) & 3));
    scanner.setComments(settings & 0x10);
    scanner.setDecimalPointMode(!(settings & 0x20));
    if (settings & 0x80) scanner.setCustomGroup('[', ']');

    scanTokens(scanner, searchType);
    scanner.setOffset(0);
    scanDelimited(scanner, delimiter);

    KvArray items;
    items.setOwnsObjects(true);
    scanner.setOffset(0);
    if (scanner.parseList(&items, delimiter) == kvSuccess) {
      for (uint16_t i = 0; i < items.getCount(); ++i) {
        const KvSubString* item = static_cast<const KvSubString*>(items[i]);
        FUZZ_CHECK(item->getText() >= text && item->getText() + item->getLength() <= text + length);
      }
    }
    scanner.setOffset(0);
    kvIgnoreStatus(scanner.parseListQeString(&items, delimiter));  // any input may fail; it must not crash

    scanner.setOffset(0);
    compareWords(scanner);
    editTokens(text, length, searchType);

    const unsigned short flags =
        static_cast<unsigned short>((butSettings & 7) | ((butSettings & 0xE0) << 8));
    readButtokens(data, size, flags);
  }
  list.clearErrors();
  KvErrorKeeper::giveUpErrorList();
  kvSetDbcsLeadBytes(nullptr);
  return 0;
}
