// Statement records; see base_field.h.
#include "base/results/base_field.h"

#include "util/memory/ram.h"

#include <initializer_list>

BaseField::BaseField() = default;

BaseField::~BaseField() {
  for (unsigned char** slot : {&qualifierName, &ownerName, &tableName, &name}) {
    if (!(flags & borrowedBit(slot))) ramFree(*slot);
  }
  ramFree(label);
}

uint32_t BaseField::borrowedBit(unsigned char* const* slot) const {
  if (slot == &name) return flagBorrowedName;
  if (slot == &qualifierName) return flagBorrowedQualifier;
  if (slot == &tableName) return flagBorrowedTable;
  if (slot == &ownerName) return flagBorrowedOwner;
  return 0;  // the label
}

KvStatus BaseField::setText(unsigned char** slot, const unsigned char* text) {
  const uint32_t bit = borrowedBit(slot);
  if (!(flags & bit)) ramFree(*slot);
  flags &= ~bit;
  *slot = nullptr;
  if (!text) return kvSuccess;
  *slot = ramAllocStr(text);
  return *slot ? kvSuccess : kvFailure;
}

void BaseField::borrowText(unsigned char** slot, const unsigned char* text) {
  const uint32_t bit = borrowedBit(slot);
  if (!bit) return;
  if (!(flags & bit)) ramFree(*slot);
  flags |= bit;
  *slot = const_cast<unsigned char*>(text);
}

BaseBinding::BaseBinding(int16_t type, void* buffer, SQLLEN size, SQLLEN* length)
    : cType(type), resolvedCType(type), out(buffer, size, length),
      flags(flagUnresolved | (type == SQL_C_DEFAULT ? flagDefaultType : 0u)) {}

BaseBinding::~BaseBinding() = default;

BaseParam::BaseParam() = default;
BaseParam::~BaseParam() {
  freeCollected();
  ramFree(ownValue);
}
void BaseParam::forgetValue() {
  sqlType = 0;
  paramFlags = 0;
  value = nullptr;
  length = nullptr;
  freeCollected();
}
void BaseParam::freeCollected() {
  ramFree(collected);
  collected = nullptr;
  collectedSize = 0;
  collectedLength = 0;
  pendingLength = 0;
}
