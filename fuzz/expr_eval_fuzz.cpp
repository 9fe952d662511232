// Fuzz target of the expression evaluator: programs from the compiler over
// random records. An input is an expression (text, or fragments of the
// dialect as statementText reads them), a NUL, then the bytes of up to
// four records of table R (every column kind of the test driver, null
// bytes, NaNs and blank dates included) and a last byte of join flags. The
// expression is compiled as a WHERE condition (its markers bound to text
// from the record bytes) or else as a select item, and run on every record.
#include "flat/exec/flat_param_values.h"
#include "fuzz/flat_fuzz_catalog.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  flatfuzz::Catalog& catalog = flatfuzz::catalog();
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  if (!nul || nul - data > 2000) return 0;
  const std::string expression = flatfuzz::statementText(data, size_t(nul - data));
  const uint8_t* bytes = nul + 1;
  const size_t count = size - size_t(bytes - data);
  const uint8_t flags = count ? bytes[count - 1] : 0;

  FlatTestLayout layout;
  layout.columns = flatfuzz::Catalog::rColumns();
  std::string reason;
  FUZZ_CHECK(flatTestCheckLayout(&layout, &reason));
  const size_t width = layout.recordWidth - 1;
  std::vector<std::vector<unsigned char>> records;
  for (size_t at = 0; at + width <= count && records.size() < 4; at += width) {
    std::vector<unsigned char> record(layout.recordWidth);
    std::memcpy(record.data() + 1, bytes + at, width);
    records.push_back(record);
  }
  flatfuzz::writeTable(catalog.path("r"), flatfuzz::Catalog::rColumns(), records);

  auto* statement = flatfuzz::build<FlatTestStatement>(static_cast<FlatConnection*>(catalog.connection));
  FUZZ_CHECK(statement);
  KvErrorKeeper::setErrorList(&statement->getErrorList());
  std::string sql = "SELECT * FROM r WHERE " + expression;
  KvStatus prepared = statement->prepareText(reinterpret_cast<const unsigned char*>(sql.c_str()));
  if (prepared != kvSuccess) {
    sql = "SELECT " + expression + " FROM r";
    prepared = statement->prepareText(reinterpret_cast<const unsigned char*>(sql.c_str()));
  }
  if (prepared == kvSuccess) {
    FlatParamValues* params = statement->getParamValues();
    for (uint16_t i = 0; i < params->getCount(); ++i) {
      const size_t length = std::min<size_t>(count, 40 + i);
      FUZZ_CHECK(params->setValue(i, SQL_VARCHAR, flatItChar, bytes, uint32_t(length)) == kvSuccess);
    }
    FlatSqlDesc* query = statement->getHeadDescriptor()->getSqlDesc();
    FlatFileDesc* table = query ? query->getFirstTable() : nullptr;
    if (table && flatStartScan(table) == kvSuccess) {
      for (int guard = 0; guard < 8; ++guard) {
        uint16_t found = 0;
        if (flatReadNext(table, &found) != kvSuccess || !found) break;
        table->setTableFlags(uint16_t(flags & (FlatFileDesc::tableBlankRow | FlatFileDesc::tableNotPositioned)));
        for (uint16_t i = 0; i < query->getItemCount(); ++i)
          flatfuzz::evaluate(statement, query, query->getItem(i)->code);
        flatfuzz::evaluate(statement, query, query->getWhereCode());
        table->setTableFlags(0);
      }
    }
  }
  FUZZ_CHECK(statement->setToAllocatedState(1) == kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  delete statement;
  return 0;
}
