// The optimizer; see flat_optimizer.h. WHERE programs are read through the
// byte code's walk lengths and stack effects (flat/expr/flat_byte_code.h):
// the operands of an instruction are found by replaying the program up to
// it with a stack of instruction spans.
#include "flat/query/flat_optimizer.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/query/flat_index_desc.h"
#include "flat/query/flat_sorted_lookup.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "util/memory/ram.h"

#include <cstring>
#include <new>

namespace {

struct Span {
  const uint8_t* begin;
  const uint8_t* end;  // one past its last instruction
};

// The instruction whose value ends the span.
const uint8_t* rootOf(Span span) {
  const uint8_t* op = span.begin;
  for (;;) {
    const uint8_t* next = getNextOp(op);
    if (next >= span.end) return op;
    op = next;
  }
}

// The operand spans of root (an instruction inside span): replays the span
// up to root. Fails (returns 0) when the program does not leave exactly
// count operands.
int operandsOf(Span span, const uint8_t* root, Span* out, uint16_t count) {
  enum { maxDepth = 64 };
  Span stack[maxDepth];
  uint16_t depth = 0;
  for (const uint8_t* op = span.begin; op < root; op = getNextOp(op)) {
    uint16_t pops = 0, pushes = 0;
    flatStackEffect(op, &pops, &pushes);
    if (pops > depth) return 0;
    const uint8_t* start = pops ? stack[depth - pops].begin : op;
    depth = uint16_t(depth - pops);
    const uint8_t* next = getNextOp(op);
    for (uint16_t i = 0; i < pushes; ++i) {
      if (depth >= maxDepth) return 0;
      stack[depth++] = Span{start, next};
    }
  }
  if (depth != count) return 0;
  for (uint16_t i = 0; i < count; ++i) out[i] = stack[i];
  return 1;
}

// The top-level AND terms of the program in span, at most the limit.
void splitTerms(Span span, Span* terms, uint16_t* count) {
  if (*count >= flatMaxOptimizerTerms || span.begin >= span.end) return;
  const uint8_t* root = rootOf(span);
  Span sides[2];
  if (*root == opAnd && operandsOf(span, root, sides, 2)) {
    splitTerms(sides[0], terms, count);
    splitTerms(sides[1], terms, count);
    return;
  }
  terms[(*count)++] = span;
}

// The position of table among query's FROM tables (from 0), or -1 for a
// table of another query (an enclosing one).
int fromPosition(FlatSqlDesc* query, FlatFileDesc* table) {
  int position = 0;
  for (FlatFileDesc* t = query->getFirstTable(); t; t = t->getNextTable(), ++position)
    if (t == table) return position;
  return -1;
}

// Instructions whose value depends on more than the current rows' columns:
// subqueries, aggregates, the positioned row, key segments.
bool isRowStateOp(uint8_t op) {
  switch (op) {
    case opSubquery:
    case opScalarSubquery:
    case opExists:
    case opIn:
    case opAny:
    case opAll:
    case opAggregate:
    case opCurrentOf:
    case opKeySegment:
      return true;
    default:
      return false;
  }
}

// What an operand may be to serve as a range end for cursor: it must not
// read the cursor's table or a later one of the query (their rows are not
// known when the range is evaluated), nor a subquery or the cursor's
// position. constant says that it reads no table at all.
bool usableOperand(FlatStatement* statement, FlatSqlDesc* query, int cursorPosition, Span span, bool* constant) {
  *constant = true;
  for (const uint8_t* op = span.begin; op < span.end; op = getNextOp(op)) {
    switch (*op) {
      case opColumn:
      case opRowId: {
        *constant = false;
        FlatFileDesc* table = statement->getTableByHandle(flatOperandU32(op + 1));
        if (!table) return false;
        const int position = fromPosition(query, table);
        if (position >= cursorPosition) return false;
        break;
      }
      default:
        if (isRowStateOp(*op)) return false;
        break;
    }
  }
  return true;
}

// Whether the span is exactly the key's instruction with the cursor's
// handle.
bool isKey(Span span, const uint8_t* keyCode, uint32_t handle) {
  const uint32_t length = keyCode[0] == opColumn ? 7u : keyCode[0] == opRowId ? 5u : 0u;
  if (!length || uint32_t(span.end - span.begin) != length || span.begin[0] != keyCode[0]) return false;
  if (flatOperandU32(span.begin + 1) != handle) return false;
  return length == 5 || std::memcmp(span.begin + 5, keyCode + 5, 2) == 0;
}

KvStatus copyEnd(FlatCodeBuffer* out, Span span) {
  out->truncate(0);
  if (out->putBytes(span.begin, uint32_t(span.end - span.begin)) != kvSuccess) return kvFailure;
  return out->putOp(opEnd);
}

// A comparison mirrored for the key standing on its right.
uint8_t mirrored(uint8_t comparison) {
  switch (comparison) {
    case opGreater: return opLess;
    case opLess: return opGreater;
    case opGreaterEqual: return opLessEqual;
    case opLessEqual: return opGreaterEqual;
    default: return comparison;
  }
}

}  // namespace

