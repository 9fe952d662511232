// Fuzz target of the engine's SQL parser and expression compiler: any text
// (or a list of fragments of the dialect, see statementText) is a statement
// prepared against a small fixed catalog of test-driver tables. Refusals are diagnostics; besides what the sanitizers catch, the
// programs of every prepared SELECT are walked and evaluated on the tables'
// first rows, and their answers checked.
#include "fuzz/flat_fuzz_catalog.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  flatfuzz::Catalog& catalog = flatfuzz::catalog();
  const std::string text = flatfuzz::statementText(data, size);
  auto* statement = flatfuzz::build<FlatTestStatement>(static_cast<FlatConnection*>(catalog.connection));
  FUZZ_CHECK(statement);
  KvErrorKeeper::setErrorList(&statement->getErrorList());
  if (statement->prepareText(reinterpret_cast<const unsigned char*>(text.c_str())) == kvSuccess) {
    FlatDescriptor* head = statement->getHeadDescriptor();
    flatfuzz::evaluateQuery(statement, head ? head->getSqlDesc() : nullptr, size ? data[size - 1] : 0);
  } else {
    FUZZ_CHECK(statement->getHeadDescriptor() == nullptr);
    FUZZ_CHECK(statement->getErrorList().getCount() > 0);
  }
  FUZZ_CHECK(statement->setToAllocatedState(1) == kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  delete statement;
  return 0;
}
