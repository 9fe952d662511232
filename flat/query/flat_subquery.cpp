// Subquery answers for the evaluator; see flat_subquery.h. Each question
// runs the subquery's keyset afresh for the current rows of the enclosing
// queries (so a correlated subquery sees them) and walks its rows:
// EXISTS stops at the first row; IN, ANY and ALL compare the tested value
// with the select item of each row, passing over rows whose value is NULL;
// a scalar subquery has at most one row.
//
// Quantified comparisons hold as SQL states them: x = ALL is TRUE exactly
// when every row equals x, ALL over no row is TRUE, ANY over no row FALSE.
#include "flat/query/flat_subquery.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_aggregates.h"
#include "flat/query/flat_keyset.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "util/byte_order.h"
#include "util/files/sort.h"

#include <cstring>

namespace {

FlatSqlDesc* subqueryOf(FlatSqlDesc* query, uint16_t index) {
  if (!query || index >= query->getSubqueries().getCount()) {
    addFlatError(stateGeneral, msgExpressionLimit);
    return nullptr;
  }
  return static_cast<FlatSqlDesc*>(query->getSubqueries().getAt(index));
}

// The value of the subquery's select item on its current row.
KvStatus itemValue(FlatStatement* statement, FlatSqlDesc* sub, uint8_t* out, uint32_t capacity, int16_t* length,
                   uint8_t* kind) {
  const FlatSelectField* item = sub->getItemCount() ? sub->getItem(0) : nullptr;
  if (!item) {
    *length = 0;
    *kind = flatEvalNull;
    return kvSuccess;
  }
  if (!item->isPlainColumn())
    return evalExpr(statement, sub, nullptr, item->code, out, capacity, 0, length, kind);
  uint8_t program[8] = {opColumn, 0, 0, 0, 0, 0, 0, opEnd};
  kvPutU32LE(program + 1, item->table ? item->table->getTableHandle() : 0);
  kvPutU16LE(program + 5, item->column);
  return evalExpr(statement, sub, nullptr, program, out, capacity, 0, length, kind);
}

bool isText(uint8_t kind) { return kind == flatEvalText || kind == flatEvalFunctionText; }

// -1, 0, 1 for row below, equal to, above the tested value; texts without
// trailing blanks.
int compareValues(const uint8_t* row, uint32_t rowLength, uint8_t rowKind, const FlatSubqueryTest& test) {
  if ((rowKind == flatEvalNumber || rowKind == flatEvalDate) && rowLength >= 8 && test.length >= 8) {
    double a = 0, b = 0;
    std::memcpy(&a, row, 8);
    std::memcpy(&b, test.value, 8);
    return a < b ? -1 : a > b ? 1 : 0;
  }
  if (rowKind == flatEvalLogical && rowLength >= 1 && test.length >= 1)
    return row[0] < test.value[0] ? -1 : row[0] > test.value[0] ? 1 : 0;
  uint32_t a = rowLength, b = test.length;
  while (a && row[a - 1] == ' ') --a;
  while (b && test.value[b - 1] == ' ') --b;
  const uint32_t common = a < b ? a : b;
  const int c = std::memcmp(row, test.value, common);
  if (c) return c < 0 ? -1 : 1;
  return a < b ? -1 : a > b ? 1 : 0;
}

// Whether "row c value" holds (the comparison is written value c row, so
// the row stands on the right).
bool holds(uint8_t comparison, int rowAgainstValue) {
  switch (comparison) {
    case opGreater: return rowAgainstValue < 0;        // value > row
    case opGreaterEqual: return rowAgainstValue <= 0;  // value >= row
    case opLess: return rowAgainstValue > 0;
    case opLessEqual: return rowAgainstValue >= 0;
    case opEqual: return rowAgainstValue == 0;
    case opNotEqual: return rowAgainstValue != 0;
    default: return false;
  }
}

// A subquery's result rows: aggregated and grouped first when it has
// aggregates or GROUP BY (a subquery of aggregates only is one row of their
// values, also over no row).
KvStatus openRows(FlatStatement* statement, FlatSqlDesc* sub, RidFileMgr* keyset) {
  if (!sub->getAggregates().getCount() && !sub->getGroupByText()) return kvSuccess;
  uint16_t oneRow = 0;
  return flatComputeAggregates(statement, sub, keyset, &oneRow);
}

// Walks the subquery's rows; visit(value, length, kind) returns 0 to stop.
template <typename Visit>
KvStatus eachRow(FlatStatement* statement, FlatSqlDesc* sub, Visit visit) {
  RidFileMgr keyset(statement, sub);
  // On the stack: a nested subquery evaluates while this one holds its value.
  uint8_t value[flatEvalScratchBytes];
  if (openRows(statement, sub, &keyset) != kvSuccess) return kvFailure;
  for (uint32_t row = 1;; ++row) {
    GetRecRetType result = getRecFound;
    if (keyset.getRecord(row, &result) != kvSuccess) return kvFailure;
    if (result == getRecPastEnd) return kvSuccess;
    if (result == getRecGone) continue;
    int16_t length = 0;
    uint8_t kind = 0;
    if (itemValue(statement, sub, value, sizeof(value), &length, &kind) != kvSuccess) return kvFailure;
    if (!visit(value, length, kind)) return kvSuccess;
  }
}

// An uncorrelated subquery tested with IN (or = ANY, <> ALL) gives the same
// rows for every enclosing row: its values are read once an execution into
// a sorted list, and each test is one search of it. The list holds one
// kind of value (numbers and dates, logicals or texts); a subquery whose
// rows mix them, or a tested value of another kind, is answered by the
// walk over its rows instead.
class FlatInAnswers : public KvObject {
 public:
  enum : uint8_t { classNone = 0, classNumber = 1, classLogical = 2, classText = 3 };
  enum : uint16_t { maxTextBytes = 1024 };

