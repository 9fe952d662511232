// XlsConnection: the Excel 5 driver's connection handle (HDBC), on the file
// SQL engine's FlatConnection. A connection names one workbook (Database,
// else DataDirectory); its defined names whose areas lie on one sheet are
// the tables. It keeps the connection's open workbooks, each with a use
// count, so that tables of one workbook share it; FieldGuessing and
// ScanRows say how the columns' types are found. XlsStatement is its
// statement, XlsSqlDesc the query that reads its table names with their
// declared column lists.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drivers/excel/biff/xls_book_desc.h"
#include "drivers/excel/excel5/xls_table.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/sql/flat_descriptor.h"

class XlsConnection : public FlatConnection {
 public:
  explicit XlsConnection(BaseEnv* env);
  ~XlsConnection() override;

  void getDllName(unsigned char* buffer, uint32_t size) override;
  // The engine's keys, then Database (else DataDirectory), FieldGuessing and
  // ScanRows (a number, else S1009).
  KvStatus connectInit(KvValueParser* parser) override;
  // Opens the connection's workbook; without one S1000/6013.
  KvStatus connectLogon() override;
  // 1027 (an empty text: the driver reads no Macintosh file information).
  KvStatus getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) override;
  short getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override;
  // Ends a table listing and closes every workbook.
  KvStatus drvrSetToAllocatedState() override;
  void getExt(unsigned char* buffer) override;
  KvStatus checkExt(const unsigned char* ext) override;
  // The defined names of the workbook qualifier names (null: the
  // connection's), one a call.
  KvStatus getTable(unsigned char** name, const unsigned char* qualifier, const unsigned char* pattern,
                    uint16_t first) override;

  // A table's full name for openDataFile (tableFullName).
  KvStatus resolveTableName(const unsigned char* qualifier, const unsigned char* name, unsigned char* path) override;
  // Whether the workbook holds a name that is a table.
  KvStatus doesTableExist(const unsigned char* name, uint16_t* exists) override;

  // The workbook of a path (made a full path), from the open ones (one more
  // use) or opened and added.
  KvStatus acquireWorkbook(const unsigned char* path, XlsBookDesc** book);
  // One use less; the last closes the workbook.
  void releaseWorkbook(XlsBookDesc* book);
  // The full name of a table for openDataFile: the name itself when it
  // holds "\" (a workbook named in the statement), else the connection's
  // workbook, "\" and the name; into path (bosPathBytes).
  KvStatus tableFullName(const unsigned char* qualifier, const unsigned char* name, unsigned char* path);

  bool fieldGuessing() const { return fieldGuessing_; }
  uint32_t scanRows() const { return scanRows_; }
  const std::string& workbook() const { return workbook_; }

 private:
  std::vector<std::unique_ptr<XlsBookDesc>> books_;  // the connection's own first
  std::string workbook_;
  bool fieldGuessing_ = true;
  uint32_t scanRows_ = 25;
  XlsBookDesc* listing_ = nullptr;  // the workbook of a running table listing
  size_t listPosition_ = 0;
};

class XlsStatement : public FlatStatement {
 public:
  explicit XlsStatement(FlatConnection* connection) : FlatStatement(connection) {}
  KvStatus allocFileDesc(FlatFileDesc** out) override;
  FlatSqlDesc* allocSqlDesc() override;
};

// Reads FROM names with a workbook path in front ("book.xls\Sales") and a
// declared column list after them ("Sales (CHAR(20), NUMBER)").
class XlsSqlDesc : public FlatSqlDesc {
 public:
  explicit XlsSqlDesc(FlatStatement* statement) : FlatSqlDesc(statement) {}
  KvStatus parseTableName(const unsigned char** position, FlatFileDesc* table, unsigned char** name) override;
};

// Reads an optional declared list at *position into columns: "(" type, ...
// ")". Failures: 1202, 1220, 1221, 1223 and the engine's 3922.
KvStatus xlsParseDeclaredList(const unsigned char** position, std::vector<XlsDeclaredColumn>* columns);
