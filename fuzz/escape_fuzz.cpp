// Fuzz target of the escape pass, with the test driver's dialect and, on
// request, copyEscapeArgument and processOuterJoinEscape driven by the
// input.
//
// Input: four bytes of settings, then the SQL text.
//   byte 0: bits 0-1 quote characters (0 ' " `, 1 ' only, 2 none, 3 # and
//           '), bit 2 DBCS lead bytes 0x81-0x9F and 0xE0-0xFC, bits 3-4
//           the outer-join form, bit 5 function escapes through the copy
//           below instead of the dialect
//   byte 1: copyEscapeArgument flags
//   byte 2: copyEscapeArgument argument number (0-7)
//   byte 3: SQLNativeSql output buffer size
// Besides what the sanitizers catch: the rewritten text is terminated
// within its buffer, the markers counted are "?" bytes of the result,
// SQLNativeSql writes nothing past its buffer, terminates what it writes
// there, agrees with the pass, and leaves the application's text alone.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/connection/base_connection.h"
#include "base/handles/base_env.h"
#include "base/statement/base_escape.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "drivers/test/test_dialect.h"
#include "fuzz/fuzz_check.h"
#include "util/charsets/charset.h"

namespace {

class FuzzConnection : public BaseConnection {
 public:
  explicit FuzzConnection(BaseEnv* env) : BaseConnection(env) {}
  void getDllName(unsigned char* buffer, uint32_t size) override {
    if (size) buffer[0] = 0;
  }
  KvStatus connectInit(KvValueParser*) override { return kvSuccess; }
  KvStatus connectLogon() override { return kvSuccess; }
  KvStatus setToAllocatedState() override { return kvSuccess; }
  KvStatus connectLogonDialogStart(SQLHWND, SQLUSMALLINT, KvValueParser*) override { return kvSuccess; }
  short getDriverResourceStr(uint16_t, unsigned char* buffer, uint32_t size) override {
    if (size) buffer[0] = 0;
    return 0;
  }

  KvStatus expandNativeEscape(KvReplaceString* text, uint32_t length, EscapeType type,
                              EscapeFunctionType function) override {
    FUZZ_CHECK(length <= text->getLength());
    if (type == escapeOuterJoin) return processOuterJoinEscape(text, length, joinType);
    if (type != escapeFunction || !copyFunctions) return testExpandNativeEscape(this, text, length, type, function);
    const uint32_t name = uint32_t(std::strlen(escapeFunctionName(function)));
    FUZZ_CHECK(name <= length);
    text->skip(name);
    uint32_t rest = length - name;
    if (copyEscapeArgument(text, &rest, argument, flags) != kvSuccess) return kvFailure;
    FUZZ_CHECK(rest <= length - name);
    text->keep(rest);
    return kvSuccess;
  }

  BaseOuterJoinTypes joinType = outerJoinStarEquals;
  bool copyFunctions = false;
  uint16_t flags = 0;
  uint16_t argument = 1;
};

size_t countMarks(const unsigned char* text, size_t length) {
  size_t count = 0;
  for (size_t i = 0; i < length; ++i) count += text[i] == '?';
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 60000) return 0;
  static BaseEnv* env = new BaseEnv(1);
  FuzzConnection connection(env);
  const uint8_t settings = data[0];
  static const unsigned char quoteSets[4][3] = {{'\'', '"', '`'}, {'\'', 0, 0}, {0, 0, 0}, {'#', '\'', 0}};
  const unsigned char* quotes = quoteSets[settings & 3];
  connection.setQuoteChars(quotes[0], quotes[1], quotes[2]);
  static const unsigned char leadRanges[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};
  kvSetDbcsLeadBytes(settings & 0x4 ? leadRanges : nullptr);
  connection.joinType = BaseOuterJoinTypes((settings >> 3) & 3);
  connection.copyFunctions = (settings & 0x20) != 0;
  connection.flags = data[1];
  connection.argument = data[2] & 7;
  const SQLINTEGER outSize = data[3];
  const std::vector<unsigned char> input(data + 4, data + size);
  const uint32_t length = uint32_t(input.size());

  // The pass on a private copy.
  std::string passed;
  bool passOk = false;
  {
    KvString sql;
    if (sql.initialize(input.data(), length) != kvSuccess) return 0;
    KvErrorKeeper::setErrorList(&connection.getErrorList());
    uint16_t markers = 0;
    passOk = connection.expandEscapeClauses(&sql, &markers) == kvSuccess;
    KvErrorKeeper::giveUpErrorList();
    FUZZ_CHECK(sql.getLength() < sql.getCapacity());
    FUZZ_CHECK(sql.getStr()[sql.getLength()] == 0);
    if (passOk) {
      FUZZ_CHECK(markers <= countMarks(sql.getStr(), sql.getLength()));
      passed.assign(kvC(sql.getStr()), sql.getLength());
    }
    connection.getErrorList().clearErrors();
  }

  // SQLNativeSql on the application's own buffer, which it must not write
  // (one byte more, so that even an empty text has an address).
  std::vector<unsigned char> application(input);
  application.push_back(0xA5);
  std::vector<unsigned char> output(size_t(outSize) + 16, 0xEE);
  SQLINTEGER written = -1;
  const SQLRETURN rc = connection.SQLNativeSql(application.data(), SQLINTEGER(length), output.data(), outSize,
                                               &written);
  FUZZ_CHECK(std::equal(input.begin(), input.end(), application.begin()) && application.back() == 0xA5);
  for (size_t i = size_t(outSize); i < output.size(); ++i) FUZZ_CHECK(output[i] == 0xEE);
  FUZZ_CHECK((rc == SQL_ERROR) == !passOk);
  if (passOk) {
    FUZZ_CHECK(written == SQLINTEGER(passed.size()));
    if (outSize > 0) {
      const void* end = std::memchr(output.data(), 0, size_t(outSize));
      FUZZ_CHECK(end != nullptr);
      const size_t shown = size_t(static_cast<const unsigned char*>(end) - output.data());
      FUZZ_CHECK(shown <= passed.size());
      FUZZ_CHECK(std::memcmp(output.data(), passed.data(), shown) == 0);
      FUZZ_CHECK((rc == SQL_SUCCESS_WITH_INFO) == (passed.size() >= size_t(outSize)));
    }
  }
  connection.getErrorList().clearErrors();
  kvSetDbcsLeadBytes(nullptr);
  return 0;
}
