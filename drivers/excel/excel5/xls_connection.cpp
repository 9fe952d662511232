// The Excel 5 connection, its statement and its table names; see
// xls_connection.h.
#include "drivers/excel/excel5/xls_connection.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include <sql.h>
#include <sqlext.h>

#include "base/catalog/base_type_info.h"
#include "base/connection/base_info.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "drivers/excel/excel5_message_ids.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_sql_token.h"
#include "util/memory/ram.h"
#include "util/os/bos.h"

namespace {

enum : uint16_t { infoPrivateMacFileInfo = 1027 };
const char extension[] = "XLS";

// The driver's rows, sorted by info type; the engine's follow. Table names
// are not cut: a name is as long as a workbook keeps it (255 characters).
constexpr BaseInfoRow xlsRows[] = {
    KV_INFO_TEXT(SQL_DBMS_VER, "05.00.0000"),                     // 18
    KV_INFO_TEXT(SQL_DATA_SOURCE_READ_ONLY, "Y"),                 // 25
    KV_INFO_U16(SQL_IDENTIFIER_CASE, SQL_IC_SENSITIVE),           // 28
    KV_INFO_U16(SQL_MAX_COLUMN_NAME_LEN, 32),                     // 30
    KV_INFO_U16(SQL_MAX_TABLE_NAME_LEN, 255),                     // 35
    KV_INFO_U32(SQL_POSITIONED_STATEMENTS, SQL_PS_SELECT_FOR_UPDATE),  // 80
    KV_INFO_U16(SQL_FILE_USAGE, SQL_FILE_QUALIFIER),              // 84
    KV_INFO_ASKED(infoPrivateMacFileInfo),
};
static_assert(baseInfoRowsSorted(xlsRows), "the driver's rows must be sorted by info type");
const BaseInfoTable xlsInfo = {sizeof(xlsRows) / sizeof(xlsRows[0]), nullptr, xlsRows};

// The type table, in type-index order.
const BaseTypeRow xlsTypes[] = {
    {"LOGICAL", strXlsTypeLogical, SQL_BIT, 1, nullptr, nullptr, 0, 1, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"NUMBER", strXlsTypeNumber, SQL_DOUBLE, 15, nullptr, nullptr, 0, 1, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"DATE", strXlsTypeDate, SQL_DATE, 10, "{", "}", 0, 1, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"TIME", strXlsTypeTime, SQL_TIME, 8, "{", "}", 0, 1, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"TIMESTAMP", strXlsTypeTimestamp, SQL_TIMESTAMP, 19, "{", "}", 0, 1, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"CHAR", strXlsTypeChar, SQL_VARCHAR, 255, "'", "'", strXlsParamMaxLength, 1, SQL_SEARCHABLE, typeCaseSensitive,
     0, 0},
};

KvStatus copyOut(const std::string& text, unsigned char** out) {
  *out = ramAllocStr(kvU(text.c_str()));
  return *out ? kvSuccess : kvFailure;
}

}  // namespace

XlsConnection::XlsConnection(BaseEnv* env) : FlatConnection(env) {
  setInfoChain(&xlsInfo);
  setTypeTable(xlsTypes, sizeof(xlsTypes) / sizeof(xlsTypes[0]));
  addEngineFlags(flatCtor2000);
}

XlsConnection::~XlsConnection() = default;

void XlsConnection::getDllName(unsigned char* buffer, uint32_t size) {
  unsigned char name[bosNameBytes];
  name[0] = 0;
  if (bosGetModuleName(reinterpret_cast<const void*>(&xlsLoadString), name) != kvSuccess)
    KvErrorKeeper::clearLastError();
  if (size == 0) return;
  std::strncpy(kvC(buffer), kvC(name), size - 1);
  buffer[size - 1] = 0;
}

