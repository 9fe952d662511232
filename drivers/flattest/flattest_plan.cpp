// The test driver's side of the optimizer: its index descriptions (one a
// indexed column, plus the engine's ROWID pseudo index) and the walk of an
// evaluated key range. The range is walked in the in-memory index, in the
// index's direction, so that the engine's results through an index can be
// compared with its results from a plain scan.
#include "drivers/flattest/flattest_table.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/query/flat_index_desc.h"

#include <algorithm>
#include <cstring>

KvStatus FlatTestFileDesc::initializeIndexes(FlatStatement*) {
  FlatSharedDesc* shared = getShared();
  if (shared->getIndexes()) return kvSuccess;
  const FlatTestLayout& layout = table()->getLayout();
  for (uint16_t i = 0; i < layout.columns.size(); ++i) {
    if (!(layout.columns[i].flags & flatTestIndexed)) continue;
    auto* index = new FlatIndexDesc;
    if (index->initialize(reinterpret_cast<const unsigned char*>(layout.columns[i].name.c_str()), 1) != kvSuccess ||
        index->keys[0]->compileFieldName(shared->getColumn(i), i) != kvSuccess) {
      delete index;
      return kvFailure;
    }
    if (layout.columns[i].flags & flatTestDescending) index->keys[0]->flags |= FlatKeyField::keyDescending;
    if (layout.columns[i].flags & flatTestUnique) index->flags |= FlatIndexDesc::indexUnique;
    shared->addIndexDesc(index);
  }
  return shared->addRowIdDesc();
}

namespace {

// An engine key (FlatOptBnd::key at the key's offset) in the form of the
// test driver's index keys ("v" and the value's sortable bytes).
std::string driverKey(const FlatTestColumn& column, const uint8_t* key, uint16_t keyLength) {
  double d = 0;
  switch (column.type) {
    case 'I':
    case 'D':
    case 'T':
      std::memcpy(&d, key, 8);
      return "v" + flatTestSortableDouble(d);
    case 'Y':
      return "v" + std::string(1, char(key[0] ? 1 : 0));
    default:
      return "v" + std::string(reinterpret_cast<const char*>(key), strnlen(reinterpret_cast<const char*>(key), keyLength));
  }
}

}  // namespace

KvStatus FlatTestFileDesc::evaluateOptDesc(uint16_t* mode) {
  *mode = 0;
  planned_ = 0;
  FlatOptDesc* plan = getOptDesc();
  if (!plan || !plan->index) return kvSuccess;
  const FlatKeyField* key = plan->index->keys[0];
  planned_ = 1;
  planColumn_ = plan->index->isRowId() ? -1 : int(key->column);
  planDescending_ = (key->flags & FlatKeyField::keyDescending) != 0;
  planEmpty_ = ((plan->low.flags | plan->high.flags) & FlatOptBnd::boundNoValue) != 0;
  const int ranged = !(plan->flags & FlatOptDesc::optOrderOnly);
  planHasLow_ = ranged && plan->low.keysLoaded && !(plan->low.flags & FlatOptBnd::boundUnbounded);
  planHasHigh_ = ranged && plan->high.keysLoaded && !(plan->high.flags & FlatOptBnd::boundUnbounded);
  planLowInclusive_ = (plan->low.flags & FlatOptBnd::boundInclusive) != 0;
  planHighInclusive_ = (plan->high.flags & FlatOptBnd::boundInclusive) != 0;
  if (planDescending_) {
    // The plan's ends are in index order: for a descending key its low end
    // is the values' high end.
    std::swap(planHasLow_, planHasHigh_);
    std::swap(planLowInclusive_, planHighInclusive_);
  }
  const FlatOptBnd& valueLow = planDescending_ ? plan->high : plan->low;
  const FlatOptBnd& valueHigh = planDescending_ ? plan->low : plan->high;
  if (planColumn_ < 0) {
    double low = 0, high = 0;
    if (planHasLow_) std::memcpy(&low, valueLow.key, 8);
    if (planHasHigh_) std::memcpy(&high, valueHigh.key, 8);
    planLow_ = flatTestSortableDouble(low);
    planHigh_ = flatTestSortableDouble(high);
  } else {
    const FlatTestColumn& column = table()->getLayout().columns[size_t(planColumn_)];
    if (planHasLow_) planLow_ = driverKey(column, valueLow.key, key->keyLength);
    if (planHasHigh_) planHigh_ = driverKey(column, valueHigh.key, key->keyLength);
  }
  return kvSuccess;
}

KvStatus FlatTestFileDesc::planOrder() {
  order_.clear();
  if (planEmpty_) return kvSuccess;
  auto inRange = [&](const std::string& k) {
    if (planHasLow_ && (planLowInclusive_ ? k < planLow_ : k <= planLow_)) return false;
    if (planHasHigh_ && (planHighInclusive_ ? k > planHigh_ : k >= planHigh_)) return false;
    return true;
  };
  if (planColumn_ < 0) {
    if (table()->refreshRecordCount() != kvSuccess) return kvFailure;
    for (uint32_t n = 1; n <= table()->getRecordCount(); ++n)
      if (inRange(flatTestSortableDouble(double(n)))) order_.push_back(n);
    return kvSuccess;
  }
  FlatTestSharedDesc::Index* index = table()->getIndex(uint16_t(planColumn_));
  if (!index) return kvSuccess;
  auto from = planHasLow_ ? index->lower_bound(planLow_) : index->begin();
  for (auto it = from; it != index->end(); ++it) {
    if (planHasHigh_ && it->first > planHigh_) break;
    if (inRange(it->first)) order_.push_back(it->second);
  }
  if (planDescending_) std::reverse(order_.begin(), order_.end());
  return kvSuccess;
}
