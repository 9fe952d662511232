// WHERE CURRENT OF: the named statement is found among the connection's
// statements; the data source executes the positioned statement itself
// when it can (the cursor name becomes the one the data source knows), and
// otherwise the framework emulates it: the clause becomes a search
// condition over the named statement's result columns, one parameter per
// column, whose values are read from that statement's current row at every
// execution.
//
// The condition has a fixed shape so that it can be fitted to NULL values
// in place: each column reads
//     ("NAME" =     ?)   or   ("NAME" LIKE  ?)
// and the 7 bytes from the operator on become "IS NULL" while the row's
// value is NULL, and the operator again when it is not. No byte moves, so
// the place of every "?" stays as it was when the condition was built.
#include "base/statement/base_statement.h"

#include "base/handles/base_app_text.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_sql_string.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

// A result field whose column may stand in a search condition (the bit
// that private attribute 1002 of SQLColAttributes reports).
constexpr uint32_t fieldUsableInSearch = BaseField::flagPrivate1002;
// Columns longer than this take no part in the condition.
constexpr uint32_t maxSearchPrecision = 4096;
// Bytes from the operator to the "?" and the three forms of those 7 bytes.
constexpr uint32_t operatorWidth = 7;
const char opEquals[] = " =     ";
const char opLike[] = " LIKE  ";
const char isNullText[] = "IS NULL";
const char equalsMarker[] = "=     ?";
const char likeMarker[] = "LIKE  ?";

struct EmulationType {
  int16_t sqlType;
  int16_t cType;
  uint32_t extra;  // buffer length: precision + extra, or the fixed size when fixed
  bool fixed;
};

// C type and buffer length of a search value by the column's SQL type.
const EmulationType emulationTypes[] = {
    {SQL_BIT, SQL_C_TINYINT, 1, true},          {SQL_TINYINT, SQL_C_TINYINT, 1, true},
    {SQL_BIGINT, SQL_C_CHAR, 1, false},         {SQL_LONGVARCHAR, SQL_C_CHAR, 1, false},
    {SQL_CHAR, SQL_C_CHAR, 1, false},           {SQL_VARCHAR, SQL_C_CHAR, 1, false},
    {SQL_LONGVARBINARY, SQL_C_BINARY, 1, false}, {SQL_VARBINARY, SQL_C_BINARY, 1, false},
    {SQL_BINARY, SQL_C_BINARY, 1, false},       {SQL_NUMERIC, SQL_C_CHAR, 3, false},
    {SQL_DECIMAL, SQL_C_CHAR, 3, false},        {SQL_INTEGER, SQL_C_LONG, 4, true},
    {SQL_SMALLINT, SQL_C_SHORT, 2, true},       {SQL_FLOAT, SQL_C_DOUBLE, 8, true},
    {SQL_DOUBLE, SQL_C_DOUBLE, 8, true},        {SQL_REAL, SQL_C_FLOAT, 4, true},
    {SQL_DATE, SQL_C_DATE, 6, true},            {SQL_TIME, SQL_C_TIME, 6, true},
    {SQL_TIMESTAMP, SQL_C_TIMESTAMP, 16, true},
};

const EmulationType* emulationTypeOf(int16_t sqlType) {
  for (const EmulationType& type : emulationTypes)
    if (type.sqlType == sqlType) return &type;
  return nullptr;
}

// The identifier quote character of the data source, 0 for none (blank).
unsigned char identifierQuote(BaseConnection* connection) {
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  unsigned owned = 0;
  unsigned char quote = 0;
  if (connection->getInfo(SQL_IDENTIFIER_QUOTE_CHAR, &value, &kind, &owned) == kvSuccess) {
    if (kind == infoText && value) quote = static_cast<unsigned char*>(value)[0];
    if (owned) ramFree(value);
  } else {
    KvErrorKeeper::clearLastError();
  }
  return quote == ' ' ? 0 : quote;
}

}  // namespace

int BaseStatement::isStatementOfConnection(const BaseStatement* statement) {
  bool found = false;
  connection_->getStatements().forEach<BaseStatement>([&](BaseStatement* candidate) {
    found = candidate == statement;
    return !found;
  });
  return found;
}

void BaseStatement::deleteEmulation() {
  for (uint16_t i = 0; i < emulCount_; ++i) delete emulParams_[i];
  ramFree(emulParams_);
  emulParams_ = nullptr;
  emulCount_ = 0;
  currentOfStmt_ = nullptr;
}

