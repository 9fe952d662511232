// Select and ORDER BY items; see flat_select_field.h.
#include "flat/sql/flat_select_field.h"

#include "util/memory/ram.h"

FlatSelectField::~FlatSelectField() {
  ramFree(name);
  ramFree(typeName);
  ramFree(code);
}

KvStatus FlatSelectField::setName(const unsigned char* text, uint32_t length) {
  unsigned char* copy = ramAllocStr(text, length);
  if (!copy) return kvFailure;
  ramFree(name);
  name = copy;
  return kvSuccess;
}

KvStatus FlatSelectField::setTypeName(const unsigned char* text) {
  unsigned char* copy = ramAllocStr(text);
  if (!copy) return kvFailure;
  ramFree(typeName);
  typeName = copy;
  return kvSuccess;
}

void FlatSelectField::setCode(uint8_t* program) {
  ramFree(code);
  code = program;
}

FlatOrderItem::~FlatOrderItem() { ramFree(code); }
