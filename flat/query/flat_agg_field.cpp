// Aggregate records; see flat_agg_field.h.
#include "flat/query/flat_agg_field.h"

#include "util/memory/ram.h"

FlatAggField::~FlatAggField() {
  ramFree(program);
  ramFree(value);
}
