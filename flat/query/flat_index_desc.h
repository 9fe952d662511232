// Index descriptions and the optimizer's plan objects. A file driver
// describes each index of a table as a FlatIndexDesc with one FlatKeyField
// a key column, chained from the table's FlatSharedDesc; the engine appends
// the ROWID pseudo index behind the driver's indexes. The optimizer
// (flat_optimizer.h) records the index it chose for a cursor, with the
// programs of the key range's ends, in a FlatOptDesc; at execution the
// ends are evaluated into the key buffers of its two FlatOptBnd, which the
// driver reads (FlatFileDesc::evaluateOptDesc) to walk only that range.
#pragma once

#include "flat/flat_types.h"
#include "util/containers/kv_array.h"

// One key column of an index.
class KV_FLAT_API FlatKeyField : public KvObject {
 public:
  enum : uint32_t {
    // Set by drivers: the key is not the column's plain value (a
    // transformed or partial key); an index delivers an ORDER BY only when
    // both are clear.
    keyDriverBit1 = 0x1,
    keyDriverBit2 = 0x2,
    keyDescending = 0x4,  // keys run from high to low: the optimizer exchanges the range's ends
  };
  enum : uint16_t { keyCodeBytes = 8 };

  FlatKeyField() = default;
  ~FlatKeyField() override;

  // Fills the key for column number column of the table: its key code
  // (column instruction, end), SQL type and key length.
  KvStatus compileFieldName(FlatSharedField* field, uint16_t column);

  // The key's program: opColumn with table handle 0 and the column, then
  // opEnd (or opRowId 0 and opEnd for the ROWID index). The handle is 0
  // because the description is shared by every reader of the table; the
  // optimizer matches it against a cursor's programs with that cursor's
  // handle in its place.
  uint8_t keyCode[keyCodeBytes] = {};
  int16_t sqlType = 0;
  uint16_t column = 0;
  // Bytes of the key in a key buffer: 1 for SQL_BIT, the column's width
  // for SQL_CHAR and SQL_VARCHAR (a text key always takes its column's
  // full width, so that a row's own length never shifts the key layout),
  // 8 for every other type (numbers and dates are 8-byte doubles).
  uint16_t keyLength = 0;
  uint16_t reserved = 0;
  uint32_t flags = 0;
};

class FlatOptBnd;

class KV_FLAT_API FlatIndexDesc : public KvObject {
 public:
  enum : uint32_t {
    indexRowIdentifier = 0x1,  // identifies a row (a primary key) without being flagged unique
    indexUnique = 0x2,         // no two rows share a key (also identifies a row)
    indexRowId = 0x4,          // the ROWID pseudo index
    indexFlag8 = 0x8,
  };

  FlatIndexDesc() = default;
  // Deletes the key fields, the name, the filter and the rest of the chain.
  ~FlatIndexDesc() override;

  // ---- virtual operations, in slot order after the destructor and compare
  // 1. A new key field; null when out of memory.
  virtual FlatKeyField* allocKeyField();
  // 2. Whether the index may serve the cursor now; the engine's says yes.
  virtual KvStatus indexEligible(FlatFileDesc* cursor, uint16_t* eligible);
  // 3. The table's name as opened, up to its first '.'.
  virtual KvStatus getQualifier(unsigned char* buffer, uint16_t size, FlatSharedDesc* table, uint16_t* isNull);
  // 4-5. Catalog counts: unknown in the engine.
  virtual KvStatus getUniqueCount(uint32_t* count, uint16_t* isNull);
  virtual KvStatus getPages(uint32_t* pages, uint16_t* isNull);
  // 6. The key field's column name ("ROWID" for the ROWID index).
  virtual KvStatus getColumnName(unsigned char* buffer, uint16_t size, uint16_t key, FlatFileDesc* cursor);
  // 7. The index's condition text (null: none).
  virtual KvStatus getFilterCondition(uint8_t** text, FlatFileDesc* cursor);
  // 8. 1 when any key column may hold nulls; 0 for ROWID.
  virtual uint16_t getNulls(FlatSharedDesc* table);
  // 9-14. Description of the keys for the catalog. A key's length is the
  // bytes its column's value takes in the C type of its SQL type (INTEGER
  // 4, DOUBLE 8, a text its precision), as SQLColumns reports LENGTH.
  virtual uint32_t getTotalLength(FlatSharedDesc* table);
  virtual uint32_t getLength(uint16_t key, FlatSharedDesc* table);
  virtual uint16_t getScale(uint16_t key, FlatSharedDesc* table);
  virtual uint16_t getPrecision(uint16_t key, FlatSharedDesc* table);
  virtual const unsigned char* getNativeTypeName(uint16_t key, FlatSharedDesc* table);
  virtual int16_t getSqlType(uint16_t key, FlatSharedDesc* table);
  // 15. Lays out and allocates the bound's key buffer: the key fields in
  // order at running offsets, each its key length plus one byte for the
  // terminating zero of a text key.
  virtual KvStatus allocKeyBuffer(FlatOptBnd* bound);

