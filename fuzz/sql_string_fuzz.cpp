// Fuzz target of the statement text an application hands to SQLPrepare and
// SQLExecDirect (BaseSqlString): verb, markers, FOR UPDATE OF, WHERE
// CURRENT OF, and the texts made from them.
//
// Input: one byte of settings, then the statement text.
//   byte 0: bit 0 no back quote among the quote characters, bit 1 no double
//           quote, bit 2 the cursor name of WHERE CURRENT OF is replaced by
//           a longer one, bit 3 FOR UPDATE OF is cut
// Besides what the sanitizers catch: every remembered place lies in the
// text and names what it should ("?", FOR, CURRENT), before and after the
// text is edited, and the caller's text is never written.
#include <cstring>
#include <string>
#include <vector>

#include "base/handles/base_error_list.h"
#include "base/statement/base_sql_string.h"
#include "fuzz/fuzz_check.h"
#include "util/containers/str_functions.h"

namespace {

bool wordAt(const BaseSqlString& sql, uint32_t pos, const char* word) {
  const uint32_t length = uint32_t(std::strlen(word));
  return pos <= sql.getLength() && length <= sql.getLength() - pos &&
         strEqualCi(sql.getText() + pos, length, reinterpret_cast<const unsigned char*>(word), length);
}

void checkPlaces(const BaseSqlString& sql) {
  for (uint16_t i = 0; i < sql.getMarkerCount(); ++i) {
    const uint32_t at = sql.getMarkerOffset(i);
    FUZZ_CHECK(at < sql.getLength());
    FUZZ_CHECK(sql.getText()[at] == '?');
    if (i > 0) FUZZ_CHECK(at > sql.getMarkerOffset(i - 1));
  }
  if (sql.getForUpdatePos()) FUZZ_CHECK(wordAt(sql, sql.getForUpdatePos(), "FOR"));
  if (sql.getCurrentOfPos()) {
    FUZZ_CHECK(wordAt(sql, sql.getCurrentOfPos(), "CURRENT"));
    FUZZ_CHECK(sql.getCurrentOfLength() <= sql.getLength() - sql.getCurrentOfPos());
    const KvSubString name = sql.getCursorNameToken();
    FUZZ_CHECK(name.getLength() > 0);
    FUZZ_CHECK(name.getText() + name.getLength() == sql.getText() + sql.getCurrentOfPos() + sql.getCurrentOfLength());
  }
  for (const KvSubString& part : {sql.getVerbToken(), sql.getObjectToken(), sql.getCursorNameToken()}) {
    if (part.getLength() == 0) continue;
    FUZZ_CHECK(part.getText() >= sql.getText());
    FUZZ_CHECK(part.getText() + part.getLength() <= sql.getText() + sql.getLength());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t settings = data[0];
  const std::vector<unsigned char> caller(data + 1, data + size);
  BaseErrorList list(nullptr);
  KvErrorKeeper::setErrorList(&list);
  {
    BaseSqlString sql(caller.empty() ? reinterpret_cast<const unsigned char*>("") : caller.data(),
                      int32_t(caller.size()));
    sql.setQuoteChars('\'', (settings & 0x2) ? 0 : '"', (settings & 0x1) ? 0 : '`');
    const KvSqlVerb verb = sql.getVerb();
    FUZZ_CHECK(verb >= sqlVerbAlter && verb <= sqlVerbNoWord);
    if (sql.scanSql(sqlScanMarkers | sqlScanClauses) == kvSuccess) {
      checkPlaces(sql);
      KvString text;
      FUZZ_CHECK(sql.stripParams(&text) == kvSuccess);
      FUZZ_CHECK(text.getLength() <= sql.getLength());
      FUZZ_CHECK(sql.paramSubstFmtCnt(&text, reinterpret_cast<const unsigned char*>(":p%03d")) == kvSuccess);
      if ((settings & 0x4) && sql.getCurrentOfPos()) {
        const KvSubString name = sql.getCursorNameToken();
        FUZZ_CHECK(sql.replaceSubString(&name, reinterpret_cast<const unsigned char*>("SQL_CUR00000001"), 15) ==
                   kvSuccess);
        checkPlaces(sql);
      }
      if (settings & 0x8) {
        FUZZ_CHECK(sql.stripForUpdate() == kvSuccess);
        checkPlaces(sql);
      }
    }
  }
  FUZZ_CHECK(caller.empty() || std::memcmp(caller.data(), data + 1, caller.size()) == 0);
  KvErrorKeeper::giveUpErrorList();
  return 0;
}
