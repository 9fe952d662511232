// The test driver's writable table ITEMS, one per connection, kept in
// memory, and the few statements it understands over it, so that
// applications can insert, select, update and delete rows with parameters:
//
//   INSERT INTO ITEMS [(column, ...)] VALUES (value, ...)
//   SELECT * | column, ... FROM ITEMS [WHERE condition]
//   UPDATE ITEMS SET column = value [, ...] [WHERE condition]
//   DELETE FROM ITEMS [WHERE condition]
//
//   condition  term [AND term]...
//   term       ( term ) | column = value | column LIKE value | column IS NULL
//   value      ? | NULL | number | 'text' | DATE 'yyyy-mm-dd' | X'hex'
//
// LIKE compares like "=" (no wildcards): it is what the framework's WHERE
// CURRENT OF emulation writes for a column searchable only with LIKE.
// Columns may be written in double quotes. The columns:
//
//   ID INTEGER (not NULL), NAME VARCHAR(254), PRICE DOUBLE, MADE DATE,
//   DATA VARBINARY(254), NOTE LONGVARCHAR(1000000) (LIKE only, too long
//   for a search condition)
//
// Parameter values arrive through bindParam and are converted at once to
// the form of the column their marker stands for; NOTE may arrive in
// pieces (modes 1-3), which are joined before the conversion.
#pragma once

#include "base/statement/base_statement.h"

#include <string>
#include <vector>

enum : uint16_t { testItemsColumnCount = 6 };

// One value of a row: its internal form's bytes (NULL when null).
struct TestItemValue {
  bool null = true;
  std::string bytes;
};

struct TestItemsTable {
  std::vector<std::vector<TestItemValue>> rows;
};

class TestItemsQuery {
 public:
  enum Kind { none, insert, select, update, remove };

  // Whether text is a statement over ITEMS (INSERT INTO ITEMS, UPDATE
  // ITEMS, DELETE FROM ITEMS, or a SELECT whose FROM names ITEMS).
  static bool isFor(const unsigned char* text, uint32_t length);

  // Compiles text; a text that is not in the grammar fails with 37000.
  KvStatus compile(const unsigned char* text, uint32_t length);
  Kind getKind() const { return kind_; }
  // Makes the SELECT's result fields on statement (fields_ by allocFld).
  KvStatus describe(BaseStatement* statement, BaseField** fields, uint16_t* count);

  // One parameter value (as bindParam receives it).
  KvStatus bindValue(BaseStatement* statement, uint16_t parameter, const void* value, int32_t length, int mode);
  void forgetValues();

  // Runs the statement; *count receives the rows inserted, changed or
  // deleted. A SELECT keeps the matching rows for fetchRow.
  KvStatus execute(TestItemsTable* table, int32_t* count);
  // The next row of a SELECT; false at the end.
  bool nextRow();
  // Column (1-based, of the select list) of the current row.
  const TestItemValue* currentValue(uint16_t column) const;
  const std::vector<uint16_t>& selectList() const { return columns_; }

  // The SQL type, precision and internal form of a table column (0-based).
  static int16_t columnSqlType(uint16_t column);
  static InternalType columnForm(uint16_t column);

 private:
  struct Operand {
    bool isParam = false;
    uint16_t param = 0;  // 1-based marker number
    TestItemValue literal;
  };
  struct Term {
    uint16_t column = 0;
    bool isNull = false;  // IS NULL
    Operand value;
  };
  struct Assignment {
    uint16_t column = 0;
    Operand value;
  };

  const TestItemValue* operandValue(const Operand& operand) const;
  bool matches(const std::vector<TestItemValue>& row) const;

  Kind kind_ = none;
  std::vector<uint16_t> columns_;        // select list, or insert columns
  std::vector<Assignment> assignments_;  // UPDATE SET, INSERT VALUES
  std::vector<Term> terms_;
  std::vector<uint16_t> markerColumns_;  // the column each marker stands for
  std::vector<TestItemValue> paramValues_;
  std::vector<std::string> pieces_;      // raw pieces of a value in modes 1-3
  std::vector<size_t> selected_;         // rows a SELECT found
  std::vector<std::vector<TestItemValue>> snapshot_;
  size_t current_ = 0;                   // 1-based in snapshot_; 0 before the first
};

// The table of a test driver connection (test_driver.cpp).
TestItemsTable* testItemsOf(BaseConnection* connection);