KvStatus canOptimizeQuery(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, const uint8_t* keyCode,
                          FlatCodeBuffer* low, FlatCodeBuffer* high, uint16_t* flags) {
  *flags = 0;
  low->truncate(0);
  high->truncate(0);
  const uint8_t* where = query->getWhereCode();
  if (!where || *where == opEnd) return kvSuccess;
  const int cursorPosition = fromPosition(query, cursor);
  if (cursorPosition < 0) return kvSuccess;
  const uint32_t handle = cursor->getTableHandle();

  Span whole{where, where};
  while (*whole.end != opEnd) whole.end = getNextOp(whole.end);
  Span terms[flatMaxOptimizerTerms];
  uint16_t termCount = 0;
  splitTerms(whole, terms, &termCount);

  for (uint16_t t = 0; t < termCount && (*flags & (FlatOptDesc::optLow | FlatOptDesc::optHigh)) !=
                                            (FlatOptDesc::optLow | FlatOptDesc::optHigh);
       ++t) {
    const Span term = terms[t];
    const uint8_t* root = rootOf(term);
    uint8_t op = *root;
    // The outer-join prefix stands right before its comparison: such a
    // comparison holds for the blank row too, so it bounds nothing.
    bool outerJoin = false;
    for (const uint8_t* at = term.begin; at < root; at = getNextOp(at))
      if (getNextOp(at) == root && (*at == opOuterLeft || *at == opOuterRight)) outerJoin = 1;
    if (outerJoin) continue;
    Span operands[3];
    bool constant = false, constant2 = false;
    if (op >= opGreater && op <= opEqual) {
      if (!operandsOf(term, root, operands, 2)) continue;
      Span other;
      if (isKey(operands[0], keyCode, handle)) {
        other = operands[1];
      } else if (isKey(operands[1], keyCode, handle)) {
        other = operands[0];
        op = mirrored(op);
      } else {
        continue;
      }
      if (!usableOperand(statement, query, cursorPosition, other, &constant)) continue;
      const bool givesLow = op == opGreater || op == opGreaterEqual || op == opEqual;
      const bool givesHigh = op == opLess || op == opLessEqual || op == opEqual;
      if (givesLow && !(*flags & FlatOptDesc::optLow)) {
        if (copyEnd(low, other) != kvSuccess) return kvFailure;
        *flags |= FlatOptDesc::optLow;
        if (constant) *flags |= FlatOptDesc::optLowConstant;
        if (op != opGreater) *flags |= FlatOptDesc::optLowInclusive;
        if (other.begin == operands[0].begin) *flags |= FlatOptDesc::optLowKeyRight;
      }
      if (givesHigh && !(*flags & FlatOptDesc::optHigh)) {
        if (copyEnd(high, other) != kvSuccess) return kvFailure;
        *flags |= FlatOptDesc::optHigh;
        if (constant) *flags |= FlatOptDesc::optHighConstant;
        if (op != opLess) *flags |= FlatOptDesc::optHighInclusive;
      }
    } else if (op == opBetween) {
      if (!operandsOf(term, root, operands, 3) || !isKey(operands[0], keyCode, handle)) continue;
      if (!usableOperand(statement, query, cursorPosition, operands[1], &constant) ||
          !usableOperand(statement, query, cursorPosition, operands[2], &constant2))
        continue;
      if (!(*flags & FlatOptDesc::optLow)) {
        if (copyEnd(low, operands[1]) != kvSuccess) return kvFailure;
        *flags |= FlatOptDesc::optLow | FlatOptDesc::optLowInclusive;
        if (constant) *flags |= FlatOptDesc::optLowConstant;
      }
      if (!(*flags & FlatOptDesc::optHigh)) {
        if (copyEnd(high, operands[2]) != kvSuccess) return kvFailure;
        *flags |= FlatOptDesc::optHigh | FlatOptDesc::optHighInclusive;
        if (constant2) *flags |= FlatOptDesc::optHighConstant;
      }
    } else if (op == opLike) {
      if (!operandsOf(term, root, operands, 2) || !isKey(operands[0], keyCode, handle)) continue;
      if (!usableOperand(statement, query, cursorPosition, operands[1], &constant)) continue;
      // A constant pattern that starts with a wildcard bounds nothing.
      if (operands[1].begin[0] == opText && (operands[1].begin[1] == '%' || operands[1].begin[1] == '_')) continue;
      if (*flags & (FlatOptDesc::optLow | FlatOptDesc::optHigh)) continue;
      if (copyEnd(low, operands[1]) != kvSuccess || copyEnd(high, operands[1]) != kvSuccess) return kvFailure;
      *flags |= FlatOptDesc::optLow | FlatOptDesc::optLowInclusive | FlatOptDesc::optHigh | FlatOptDesc::optLike;
      if (constant) *flags |= FlatOptDesc::optLowConstant | FlatOptDesc::optHighConstant;
    }
  }
  return kvSuccess;
}

