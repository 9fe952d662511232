// Fuzz target of the engine's execution and fetch: any text (or a list of
// fragments of the dialect, see statementText) is prepared against the
// small fixed catalog of test-driver tables and, when it is a SELECT,
// executed and fetched to its end (grouping, UNION pairs, ORDER BY and
// DISTINCT, outer joins, subqueries), every column read as text. A failed
// fetch must say why, and must end the result: the next fetch finds the end.
#include "fuzz/flat_fuzz_catalog.h"

#include "base/handles/base_out_string.h"
#include "flat/exec/flat_statement.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  flatfuzz::Catalog& catalog = flatfuzz::catalog();
  const std::string text = flatfuzz::statementText(data, size);
  auto* statement = flatfuzz::build<FlatTestStatement>(static_cast<FlatConnection*>(catalog.connection));
  FUZZ_CHECK(statement);
  KvErrorKeeper::setErrorList(&statement->getErrorList());
  if (statement->prepareText(reinterpret_cast<const unsigned char*>(text.c_str())) == kvSuccess &&
      statement->getStatementKind() == flatKindSelect && statement->executePreparedStmt() == kvSuccess) {
    FlatDescriptor* head = statement->getHeadDescriptor();
    const uint16_t columns = head && head->getSqlDesc() ? head->getSqlDesc()->getItemCount() : 0;
    // The catalog's tables are small: a join of them all has fewer rows.
    for (int n = 0; n < 1000; ++n) {
      uint16_t end = 0;
      statement->getErrorList().clearErrors();
      if (statement->fetchRow(&end) != kvSuccess) {
        FUZZ_CHECK(statement->getErrorList().getCount() > 0);
        statement->getErrorList().clearErrors();
        FUZZ_CHECK(statement->fetchRow(&end) == kvSuccess && end == 1);
        break;
      }
      if (end) break;
      for (uint16_t c = 1; c <= columns; ++c) {
        char value[64];
        SQLLEN length = 0;
        BaseOutString out(value, SQLLEN(sizeof value), &length);
        statement->setGetDataOffset(0);
        kvIgnoreStatus(statement->getData(c, SQL_C_CHAR, &out));  // a conversion may refuse a value
      }
    }
  }
  FUZZ_CHECK(statement->setToAllocatedState(1) == kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  delete statement;
  return 0;
}
