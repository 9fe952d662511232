// Scaffolding of the language layer's tests: a small catalog of test-driver
// tables with rows, statements prepared from SQL text, and the values of
// their programs evaluated against those rows.
//
//   EMP  ID I (unique), NAME C10, DEPT C4, SAL D, HIRED T, ACTIVE Y, NOTE L200
//   DEPT ID I, DEPT C4, TITLE C20
//   ONE  X I          (one row: X = 1; the table of value tests)
#pragma once

#include "tests/flat/flat_test_support.h"

#include "flat/exec/flat_param_values.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_compiler.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "util/byte_order.h"

#include <cmath>
#include <cstdio>
#include <fstream>

class FlatSqlFixture : public FlatTestFixture {
 protected:
  void SetUp() override {
    FlatTestFixture::SetUp();
    writeTable("emp",
               {{"ID", 'I', 4, flatTestUnique},
                {"NAME", 'C', 10, 0},
                {"DEPT", 'C', 4, 0},
                {"SAL", 'D', 8, 0},
                {"HIRED", 'T', 8, 0},
                {"ACTIVE", 'Y', 1, 0},
                {"NOTE", 'L', 200, 0}},
               {{"1", "SMITH", "ACCT", "1000.5", "1995-07-04", "1", "first"},
                {"2", "JONES", "SALE", "2000", "2000-02-29", "0", ""},
                {"3", "", "", "", "", "", ""}});
    writeTable("dept", {{"ID", 'I', 4, 0}, {"DEPT", 'C', 4, 0}, {"TITLE", 'C', 20, 0}},
               {{"10", "ACCT", "Accounting"}, {"20", "SALE", "Sales"}});
    writeTable("one", {{"X", 'I', 4, 0}}, {{"1"}});
    connection_ = connect();
    statement_ = newStatement();
  }
  void TearDown() override {
    for (FlatTestStatement* s : statements_) drop(s);
    statements_.clear();
    FlatTestFixture::TearDown();
  }

