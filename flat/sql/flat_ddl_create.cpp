// CREATE TABLE: the descriptor's parse (name, column definitions, types with
// their creation parameters, NOT NULL), its checks against the connection,
// and FlatDataTypeParser, which matches type names of one or more words.
#include "base/handles/base_messages.h"
#include "base/catalog/base_type_info.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_ddl_internal.h"
#include "util/error_list.h"

#include <cstring>
#include <strings.h>

// ---------------------------------------------------------------- type names

FlatDataTypeParser::FlatDataTypeParser(FlatConnection* connection) : connection_(connection) {
  const BaseTypeRow* rows = connection->getTypeTable();
  for (uint16_t i = 0; rows && i < connection->getTypeCount(); ++i)
    if (rows[i].typeName) addCandidate(rows[i].typeName, i);
}

FlatDataTypeParser::~FlatDataTypeParser() = default;

void FlatDataTypeParser::addCandidate(const char* name, uint16_t typeIndex) {
  if (name && typeIndex < connection_->getTypeCount()) candidates_.push_back({name, typeIndex, 0, 0});
}

KvStatus FlatDataTypeParser::parse(const unsigned char** position, const unsigned char* column,
                                   uint16_t* typeIndex) {
  if (connection_->createAliases(this) != kvSuccess) return kvFailure;
  const unsigned char* p = *position;
  // Each round reads one word of the statement, so a name of n words is
  // settled within n + 1 rounds; the end of the text settles every name.
  for (;;) {
    const unsigned char* before = p;
    FlatToken token;
    if (token.read(&p, flatScanDdlWord) != kvSuccess) return kvFailure;
    const char* word = reinterpret_cast<const char*>(token.getText());
    const uint32_t wordLength = token.getLength();
    size_t kept = 0;
    for (Candidate& candidate : candidates_) {
      if (candidate.complete) continue;  // a name read to its end does not take another word
      const char* rest = candidate.name + candidate.read;
      while (*rest == ' ') ++rest;
      const size_t nameWord = std::strcspn(rest, " ");
      if (nameWord == 0) {
        candidate.complete = 1;
      } else if (nameWord == wordLength && strncasecmp(rest, word, wordLength) == 0) {
        candidate.read = uint32_t(rest + nameWord - candidate.name);
      } else {
        continue;
      }
      candidates_[kept++] = candidate;
    }
    candidates_.resize(kept);
    if (candidates_.empty() || token.isEnd()) {
      // Two list entries of the same name: the first one in list order.
      for (const Candidate& candidate : candidates_) {
        if (!candidate.complete) continue;
        *typeIndex = candidate.typeIndex;
        *position = before;
        return kvSuccess;
      }
      addFlatSyntaxError(msgBadTypeName) << column;
      return kvFailure;
    }
    bool allComplete = true;
    for (const Candidate& candidate : candidates_) allComplete = allComplete && candidate.complete;
    if (allComplete) {
      // The word just read was the lookahead: it stays for the caller.
      *typeIndex = candidates_.front().typeIndex;
      *position = before;
      return kvSuccess;
    }
  }
}

// ---------------------------------------------------------------- CREATE TABLE

FlatCreateDesc::~FlatCreateDesc() = default;

KvStatus FlatCreateDesc::execute() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

void FlatCreateDesc::cleanUp() {
  tableName_[0] = 0;
  columns_.deleteContents();
}

const BaseTypeRow* FlatCreateDesc::getColumnType(uint16_t index) const {
  FlatConnection* connection = statement_->getFlatConnection();
  const FlatColumnDef* column = getColumn(index);
  if (!column || column->typeIndex >= connection->getTypeCount()) return nullptr;
  return &connection->getTypeTable()[column->typeIndex];
}

