// Subquery answers for the evaluator; see flat_subquery.h. The subquery
// stage (result rows of subqueries, their sort and search) replaces these.
#include "flat/query/flat_subquery.h"

#include "base/base_error_list.h"
#include "base/base_messages.h"

namespace {

KvStatus notYet() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

}  // namespace

KvStatus flatSubqueryExists(FlatStatement*, FlatSqlDesc*, uint16_t, uint16_t* exists) {
  *exists = 0;
  return notYet();
}

KvStatus flatSubqueryCompare(FlatStatement*, FlatSqlDesc*, uint16_t, const FlatSubqueryTest&, uint16_t* result) {
  *result = 0;
  return notYet();
}

KvStatus flatSubqueryValue(FlatStatement*, FlatSqlDesc*, uint16_t, uint8_t*, uint32_t, uint32_t* length,
                           uint8_t* kind) {
  *length = 0;
  *kind = 0;
  return notYet();
}
