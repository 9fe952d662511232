// butxpand (see grow_buffer.h).
#include "util/memory/grow_buffer.h"

#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

namespace {

enum : uint32_t { growthStep = 512, largestBlock = 0xFFFF };

}  // namespace

KvStatus butxpand(unsigned char** start, unsigned char** cursor, uint16_t* size, uint16_t need) {
  uint32_t growth = (need / growthStep) * growthStep + growthStep;
  if (!*start) {
    if (growth > largestBlock) {
      addResourceError(kvMsgStringTooLarge);
      return kvFailure;
    }
    auto* block = static_cast<unsigned char*>(ramAlloc(growth));
    if (!block) return kvFailure;
    *start = block;
    *cursor = block;
    *size = static_cast<uint16_t>(growth);
    return kvSuccess;
  }
  if (*cursor < *start || *cursor > *start + *size) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  uint32_t used = static_cast<uint32_t>(*cursor - *start);
  if (*size - used >= need) return kvSuccess;
  uint32_t newSize = *size + growth;
  if (newSize > largestBlock) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  if (ramResize(start, newSize) != kvSuccess) return kvFailure;
  *cursor = *start + used;
  *size = static_cast<uint16_t>(newSize);
  return kvSuccess;
}