KvStatus FlatCreateDesc::canCreateTableName(const unsigned char* name) {
  unsigned char path[bosPathBytes];
  uint16_t open = 0;
  bool exists = false;
  if (flatDdlTableState(statement_, name, path, &open, &exists) != kvSuccess) return kvFailure;
  if (open) {
    addFlatError(stateTableExists, msgSaveOpenFile) << path;
    return kvFailure;
  }
  if (exists) {
    addFlatError(stateTableExists, msgTableExists) << path;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatCreateDesc::canCreateColumnName(const unsigned char*) {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

KvStatus FlatCreateDesc::parse(const unsigned char* text, uint32_t* position) {
  columns_.setOwnsObjects(true);
  const unsigned char* p = text + *position;
  FlatToken skip;
  if (skip.read(&p, flatScanOperator) != kvSuccess || skip.read(&p, flatScanOperator) != kvSuccess)
    return kvFailure;
  bool found = false;
  if (flatDdlReadTableName(statement_, &p, tableName_, sizeof(tableName_), &found) != kvSuccess) return kvFailure;
  if (!found) {
    addFlatSyntaxError(msgCreateNoTable);
    return kvFailure;
  }
  if (canCreateTableName(tableName_) != kvSuccess) return kvFailure;
  FlatToken token;
  if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (!token.is("(")) {
    addFlatSyntaxError(msgCreateNoLeftParen);
    return kvFailure;
  }
  const uint32_t limit = flatDdlLimit(statement_, SQL_MAX_COLUMNS_IN_TABLE);
  for (;;) {
    if (parseColumn(&p) != kvSuccess) return kvFailure;
    if (limit != 0 && columns_.getCount() > limit) {
      addFlatSyntaxError(msgColumnLimit) << limit;
      return kvFailure;
    }
    FlatToken separator;
    if (separator.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (separator.is(")")) break;
    if (!separator.is(",")) {
      addFlatSyntaxError(msgExpectingComma) << uint32_t(columns_.getCount());
      return kvFailure;
    }
    if (columns_.getCount() == 0xFFFF) {
      addFlatSyntaxError(msgColumnLimit) << uint32_t(0xFFFF);
      return kvFailure;
    }
  }
  *position = uint32_t(p - text);
  return kvSuccess;
}

KvStatus FlatCreateDesc::parseColumn(const unsigned char** position) {
  FlatConnection* connection = statement_->getFlatConnection();
  auto* column = new FlatColumnDef();
  if (!column) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  KvStatus status = kvSuccess;
  bool found = false;
  status = flatDdlReadIdentifier(statement_, position, column->name, &found);
  if (status == kvSuccess && !found) {
    FlatToken what;
    const unsigned char* p = *position;
    if (what.read(&p, flatScanOperator) == kvSuccess) addFlatSyntaxError(msgBadColumnIdentifier) << what.getText();
    status = kvFailure;
  }
  if (status == kvSuccess) status = canCreateColumnName(column->name);
  if (status == kvSuccess) {
    FlatDataTypeParser types(connection);
    status = types.parse(position, column->name, &column->typeIndex);
  }
  const BaseTypeRow* type = nullptr;
  if (status == kvSuccess) {
    type = &connection->getTypeTable()[column->typeIndex];
    status = parseCreateParams(position, column, *type);
  }
  if (status == kvSuccess) {
    const unsigned char* p = *position;
    bool notWord = false, nullWord = false;
    status = flatDdlTakeWord(&p, "NOT", &notWord);
    if (status == kvSuccess && notWord) status = flatDdlTakeWord(&p, "NULL", &nullWord);
    if (status == kvSuccess && notWord && nullWord) {
      *position = p;
      column->nullable = 0;
      if (!(connection->getEngineFlags() & flatNotNullHonoured))
        addFlatWarning(stateWarning, msgNotNullIgnored) << column->name;
    }
  }
  if (status == kvSuccess) {
    const bool noCase = (connection->getEngineFlags() & flatColumnsNoCase) != 0;
    for (uint16_t i = 0; i < columns_.getCount(); ++i) {
      const char* earlier = reinterpret_cast<const char*>(getColumn(i)->name);
      const char* name = reinterpret_cast<const char*>(column->name);
      if (noCase ? strcasecmp(earlier, name) == 0 : std::strcmp(earlier, name) == 0) {
        addFlatSyntaxError(msgColumnNotUnique) << column->name;
        status = kvFailure;
        break;
      }
    }
  }
  if (status == kvSuccess) status = columns_.add(column);
  if (status != kvSuccess) delete column;
  return status;
}

KvStatus FlatCreateDesc::parseCreateParams(const unsigned char** position, FlatColumnDef* column,
                                           const BaseTypeRow& type) {
  if (type.createParamsId == strCreateNone) return kvSuccess;
  // The widths are 16-bit: a type list that promises more is held to that.
  const uint64_t maximum = type.precision == 0 || type.precision > 0xFFFF ? 0xFFFF : type.precision;
  FlatToken token;
  if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;
  if (!token.is("(")) {
    addFlatSyntaxError(msgNoCreateParams) << column->name;
    return kvFailure;
  }
  uint64_t number = 0;
  bool found = false;
  if (flatDdlReadNumber(position, &number, &found) != kvSuccess) return kvFailure;
  if (!found || number == 0) {
    addFlatSyntaxError(msgBadWidth) << column->name;
    return kvFailure;
  }
  if (number > maximum) {
    addFlatSyntaxError(msgWidthTooLarge) << column->name << uint32_t(maximum);
    return kvFailure;
  }
  column->width = uint16_t(number);
  FlatToken close;
  if (close.read(position, flatScanOperator) != kvSuccess) return kvFailure;
  if (type.createParamsId == strCreatePrecisionScale && close.is(",")) {
    if (flatDdlReadNumber(position, &number, &found) != kvSuccess) return kvFailure;
    if (!found) {
      addFlatSyntaxError(msgBadScaleValue) << column->name;
      return kvFailure;
    }
    if (number > maximum) {
      addFlatSyntaxError(msgScaleTooLarge) << column->name << uint32_t(maximum);
      return kvFailure;
    }
    if (number > column->width) {
      addFlatSyntaxError(msgBadScale);
      return kvFailure;
    }
    column->scale = uint16_t(number);
    if (close.read(position, flatScanOperator) != kvSuccess) return kvFailure;
  } else if (type.createParamsId == strCreatePrecisionScale && !close.is(")")) {
    addFlatSyntaxError(msgNoScale) << column->name;
    return kvFailure;
  }
  if (!close.is(")")) {
    addFlatSyntaxError(msgNoRightParen) << column->name;
    return kvFailure;
  }
  return kvSuccess;
}