KvStatus XlsConnection::connectInit(KvValueParser* parser) {
  if (getConnectOptions(parser) != kvSuccess) return kvFailure;
  unsigned char* value = nullptr;
  if (getConnectionValue(parser, "DB", "Database", nullptr, &value, nullptr) != kvSuccess) return kvFailure;
  if ((!value || !value[0])) {
    ramFree(value);
    value = nullptr;
    if (getConnectionValue(parser, "DD", "DataDirectory", nullptr, &value, nullptr) != kvSuccess) return kvFailure;
  }
  try {
    workbook_ = value ? kvC(value) : "";
  } catch (const std::bad_alloc&) {
    ramFree(value);
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  ramFree(value);

  value = nullptr;
  if (getConnectionValue(parser, "FG", "FieldGuessing", "1", &value, nullptr) != kvSuccess) return kvFailure;
  fieldGuessing_ = !(value && std::strcmp(kvC(value), "0") == 0);
  ramFree(value);

  value = nullptr;
  if (getConnectionValue(parser, "SR", "ScanRows", "25", &value, nullptr) != kvSuccess) return kvFailure;
  const char* text = value && value[0] ? kvC(value) : "25";
  char* end = nullptr;
  unsigned long rows = std::strtoul(text, &end, 10);
  bool number = *text >= '0' && *text <= '9' && end && *end == 0 && rows <= 0xFFFFFFFFul;
  ramFree(value);
  if (!number) {
    addOdbcError(stateArgumentValue);
    return kvFailure;
  }
  scanRows_ = uint32_t(rows);
  return kvSuccess;
}

KvStatus XlsConnection::connectLogon() {
  if (workbook_.empty()) {
    addOdbcError(stateGeneral, msgConnectInfoMissing);
    return kvFailure;
  }
  XlsBookDesc* book = nullptr;
  return acquireWorkbook(kvU(workbook_.c_str()), &book);
}

KvStatus XlsConnection::getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) {
  if (type != infoPrivateMacFileInfo) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  unsigned char* text = ramAllocStr(kvU(""));
  if (!text) return kvFailure;
  *value = text;
  *kind = infoText;
  return kvSuccess;
}

short XlsConnection::getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) {
  return xlsLoadString(id, buffer, size);
}

KvStatus XlsConnection::drvrSetToAllocatedState() {
  listing_ = nullptr;
  listPosition_ = 0;
  books_.clear();
  return kvSuccess;
}

void XlsConnection::getExt(unsigned char* buffer) { std::strcpy(kvC(buffer), extension); }

KvStatus XlsConnection::checkExt(const unsigned char* ext) {
  return ext && strcasecmp(kvC(ext), extension) == 0 ? kvSuccess : kvFailure;
}

