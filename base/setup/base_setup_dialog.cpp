// The setup dialog's side of data-source setup: filling the controls from
// the rows' values when the dialog opens and reading them back when the
// user confirms; see base_setup.h.
#include "base/setup/base_setup.h"

#include "base/setup/base_installer.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

enum : uint32_t { nameLimit = 32, descriptionLimit = 255 };

// Nonzero when value is the first string of row (without regard to case).
int equalsFirst(const SetupInfo& row, const unsigned char* value) {
  return value && row.first && strEqualCi(value, kvU(row.first));
}

// The length of text up to its first blank (or all of it).
uint32_t firstWordLength(const unsigned char* text) {
  uint32_t n = 0;
  while (text[n] && text[n] != ' ' && text[n] != '\t') ++n;
  return n;
}

// Adds the comma-separated items of list to a combo box: blanks before an
// item are dropped, empty items skipped.
KvStatus addListItems(KvWindow* combo, const char* list) {
  for (const char* p = list; p && *p;) {
    while (*p == ' ' || *p == '\t') ++p;
    const char* end = std::strchr(p, ',');
    const size_t length = end ? size_t(end - p) : std::strlen(p);
    if (length > 0) {
      unsigned char item[256];
      const size_t kept = length < sizeof(item) ? length : sizeof(item) - 1;
      std::memcpy(item, p, kept);
      item[kept] = 0;
      if (kvAddListItem(combo, item) < 0) return kvFailure;
    }
    p = end ? end + 1 : p + length;
  }
  return kvSuccess;
}

// The item of a list-filled combo box that shows value: the first whose
// text up to its first blank equals it (that part is what is written, so
// that a written value finds its item again), else the first equal to it
// whole; -1 for none.
int32_t findComboListItem(KvWindow* combo, const unsigned char* value) {
  const int32_t count = kvGetListCount(combo);
  const uint32_t valueLength = uint32_t(std::strlen(kvC(value)));
  for (int32_t i = 0; i < count; ++i) {
    unsigned char item[256];
    if (kvGetListItemText(combo, i, item, sizeof(item)) < 0) continue;
    if (strEqualCi(item, firstWordLength(item), value, valueLength)) return i;
  }
  return kvFindListItem(combo, value);
}

// Shows the value of one row in its control.
KvStatus showRow(KvWindow* dialog, const SetupInfo& row, const unsigned char* value) {
  if (row.kind == setupNoControl) return kvSuccess;
  KvWindow* control = kvGetDlgItem(dialog, row.control);
  if (!control) return kvFailure;
  const unsigned char* text = value ? value : kvU("");
  switch (row.kind) {
    case setupEdit:
      if (kvSetTextLimit(control, row.limit) != kvSuccess) return kvFailure;
      return kvSetWindowText(control, text);
    case setupRadio:
      return kvSetCheck(control, *text && equalsFirst(row, text) ? kvChecked : kvUnchecked);
    case setupCheckBox:
      return kvSetCheck(control, equalsFirst(row, text) ? kvChecked : kvUnchecked);
    case setupCombo: {
      const int32_t index = kvFindListItem(control, text);
      return index < 0 ? kvSuccess : kvSetListSelection(control, index);
    }
    case setupComboList: {
      if (addListItems(control, row.first) != kvSuccess) return kvFailure;
      const int32_t index = findComboListItem(control, text);
      return index < 0 ? kvSuccess : kvSetListSelection(control, index);
    }
    default:
      return kvSuccess;
  }
}

// Reads one row's control back into its value; fails only for want of
// memory. A row whose control is missing (BaseInitSetupDialog refused that
// dialog) keeps its value.
KvStatus readRow(KvWindow* dialog, DSNInfoStruct* info, uint16_t i) {
  const SetupInfo& row = info->getRows()[i];
  if (row.kind == setupNoControl) return kvSuccess;
  KvWindow* control = kvGetDlgItem(dialog, row.control);
  if (!control) return kvSuccess;
  unsigned char text[DSNInfoStruct::valueMaxBytes + 1];
  switch (row.kind) {
    case setupEdit:
    case setupCombo:
      kvGetWindowText(control, text, sizeof(text));
      return info->setValue(i, text);
    case setupComboList:
      kvGetWindowText(control, text, sizeof(text));
      text[firstWordLength(text)] = 0;
      return info->setValue(i, text);
    case setupRadio:
      return info->setValue(i, kvGetCheck(control) == kvChecked ? kvU(row.first) : nullptr);
    case setupCheckBox:
      return info->setValue(i, kvU(kvGetCheck(control) == kvChecked ? row.first : row.second));
    default:
      return kvSuccess;
  }
}

}  // namespace

KvStatus BaseInitSetupDialog(KvWindow* dialog, DSNInfoStruct* info) {
  KvWindow* name = kvGetDlgItem(dialog, setupControlName);
  KvWindow* description = kvGetDlgItem(dialog, setupControlDescription);
  KvWindow* companion = kvGetDlgItem(dialog, setupControlNameCompanion);
  if (!name || !description || !companion) return kvFailure;
  if (kvSetWindowText(name, info->getName()) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < info->getRowCount(); ++i)
    if (showRow(dialog, info->getRows()[i], info->getValue(i)) != kvSuccess) return kvFailure;
  if (kvSetTextLimit(name, nameLimit) != kvSuccess || kvSetTextLimit(description, descriptionLimit) != kvSuccess)
    return kvFailure;
  // A data source that is being added under a given name keeps that name.
  if (info->getRequest() == DSNInfoStruct::requestAdd && *info->getName()) {
    kvEnableWindow(name, 0);
    kvEnableWindow(companion, 0);
  }
  return kvSuccess;
}

KvStatus BaseWriteValuesToIni(KvWindow* dialog, DSNInfoStruct* info) {
  unsigned char name[256];
  kvGetDlgItemText(dialog, setupControlName, name, sizeof(name));
  if (info->setName(name) != kvSuccess) {
    basePostSetupError(setupNoMemory, nullptr);
    return kvFailure;
  }
  for (uint16_t i = 0; i < info->getRowCount(); ++i) {
    if (readRow(dialog, info, i) != kvSuccess) {
      basePostSetupError(setupNoMemory, nullptr);
      return kvFailure;
    }
  }
  return SetDSNAttributes(info) ? kvSuccess : kvFailure;
}
