// Values in the framework's internal types as the engine's numbers: the
// conversion that pending rows, and drivers storing a value into a numeric
// column, share. Locale-free.
#pragma once

#include "flat/flat_types.h"

// The value of length bytes in internalType as a double: integers, floats,
// decimal text ("-12.5", "3e2"), dates and timestamps as Julian day numbers
// (the time of day as the fraction), times as the fraction of a day.
// Returns 0 when the type holds no number or the bytes are too short.
KV_FLAT_API int flatInternalToDouble(const unsigned char* bytes, uint32_t length, uint32_t internalType,
                                     double* out);
// The Julian day number of a Gregorian date.
KV_FLAT_API int32_t flatJulianDay(int32_t year, int32_t month, int32_t day);