namespace {

// Whether a term reads the cursor's table and nothing else that changes
// from row to row of the query (other tables, subqueries, aggregates,
// positions), and holds no outer-join comparison.
bool readsOnlyCursor(Span term, uint32_t handle) {
  bool readsCursor = false;
  for (const uint8_t* op = term.begin; op < term.end; op = getNextOp(op)) {
    switch (*op) {
      case opColumn:
      case opRowId:
        if (flatOperandU32(op + 1) != handle) return false;
        readsCursor = 1;
        break;
      case opOuterLeft:
      case opOuterRight:
        return false;
      default:
        if (isRowStateOp(*op)) return false;
        break;
    }
  }
  return readsCursor;
}

}  // namespace

KvStatus flatTableFilter(FlatSqlDesc* query, FlatFileDesc* cursor, FlatCodeBuffer* filter) {
  filter->truncate(0);
  const uint8_t* where = query->getWhereCode();
  if (!where || *where == opEnd) return kvSuccess;
  Span whole{where, where};
  while (*whole.end != opEnd) whole.end = getNextOp(whole.end);
  Span terms[flatMaxOptimizerTerms];
  uint16_t termCount = 0;
  splitTerms(whole, terms, &termCount);
  uint16_t taken = 0;
  for (uint16_t t = 0; t < termCount; ++t) {
    if (!readsOnlyCursor(terms[t], cursor->getTableHandle())) continue;
    if (filter->putBytes(terms[t].begin, uint32_t(terms[t].end - terms[t].begin)) != kvSuccess) return kvFailure;
    if (taken++ && filter->putOp(opAnd) != kvSuccess) return kvFailure;
  }
  if (taken && filter->putOp(opEnd) != kvSuccess) return kvFailure;
  return kvSuccess;
}

