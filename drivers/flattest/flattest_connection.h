// The test file driver's connection and statement: the engine's classes
// with the driver's extension ("ftt"), messages, SQLGetInfo answers and
// its reader for tables. A fixture for the engine's tests, never installed.
#pragma once

#include "drivers/flattest/flattest_table.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"

class FlatTestConnection : public FlatConnection {
 public:
  explicit FlatTestConnection(BaseEnv* env);
  ~FlatTestConnection() override;

  void getDllName(unsigned char* buffer, uint32_t size) override;
  KvStatus connectInit(KvValueParser* parser) override;
  KvStatus connectLogon() override;
  KvStatus prepareToCommit(FlatSharedDesc* shared, FlatFileDesc** writer) override;
  short getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override;
  void getExt(unsigned char* buffer) override;
  KvStatus checkExt(const unsigned char* ext) override;
  // "INT" and "DOUBLE PRECISION" besides the type list's names.
  KvStatus createAliases(FlatDataTypeParser* parser) override;

  // OffsetKeys=1: records are named by 8-byte keys holding their byte
  // offset and the reader reports no record count, as a driver of files
  // without record numbers does.
  bool usesOffsetKeys() const { return offsetKeys_; }

 private:
  bool offsetKeys_ = false;
};

class FlatTestStatement : public FlatStatement {
 public:
  explicit FlatTestStatement(FlatConnection* connection) : FlatStatement(connection) {}
  KvStatus allocFileDesc(FlatFileDesc** out) override;
  FlatSqlDesc* allocSqlDesc() override;
  // CREATE and DROP (flattest_ddl.h).
  FlatDescriptor* allocCreateDesc() override;
  FlatDescriptor* allocCrIndexDesc() override;
  FlatDescriptor* allocDropIndexDesc() override;
  FlatDescriptor* allocDropTableDesc() override;
};
