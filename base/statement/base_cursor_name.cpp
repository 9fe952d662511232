// Cursor names: SQLSetCursorName and SQLGetCursorName, the name a statement
// is given when an execution leaves a result set and it has none, and the
// lookup of a statement by its cursor name (WHERE CURRENT OF).
//
// A connection's statements never share a name: SQLSetCursorName refuses a
// sibling's name (3C000), and a generated name that a sibling already bears
// is passed over for the next one.
#include "base/statement/base_statement.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

// Longest name SQLSetCursorName accepts (SQL_MAX_CURSOR_NAME_LEN).
const uint32_t maxCursorNameBytes = 18;
// "SQL_CUR" and 8 digits.
const uint32_t generatedNameBytes = 15;

bool nameEquals(const unsigned char* name, const unsigned char* text, uint32_t length) {
  return name && std::strlen(kvC(name)) == length && std::memcmp(name, text, length) == 0;
}

// Whether a statement of connection other than self bears the name.
bool isNameOfSibling(BaseConnection* connection, const BaseStatement* self, const unsigned char* text,
                     uint32_t length) {
  return !connection->getStatements().forEach<BaseStatement>([&](BaseStatement* statement) {
    return statement == self || !nameEquals(statement->getCursorName(), text, length);
  });
}

}  // namespace

void baseCursorNameOf(uint32_t value, unsigned char* out) {
  static const char digits[] = "0123456789ABCDEF";
  std::memcpy(out, "SQL_CUR", 7);
  for (int i = 0; i < 4; ++i) {
    const unsigned byte = (value >> (8 * i)) & 0xFF;
    out[7 + 2 * i] = digits[byte >> 4];
    out[8 + 2 * i] = digits[byte & 0xF];
  }
  out[generatedNameBytes] = 0;
}

// The name is made from the low four bytes of the statement's address, as
// applications have long seen it. Two statements whose addresses share those
// bytes, or an application that chose such a name, would make it collide:
// then the next value is taken. With n statements at most n - 1 values are
// taken by siblings, so n candidates always hold a free one.
KvStatus BaseStatement::generateCursorName() {
  unsigned char name[generatedNameBytes + 1];
  const uint32_t base = uint32_t(reinterpret_cast<uintptr_t>(this));
  const uint32_t candidates = connection_->getStatements().getCount();
  for (uint32_t k = 0; k <= candidates; ++k) {
    baseCursorNameOf(base + k, name);
    if (isNameOfSibling(connection_, this, name, generatedNameBytes)) continue;
    unsigned char* copy = ramAllocStr(name);
    if (!copy) return kvFailure;
    ramFree(cursorName_);
    cursorName_ = copy;
    return kvSuccess;
  }
  addOdbcError(stateGeneral);  // unreachable: see above
  return kvFailure;
}

BaseStatement* BaseConnection::findStmtByCursorName(const KvSubString* name) {
  BaseStatement* found = nullptr;
  statements_.forEach<BaseStatement>([&](BaseStatement* statement) {
    if (!nameEquals(statement->getCursorName(), name->getText(), name->getLength())) return true;
    found = statement;
    return false;
  });
  return found;
}

SQLRETURN BaseStatement::SQLGetCursorName(SQLCHAR* szCursor, SQLSMALLINT cbCursorMax, SQLSMALLINT* pcbCursor) {
  BaseCall call(this, SQL_API_SQLGETCURSORNAME);
  if (!call.isOpen()) return call.getResult();
  BaseOutString out(szCursor, int32_t(cbCursorMax), pcbCursor);
  if (out.checkSize() != kvSuccess) return call.exit(SQL_ERROR);
  if (!cursorName_) {
    addOdbcError(stateNoCursorName);
    return call.exit(SQL_ERROR);
  }
  return call.exit(out.setStrValue(cursorName_) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

// The name is checked before anything changes: a bad length (S1090), an
// empty or too long name (34000), a sibling's name (3C000). The statement's
// own current name may be set again.
SQLRETURN BaseStatement::SQLSetCursorName(SQLCHAR* szCursor, SQLSMALLINT cbCursor) {
  BaseCall call(this, SQL_API_SQLSETCURSORNAME);
  if (!call.isOpen()) return call.getResult();
  if (!szCursor) {
    addOdbcError(stateArgumentValue);
    return call.exit(SQL_ERROR);
  }
  if (cbCursor != SQL_NTS && cbCursor < 1) {
    addOdbcError(stateStringLength);
    return call.exit(SQL_ERROR);
  }
  BaseInString name(szCursor, cbCursor);
  if (name.convertFromApp() != kvSuccess) return call.exit(SQL_ERROR);
  if (name.getLength() == 0 || name.getLength() > maxCursorNameBytes) {
    addOdbcError(stateBadCursorName);
    return call.exit(SQL_ERROR);
  }
  if (isNameOfSibling(connection_, this, name.getText(), name.getLength())) {
    addOdbcError(stateDupCursorName);
    return call.exit(SQL_ERROR);
  }
  unsigned char* copy = ramAllocStr(name.getText(), name.getLength());
  if (!copy) return call.exit(SQL_ERROR);
  ramFree(cursorName_);
  cursorName_ = copy;
  return call.exit(SQL_SUCCESS);
}