// ---------------------------------------------------------------- LIKE prefixes

void flatPrefixEnd(const uint8_t* prefix, uint32_t length, uint8_t* high, uint32_t* highLength,
                   uint16_t* highBounded) {
  uint32_t n = length;
  while (n > 0 && prefix[n - 1] == 0xFF) --n;
  if (n == 0) {
    *highLength = 0;
    *highBounded = 0;
    high[0] = 0;
    return;
  }
  std::memcpy(high, prefix, n);
  high[n - 1] = uint8_t(high[n - 1] + 1);
  high[n] = 0;
  *highLength = n;
  *highBounded = 1;
}

void flatLikeRange(const uint8_t* pattern, uint32_t patternLength, uint8_t* low, uint32_t* lowLength, uint8_t* high,
                   uint32_t* highLength, uint16_t* highBounded, uint32_t capacity) {
  uint32_t n = 0;
  for (uint32_t i = 0; i < patternLength && n + 1 < capacity; ++i) {
    uint8_t c = pattern[i];
    if (c == '%' || c == '_') break;
    if (c == '\\' && i + 1 < patternLength) c = pattern[++i];
    low[n++] = c;
  }
  low[n] = 0;
  *lowLength = n;
  flatPrefixEnd(low, n, high, highLength, highBounded);
}

// ---------------------------------------------------------------- index choice

bool flatIndexDeliversOrder(FlatStatement*, FlatSqlDesc* query, FlatIndexDesc* index) {
  if (!index || index->isRowId() || index->filter) return false;
  KvArray& items = query->getOrderItems();
  const uint16_t count = items.getCount();
  if (count == 0 || count > index->keyCount) return false;
  FlatFileDesc* first = query->getFirstTable();
  if (!first) return false;
  for (uint16_t i = 0; i < count; ++i) {
    const auto* item = static_cast<const FlatOrderItem*>(items.getAt(i));
    const FlatKeyField* key = index->keys[i];
    if (!item->code || item->code[0] != opColumn || item->code[7] != opEnd) return false;
    if (flatOperandU32(item->code + 1) != first->getTableHandle()) return false;
    if (flatOperandU16(item->code + 5) != key->column || key->keyCode[0] != opColumn) return false;
    if (key->flags & (FlatKeyField::keyDriverBit1 | FlatKeyField::keyDriverBit2)) return false;
    if ((item->descending != 0) != ((key->flags & FlatKeyField::keyDescending) != 0)) return false;
    // A descending index puts NULLs last, where the sort of a NULL-aware
    // query puts them first in both directions: only the sort gives the
    // same rows with and without the index.
    if (item->descending && (query->getFlags() & FlatSqlDesc::flagNullAware)) return false;
  }
  return true;
}