KvStatus BaseStatement::addEmulationParam(BaseParam* param) {
  void* block = emulParams_;
  if (ramResize(&block, uint32_t(emulCount_ + 1) * sizeof(BaseParam*)) != kvSuccess) {
    delete param;
    return kvFailure;
  }
  emulParams_ = static_cast<BaseParam**>(block);
  emulParams_[emulCount_++] = param;
  return kvSuccess;
}

KvStatus BaseStatement::handleCurrentOf(BaseSqlString* sql) {
  deleteEmulation();
  const KvSubString name = sql->getCursorNameToken();
  BaseStatement* named = connection_->findStmtByCursorName(&name);
  if (!named) {
    addOdbcError(stateBadCursorName, msgCurrentOfNoSelect);
    return kvFailure;
  }
  if (!(named->flags_ & flagForUpdate)) {
    addOdbcError(stateBadCursorName, msgCurrentOfNotForUpdate);
    return kvFailure;
  }
  currentOfStmt_ = named;
  if (sql->makeCopy() != kvSuccess) return kvFailure;

  const uint32_t connFlags = connection_->getFlags();
  const bool onlyInTxn = connection_->getAutocommit() && (connFlags & BaseConnection::flagPositionedInTxn);
  const KvSqlVerb verb = sql->getVerb();
  const bool native = !onlyInTxn && ((verb == sqlVerbUpdate && (connFlags & BaseConnection::flagPositionedUpdate)) ||
                                     (verb == sqlVerbDelete && (connFlags & BaseConnection::flagPositionedDelete)));
  if (native) {
    const unsigned char* driverName = named->getDriverCursorName();
    if (!driverName) driverName = kvU("");
    const KvSubString cursor = sql->getCursorNameToken();
    return sql->replaceSubString(&cursor, driverName, uint32_t(std::strlen(kvC(driverName))));
  }
  return buildEmulatedCondition(sql);
}

KvStatus BaseStatement::buildEmulatedCondition(BaseSqlString* sql) {
  BaseStatement* named = currentOfStmt_;
  if (named->describeColumns() != kvSuccess) return kvFailure;
  const unsigned char quote = identifierQuote(connection_);

  KvString condition;
  if (condition.initialize(kvU(""), 0) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < named->fieldCount_; ++i) {
    const BaseField* field = named->fields_[i];
    if (!field || !(field->flags & fieldUsableInSearch) || !field->name || !field->name[0] ||
        field->precision > maxSearchPrecision)
      continue;
    const EmulationType* type = emulationTypeOf(field->sqlType);
    if (!type) continue;
    BaseParam* param = allocParam();
    if (!param) return kvFailure;
    param->column = uint16_t(i + 1);
    param->sqlType = field->sqlType;
    param->precision = field->precision;
    param->scale = field->scale;
    param->cType = type->cType;
    // The value goes through the application's side (out as SQL_C_CHAR,
    // back in as a parameter): text takes its code set's bytes there.
    const SQLLEN charBytes = type->cType == SQL_C_CHAR ? SQLLEN(baseAppCharBytes()) : 1;
    param->bufferSize =
        type->fixed ? SQLLEN(type->extra) : SQLLEN(field->precision) * charBytes + SQLLEN(type->extra);
    param->paramType = SQL_PARAM_INPUT;
    param->searchLike = field->searchable == SQL_LIKE_ONLY;
    if (addEmulationParam(param) != kvSuccess) return kvFailure;

    if (emulCount_ > 1 && condition.concat(kvU(" AND ")) != kvSuccess) return kvFailure;
    if (condition.concat('(') != kvSuccess) return kvFailure;
    if (quote && condition.concat(char(quote)) != kvSuccess) return kvFailure;
    if (condition.concat(field->name) != kvSuccess) return kvFailure;
    if (quote && condition.concat(char(quote)) != kvSuccess) return kvFailure;
    if (condition.concat(kvU(param->searchLike ? opLike : opEquals)) != kvSuccess) return kvFailure;
    param->markerOffset = condition.getLength();  // within the condition for now
    if (condition.concat(kvU("?)")) != kvSuccess) return kvFailure;
  }
  if (emulCount_ == 0) {
    addOdbcError(stateBadCursorName, msgCurrentOfNoUniqueColumns);
    return kvFailure;
  }

  const uint32_t start = sql->getCurrentOfPos();
  const KvSubString clause(sql->getText() + start, sql->getCurrentOfLength());
  if (sql->replaceSubString(&clause, condition.getStr(), condition.getLength()) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < emulCount_; ++i) {
    emulParams_[i]->markerOffset += start;
    emulParams_[i]->fittedNull = false;
  }
  if (addEmulationMarkers(sql) != kvSuccess) return kvFailure;
  flags_ |= flagEmulatedPositioned | flagKeepText;
  return kvSuccess;
}

