// Fuzz target of the connection-string parser.
//
// Input: one byte of settings, then the list.
//   bits 0-1: the separator: ";", ",", the byte 0, or "|"
//   bit 2:    parse under a name (error 2705 instead of 2704)
// Besides what the sanitizers catch, two round trips must hold:
//   - a list that parses, rebuilt with buildString, parses again into the
//     same keys and values in the same order;
//   - a value set with addAttribute (the list's text up to its first zero
//     byte) reads back from the rebuilt string, unquoted, as it was given.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "util/error_list.h"
#include "util/containers/value_parser.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Attributes;

std::string str(const KvSubString* text) {
  return std::string(reinterpret_cast<const char*>(text->getText()), text->getLength());
}

Attributes readAll(KvValueParser& parser) {
  Attributes out;
  for (uint16_t i = 0; i < parser.getAttributeCount(); ++i) {
    const KvSubString* key = parser.getAttributeKey(i);
    FUZZ_CHECK(key != nullptr);
    const KvSubString* value = parser.getAttributeValue(key);
    FUZZ_CHECK(value != nullptr);
    out.emplace_back(str(key), str(value));
  }
  return out;
}

// The value as the connection code reads it: a value in single quotes loses
// them, doubled quotes inside standing for one.
std::string unquoted(const std::string& value) {
  if (value.size() < 2 || value.front() != '\'' || value.back() != '\'') return value;
  std::string out;
  for (size_t i = 1; i + 1 < value.size(); ++i) {
    out += value[i];
    if (value[i] == '\'') ++i;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char separators[] = {';', ',', '\0', '|'};
  const char separator = separators[data[0] & 3];
  const unsigned char* name = (data[0] & 4) ? reinterpret_cast<const unsigned char*>("the list") : nullptr;
  ++data;
  --size;
  const unsigned char* bytes = size ? data : reinterpret_cast<const unsigned char*>("");

  KvErrorList list(nullptr, 1);
  KvErrorKeeper::setErrorList(&list);
  {
    KvSubString text(bytes, static_cast<uint32_t>(size));
    KvValueParser parser(&text, separator, name);
    const KvStatus status = parser.initialize();
    const Attributes parsed = readAll(parser);
    FUZZ_CHECK(parser.getUnusedCount() == 0 || status != kvSuccess);
    for (uint32_t step = 0; parser.getUnusedAttribute(); ++step) FUZZ_CHECK(step <= parser.getAttributeCount());
    const KvSubString* value = nullptr;
    // Both keywords given may be refused; asking must not crash.
    kvIgnoreStatus(parser.getAttributeValue(reinterpret_cast<const unsigned char*>("PWD"),
                                            reinterpret_cast<const unsigned char*>("PASSWORD"), value));

    if (status == kvSuccess) {
      KvString built;
      if (parser.buildString(built) == kvSuccess) {
        KvValueParser again(&built, separator, name);
        FUZZ_CHECK(again.initialize() == kvSuccess);
        FUZZ_CHECK(readAll(again) == parsed);
      }

      // The list's own first bytes as a value to be stored and read back.
      std::string given(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), size));
      const unsigned char* key = reinterpret_cast<const unsigned char*>("FUZZVALUE");
      if (parser.addAttribute(key, reinterpret_cast<const unsigned char*>(given.c_str()), nullptr) == kvSuccess &&
          parser.buildString(built) == kvSuccess) {
        KvValueParser again(&built, separator, name);
        FUZZ_CHECK(again.initialize() == kvSuccess);
        const KvSubString* stored = again.getAttributeValue(key);
        FUZZ_CHECK(stored != nullptr);
        FUZZ_CHECK(unquoted(str(stored)) == given);
      }
      if (parser.getAttributeCount() > 0) {
        const KvSubString* first = parser.getAttributeKey(0);
        std::string firstKey = str(first);
        parser.removeAttribute(reinterpret_cast<const unsigned char*>(firstKey.c_str()));
        parser.getUnusedCount();
      }
    }
  }
  list.clearErrors();
  KvErrorKeeper::giveUpErrorList();
  return 0;
}
