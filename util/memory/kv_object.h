// KvObject: the root of every class that lives in the library's containers.
// Objects come from the sub-allocator and are deleted through the virtual
// destructor.
#pragma once

#include "util/kv_types.h"
#include "util/memory/ram.h"

class KV_UTIL_API KvObject {
 public:
  KV_RAM_OPERATORS
  KvObject() = default;
  virtual ~KvObject();
  // Negative, 0 or positive; the root answers 0.
  virtual int16_t compare(const KvObject* other) const;

  KvObject(const KvObject&) = delete;
  KvObject& operator=(const KvObject&) = delete;
};
