// The text connection; see txt_connection.h.
#include "drivers/text/connection/txt_connection.h"

#include "base/catalog/base_type_info.h"
#include "base/handles/base_messages.h"
#include "drivers/text/schema/txt_ini.h"
#include "drivers/text/table/txt_table.h"
#include "drivers/text/text_message_ids.h"
#include "drivers/text/text_messages.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_descriptor.h"
#include "util/memory/ram.h"
#include "util/os/bos.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

enum : uint16_t {
  infoPrivate1020 = 1020,
  infoPrivate1025 = 1025,
  infoPrivateMacFileInfo = 1027,
  macFileInfoEntryChars = 5,  // "ttxt,TEXT": four characters and a comma
};

// The driver's own rows, sorted by info type; the engine's follow.
const BaseInfoRow txtRows[] = {
    KV_INFO_TEXT(SQL_DBMS_VER, "01.00.0000"),                          // 18
    KV_INFO_ASKED(SQL_DATA_SOURCE_READ_ONLY),                          // 25
    KV_INFO_U16(SQL_MAX_COLUMN_NAME_LEN, 32),                          // 30: KVTXT.INI keeps 32 bytes
    KV_INFO_TEXT(SQL_USER_NAME, ""),                                   // 47
    KV_INFO_U32(SQL_POSITIONED_STATEMENTS, SQL_PS_SELECT_FOR_UPDATE),  // 80
    KV_INFO_U16(infoPrivate1020, 1),
    KV_INFO_U32(infoPrivate1025, 0x48000000),
    KV_INFO_ASKED(infoPrivateMacFileInfo),
};
const BaseInfoTable txtInfo = {sizeof(txtRows) / sizeof(txtRows[0]), nullptr, txtRows};

// NUMERIC, DATE, VARCHAR: the type indexes CREATE TABLE names.
const BaseTypeRow txtTypes[] = {
    {"NUMERIC", strTxtTypeNumeric, SQL_NUMERIC, 15, nullptr, nullptr, strTxtParamPrecisionScale, 1,
     SQL_ALL_EXCEPT_LIKE, 0, 0, 15},
    {"DATE", strTxtTypeDate, SQL_DATE, 10, "{", "}", 0, 1, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"VARCHAR", strTxtTypeVarchar, SQL_VARCHAR, 32767, "'", "'", strTxtParamMaxLength, 1, SQL_SEARCHABLE,
     typeCaseSensitive, 0, 0},
};

// Inserts, back-quoted names, column names compared without case, owners
// taken by catalog calls; no updates, deletes or index files.
const uint32_t engineSet = flatInsertAllowed | flatStripQuotes | flatColumnsNoCase | flatOwnersUsable;
const uint32_t engineClear = flatUpdateAllowed | flatDeleteAllowed | flatDriver10 | flatIndexFiles | flatCtor2000;

KvStatus answerText(const std::string& text, void** value, BaseInfoValType* kind) {
  unsigned char* copy = ramAllocStr(kvU(text.c_str()));
  if (!copy) return kvFailure;
  *value = copy;
  *kind = infoText;
  return kvSuccess;
}

std::string rtrim(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

}  // namespace