  static uint8_t classOf(uint8_t kind) {
    if (kind == flatEvalNumber || kind == flatEvalDate) return classNumber;
    if (kind == flatEvalLogical) return classLogical;
    if (isText(kind)) return classText;
    return classNone;
  }

  // The key of a value (record length bytes); false when the value cannot
  // be one (a text longer than the list's texts).
  bool keyOf(uint8_t valueClass, const uint8_t* value, uint32_t length, uint8_t* key) const {
    std::memset(key, 0, recordLength);
    key[0] = valueClass;
    if (valueClass == classNumber) {
      if (length < 8) return false;
      double number = 0;
      std::memcpy(&number, value, 8);
      if (number == 0) number = 0;  // -0 equals 0
      uint64_t bits = 0;
      std::memcpy(&bits, &number, 8);
      bits = (bits & 0x8000000000000000ULL) ? ~bits : (bits | 0x8000000000000000ULL);
      for (int i = 0; i < 8; ++i) key[1 + i] = uint8_t(bits >> (56 - 8 * i));
      return true;
    }
    if (valueClass == classLogical) {
      if (length < 1) return false;
      key[1] = value[0];
      return true;
    }
    // Texts compare without their trailing blanks.
    while (length && value[length - 1] == ' ') --length;
    if (length > uint32_t(recordLength - 1)) return false;
    std::memcpy(key + 1, value, length);
    return true;
  }

  KvSort sort;
  uint16_t recordLength = 9;
  uint8_t valueClass = classNone;
  bool usable = true;
};

KvStatus buildInAnswers(FlatStatement* statement, FlatSqlDesc* sub, FlatInAnswers** out) {
  *out = static_cast<FlatInAnswers*>(sub->getAnswers());
  if (*out) return kvSuccess;
  auto* answers = new FlatInAnswers();
  if (!answers) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  const FlatSelectField* item = sub->getItemCount() ? sub->getItem(0) : nullptr;
  const int16_t itemType = item ? item->sqlType : int16_t(SQL_CHAR);
  const bool textItem = itemType == SQL_CHAR || itemType == SQL_VARCHAR || itemType == SQL_LONGVARCHAR;
  // Numbers, dates and logicals need 8 bytes; texts their width.
  uint32_t textBytes = !textItem ? 8 : item && item->precision ? item->precision : uint32_t(FlatInAnswers::maxTextBytes);
  if (textBytes > FlatInAnswers::maxTextBytes) textBytes = FlatInAnswers::maxTextBytes;
  answers->recordLength = uint16_t(1 + (textBytes > 8 ? textBytes : 8));
  KvStatus status = answers->sort.setRecordLength(answers->recordLength);
  if (status == kvSuccess) status = answers->sort.addKey(0, 0, answers->recordLength);
  if (status == kvSuccess) {
    status = eachRow(statement, sub, [&](const uint8_t* value, int16_t length, uint8_t kind) {
      if (length <= 0 && !isText(kind)) return 1;  // NULL rows decide nothing
      const uint8_t valueClass = FlatInAnswers::classOf(kind);
      if (valueClass == FlatInAnswers::classNone ||
          (answers->valueClass != FlatInAnswers::classNone && valueClass != answers->valueClass)) {
        answers->usable = false;
        return 0;
      }
      answers->valueClass = valueClass;
      void* slot = nullptr;
      if (answers->sort.nextSlot(&slot) != kvSuccess) {
        status = kvFailure;
        return 0;
      }
      if (!answers->keyOf(valueClass, value, uint32_t(length < 0 ? 0 : length), static_cast<uint8_t*>(slot))) {
        answers->usable = false;
        return 0;
      }
      return 1;
    });
  }
  if (status != kvSuccess) {
    delete answers;
    return kvFailure;
  }
  sub->setAnswers(answers);
  *out = answers;
  return kvSuccess;
}

// Whether a correlated subquery must wait: some table of an enclosing
// query is not on a row yet. Its rows would be judged against a value that
// is not there, and every row would pass as undecidable.
bool waitsForOuterRow(const FlatSqlDesc* sub) {
  if (!sub->isCorrelated()) return false;
  for (FlatSqlDesc* outer = sub->getParent(); outer; outer = outer->getParent())
    for (FlatFileDesc* table = outer->getFirstTable(); table; table = table->getNextTable())
      if (table->getTableFlags() & FlatFileDesc::tableNotPositioned) return true;
  return false;
}

}  // namespace

