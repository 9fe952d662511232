// FlatAggField: one aggregate of a query (COUNT, SUM, AVG, MIN or MAX of
// one argument, with or without DISTINCT). The expression compiler makes
// the records, sharing one between equal aggregates of a query; the
// accumulation fills them as rows are read; the evaluator's opcode 51 reads
// their value.
#pragma once

#include "flat/flat_types.h"
#include "util/memory/kv_object.h"

class KV_FLAT_API FlatAggField : public KvObject {
 public:
  enum : uint16_t {
    aggDistinct = 0x1,
    aggCount = 0x10,
    aggSum = 0x20,
    aggAvg = 0x40,
    aggMin = 0x80,
    aggMax = 0x100,
    aggKinds = aggCount | aggSum | aggAvg | aggMin | aggMax,
  };

  FlatAggField() = default;
  // Frees the program and the value buffer.
  ~FlatAggField() override;

  uint8_t* program = nullptr;  // the argument's program, owned (COUNT(*): the text "A")
  uint8_t* value = nullptr;    // size bytes, zero-filled at creation: first value, sum, minimum or maximum
  uint32_t programLength = 0;  // bytes of the program, its terminator included
  uint32_t offset = 0;         // of this aggregate in the query's aggregate row (size + 4 bytes each)
  uint16_t size = 0;           // the argument's width; text + 1
  uint32_t count = 0;          // values accumulated
  int16_t type = 0;            // the compiler's type of the argument
  uint16_t flags = 0;
};