namespace {

KvStatus addEnd(FlatOptBnd* bound, FlatCodeBuffer* code, FlatIndexDesc* index, uint16_t key, bool fromLike) {
  auto* expr = new FlatOptExpr;
  if (!expr) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  expr->length = uint16_t(code->getLength());
  expr->code = code->release();
  expr->key = key;
  expr->keyOffset = index->keyOffset(key);
  expr->flags = fromLike ? FlatOptExpr::exprFromLike : 0;
  if (!expr->code || bound->exprs.add(expr) != kvSuccess) {
    delete expr;
    addOdbcError(stateMemory);
    return kvFailure;
  }
  bound->count = bound->exprs.getCount();
  return kvSuccess;
}

// Builds a plan for index from the WHERE clause; *plan null when the index
// bounds nothing. Key fields are used in order while every earlier one was
// bounded to a single value (=), so that the loaded key prefix describes
// one contiguous range.
KvStatus planFor(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, FlatIndexDesc* index,
                 FlatOptDesc** plan) {
  *plan = nullptr;
  auto* made = new FlatOptDesc;
  if (!made) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  made->cursor = cursor;
  made->index = index;
  for (uint16_t k = 0; k < index->keyCount; ++k) {
    FlatKeyField* key = index->keys[k];
    FlatCodeBuffer low, high;
    uint16_t flags = 0;
    if (canOptimizeQuery(statement, query, cursor, key->keyCode, &low, &high, &flags) != kvSuccess) {
      delete made;
      return kvFailure;
    }
    const bool descending = (key->flags & FlatKeyField::keyDescending) != 0;
    if ((flags & FlatOptDesc::optLike) && descending) flags = 0;
    if (!(flags & (FlatOptDesc::optLow | FlatOptDesc::optHigh))) break;
    if (descending) {
      // Keys run from high to low: the value's low end is the range's high end.
      uint16_t swapped = flags & ~uint16_t(0x3F | FlatOptDesc::optLowKeyRight);
      if (flags & FlatOptDesc::optLow) swapped |= FlatOptDesc::optHigh;
      if (flags & FlatOptDesc::optHigh) swapped |= FlatOptDesc::optLow;
      if (flags & FlatOptDesc::optLowInclusive) swapped |= FlatOptDesc::optHighInclusive;
      if (flags & FlatOptDesc::optHighInclusive) swapped |= FlatOptDesc::optLowInclusive;
      if (flags & FlatOptDesc::optLowConstant) swapped |= FlatOptDesc::optHighConstant;
      if (flags & FlatOptDesc::optHighConstant) swapped |= FlatOptDesc::optLowConstant;
      flags = swapped;
      FlatCodeBuffer* lowCode = &high;
      FlatCodeBuffer* highCode = &low;
      if ((flags & FlatOptDesc::optLow) && addEnd(&made->low, lowCode, index, k, 0) != kvSuccess) goto failed;
      if ((flags & FlatOptDesc::optHigh) && addEnd(&made->high, highCode, index, k, 0) != kvSuccess) goto failed;
    } else {
      const bool like = (flags & FlatOptDesc::optLike) != 0;
      if ((flags & FlatOptDesc::optLow) && addEnd(&made->low, &low, index, k, like) != kvSuccess) goto failed;
      if ((flags & FlatOptDesc::optHigh) && addEnd(&made->high, &high, index, k, like) != kvSuccess) goto failed;
    }
    // The last bounded field decides whether the ends are inclusive (the
    // ones before it were equalities).
    made->flags = flags;
    // A further key field narrows the range only behind an equality.
    const uint16_t both = FlatOptDesc::optLow | FlatOptDesc::optHigh;
    if ((flags & both) != both || (flags & FlatOptDesc::optLike)) break;
    {
      auto* lowExpr = static_cast<FlatOptExpr*>(made->low.exprs.getAt(k));
      auto* highExpr = static_cast<FlatOptExpr*>(made->high.exprs.getAt(k));
      if (lowExpr->length != highExpr->length || std::memcmp(lowExpr->code, highExpr->code, lowExpr->length) != 0 ||
          !(flags & FlatOptDesc::optLowInclusive) || !(flags & FlatOptDesc::optHighInclusive))
        break;
    }
  }
  if (made->low.count == 0 && made->high.count == 0) {
    delete made;
    return kvSuccess;
  }
  if (index->allocKeyBuffer(&made->low) != kvSuccess || index->allocKeyBuffer(&made->high) != kvSuccess) goto failed;
  *plan = made;
  return kvSuccess;
failed:
  delete made;
  return kvFailure;
}

uint16_t boundBits(const FlatOptDesc* plan) {
  return uint16_t((plan->low.count ? FlatOptDesc::optLow : 0) | (plan->high.count ? FlatOptDesc::optHigh : 0));
}

}  // namespace

