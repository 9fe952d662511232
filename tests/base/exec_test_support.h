// A driver for the preparation, parameter and execution tests: its
// connection chooses its capability flags, quotes identifiers with '"',
// answers the literal limits the tests set and writes date, bit and binary
// literals in a form of its own; its statement records the texts that
// prepareCompile and executePreparedStmt saw and every value bindParam
// received, and for a SELECT makes the result columns the test describes,
// whose values getData hands out from one row.
#pragma once

#include "stmt_test_support.h"

#include "base/results/base_field.h"
#include "base/handles/base_out_string.h"
#include "util/containers/kv_string.h"
#include "util/memory/ram.h"

#include <string>
#include <vector>

class ExecConnection : public StmtConnection {
 public:
  explicit ExecConnection(BaseEnv* env) : StmtConnection(env) {
    static const BaseInfoRow rows[] = {
        KV_INFO_ASKED(SQL_CURSOR_COMMIT_BEHAVIOR),  KV_INFO_ASKED(SQL_CURSOR_ROLLBACK_BEHAVIOR),
        KV_INFO_TEXT(SQL_IDENTIFIER_QUOTE_CHAR, "\""), KV_INFO_ASKED(SQL_TXN_CAPABLE),
        KV_INFO_ASKED(SQL_MAX_CHAR_LITERAL_LEN),    KV_INFO_ASKED(SQL_MAX_BINARY_LITERAL_LEN),
    };
    static const BaseInfoTable table = {sizeof(rows) / sizeof(rows[0]), &unitInfoTable(), rows};
    setInfoChain(&table);
  }
  KvStatus getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) override {
    if (type == SQL_MAX_CHAR_LITERAL_LEN || type == SQL_MAX_BINARY_LITERAL_LEN) {
      *kind = infoU32;
      *value = reinterpret_cast<void*>(uintptr_t(type == SQL_MAX_CHAR_LITERAL_LEN ? maxCharLiteral : 0));
      return kvSuccess;
    }
    return StmtConnection::getAskedForInfo(type, value, kind);
  }
  // Date, time, timestamp, bit and binary literals: "<kind:text>".
  KvStatus expandNativeEscape(KvReplaceString* text, uint32_t length, EscapeType type, EscapeFunctionType) override {
    static const char* const kinds[] = {"T", "D", "TS", "FN", "OJ", "ESC", "CALL", "CALLR", "B", "L"};
    std::string out = std::string("<") + kinds[type] + ":" + std::string(reinterpret_cast<const char*>(text->getText()), length) + ">";
    text->skip(length);
    return text->addBytes(reinterpret_cast<const unsigned char*>(out.data()), uint32_t(out.size()));
  }
  uint32_t maxCharLiteral = 0;
};

// One result column of a SELECT: name, SQL type, precision, field flags,
// searchability, and the value of the current row (null: NULL).
struct ExecColumn {
  const char* name;
  int16_t sqlType;
  uint32_t precision;
  uint32_t flags;
  int16_t searchable;
  const char* value;
};

class ExecStatement : public StmtStatement {
 public:
  struct Bound {
    uint16_t number;
    std::string value;  // the bytes, empty for NULL or no value
    int32_t length;
    int mode;
  };
  explicit ExecStatement(BaseConnection* connection) : StmtStatement(connection) {}

  KvStatus prepareCompile(BaseSqlString* sql) override {
    flags_ &= ~uint32_t(flagAsync);
    if (compilePauses > 0) {
      // Not done yet: the framework asks again with the same text.
      --compilePauses;
      pausedTexts.emplace_back(reinterpret_cast<const char*>(sql->getText()), sql->getLength());
      flags_ |= flagAsync;
      return kvSuccess;
    }
    compiled.emplace_back(reinterpret_cast<const char*>(sql->getText()), sql->getLength());
    markersSeen = sql->getMarkerCount();
    if (StmtStatement::prepareCompile(sql) != kvSuccess) return kvFailure;
    if (sql->getVerb() != sqlVerbSelect || columns.empty()) return kvSuccess;
    deleteFields();
    if (makeColumns(uint16_t(columns.size())) != kvSuccess) return kvFailure;
    for (size_t i = 0; i < columns.size(); ++i) {
      BaseField* field = fields_[i];
      field->borrowText(&field->name, reinterpret_cast<const unsigned char*>(columns[i].name));
      field->sqlType = columns[i].sqlType;
      field->precision = columns[i].precision;
      field->flags = (field->flags & BaseField::flagBorrowedName) | columns[i].flags;
      field->searchable = columns[i].searchable;
    }
    return kvSuccess;
  }
  KvStatus executePreparedStmt() override {
    flags_ &= ~uint32_t(flagAsync);
    if (executePauses > 0) {
      --executePauses;
      pausedTexts.emplace_back(reinterpret_cast<const char*>(sqlText_.getStr()), sqlText_.getLength());
      flags_ |= flagAsync;
      return kvSuccess;
    }
    executedTexts.emplace_back(reinterpret_cast<const char*>(sqlText_.getStr()), sqlText_.getLength());
    if (!rowsPerExecution.empty()) {
      rows = rowsPerExecution.front();
      rowsPerExecution.erase(rowsPerExecution.begin());
    }
    return StmtStatement::executePreparedStmt();
  }
  KvStatus bindParam(uint16_t number, void* value, int32_t length, int mode) override {
    std::string bytes;
    if (value && length > 0) bytes.assign(static_cast<const char*>(value), size_t(length));
    bound.push_back({number, bytes, length, mode});
    if (failBind) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    if (textual && mode == bindWhole) return textualBindParam(number, value, length);
    return kvSuccess;
  }
  KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) override {
    if (column == 0 || column > columns.size()) return kvFailure;
    const char* value = columns[column - 1].value;
    if (!value) {
      out->setLength(SQL_NULL_DATA);
      return kvSuccess;
    }
    return convertInternalToC(column, cType, out, value, int32_t(std::strlen(value)), itChar);
  }

  const unsigned char* getDriverCursorName() override {
    return driverCursorName ? reinterpret_cast<const unsigned char*>(driverCursorName)
                            : BaseStatement::getDriverCursorName();
  }

  using BaseStatement::emulCount_;
  using BaseStatement::emulParams_;
  using BaseStatement::flags_;
  using BaseStatement::paramCount_;
  using BaseStatement::params_;
  using BaseStatement::sqlText_;

  std::vector<ExecColumn> columns;
  std::vector<std::string> compiled;
  std::vector<std::string> executedTexts;
  std::vector<Bound> bound;
  std::vector<int32_t> rowsPerExecution;
  // Asynchronous operation: the next compilePauses compiles and
  // executePauses executions leave flagAsync set instead of finishing (the
  // texts they saw in pausedTexts).
  int compilePauses = 0;
  int executePauses = 0;
  std::vector<std::string> pausedTexts;
  uint16_t markersSeen = 0;
  const char* driverCursorName = nullptr;
  bool textual = false;
  bool failBind = false;
};