// The marker places of the text: the application's markers, then the "?"
// of every emulation column the text is not fitted to NULL, in text order.
KvStatus BaseStatement::addEmulationMarkers(BaseSqlString* sql) {
  KvArrayU32& markers = sql->getMarkers();
  markers.setCount(paramCount_ < markers.getCount() ? paramCount_ : markers.getCount());
  for (uint16_t i = 0; i < emulCount_; ++i) {
    if (emulParams_[i]->fittedNull) continue;
    const uint32_t offset = emulParams_[i]->markerOffset;
    uint16_t at = markers.getCount();
    while (at > 0 && markers.getAt(uint16_t(at - 1)) > offset) --at;
    if (markers.addAtIndex(offset, at) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus BaseStatement::checkCurrentOfCursor() {
  BaseStatement* named = currentOfStmt_;
  // The named statement may have been freed since the prepare; it is only
  // used while it is still one of the connection's statements.
  if (!named || !isStatementOfConnection(named) || named->cursorState_ != cursorOpen) {
    addOdbcError(stateCursorState, msgCurrentOfNotOnRow);
    return kvFailure;
  }
  const uint32_t row = named->getCurrentRow();
  if (row == 0 || row == 0xFFFFFFFFu) {
    addOdbcError(stateCursorState, msgCurrentOfNotOnRow);
    return kvFailure;
  }
  if (!named->isOnValidRow()) {
    addOdbcError(stateInvalidCursorPos);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus BaseStatement::readEmulationValues() {
  BaseStatement* named = currentOfStmt_;
  for (uint16_t i = 0; i < emulCount_; ++i) {
    BaseParam* param = emulParams_[i];
    if (!param->ownValue) {
      param->ownValue = static_cast<unsigned char*>(ramAllocZ(uint32_t(param->bufferSize) + 1));
      if (!param->ownValue) return kvFailure;
    }
    param->ownLength = 0;
    BaseOutString out(param->ownValue, param->bufferSize, &param->ownLength);
    // The named statement's SQLGetData progress is set aside for the read.
    const uint32_t offset = named->getDataOffset_;
    named->getDataOffset_ = 0;
    const KvStatus status = named->getData(param->column, param->cType, &out);
    named->getDataOffset_ = offset;
    if (status != kvSuccess) {
      appendBaseTextToLastError(msgCurrentOfColumnValue) << uint32_t(param->column);
      return kvFailure;
    }
    param->isNull = param->ownLength == SQL_NULL_DATA;
  }
  return kvSuccess;
}

KvStatus BaseStatement::fitEmulatedText(bool* refitted) {
  *refitted = false;
  bool changed = false;
  for (uint16_t i = 0; i < emulCount_ && !changed; ++i) changed = emulParams_[i]->isNull != emulParams_[i]->fittedNull;
  if (!changed) return kvSuccess;

  if (!(flags_ & flagPrepared)) {
    unbindParams();
    if (setToAllocatedState(0) != kvSuccess) return kvFailure;
    deleteFields();
  }
  unsigned char* text = keptSql_->getBuffer();
  for (uint16_t i = 0; i < emulCount_; ++i) {
    BaseParam* param = emulParams_[i];
    if (param->isNull == param->fittedNull) continue;
    const uint32_t at = param->markerOffset + 1 - operatorWidth;
    const char* form = param->isNull ? isNullText : param->searchLike ? likeMarker : equalsMarker;
    std::memcpy(text + at, form, operatorWidth);
    param->fittedNull = param->isNull;
  }
  if (addEmulationMarkers(keptSql_) != kvSuccess) return kvFailure;
  *refitted = true;
  return kvSuccess;
}

KvStatus BaseStatement::deliverEmulationParams() {
  uint16_t number = paramCount_;
  for (uint16_t i = 0; i < emulCount_; ++i) {
    BaseParam* param = emulParams_[i];
    if (param->fittedNull) continue;
    ++number;
    if (bindParam(number, param->ownValue, int32_t(param->ownLength), bindWhole) != kvSuccess) {
      appendBaseTextToLastError(msgParamSuffixWide) << uint32_t(number);
      return kvFailure;
    }
  }
  return kvSuccess;
}

BaseParam* BaseStatement::getParamRecord(uint16_t parameter) const {
  if (parameter == 0) return nullptr;
  if (parameter <= paramCount_ || emulCount_ == 0) return parameter <= paramCapacity_ ? params_[parameter - 1] : nullptr;
  uint16_t number = paramCount_;
  for (uint16_t i = 0; i < emulCount_; ++i) {
    if (emulParams_[i]->fittedNull) continue;
    if (++number == parameter) return emulParams_[i];
  }
  return nullptr;
}