KvStatus flatOptimizeCursor(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor) {
  cursor->setOptDesc(nullptr);
  FlatSharedDesc* shared = cursor->getShared();
  if (!shared) return kvSuccess;
  const uint16_t both = FlatOptDesc::optLow | FlatOptDesc::optHigh;
  FlatOptDesc* chosen = nullptr;
  if (query->getWhereCode() && *query->getWhereCode() != opEnd) {
    // The ROWID pseudo index first: a record number range is the cheapest.
    for (FlatIndexDesc* index = shared->getIndexes(); index; index = index->next) {
      if (!index->isRowId()) continue;
      FlatOptDesc* plan = nullptr;
      if (planFor(statement, query, cursor, index, &plan) != kvSuccess) return kvFailure;
      if (plan && (boundBits(plan) & both) == both) chosen = plan;
      else delete plan;
    }
    FlatOptDesc* oneEnded = nullptr;
    for (FlatIndexDesc* index = shared->getIndexes(); index && !chosen; index = index->next) {
      if (index->isRowId() || index->filter) continue;
      uint16_t eligible = 0;
      if (index->indexEligible(cursor, &eligible) != kvSuccess) {
        delete oneEnded;
        return kvFailure;
      }
      if (!eligible) continue;
      FlatOptDesc* plan = nullptr;
      if (planFor(statement, query, cursor, index, &plan) != kvSuccess) {
        delete oneEnded;
        return kvFailure;
      }
      if (!plan) continue;
      if ((boundBits(plan) & both) == both) {
        chosen = plan;
      } else if (!oneEnded) {
        // The first one-ended plan stays unless a later index bounds both ends.
        oneEnded = plan;
      } else {
        delete plan;
      }
    }
    if (chosen) delete oneEnded;
    else chosen = oneEnded;
  }
  if (!chosen && cursor == query->getFirstTable()) {
    for (FlatIndexDesc* index = shared->getIndexes(); index; index = index->next) {
      if (!flatIndexDeliversOrder(statement, query, index)) continue;
      chosen = new FlatOptDesc;
      if (!chosen) {
        addOdbcError(stateMemory);
        return kvFailure;
      }
      chosen->cursor = cursor;
      chosen->index = index;
      chosen->flags = FlatOptDesc::optOrderOnly;
      break;
    }
  }
  cursor->setOptDesc(chosen);
  // No index: a table read again for each outer row gets a sorted lookup.
  return flatAttachLookup(statement, query, cursor, chosen != nullptr);
}

// ---------------------------------------------------------------- ends at execution

