// KVTXT.INI; see txt_ini.h.
#include "drivers/text/schema/txt_ini.h"

#include "base/handles/base_error_list.h"
#include "drivers/text/text_message_ids.h"
#include "util/charsets/charset_oem.h"
#include "util/os/bos.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const char noValue[] = "NO VALUE FOUND";
const char definedTables[] = "Defined Tables";
enum : uint16_t { valueBytes = 4096 };

std::string trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

// A decimal number of at most limit; false for anything else.
bool readNumber(const std::string& text, uint32_t limit, uint32_t* out) {
  std::string t = trimmed(text);
  if (t.empty() || t.size() > 10) return false;
  uint64_t value = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint64_t(c - '0');
  }
  if (value > limit) return false;
  *out = uint32_t(value);
  return true;
}

}  // namespace

bool txtPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos;
}

uint32_t txtTableTypeOf(const std::string& name) {
  static const char* const names[] = {"Comma", "Tab", "Character", "Fixed"};
  for (uint32_t i = 0; i < 4; ++i)
    if (strcasecmp(name.c_str(), names[i]) == 0) return i;
  return txtTableComma;
}

const char* txtTableTypeName(uint32_t type) {
  static const char* const names[] = {"Comma", "Tab", "Character", "Fixed"};
  return names[type < 4 ? type : 0];
}

KvStatus TxtIni::open(const unsigned char* directory) {
  unsigned char path[bosPathBytes];
  if (bosJoinPath(path, directory, kvU("KVTXT.INI")) != kvSuccess) return kvFailure;
  return ini_.open(path);
}

bool TxtIni::readValue(const std::string& section, const char* key, std::string* value) {
  unsigned char buffer[valueBytes];
  buffer[0] = 0;
  kvIgnoreStatus(ini_.getEntry(kvU(section.c_str()), kvU(key), buffer, sizeof(buffer), kvU(noValue)));
  *value = kvC(buffer);
  return strcasecmp(kvC(buffer), noValue) != 0;
}

KvStatus TxtIni::badValue(const char* what, const std::string& value, const std::string& section) {
  addOdbcError(stateGeneral, msgTxtIniBadValue) << what << value.c_str() << section.c_str();
  return kvFailure;
}

KvStatus TxtIni::findTable(const unsigned char* name, std::string* section) {
  section->clear();
  std::string value;
  // Any key of a section named so (the section's key list is not absent).
  unsigned char keys[valueBytes];
  keys[0] = 0;
  kvIgnoreStatus(ini_.getEntry(name, nullptr, keys, sizeof(keys), kvU(noValue)));
  if (keys[0] && strcasecmp(kvC(keys), noValue) != 0) {
    *section = kvC(name);
    return kvSuccess;
  }
  if (readValue(definedTables, kvC(name), &value) && !trimmed(value).empty()) *section = trimmed(value);
  return kvSuccess;
}

KvStatus TxtIni::readColumn(const std::string& section, const TxtTableDef& def, uint32_t n, TxtColumnDef* column,
                            bool* present) {
  char key[32];
  std::snprintf(key, sizeof(key), "FIELD%u", n);
  std::string entry;
  *present = readValue(section, key, &entry);
  if (!*present) return kvSuccess;
  // Parts are cut at the first comma each time; the mask takes the rest.
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < 6) {
    size_t comma = entry.find(',', start);
    if (comma == std::string::npos) break;
    parts.push_back(entry.substr(start, comma - start));
    start = comma + 1;
  }
  parts.push_back(entry.substr(start));
  static const uint16_t missing[] = {msgTxtIniNoName,  msgTxtIniNoPrecision, msgTxtIniNoScale,
                                     msgTxtIniNoLength, msgTxtIniNoOffset,   msgTxtIniNoMask};
  if (parts.size() < 7) {
    addOdbcError(stateGeneral, missing[parts.size() - 1]);
    return kvFailure;
  }
  std::string name = trimmed(parts[0]);
  if (name.size() > txtMaxNameBytes) name.resize(txtMaxNameBytes);
  if (name.empty()) return badValue(key, entry, section);
  if (def.oem) kvOemToAnsi(kvU(&name[0]), kvU(&name[0]), uint32_t(name.size()));
  column->name = name;
  const std::string type = trimmed(parts[1]);
  if (type == "VARCHAR") column->type = 'V';
  else if (type == "NUMERIC") column->type = 'N';
  else if (type == "DATE") column->type = 'D';
  else {
    addOdbcError(stateGeneral, msgTxtIniBadType) << type.c_str();
    return kvFailure;
  }
  uint32_t scale = 0;
  if (!readNumber(parts[2], txtMaxColumnBytes, &column->precision) || !readNumber(parts[3], 255, &scale) ||
      !readNumber(parts[4], txtMaxColumnBytes, &column->length) || !readNumber(parts[5], txtMaxLineBytes, &column->offset) ||
      uint64_t(column->offset) + column->length > txtMaxLineBytes)
    return badValue(key, entry, section);
  column->scale = int16_t(scale);
  if (column->type == 'N' && (column->precision == 0 || column->precision > 15 || scale > column->precision))
    return badValue(key, entry, section);
  column->mask[0] = 0;
  if (column->type == 'D') {
    const std::string maskText = trimmed(parts[6]);
    if (txtCompileMask(kvU(maskText.empty() ? "yyyy-mm-dd" : maskText.c_str()), column->mask) != kvSuccess)
      return kvFailure;
    // A date of a delimited table may take any layout up to 50 bytes.
    if (def.tableType != txtTableFixed) column->length = txtDateColumnBytes;
  }
  if (column->length == 0) return badValue(key, entry, section);
  return kvSuccess;
}

