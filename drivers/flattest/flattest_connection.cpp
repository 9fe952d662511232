// The test file driver's connection and statement; see flattest_connection.h.
#include "drivers/flattest/flattest_connection.h"

#include "drivers/flattest/flattest_ddl.h"
#include "drivers/flattest/flattest_message_ids.h"
#include "flat/sql/flat_descriptor.h"
#include "util/os/bos.h"
#include "util/resource.h"

#include <cstring>
#include <strings.h>

namespace {

constexpr KvMessage flatTestMessages[] = {
    {msgFlatTestBadFile, "The file %s1 is not a table of the test driver: %s2."},
    {msgFlatTestNoIndex, "The table has no index on column %s1."},
    {strDriverName, "FlatTest"},
    {strOwnerTerm, "owner"},
    {strQualifierTerm, "qualifier"},
    {strProcedureTerm, "procedure"},
    {strTableTerm, "table"},
    {strDriverVersion, "01.00.0000"},
};
static_assert(kvMessagesSorted(flatTestMessages), "the driver's table must be sorted by id");

const char extension[] = "ftt";

// Sorted by info type. Transactions hold changes in the engine's change
// log; cursors stay open across commit and rollback.
constexpr BaseInfoRow flatTestRows[] = {
    KV_INFO_STRING(SQL_DBMS_VER, strDriverVersion),              // 18: the format has no versions of its own
    KV_INFO_U16(SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_PRESERVE),    // 23
    KV_INFO_U16(SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_CB_PRESERVE),  // 24
    KV_INFO_U16(SQL_MAX_COLUMN_NAME_LEN, flatTestNameBytes - 1), // 30: the header's name field
    KV_INFO_U16(SQL_TXN_CAPABLE, SQL_TC_DML),                    // 46
    KV_INFO_U16(SQL_MAX_COLUMNS_IN_INDEX, 1),                    // 98: an index is one column's flag
    KV_INFO_U16(SQL_MAX_COLUMNS_IN_TABLE, flatTestMaxColumns),   // 101
};
static_assert(baseInfoRowsSorted(flatTestRows), "the driver's rows must be sorted by info type");
const BaseInfoTable flatTestInfo = {sizeof(flatTestRows) / sizeof(flatTestRows[0]), nullptr, flatTestRows};

}  // namespace

FlatTestConnection::FlatTestConnection(BaseEnv* env) : FlatConnection(env) {
  setInfoChain(&flatTestInfo);
  uint16_t types = 0;
  const BaseTypeRow* rows = flatTestTypeRows(&types);
  setTypeTable(rows, types);
  addEngineFlags(flatInsertAllowed | flatUpdateAllowed | flatDeleteAllowed | flatIndexFiles | flatRowIdSupported |
                 flatStripQuotes);
}

FlatTestConnection::~FlatTestConnection() = default;

void FlatTestConnection::getDllName(unsigned char* buffer, uint32_t size) {
  unsigned char name[bosNameBytes];
  name[0] = 0;
  // The loader knows every module it loaded; should it not, the name is empty.
  kvIgnoreStatus(bosGetModuleName(reinterpret_cast<const void*>(&flatTestMessages), name));
  if (size == 0) return;
  std::strncpy(kvC(buffer), kvC(name), size - 1);
  buffer[size - 1] = 0;
}

KvStatus FlatTestConnection::connectInit(KvValueParser* parser) {
  if (getConnectOptions(parser) != kvSuccess) return kvFailure;
  unsigned char* value = nullptr;
  if (getConnectionValue(parser, "OFK", "OffsetKeys", "0", &value, nullptr) != kvSuccess) return kvFailure;
  offsetKeys_ = value && value[0] == '1';
  ramFree(value);
  return kvSuccess;
}

KvStatus FlatTestConnection::connectLogon() { return kvSuccess; }

KvStatus FlatTestConnection::prepareToCommit(FlatSharedDesc* shared, FlatFileDesc** writer) {
  *writer = nullptr;
  auto* reader = new FlatTestFileDesc();
  if (!reader) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (reader->openDataFile(this, shared->getName()) != kvSuccess || reader->getShared() != shared) {
    reader->setShared(nullptr);
    delete reader;
    return kvFailure;
  }
  *writer = reader;
  return kvSuccess;
}

short FlatTestConnection::getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) {
  return kvLoadStringFromTable(flatTestMessages, sizeof(flatTestMessages) / sizeof(flatTestMessages[0]), buffer,
                               id, size);
}

void FlatTestConnection::getExt(unsigned char* buffer) { std::strcpy(kvC(buffer), extension); }

KvStatus FlatTestConnection::checkExt(const unsigned char* ext) {
  return ext && strcasecmp(kvC(ext), extension) == 0 ? kvSuccess : kvFailure;
}

KvStatus FlatTestStatement::allocFileDesc(FlatFileDesc** out) {
  *out = new FlatTestFileDesc();
  if (!*out) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  return kvSuccess;
}

FlatSqlDesc* FlatTestStatement::allocSqlDesc() { return new FlatSqlDesc(this); }

namespace {

template <class Desc>
FlatDescriptor* allocDdl(FlatStatement* statement) {
  auto* descriptor = new Desc(statement);
  if (!descriptor) KvErrorKeeper::addMemoryError();
  return descriptor;
}

}  // namespace

FlatDescriptor* FlatTestStatement::allocCreateDesc() { return allocDdl<FlatTestCreateDesc>(this); }
FlatDescriptor* FlatTestStatement::allocCrIndexDesc() { return allocDdl<FlatTestCrIndexDesc>(this); }
FlatDescriptor* FlatTestStatement::allocDropIndexDesc() { return allocDdl<FlatTestDropIndexDesc>(this); }
FlatDescriptor* FlatTestStatement::allocDropTableDesc() { return allocDdl<FlatTestDropTableDesc>(this); }

KvStatus FlatTestConnection::createAliases(FlatDataTypeParser* parser) {
  parser->addCandidate("INT", 1);
  parser->addCandidate("DOUBLE PRECISION", 3);
  return kvSuccess;
}