namespace {

bool isTextKey(const FlatKeyField* key) { return key->sqlType == SQL_CHAR || key->sqlType == SQL_VARCHAR; }

// Evaluates one end into bound's key buffer; high says which end it is.
KvStatus loadEnd(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, FlatOptDesc* plan,
                 FlatOptBnd* bound, bool high) {
  bound->flags = 0;
  bound->keysLoaded = 0;
  if (!bound->key) return kvSuccess;
  if (plan->flags & (high ? FlatOptDesc::optHighInclusive : FlatOptDesc::optLowInclusive))
    bound->flags |= FlatOptBnd::boundInclusive;
  // Unloaded trailing key fields take their lowest value at the low end and
  // their highest at the high end, so that the range covers them all.
  std::memset(bound->key, high ? 0xFF : 0x00, bound->keyBytes);
  uint8_t value[4096];
  uint8_t prefix[4096];
  for (uint16_t i = 0; i < bound->count; ++i) {
    auto* expr = static_cast<FlatOptExpr*>(bound->exprs.getAt(i));
    const FlatKeyField* key = plan->index->keys[expr->key];
    int16_t length = 0;
    uint8_t kind = 0;
    if (evalExpr(statement, query, nullptr, expr->code, value, sizeof(value) - 1, 0, &length, &kind) != kvSuccess)
      return kvFailure;
    if (length == -1) {
      // Not decidable for the current outer rows: read without this end.
      bound->flags |= FlatOptBnd::boundUnbounded;
      return kvSuccess;
    }
    if (length == 0 && kind != flatEvalText && kind != flatEvalFunctionText) {
      // A NULL end: the evaluator takes a NULL as equal to a NULL, so with
      // =, <= or >= the keys of NULL qualify, and a range cannot name
      // them: read without this end. Only < and > hold for no key at all.
      if (kind == flatEvalNull && !(bound->flags & FlatOptBnd::boundInclusive))
        bound->flags |= FlatOptBnd::boundNoValue;
      else
        bound->flags |= FlatOptBnd::boundUnbounded;
      return kvSuccess;
    }
    value[length] = 0;
    // Which end of the values this is: a descending key's low end (in index
    // order) is the values' high end.
    const bool valueHigh = high != ((key->flags & FlatKeyField::keyDescending) != 0);
    if (isTextKey(key)) {
      uint32_t textLength = uint32_t(length);
      if (expr->flags & FlatOptExpr::exprFromLike) {
        uint32_t lowLength = 0, highLength = 0;
        uint16_t bounded = 0;
        flatLikeRange(value, textLength, prefix, &lowLength, value, &highLength, &bounded, sizeof(prefix));
        if (!valueHigh) {
          std::memcpy(value, prefix, lowLength + 1);
        } else if (!bounded) {
          bound->flags |= FlatOptBnd::boundUnbounded;
          return kvSuccess;
        } else if (highLength <= key->keyLength) {
          bound->flags &= ~uint32_t(FlatOptBnd::boundInclusive);
        } else {
          // A raised prefix cut to the key's length is not above the keys
          // it was cut from: an inclusive end.
          bound->flags |= FlatOptBnd::boundInclusive;
        }
      } else {
        // A text compares equal to any text it begins with (xBase rule), and
        // without trailing blanks in NULL-aware mode: the low end is the
        // text without its trailing blanks, the high end the end of its
        // prefix range, and an empty text bounds nothing above. A byte below
        // the blank in the text would let a shorter key's padding blanks
        // pass the raised prefix ('BA' + blanks against 'BA' + CHR(1)), so
        // such a text bounds nothing above either.
        while (textLength > 0 && value[textLength - 1] == ' ') --textLength;
        value[textLength] = 0;
        if (valueHigh) {
          for (uint32_t b = 0; b < textLength; ++b) {
            if (value[b] < ' ') {
              bound->flags |= FlatOptBnd::boundUnbounded;
              return kvSuccess;
            }
          }
          uint32_t endLength = 0;
          uint16_t bounded = 0;
          std::memcpy(prefix, value, textLength);
          flatPrefixEnd(prefix, textLength, value, &endLength, &bounded);
          if (!bounded) {
            bound->flags |= FlatOptBnd::boundUnbounded;
            return kvSuccess;
          }
          // The raised prefix is an exclusive end, unless cut to the key's
          // length: then it is not above the keys it was cut from.
          if (endLength <= key->keyLength) bound->flags &= ~uint32_t(FlatOptBnd::boundInclusive);
          else bound->flags |= FlatOptBnd::boundInclusive;
        }
      }
    } else if (length != 8 && key->keyLength == 8) {
      // Not a number or date (a logical or a text against a numeric key):
      // no range can be read from it.
      bound->flags |= FlatOptBnd::boundUnbounded;
      return kvSuccess;
    }
    if (cursor->loadKeyBuffer(bound, expr->key, value) != kvSuccess) return kvFailure;
    bound->keysLoaded = uint16_t(i + 1);
  }
  return kvSuccess;
}

}  // namespace

KvStatus flatEvaluateBounds(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, uint16_t* mode) {
  *mode = 0;
  FlatOptDesc* plan = cursor->getOptDesc();
  if (!plan) return kvSuccess;
  if (!(plan->flags & FlatOptDesc::optOrderOnly)) {
    if (loadEnd(statement, query, cursor, plan, &plan->low, 0) != kvSuccess ||
        loadEnd(statement, query, cursor, plan, &plan->high, 1) != kvSuccess)
      return kvFailure;
  }
  return cursor->evaluateOptDesc(mode);
}
