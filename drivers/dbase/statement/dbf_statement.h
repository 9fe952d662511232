// DbfStatement: the dBASE driver's statement handle (HSTMT), on the file
// SQL engine's FlatStatement. The engine parses and runs SQL and asks the
// statement for the driver's objects: its table readers (DbfFileDesc), its
// query descriptor (DbfSqlDesc, which reads the options after a table
// name) and its own statements PACK and VERIFY INDEX.
#pragma once

#include "drivers/dbase/statement/dbf_table_options.h"
#include "flat/exec/flat_statement.h"
#include "flat/sql/flat_descriptor.h"

class DbfConnection;

// Private statement option: the number of the record most recently
// written to the table of the statement's query (an INSERT's new record),
// as an 8-byte double.
enum : uint16_t { dbfOptionLastRecord = 1048 };

class DbfSqlDesc : public FlatSqlDesc {
 public:
  explicit DbfSqlDesc(FlatStatement* statement);
  ~DbfSqlDesc() override;

  // Reads a table name of the FROM clause as the engine reads names (a
  // path may stand there), then the option or index list that may follow
  // it (dbf_table_options.h), and gives the options to table, the reader
  // about to open it. For the query that PACK prepares, a table the
  // connection has open is refused (3965).
  KvStatus parseTableName(const unsigned char** position, FlatFileDesc* table, unsigned char** name) override;
  // The direct column fetch (values/dbf_direct_fetch.cpp): result column
  // column of the current row, a field of a table's stored record, from
  // its text into the application's C type: C text (OEM converted), D as
  // year, month and day, L as 0 or 1, F and N as their text (1244 for a
  // character no number has, 22003 for more digits than the field's
  // declaration holds). Blank values are NULL.
  KvStatus getTableColumnAsCType(uint16_t column, void* out, int16_t cType) override;

  // The options of the table parsed last.
  const DbfTableOptions& getTableOptions() const { return options_; }

  // Two strings compare with trailing blanks removed from both (set unless
  // the connection's or the table's Compatibility is DBASE). This is the
  // engine's NULL-aware mode of the query; without it a text compares equal
  // to another that it begins with ('John' = 'Jo'), the xBase rule, and
  // empty values are values rather than NULL (flat/expr/flat_evaluator.h).
  int isAnsiCompare() const { return ansiCompare_; }
  void setAnsiCompare(int ansi);
  // The query PACK prepares.
  void setPackQuery(int pack) { packQuery_ = pack; }

 private:
  DbfConnection* connection() const;

  DbfTableOptions options_;
  int ansiCompare_ = 1;
  int packQuery_ = 0;
};

class DbfStatement : public FlatStatement {
 public:
  explicit DbfStatement(FlatConnection* connection);
  ~DbfStatement() override;

  // 1048: the last record written, as a double; the rest the framework's.
  KvStatus getStmtOption(uint16_t option, void* value) override;
  KvStatus allocFileDesc(FlatFileDesc** out) override;
  FlatSqlDesc* allocSqlDesc() override;
  // CREATE TABLE and DROP TABLE (dbf_create.h).
  FlatDescriptor* allocCreateDesc() override;
  FlatDescriptor* allocDropTableDesc() override;
  KvStatus isOptionList(const unsigned char* position, uint16_t* isList) override;
  // PACK and VERIFY INDEX are the driver's; they are not carried out yet
  // (S1C00). Anything else is 3800 "Unknown SQL statement".
  FlatDescriptor* allocSpecialStmt(const unsigned char* text) override;
};
