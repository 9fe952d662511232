// The small fixed catalog of the engine's fuzz targets: a scratch directory
// of test-driver tables and one connection of the test file driver to it,
// made once a process; and the walk that evaluates every program of a
// prepared SELECT on the current rows, checking what the evaluator answers.
#pragma once

#include "base/handles/base_env.h"
#include "drivers/flattest/flattest_connection.h"
#include "drivers/flattest/flattest_format.h"
#include "flat/connection/flat_changes.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "fuzz/fuzz_check.h"
#include "util/error_list.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace flatfuzz {

template <class T, class Arg>
T* build(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

// Writes a table file: its header and the records' raw bytes (each record
// the layout's width, its first byte the live mark).
inline void writeTable(const std::string& path, const std::vector<FlatTestColumn>& columns,
                       const std::vector<std::vector<unsigned char>>& records) {
  FlatTestLayout layout;
  layout.columns = columns;
  std::string reason;
  FUZZ_CHECK(flatTestCheckLayout(&layout, &reason));
  layout.recordCount = uint32_t(records.size());
  std::vector<unsigned char> bytes = flatTestHeader(layout);
  for (const auto& record : records) {
    std::vector<unsigned char> r = record;
    r.resize(layout.recordWidth, 0);
    r[0] = ' ';
    bytes.insert(bytes.end(), r.begin(), r.end());
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file);
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  std::fclose(file);
}

// The catalog: EMP and DEPT with a few rows, and R, whose records a target
// may rewrite (columns of every kind the test driver has).
struct Catalog {
  std::string directory;
  BaseEnv* env = nullptr;
  FlatTestConnection* connection = nullptr;

  static const std::vector<FlatTestColumn>& rColumns() {
    static const std::vector<FlatTestColumn> columns = {{"I", 'I', 4, 0}, {"D", 'D', 8, 0}, {"C", 'C', 10, 0},
                                                        {"T", 'T', 8, 0}, {"Y", 'Y', 1, 0}, {"B", 'B', 4, 0}};
    return columns;
  }
  std::string path(const char* table) const { return directory + "/" + table + ".ftt"; }

  Catalog() {
    char pattern[] = "/tmp/kvfuzzXXXXXX";
    FUZZ_CHECK(mkdtemp(pattern));
    directory = pattern;
    std::vector<unsigned char> emp(64, 0), dept(64, 0);
    writeTable(path("emp"), {{"ID", 'I', 4, flatTestUnique}, {"NAME", 'C', 10, 0}, {"DEPT", 'C', 4, 0},
                             {"SAL", 'D', 8, 0}, {"HIRED", 'T', 8, 0}, {"ACTIVE", 'Y', 1, 0}, {"NOTE", 'L', 40, 0}},
               {emp, emp});
    writeTable(path("dept"), {{"ID", 'I', 4, 0}, {"DEPT", 'C', 4, 0}}, {dept});
    writeTable(path("r"), rColumns(), {});
    env = build<BaseEnv>(OdbcDriverNumber(98));
    connection = build<FlatTestConnection>(env);
    FUZZ_CHECK(connection);
    std::string text = "DRIVER=flattest;DB=" + directory + ";";
    SQLRETURN rc = connection->SQLDriverConnect(nullptr, reinterpret_cast<SQLCHAR*>(&text[0]), SQLSMALLINT(SQL_NTS),
                                                nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    FUZZ_CHECK(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO);
  }
};

inline Catalog& catalog() {
  static Catalog* instance = new Catalog();
  return *instance;
}

// Statement text from bytes: an input that starts with the byte 1 is read
// as a list of fragments of the engine's dialect, one a byte, and one that
// starts with 2 as the condition of a join of the catalog's tables, so that
// even an empty corpus soon reaches deep into the parser and the compiler;
// any other input is the text itself.
inline std::string statementText(const uint8_t* data, size_t size) {
  static const char* const fragments[] = {
      "SELECT ", "* ", "FROM ", "emp ", "dept ", ", ", "WHERE ", "ID ", "NAME ", "DEPT ", "SAL ", "HIRED ",
      "ACTIVE ", "NOTE ", "ROWID ", "e ", "d ", "e.ID ", "d.ID ", "e.DEPT ", "d.DEPT ", "( ", ") ", "= ", "<> ",
      "< ", ">= ", "*= ", "=* ", "+ ", "- ", "* ", "/ ", "** ", "AND ", "OR ", "NOT ", "IN ", "BETWEEN ", "LIKE ",
      "IS NULL ", "IS NOT NULL ", "NULL ", "? ", "1 ", "0 ", "2.5 ", "-3 ", "'A%' ", "'SMITH' ", "'' ",
      "{07/04/1995} ", "{10:30:00} ", "{07/04/1995 12:00:00} ", ".T. ", ".F. ", "EXISTS ", "ANY ", "ALL ",
      "(SELECT ID FROM dept) ", "(SELECT DEPT FROM dept WHERE dept.ID = emp.ID) ", "COUNT(*) ", "SUM(", "AVG(",
      "MIN(", "MAX(", "DISTINCT ", "GROUP BY ", "HAVING ", "ORDER BY ", "DESC ", "ASC ", "UNION ", "UNION ALL ",
      "FOR UPDATE OF ", "CURRENT OF c ", "SUBSTR(", "LEFT(", "RIGHT(", "UPPER(", "TRIM(", "LEN(", "STR(", "VAL(",
      "CHR(", "SPACE(", "ROUND(", "INT(", "MOD(", "IIF(", "DTOC(", "DTOS(", "CTOD(", "MONTH(", "YEAR(",
      "STRVAL(", "DATE() ", "TIME() ", "USERNAME() ", "`NAME` ", "; ", "USE ", "CREATE TABLE ", "DROP INDEX ",
      "CREATE UNIQUE INDEX ", "DROP TABLE ", "ON ", "CHAR(10) ", "NUMERIC(5,2) ", "LONG VARCHAR(9) ",
      "DOUBLE PRECISION ", "NOT NULL ", "emp.ID ", "INSERT ", "INTO ", "VALUES ", "UPDATE ", "SET ", "DELETE ",
      "emp e SET e.NAME = ", "(ID, NAME) ", "(1, 'X') ",
  };
  if (size == 0 || (data[0] != 1 && data[0] != 2)) return std::string(reinterpret_cast<const char*>(data), size);
  std::string text = data[0] == 2 ? "SELECT e.ID, d.DEPT FROM emp e, dept d WHERE " : "";
  for (size_t i = 1; i < size; ++i) text += fragments[data[i] % (sizeof(fragments) / sizeof(fragments[0]))];
  return text;
}

// Evaluates a program and checks the answer's shape.
inline void evaluate(FlatStatement* statement, FlatSqlDesc* query, const uint8_t* program) {
  if (!program) return;
  FUZZ_CHECK(flatProgramLength(program) <= flatMaxProgramBytes + 1u);
  uint8_t out[flatEvalScratchBytes + 8];
  int16_t length = 0;
  uint8_t kind = 0;
  if (evalExpr(statement, query, nullptr, program, out, sizeof(out), 0, &length, &kind) != kvSuccess) return;
  FUZZ_CHECK(length >= -1 && length <= int16_t(flatEvalScratchBytes));
  if (kind == flatEvalLogical && length > 0) FUZZ_CHECK(length == 1 && out[0] <= 1);
  if (kind == flatEvalNumber || kind == flatEvalDate) FUZZ_CHECK(length == 0 || length == 8 || length > 8);
}

// Every program of a prepared query and its subqueries, on the first row of
// each table (tables flagged as the flags byte says).
inline void evaluateQuery(FlatStatement* statement, FlatSqlDesc* query, uint8_t flags, int depth = 0) {
  if (!query || depth > 20) return;
  for (FlatFileDesc* table = query->getFirstTable(); table; table = table->getNextTable()) {
    uint16_t found = 0;
    if (flatStartScan(table) == kvSuccess && flatReadNext(table, &found) != kvSuccess) found = 0;
    table->setTableFlags(uint16_t(flags & (FlatFileDesc::tableBlankRow | FlatFileDesc::tableNotPositioned)));
    flags = uint8_t(flags >> 1);
  }
  for (uint16_t i = 0; i < query->getItemCount(); ++i) evaluate(statement, query, query->getItem(i)->code);
  evaluate(statement, query, query->getWhereCode());
  evaluate(statement, query, query->getHavingCode());
  KvArray& orders = query->getOrderItems();
  for (uint16_t i = 0; i < orders.getCount(); ++i)
    evaluate(statement, query, static_cast<FlatOrderItem*>(orders.getAt(i))->code);
  KvArray& subqueries = query->getSubqueries();
  for (uint16_t i = 0; i < subqueries.getCount(); ++i)
    evaluateQuery(statement, static_cast<FlatSqlDesc*>(subqueries.getAt(i)), flags, depth + 1);
  evaluateQuery(statement, query->getNextQuery(), flags, depth + 1);
}

}  // namespace flatfuzz
