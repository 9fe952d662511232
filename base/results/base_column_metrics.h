// Column metrics by SQL type: the precision, length, scale, radix and
// display size that SQLDescribeCol and SQLColAttributes report for a result
// column, and that the catalog results of SQLColumns and
// SQLProcedureColumns report for a table or procedure column.
//
//   SQL type          precision        length (bytes)     scale  radix  display size
//   BIT               1                1                  0      10     1
//   TINYINT           3                1                  0      10     4 signed, 3 unsigned
//   SMALLINT          5                2                  0      10     6 / 5
//   INTEGER           10               4                  0      10     11 / 10
//   BIGINT            19 signed,       20                 0      10     20
//                     20 unsigned
//   REAL              7                4                  NULL   10     13
//   FLOAT, DOUBLE     15               8                  NULL   10     22
//   DATE              10               6                  NULL   NULL   10
//   TIME              8                6                  NULL   NULL   8
//   TIMESTAMP         p                16                 s      NULL   19, or 20 + s for s > 0
//   NUMERIC, DECIMAL  p                p + 2 for s > 0,   s      10     p, + 1 for the sign, + 1 for
//                                      else p + 1 - s;                  a point (s > 0), + |s| (s < 0)
//                                      - 1 without sign
//   text              p                p                  NULL   NULL   p
//   binary            p                p                  NULL   NULL   2p (2147483647 from 2^30 up)
//
// p and s are the precision and scale the driver gave; "without sign" is a
// column flagged unsigned or without a sign position; "/" separates signed
// and unsigned columns. NULL is written as
// baseMetricNull (32767), the value the catalog results turn into NULL. The
// wide text types count as their ODBC 2 types; a type outside ODBC 2 that
// the framework does not know reports its precision as length and display
// size and NULL for scale and radix.
#pragma once

#include "base/base_types.h"

enum : int16_t { baseMetricNull = 32767 };

// Sign of a BIGINT for its precision: 0 signed (19), 1 unsigned (20), 2 the
// precision given.
enum BaseBigintSign : uint16_t { bigintSigned = 0, bigintUnsigned = 1, bigintGiven = 2 };

struct BaseColumnShape {
  int16_t sqlType;
  uint32_t precision;
  int16_t scale;
  bool isUnsigned;      // an unsigned number
  bool noSignPosition;  // a number shown without a sign position
};

KV_BASE_API uint32_t BaseColumnPrecision(int16_t sqlType, uint32_t precision, BaseBigintSign sign);
KV_BASE_API uint32_t BaseColumnLength(const BaseColumnShape& column);
KV_BASE_API int16_t BaseColumnScale(int16_t sqlType, int16_t scale);
KV_BASE_API int16_t BaseColumnRadix(int16_t sqlType);
KV_BASE_API uint32_t BaseColumnDisplaySize(const BaseColumnShape& column);
// Whether an SQL type has a fixed precision and no scale, which describing
// a result column puts in place of what the driver set (INTEGER 10 and so
// on); text, binary, NUMERIC, DECIMAL and TIMESTAMP keep theirs.
KV_BASE_API bool BaseColumnHasFixedPrecision(int16_t sqlType);