KvStatus flatSubqueryExists(FlatStatement* statement, FlatSqlDesc* query, uint16_t index, uint16_t* exists) {
  *exists = 0;
  FlatSqlDesc* sub = subqueryOf(query, index);
  if (!sub) return kvFailure;
  if (waitsForOuterRow(sub)) {
    *exists = flatSubqueryUndecided;
    return kvSuccess;
  }
  RidFileMgr keyset(statement, sub);
  if (openRows(statement, sub, &keyset) != kvSuccess) return kvFailure;
  GetRecRetType result = getRecFound;
  if (keyset.getRecord(1, &result) != kvSuccess) return kvFailure;
  *exists = result == getRecFound;
  return kvSuccess;
}

KvStatus flatSubqueryCompare(FlatStatement* statement, FlatSqlDesc* query, uint16_t index,
                             const FlatSubqueryTest& test, uint16_t* result) {
  *result = 0;
  FlatSqlDesc* sub = subqueryOf(query, index);
  if (!sub) return kvFailure;
  if (waitsForOuterRow(sub)) {
    *result = flatSubqueryUndecided;
    return kvSuccess;
  }
  const bool equality = test.form == opIn || (test.form == opAny && test.comparison == opEqual) ||
                        (test.form == opAll && test.comparison == opNotEqual);
  if (equality && !sub->isCorrelated()) {
    FlatInAnswers* answers = nullptr;
    if (buildInAnswers(statement, sub, &answers) != kvSuccess) return kvFailure;
    const uint8_t testedClass = FlatInAnswers::classOf(test.kind);
    if (answers->usable && testedClass != FlatInAnswers::classNone &&
        (answers->valueClass == FlatInAnswers::classNone || answers->valueClass == testedClass)) {
      uint8_t key[1 + FlatInAnswers::maxTextBytes];
      void* record = nullptr;
      if (answers->keyOf(testedClass, test.value, test.length, key) &&
          answers->valueClass != FlatInAnswers::classNone &&
          answers->sort.getFirstRecordWithKey(key, &record) != kvSuccess)
        return kvFailure;
      const bool found = record != nullptr;
      *result = uint16_t(test.form == opAll ? !found : found);
      return kvSuccess;
    }
  }
  const bool all = test.form == opAll;
  bool any = false, every = true;
  KvStatus status = eachRow(statement, sub, [&](const uint8_t* value, int16_t length, uint8_t kind) {
    if (length <= 0 && !isText(kind)) return 1;  // NULL and undecidable rows decide nothing
    const bool ok = holds(test.comparison, compareValues(value, uint32_t(length), kind, test));
    if (ok) any = true;
    else every = false;
    return int(all ? every : !any);
  });
  if (status != kvSuccess) return kvFailure;
  *result = uint16_t(all ? every : any);
  return kvSuccess;
}

KvStatus flatSubqueryValue(FlatStatement* statement, FlatSqlDesc* query, uint16_t index, uint8_t* out,
                           uint32_t capacity, uint32_t* length, uint8_t* kind) {
  *length = 0;
  *kind = flatEvalNull;
  FlatSqlDesc* sub = subqueryOf(query, index);
  if (!sub) return kvFailure;
  if (waitsForOuterRow(sub)) {
    *kind = flatEvalUndecidable;
    return kvSuccess;
  }
  uint32_t rows = 0;
  KvStatus failed = kvSuccess;
  KvStatus status = eachRow(statement, sub, [&](const uint8_t* value, int16_t valueLength, uint8_t valueKind) {
    if (++rows > 1) return 0;
    if (valueLength == -1) {
      *kind = flatEvalUndecidable;
      return 1;
    }
    if (valueLength <= 0 && !isText(valueKind)) return 1;
    if (uint32_t(valueLength) > capacity) {
      addFlatError(stateGeneral, msgExpressionLimit);
      failed = kvFailure;
      return 0;
    }
    std::memcpy(out, value, size_t(valueLength));
    *length = uint32_t(valueLength);
    *kind = valueKind;
    return 1;
  });
  if (status != kvSuccess || failed != kvSuccess) return kvFailure;
  if (rows > 1) {
    addFlatError(stateGeneral, msgSubqueryRows);
    *length = 0;
    *kind = flatEvalNull;
    return kvFailure;
  }
  return kvSuccess;
}

void flatResetSubqueryAnswers(FlatSqlDesc* query) {
  for (FlatSqlDesc* q = query; q; q = q->getNextQuery()) {
    KvArray& subqueries = q->getSubqueries();
    for (uint16_t i = 0; i < subqueries.getCount(); ++i) {
      auto* sub = static_cast<FlatSqlDesc*>(subqueries.getAt(i));
      if (!sub) continue;
      sub->setAnswers(nullptr);
      flatResetSubqueryAnswers(sub);
    }
  }
}
