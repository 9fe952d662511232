// FlatParam: the engine's parameter record, and the rules by which the
// engine takes a parameter's value (FlatStatement::bindParam,
// flat_param.cpp).
//
// The converted value itself lives in the statement's FlatParamValues, by
// marker number (parameter - 1), because the expression evaluator and the
// INSERT/UPDATE value step read it by marker, and the compiler gives the
// markers their types before any record exists. The record keeps what only
// the binding needs: how much of a long value arriving in pieces has been
// spooled so far.
//
// The type check: the SQL type the application bound (B) against the SQL
// type the statement's use of the marker gives it (U). A refused pair is
// 07006 with 4002.
//
//   B                                   U accepted
//   -7, -6, -5, 2, 3, 4, 5, 6, 7, 8     -7, 8
//   -4, -3, -2                          -2, -3, -4
//   -1                                  1, 12, -1
//   1, 12                               1, 12, -1 (text into a long text column)
//   9, 10, 11                           the same type
//   anything else                       any
//   (any B)                             0: the use gives no type (? = ?)
//
// Internal form of the value, by B:
//
//   B                                   internal type    value buffer
//   -7, -6, -5, 4, 5, 6, 7, 8           14 double        8
//   -3, -2                              0 binary         precision
//   1, 12                               1 character      precision + 1
//   2, 3                                12 decimal text  88 (plain text: "-12.5")
//   9, 10, 11                           15, 16, 17       88 (6, 6, 16 used)
//   -1, -4                              the bytes given (or their hex decoded),
//                                       or an offset in the long-value store
#pragma once

#include "base/results/base_field.h"
#include "flat/flat_types.h"

class KV_FLAT_API FlatParam : public BaseParam {
 public:
  FlatParam() = default;
  ~FlatParam() override;

  // Bytes of the long value being spooled in pieces.
  uint32_t spooledBytes = 0;
};

// Whether a value bound as boundType may stand where the statement uses a
// marker of markerType.
KV_FLAT_API bool flatParamTypeAccepted(int16_t boundType, int16_t markerType);
// The internal type and value-buffer size for a parameter bound as boundType
// with precision; false for the long types (-1, -4) and types outside the
// table, which keep their value as text.
KV_FLAT_API bool flatParamInternalForm(int16_t boundType, uint32_t precision, uint32_t* internalType,
                                       uint32_t* bufferBytes);
// Decodes hexadecimal text (two digits a byte) into out (room for
// length / 2 bytes); a bad digit or an odd count is 22005.
KV_FLAT_API KvStatus flatDecodeHex(const unsigned char* text, uint32_t length, unsigned char* out,
                                   uint32_t* outLength);