KvStatus TxtIni::readTable(const std::string& section, TxtTableDef* def) {
  *def = TxtTableDef();
  std::string value;
  if (!readValue(section, "FILE", &value) || !txtPlainFileName(trimmed(value)))
    return badValue("FILE", value, section);
  def->file = trimmed(value);
  def->firstLineNames = !(readValue(section, "FLN", &value) && trimmed(value) == "0");
  def->tableType = readValue(section, "TT", &value) ? txtTableTypeOf(trimmed(value)) : uint32_t(txtTableComma);
  def->delimiter = ',';
  if (def->tableType == txtTableCharacter && readValue(section, "DC", &value) && !value.empty()) {
    def->delimiter = uint8_t(value[0]);
    if (!txtDelimiterUsable(def->delimiter)) return badValue("DC", value, section);
  }
  def->oem = !(readValue(section, "Charset", &value) && strcasecmp(trimmed(value).c_str(), "ANSI") == 0);
  for (uint32_t n = 1;; ++n) {
    TxtColumnDef column;
    bool present = false;
    if (readColumn(section, *def, n, &column, &present) != kvSuccess) return kvFailure;
    if (!present) break;
    def->columns.push_back(column);
  }
  return kvSuccess;
}

KvStatus TxtIni::listTables(std::vector<std::string>* tables, std::vector<std::string>* files) {
  tables->clear();
  if (files) files->clear();
  std::vector<unsigned char> keys(65536);
  kvIgnoreStatus(ini_.getEntry(kvU(definedTables), nullptr, keys.data(), uint16_t(keys.size() - 1), kvU("")));
  keys.back() = 0;
  for (const unsigned char* key = keys.data(); *key; key += std::strlen(kvC(key)) + 1) {
    std::string value;
    if (!readValue(definedTables, kvC(key), &value) || trimmed(value).empty()) continue;
    tables->push_back(trimmed(value));
    if (files) files->push_back(kvC(key));
  }
  return kvSuccess;
}

KvStatus TxtIni::writeTable(const std::string& section, const TxtTableDef& def) {
  std::string existing;
  if (findTable(kvU(section.c_str()), &existing) != kvSuccess) return kvFailure;
  if (!existing.empty()) {
    addOdbcError(stateTableExists, msgTxtTableExists);
    return kvFailure;
  }
  const unsigned char* s = kvU(section.c_str());
  if (ini_.writeEntry(kvU(definedTables), kvU(def.file.c_str()), s) != kvSuccess) return kvFailure;
  if (ini_.writeEntry(s, kvU("FILE"), kvU(def.file.c_str())) != kvSuccess) return kvFailure;
  if (ini_.writeEntry(s, kvU("FLN"), kvU(def.firstLineNames ? "1" : "0")) != kvSuccess) return kvFailure;
  if (def.tableType == txtTableCharacter) {
    char dc[2] = {char(def.delimiter), 0};
    if (ini_.writeEntry(s, kvU("DC"), kvU(dc)) != kvSuccess) return kvFailure;
  }
  if (ini_.writeEntry(s, kvU("TT"), kvU(txtTableTypeName(def.tableType))) != kvSuccess) return kvFailure;
  if (ini_.writeEntry(s, kvU("Charset"), kvU(def.oem ? "IBMPC" : "ANSI")) != kvSuccess) return kvFailure;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const TxtColumnDef& c = def.columns[i];
    unsigned char mask[256];
    mask[0] = 0;
    if (c.type == 'D') {
      if (!c.mask[0]) std::strcpy(kvC(mask), "yyyy-mm-dd");
      else if (txtMaskToText(c.mask, mask, sizeof(mask)) != kvSuccess) return kvFailure;
    }
    std::string name = c.name;
    if (def.oem) kvAnsiToOem(kvU(&name[0]), kvU(&name[0]), uint32_t(name.size()));
    char key[32];
    std::snprintf(key, sizeof(key), "FIELD%zu", i + 1);
    char line[512];
    std::snprintf(line, sizeof(line), "%s,%s,%u,%u,%u,%u,%s", name.c_str(),
                  c.type == 'N' ? "NUMERIC" : c.type == 'D' ? "DATE" : "VARCHAR", unsigned(c.precision),
                  unsigned(c.scale), unsigned(c.length), unsigned(c.offset), kvC(mask));
    if (ini_.writeEntry(s, kvU(key), kvU(line)) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}