  // A table file with rows; each value as text ("" null; dates yyyy-mm-dd).
  void writeTable(const std::string& name, std::vector<FlatTestColumn> columns,
                  const std::vector<std::vector<std::string>>& rows) {
    FlatTestLayout layout;
    layout.columns = columns;
    std::string reason;
    ASSERT_TRUE(flatTestCheckLayout(&layout, &reason)) << reason;
    layout.recordCount = uint32_t(rows.size());
    std::vector<unsigned char> bytes = flatTestHeader(layout);
    for (const auto& row : rows) {
      std::vector<unsigned char> record(layout.recordWidth, 0);
      record[0] = ' ';
      for (size_t c = 0; c < layout.columns.size(); ++c) {
        const FlatTestColumn& column = layout.columns[c];
        unsigned char* at = &record[column.offset];
        const std::string& v = c < row.size() ? row[c] : std::string();
        if (v.empty() && column.type != 'C' && column.type != 'L') {
          at[0] = 1;
          continue;
        }
        switch (column.type) {
          case 'I': {
            int32_t n = std::stoi(v);
            std::memcpy(at + 1, &n, 4);
            break;
          }
          case 'D': {
            double d = std::stod(v);
            std::memcpy(at + 1, &d, 8);
            break;
          }
          case 'T': {
            double d = flatDateValue(std::stoi(v.substr(0, 4)), std::stoi(v.substr(5, 2)), std::stoi(v.substr(8, 2)),
                                     0, 0, 0);
            std::memcpy(at + 1, &d, 8);
            break;
          }
          case 'Y':
            at[1] = v == "1";
            break;
          case 'L':
            kvPutU32LE(at + 1, uint32_t(v.size()));
            std::memcpy(at + 5, v.data(), v.size());
            break;
          default:
            std::memset(at + 1, ' ', column.width);
            std::memcpy(at + 1, v.data(), std::min<size_t>(v.size(), column.width));
            break;
        }
      }
      bytes.insert(bytes.end(), record.begin(), record.end());
    }
    std::ofstream out(tablePath(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  FlatTestStatement* newStatement() {
    auto* statement = flatBuild<FlatTestStatement>(static_cast<FlatConnection*>(connection_));
    statements_.push_back(statement);
    return statement;
  }

  // Prepares sql on the statement (the default one when null), with the
  // statement's error list current as inside an ODBC call.
  KvStatus prepare(const std::string& sql, FlatStatement* statement = nullptr) {
    if (!statement) statement = statement_;
    statement->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&statement->getErrorList());
    KvStatus status = statement->prepareText(kvU(sql.c_str()));
    KvErrorKeeper::giveUpErrorList();
    return status;
  }
  // The last error of the statement: its number, SQLSTATE and text.
  uint16_t lastError(FlatStatement* statement = nullptr) {
    KvError* e = (statement ? statement : statement_)->getErrorList().getLastError();
    return e ? e->getNumber() : 0;
  }
  std::string lastState(FlatStatement* statement = nullptr) {
    KvError* e = (statement ? statement : statement_)->getErrorList().getLastError();
    if (!e) return "";
    // A state set by name (resetLastErrorSqlState) stands before the index.
    if (e->getSqlState() && e->getSqlState()[0]) return e->getSqlState();
    return kvC(baseSqlStateText(e->getStateIndex()));
  }
  std::string lastText(FlatStatement* statement = nullptr) {
    KvError* e = (statement ? statement : statement_)->getErrorList().getLastError();
    return e && e->getErrorText() ? kvC(e->getErrorText()) : "";
  }

  FlatSqlDesc* head(FlatStatement* statement = nullptr) {
    FlatDescriptor* d = (statement ? statement : statement_)->getHeadDescriptor();
    return d ? d->getSqlDesc() : nullptr;
  }
  FlatSelectField* item(uint16_t i, FlatStatement* statement = nullptr) { return head(statement)->getItem(i); }

  // Positions every table of the head query on its record n (1-based).
  void position(uint32_t n, FlatStatement* statement = nullptr) {
    for (FlatFileDesc* t = head(statement)->getFirstTable(); t; t = t->getNextTable()) position(t, n);
  }
  static void position(FlatFileDesc* table, uint32_t n) {
    ASSERT_EQ(flatStartScan(table), kvSuccess);
    for (uint32_t i = 0; i < n; ++i) {
      uint16_t found = 0;
      ASSERT_EQ(flatReadNext(table, &found), kvSuccess);
      ASSERT_EQ(found, 1);
    }
  }

  // A value as text: NULL, ? (undecidable), TRUE/FALSE, a number with 15
  // digits, a date as yyyy-mm-dd (BLANK for the blank date), a text as is;
  // a failure as ERROR <number>.
  std::string evaluate(const uint8_t* program, FlatStatement* statement = nullptr, uint16_t mode = 0,
                       uint8_t* matched = nullptr) {
    if (!statement) statement = statement_;
    uint8_t out[4096];
    int16_t length = 0;
    uint8_t kind = 0;
    statement->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&statement->getErrorList());
    KvStatus status = evalExpr(statement, head(statement), nullptr, program, out, sizeof(out), mode, &length, &kind);
    KvErrorKeeper::giveUpErrorList();
    if (status != kvSuccess) return "ERROR " + std::to_string(lastError(statement));
    if (length == -1) return "?";
    if (length == 0 && kind != flatEvalText && kind != flatEvalFunctionText) return "NULL";
    if (matched && kind == flatEvalLogical) *matched = out[1];
    return format(out, length, kind);
  }
  static std::string format(const uint8_t* out, int16_t length, uint8_t kind) {
    double d;
    char text[64];
    switch (kind) {
      case flatEvalLogical:
        return out[0] ? "TRUE" : "FALSE";
      case flatEvalNumber:
        std::memcpy(&d, out, 8);
        std::snprintf(text, sizeof(text), "%.15g", d);
        return text;
      case flatEvalDate: {
        std::memcpy(&d, out, 8);
        if (d == flatBlankDate) return "BLANK";
        unsigned short y, m, day;
        JulianToYrMoDy(d, &y, &m, &day);
        std::snprintf(text, sizeof(text), "%04u-%02u-%02u", y, m, day);
        double fraction = d - std::floor(d);
        if (fraction > 0) std::snprintf(text + 10, sizeof(text) - 10, "+%.6f", fraction);
        return text;
      }
      default:
        return std::string(reinterpret_cast<const char*>(out), size_t(length));
    }
  }

  // The value of select item i: its program, or for a plain column the
  // column instruction.
  std::string itemValue(uint16_t i, FlatStatement* statement = nullptr) {
    FlatSelectField* it = item(i, statement);
    if (!it->isPlainColumn()) return evaluate(it->code, statement);
    uint8_t program[8] = {opColumn, 0, 0, 0, 0, 0, 0, opEnd};
    kvPutU32LE(program + 1, it->table->getTableHandle());
    kvPutU16LE(program + 5, it->column);
    return evaluate(program, statement);
  }

  // The value of an expression on the row of ONE.
  std::string value(const std::string& expression) {
    if (prepare("SELECT " + expression + " FROM one") != kvSuccess) return "PREPARE " + std::to_string(lastError());
    position(1);
    FlatSelectField* it = item(0);
    if (it->isPlainColumn()) return "COLUMN";
    return evaluate(it->code);
  }
  // The value of a condition on row n of EMP.
  std::string where(const std::string& condition, uint32_t row = 1, uint8_t* matched = nullptr) {
    if (prepare("SELECT ID FROM emp WHERE " + condition) != kvSuccess)
      return "PREPARE " + std::to_string(lastError());
    position(row);
    return evaluate(head()->getWhereCode(), nullptr, 0, matched);
  }

  FlatTestConnection* connection_ = nullptr;
  FlatTestStatement* statement_ = nullptr;
  std::vector<FlatTestStatement*> statements_;
};