std::vector<std::string> txtParseExtensions(const std::string& value) {
  std::vector<std::string> list;
  size_t start = 0;
  for (;;) {
    const size_t comma = value.find(',', start);
    std::string item = rtrim(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    size_t lead = item.find_first_not_of(" \t");
    item = lead == std::string::npos ? std::string() : item.substr(lead);
    if (!item.empty()) {
      if (strcasecmp(item.c_str(), "NONE") == 0) item.clear();
      bool seen = false;
      for (const std::string& e : list) seen = seen || strcasecmp(e.c_str(), item.c_str()) == 0;
      if (!seen) list.push_back(item);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return list;
}

TxtConnection::TxtConnection(BaseEnv* env) : FlatConnection(env) {
  setInfoChain(&txtInfo);
  setTypeTable(txtTypes, sizeof(txtTypes) / sizeof(txtTypes[0]));
  clearEngineFlags(engineClear);
  addEngineFlags(engineSet);
}

TxtConnection::~TxtConnection() = default;

void TxtConnection::getDllName(unsigned char* buffer, uint32_t size) {
  unsigned char name[bosNameBytes];
  name[0] = 0;
  if (bosGetModuleName(reinterpret_cast<const void*>(&txtLoadString), name) != kvSuccess)
    KvErrorKeeper::clearLastError();
  if (size == 0) return;
  std::strncpy(kvC(buffer), kvC(name), size - 1);
  buffer[size - 1] = 0;
}

KvStatus TxtConnection::connectInit(KvValueParser* parser) {
  if (getConnectOptions(parser) != kvSuccess) return kvFailure;
  auto read = [&](const char* shortKey, const char* longKey, const char* defaultValue, std::string* out) {
    unsigned char* value = nullptr;
    if (getConnectionValue(parser, shortKey, longKey, defaultValue, &value, nullptr) != kvSuccess) return false;
    *out = value ? kvC(value) : "";
    ramFree(value);
    return true;
  };
  std::string value;
  if (!read("EE", "ExtraExtensions", nullptr, &value)) return kvFailure;
  extensions_ = txtParseExtensions(value);
  if (!read("FLN", "FirstLineNames", "0", &value)) return kvFailure;
  firstLineNames_ = value == "1";
  if (!read("SR", "ScanRows", "25", &value)) return kvFailure;
  scanRows_ = 25;
  if (!value.empty() && value.size() <= 5 && value.find_first_not_of("0123456789") == std::string::npos)
    scanRows_ = uint32_t(std::stoul(value));
  if (!read("TT", "TableType", "Comma", &value)) return kvFailure;
  tableType_ = txtTableTypeOf(value);
  if (!read("DC", "Delimiter", ",", &value)) return kvFailure;
  delimiter_ = value.empty() ? ',' : uint8_t(value[0]);
  if (!txtDelimiterUsable(delimiter_)) {
    addOdbcError(stateGeneral, msgTxtBadDelimiter) << kvU(value.c_str());
    return kvFailure;
  }
  if (!read("UT", "UndefinedTable", "Prompt", &value)) return kvFailure;
  undefinedAction_ = strcasecmp(value.c_str(), "Guess") == 0 ? txtUndefinedGuess : txtUndefinedPrompt;
  if (!read("MFI", "MacFileInfo", "ttxt,TEXT", &value)) return kvFailure;
  macFileInfo_ = value;
  return kvSuccess;
}

KvStatus TxtConnection::connectLogon() { return kvSuccess; }

KvStatus TxtConnection::getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) {
  switch (type) {
    case SQL_DATA_SOURCE_READ_ONLY:
      // Tables take INSERT: only a read-only access mode makes the data
      // source read-only.
      return answerText((getEngineFlags() & flatReadOnly) ? "Y" : "N", value, kind);
    case infoPrivateMacFileInfo:
      return answerText(macFileInfo_.size() > macFileInfoEntryChars ? macFileInfo_.substr(macFileInfoEntryChars, 4)
                                                                      : std::string(),
                        value, kind);
    default:
      return FlatConnection::getAskedForInfo(type, value, kind);
  }
}

KvStatus TxtConnection::getConnectOption(uint16_t option, void* value) {
  if (option == flatOptionSetupDialog) {
    if (value) *static_cast<SQLUINTEGER*>(value) = 1;
    return kvSuccess;
  }
  return FlatConnection::getConnectOption(option, value);
}

KvStatus TxtConnection::prepareToCommit(FlatSharedDesc* shared, FlatFileDesc** writer) {
  *writer = nullptr;
  auto* reader = new TxtFileDesc();
  if (!reader) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (reader->attachForCommit(static_cast<TxtSharedDesc*>(shared)) != kvSuccess) {
    reader->setShared(nullptr);
    delete reader;
    return kvFailure;
  }
  *writer = reader;
  return kvSuccess;
}

short TxtConnection::getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) {
  return txtLoadString(id, buffer, size);
}

KvStatus TxtConnection::drvrSetToAllocatedState() {
  extensions_.clear();
  listing_.clear();
  listed_ = 0;
  return kvSuccess;
}

void TxtConnection::getExt(unsigned char* buffer) { std::strcpy(kvC(buffer), "TXT"); }

KvStatus TxtConnection::checkExt(const unsigned char* ext) {
  return ext && std::strcmp(kvC(ext), "TXT") == 0 ? kvSuccess : kvFailure;
}

KvStatus TxtConnection::getTable(unsigned char** name, const unsigned char* qualifier, const unsigned char*,
                                 uint16_t first) {
  *name = nullptr;
  if (first) {
    listing_.clear();
    listed_ = 0;
    const unsigned char* directory = qualifier && qualifier[0] ? qualifier : getDatabaseDirectory();
    if (!directory) directory = kvU(".");
    TxtIni ini;
    std::vector<std::string> tables, files;
    if (ini.open(directory) != kvSuccess || ini.listTables(&tables, &files) != kvSuccess) return kvFailure;
    listing_ = tables;
    auto defined = [&](const std::string& file) {
      for (const std::string& f : files)
        if (strcasecmp(f.c_str(), file.c_str()) == 0) return true;
      for (const std::string& t : tables)
        if (strcasecmp(t.c_str(), file.c_str()) == 0) return true;
      return false;
    };
    for (const std::string& ext : extensions_) {
      std::vector<unsigned char> pattern(bosPathBytes + bosNameBytes);
      std::string text = std::string(kvC(directory)) + "/*" + (ext.empty() ? "" : "." + ext);
      if (text.size() >= bosPathBytes) continue;
      std::vector<std::string> found;
      void* search = nullptr;
      for (;;) {
        std::memcpy(pattern.data(), text.c_str(), text.size() + 1);
        if (bosFindFiles(&search, pattern.data()) != kvSuccess) return kvFailure;
        if (!search) break;
        std::string file = kvC(pattern.data());
        if (ext.empty() && file.find('.') != std::string::npos) continue;
        if (!defined(file)) found.push_back(file);
      }
      std::sort(found.begin(), found.end());
      listing_.insert(listing_.end(), found.begin(), found.end());
    }
  }
  if (listed_ >= listing_.size()) return kvSuccess;
  *name = ramAllocStr(kvU(listing_[listed_++].c_str()));
  return *name ? kvSuccess : kvFailure;
}

KvStatus TxtConnection::resolveTableName(const unsigned char* qualifier, const unsigned char* name,
                                         unsigned char* path) {
  std::string directory, table;
  txtSplitTablePath(kvC(name), &directory, &table);
  if (table.empty()) {
    addFlatSyntaxError(msgMissingTableName);
    return kvFailure;
  }
  if (directory.empty() && name[0] != '/' && name[0] != '\\') {
    const unsigned char* base = qualifier && qualifier[0] ? qualifier : getDatabaseDirectory();
    directory = base ? kvC(base) : ".";
  } else if (directory.empty()) {
    directory = "/";
  }
  for (char& c : directory)
    if (c == '\\') c = '/';
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return bosJoinPath(path, kvU(directory.c_str()), kvU(table.c_str()));
}

KvStatus TxtConnection::undefinedTable(const unsigned char*) {
  addOdbcError(stateSyntax, msgTxtNoDefinition);
  return kvFailure;
}

KvStatus TxtStatement::allocFileDesc(FlatFileDesc** out) {
  *out = new TxtFileDesc();
  if (!*out) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  return kvSuccess;
}

FlatSqlDesc* TxtStatement::allocSqlDesc() { return new FlatSqlDesc(this); }

FlatDescriptor* TxtStatement::allocCrIndexDesc() {
  addOdbcError(stateSyntax, msgTxtNoCreateIndex);
  return nullptr;
}

FlatDescriptor* TxtStatement::allocDropIndexDesc() {
  addOdbcError(stateSyntax, msgTxtNoDropIndex);
  return nullptr;
}
