// The items of a parsed SELECT: FlatSelectField is one select item (a
// plain column of a FROM table, or an expression with its program), and
// FlatOrderItem one item of an ORDER BY. The result columns of a SELECT
// are described from its select items.
#pragma once

#include "flat/flat_types.h"
#include "util/memory/kv_object.h"

class KV_FLAT_API FlatSelectField : public KvObject {
 public:
  enum : uint32_t { flagNoSign = 0x1 };   // flags: the column has no sign position
  enum : uint16_t { attributeUnsigned = 0x1 };

  FlatSelectField() = default;
  // Frees the name, the type name and the program.
  ~FlatSelectField() override;

  KvStatus setName(const unsigned char* text, uint32_t length);
  KvStatus setTypeName(const unsigned char* text);
  // Takes the program (a ramAlloc block) as the item's own.
  void setCode(uint8_t* code);
  // Whether the item is a plain column (no program).
  bool isPlainColumn() const { return code == nullptr; }

  unsigned char* name = nullptr;      // the column's name, or the expression's text
  int16_t sqlType = 0;                // of the result column
  int16_t scale = 0;
  int16_t nullable = 0;
  int16_t searchable = 0;
  uint16_t attributes = 0;
  int16_t updatable = 0;
  uint32_t flags = 0;
  unsigned char* typeName = nullptr;  // null for an expression
  uint8_t* code = nullptr;            // null for a plain column
  int16_t engineType = 0;             // the compiler's type of the value
  uint32_t precision = 0;
  FlatFileDesc* table = nullptr;      // a plain column's (or a ROWID item's) table
  uint16_t column = 0;
  uint32_t rowIdHandle = 0;           // a ROWID item: the handle in its program
};

class KV_FLAT_API FlatOrderItem : public KvObject {
 public:
  FlatOrderItem() = default;
  ~FlatOrderItem() override;
  uint8_t* code = nullptr;  // owned program of the item
  int16_t type = 0;         // the compiler's type
  uint16_t width = 0;
  uint16_t descending = 0;
};