  // Allocates the key array through allocKeyField and copies the name
  // (null for none).
  KvStatus initialize(const unsigned char* name, uint16_t keys);

  FlatIndexDesc* next = nullptr;  // owned
  unsigned char* name = nullptr;
  uint16_t keyCount = 0;
  uint16_t kind = 3;
  FlatKeyField** keys = nullptr;
  uint32_t flags = 0;
  unsigned char* filter = nullptr;  // an index with a condition serves only statements that name it

  bool isRowId() const { return (flags & indexRowId) != 0; }
  // The byte offset of key field key in a key buffer.
  uint32_t keyOffset(uint16_t key) const;
};

// One bounded key field of a range end.
class KV_FLAT_API FlatOptExpr : public KvObject {
 public:
  enum : uint16_t { exprFromLike = 0x1 };
  FlatOptExpr() = default;
  ~FlatOptExpr() override;
  uint8_t* code = nullptr;  // owned program of the end's value
  uint16_t length = 0;
  uint32_t keyOffset = 0;  // of the key field in the key buffer
  uint16_t key = 0;        // the key field's number
  uint16_t flags = 0;
};

// One end of a key range: the bounded key fields in key order and, once
// evaluated, the key.
class KV_FLAT_API FlatOptBnd : public KvObject {
 public:
  enum : uint32_t {
    boundNoValue = 0x2,    // an end evaluated to no value: the range is empty
    boundUnbounded = 0x4,  // no end after all (an empty text prefix, an undecidable value): read to the end
    boundInclusive = 0x8,  // keys equal to the loaded key belong to the range
  };
  FlatOptBnd() = default;
  ~FlatOptBnd() override;
  KvArray exprs;  // FlatOptExpr, owned
  uint16_t count = 0;
  uint32_t flags = 0;
  uint8_t* key = nullptr;  // owned key buffer
  uint32_t keyBytes = 0;
  // How many leading key fields the evaluated key holds.
  uint16_t keysLoaded = 0;
};

// The optimizer's choice for one cursor.
class KV_FLAT_API FlatOptDesc : public KvObject {
 public:
  // Bound flags of the choice (as canOptimizeQuery reports them for the
  // leading key field).
  enum : uint16_t {
    optLowInclusive = 0x1,
    optLow = 0x2,
    optHigh = 0x4,
    optLowConstant = 0x8,
    optHighConstant = 0x10,
    optHighInclusive = 0x20,
    optLike = 0x40,
    // The low end came from a comparison with the key on its right
    // ("5 <= SAL"): outside NULL-aware mode such a comparison cuts the
    // other side's text to the key's length, so a text low end does not
    // hold for it (see flat_sorted_lookup.h).
    optLowKeyRight = 0x80,
    optOrderOnly = 0x100,  // chosen only to deliver the ORDER BY order: no range
  };
  FlatOptDesc() = default;
  ~FlatOptDesc() override;
  FlatFileDesc* cursor = nullptr;
  FlatIndexDesc* index = nullptr;  // the table's, not owned
  FlatOptBnd low;
  FlatOptBnd high;
  uint16_t flags = 0;
};