KvStatus XlsConnection::acquireWorkbook(const unsigned char* path, XlsBookDesc** book) {
  *book = nullptr;
  unsigned char full[bosPathBytes];
  uint32_t length = kvTextLength(path);
  if (length < sizeof full) {
    std::memcpy(full, path, length + 1);
    if (bosfpath(full) != kvSuccess) return kvFailure;
    for (auto& open : books_) {
      if (open->path() == kvC(full)) {
        ++open->useCount;
        *book = open.get();
        return kvSuccess;
      }
    }
  }
  std::unique_ptr<XlsBookDesc> opened(new (std::nothrow) XlsBookDesc());
  if (!opened) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (opened->openWorkbook(path) != kvSuccess) return kvFailure;
  try {
    books_.push_back(std::move(opened));
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  *book = books_.back().get();
  return kvSuccess;
}

void XlsConnection::releaseWorkbook(XlsBookDesc* book) {
  for (size_t i = 0; i < books_.size(); ++i) {
    if (books_[i].get() != book) continue;
    if (--book->useCount == 0) books_.erase(books_.begin() + long(i));
    return;
  }
}

KvStatus XlsConnection::getTable(unsigned char** name, const unsigned char* qualifier, const unsigned char*,
                                 uint16_t first) {
  *name = nullptr;
  if (first) {
    if (listing_) releaseWorkbook(listing_);
    listing_ = nullptr;
    const unsigned char* path = qualifier && qualifier[0] ? qualifier : kvU(workbook_.c_str());
    if (acquireWorkbook(path, &listing_) != kvSuccess) return kvFailure;
    listPosition_ = 0;
  } else {
    ++listPosition_;
  }
  if (!listing_) return kvSuccess;
  if (listPosition_ < listing_->names().size()) return copyOut(listing_->names()[listPosition_].name, name);
  releaseWorkbook(listing_);
  listing_ = nullptr;
  return kvSuccess;
}

KvStatus XlsConnection::tableFullName(const unsigned char* qualifier, const unsigned char* name, unsigned char* path) {
  std::string full;
  try {
    if (std::strchr(kvC(name), '\\')) {
      // A workbook named in the statement: its path made full, then the name.
      std::string text = kvC(name);
      size_t cut = text.rfind('\\');
      unsigned char book[bosPathBytes];
      if (cut >= sizeof book) {
        addOdbcError(stateGeneral, msgXlsNoWorkbook) << name;
        return kvFailure;
      }
      std::memcpy(book, text.data(), cut);
      book[cut] = 0;
      if (bosfpath(book) != kvSuccess) return kvFailure;
      full = std::string(kvC(book)) + "\\" + text.substr(cut + 1);
    } else {
      unsigned char book[bosPathBytes];
      const std::string& workbook = qualifier && qualifier[0] ? std::string(kvC(qualifier)) : workbook_;
      if (workbook.size() >= sizeof book) {
        addOdbcError(stateGeneral, msgXlsNoWorkbook) << kvU(workbook.c_str());
        return kvFailure;
      }
      std::memcpy(book, workbook.c_str(), workbook.size() + 1);
      if (bosfpath(book) != kvSuccess) return kvFailure;
      full = std::string(kvC(book)) + "\\" + kvC(name);
    }
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (full.size() >= bosPathBytes) {
    addOdbcError(stateGeneral, msgXlsTableNotFound) << name << kvU(workbook_.c_str());
    return kvFailure;
  }
  std::memcpy(path, full.c_str(), full.size() + 1);
  return kvSuccess;
}

KvStatus XlsConnection::resolveTableName(const unsigned char* qualifier, const unsigned char* name,
                                         unsigned char* path) {
  return tableFullName(qualifier, name, path);
}

KvStatus XlsConnection::doesTableExist(const unsigned char* name, uint16_t* exists) {
  *exists = 0;
  unsigned char full[bosPathBytes];
  if (tableFullName(nullptr, name, full) != kvSuccess) return kvFailure;
  std::string text = kvC(full);
  size_t cut = text.rfind('\\');
  XlsBookDesc* book = nullptr;
  if (acquireWorkbook(kvU(text.substr(0, cut).c_str()), &book) != kvSuccess) return kvFailure;
  *exists = book->findName(text.substr(cut + 1)) ? 1 : 0;
  releaseWorkbook(book);
  return kvSuccess;
}

// ---------------------------------------------------------------- statement

KvStatus XlsStatement::allocFileDesc(FlatFileDesc** out) {
  *out = new XlsFileDesc();
  if (!*out) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  return kvSuccess;
}

FlatSqlDesc* XlsStatement::allocSqlDesc() {
  auto* query = new XlsSqlDesc(this);
  if (!query) KvErrorKeeper::addMemoryError();
  return query;
}

KvStatus XlsSqlDesc::parseTableName(const unsigned char** position, FlatFileDesc* table, unsigned char** name) {
  *name = nullptr;
  unsigned char* first = nullptr;
  if (flatReadName(position, &first) != kvSuccess) return kvFailure;
  if (!first) {
    addFlatSyntaxError(msgMissingTableName);
    return kvFailure;
  }
  std::string text;
  try {
    text = kvC(first);
    ramFree(first);
    // "path\ Sales" and "book.xls \Sales": a workbook and its name in two runs.
    size_t length = text.size();
    bool endsInSlash = length > 4 && text[length - 1] == '\\';
    bool endsInXls = length >= 4 && strcasecmp(text.c_str() + length - 4, ".xls") == 0;
    if (endsInSlash || endsInXls) {
      unsigned char* next = nullptr;
      if (flatReadName(position, &next) != kvSuccess) return kvFailure;
      bool joined = next && (endsInSlash || next[0] == '\\');
      if (joined) text += kvC(next);
      ramFree(next);
      if (!joined || text.back() == '\\') {
        addOdbcError(stateSyntax, msgXlsMissingTableName);
        return kvFailure;
      }
    }
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  auto* reader = static_cast<XlsFileDesc*>(table);
  reader->declared().clear();
  if (*flatSkipWhite(*position) == '(' && xlsParseDeclaredList(position, &reader->declared()) != kvSuccess)
    return kvFailure;
  *name = ramAllocStr(kvU(text.c_str()));
  return *name ? kvSuccess : kvFailure;
}

KvStatus xlsParseDeclaredList(const unsigned char** position, std::vector<XlsDeclaredColumn>* columns) {
  static const struct {
    const char* word;
    XlsType type;
  } words[] = {{"NUM", xlsNumber},     {"FLOAT", xlsNumber},   {"INT", xlsNumber},      {"INTEGER", xlsNumber},
               {"MONEY", xlsNumber},   {"NUMBER", xlsNumber},  {"DATE", xlsTimestamp},  {"LOGICAL", xlsLogical},
               {"TIME", xlsTime},      {"TIMESTAMP", xlsTimestamp}};
  FlatToken token;
  if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;  // "("
  try {
    for (;;) {
      if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;
      if (token.isEnd()) {
        addFlatSyntaxError(msgMissingRightParen);
        return kvFailure;
      }
      XlsDeclaredColumn column{xlsUnknown, 0};
      if (token.is("CHAR") || token.is("CHARACTER")) {
        FlatToken width;
        if (width.read(position, flatScanOperator) != kvSuccess) return kvFailure;
        if (!width.is("(")) {
          addOdbcError(stateSyntax, msgXlsBadTypeSyntax);
          return kvFailure;
        }
        if (width.read(position, flatScanOperator) != kvSuccess) return kvFailure;
        bool digits = width.getLength() > 0 && width.getLength() < 20;
        for (uint32_t i = 0; digits && i < width.getLength(); ++i)
          digits = width.getText()[i] >= '0' && width.getText()[i] <= '9';
        if (!digits) {
          addOdbcError(stateSyntax, msgXlsBadTypeSyntax);
          return kvFailure;
        }
        unsigned long long value = std::strtoull(kvC(width.getText()), nullptr, 10);
        if (value < 1 || value > 255) {
          addOdbcError(stateSyntax, msgXlsCharWidth);
          return kvFailure;
        }
        FlatToken close;
        if (close.read(position, flatScanOperator) != kvSuccess) return kvFailure;
        if (!close.is(")")) {
          addOdbcError(stateSyntax, msgXlsBadTypeSyntax);
          return kvFailure;
        }
        column = {xlsChar, uint16_t(value)};
      } else {
        for (const auto& w : words)
          if (token.is(w.word)) column = {w.type, 0};
        if (column.type == xlsUnknown) {
          std::string word(reinterpret_cast<const char*>(token.getText()), token.getLength());
          addOdbcError(stateSyntax, msgXlsSyntax) << kvU(word.c_str());
          return kvFailure;
        }
      }
      columns->push_back(column);
      if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;
      if (token.isEnd()) {
        addFlatSyntaxError(msgMissingRightParen);
        return kvFailure;
      }
      if (token.is(")")) return kvSuccess;
      if (!token.is(",")) {
        addOdbcError(stateSyntax, msgXlsMissingCommaOrParen);
        return kvFailure;
      }
    }
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
}
