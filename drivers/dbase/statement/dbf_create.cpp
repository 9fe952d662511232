// CREATE TABLE and DROP TABLE of the dBASE driver; see dbf_create.h.
#include "drivers/dbase/statement/dbf_create.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/dbf_ini.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_ddl_internal.h"
#include "util/byte_order.h"
#include "util/charsets/charset.h"
#include "util/charsets/charset_oem.h"
#include "util/error_mark.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

enum : uint32_t {
  memoHeaderBytes = 512,
  maxNumericWidth = 20,
  maxRecordBytes = 0xFFFF,  // the header's 16-bit record length
  memoFieldBytes = 10,
};

// Bits of the dialects (1 << DbfCreateType).
constexpr uint32_t bit(DbfCreateType type) { return 1u << type; }
constexpr uint32_t allDialects = (1u << dbfCreateTypeCount) - 1;

// The type words of the dBASE grammar and the dialects that create each
// letter.
const struct TypeWord {
  const char* word;
  unsigned char letter;
} typeWords[] = {
    {"CHARACTER", 'C'}, {"CHAR", 'C'}, {"NUMBER", 'N'},  {"NUMERIC", 'N'}, {"DATE", 'D'},
    {"LOGICAL", 'L'},   {"MEMO", 'M'}, {"FLOAT", 'F'},   {"PICTURE", 'P'}, {"GENERAL", 'G'},
    {"BINARY", 'B'},
};

const struct LetterRule {
  unsigned char letter;
  uint32_t dialects;  // that create it
  uint16_t fixedWidth;  // 0: the statement gives it
} letterRules[] = {
    {'C', allDialects, 0},
    {'N', allDialects, 0},
    {'D', allDialects & ~bit(dbfDbase2), 8},
    {'L', allDialects, 1},
    {'M', allDialects & ~bit(dbfDbase2), memoFieldBytes},
    {'F', bit(dbfDbase4) | bit(dbfDbase5), 0},
    {'P', bit(dbfFoxbase) | bit(dbfFoxpro1) | bit(dbfFoxpro25), memoFieldBytes},
    {'G', bit(dbfDbase5) | bit(dbfFoxpro25), memoFieldBytes},
    {'B', bit(dbfDbase5), memoFieldBytes},
};

const LetterRule* ruleOf(unsigned char letter) {
  for (const LetterRule& rule : letterRules)
    if (rule.letter == letter) return &rule;
  return nullptr;
}

bool isMemoLetter(unsigned char letter) {
  return letter == 'M' || letter == 'B' || letter == 'G' || letter == 'P';
}

bool isFoxDialect(uint32_t createType) {
  return createType == dbfFoxbase || createType == dbfFoxpro1 || createType == dbfFoxpro25;
}

// The path's directory (with its trailing "/"), base name and extension.
KvStatus splitPath(const unsigned char* path, unsigned char* directory, unsigned char* base, unsigned char* ext) {
  std::memcpy(directory, path, std::strlen(kvC(path)) + 1);
  return bosParseName(directory, base, ext, 1);
}

// directory (with its trailing "/") + base + "." + ext into path
// (bosPathBytes); 1524 when it would not fit.
KvStatus joinName(unsigned char* path, const unsigned char* directory, const unsigned char* base,
                  const unsigned char* ext) {
  const int length = std::snprintf(kvC(path), bosPathBytes, "%s%s.%s", kvC(directory), kvC(base), kvC(ext));
  if (length < 0 || uint32_t(length) >= bosPathBytes) {
    kvAddUtilityError(kvMsgFileNameTooLong) << base;
    return kvFailure;
  }
  return kvSuccess;
}

// The table's section in RERUZ.INI: its file name with its extension.
void sectionOf(const unsigned char* base, const unsigned char* ext, unsigned char* section) {
  std::snprintf(kvC(section), bosNameBytes * 2, "%s.%s", kvC(base), kvC(ext));
}

// Closes a file the layer handed out, when it goes.
struct FileGuard {
  int file = 0;
  ~FileGuard() {
    if (file) kvIgnoreStatus(bosFileClose(file));
  }
};

// A new file written beside its target under a temporary name: renamed
// over the target by commit, removed when it goes uncommitted.
struct Replacement {
  int file = 0;
  unsigned char tempName[bosPathBytes] = {};
  const unsigned char* target = nullptr;
  KvStatus open(const unsigned char* path, const unsigned char* bytes, uint32_t length) {
    target = path;
    if (bosReplaceOpen(path, tempName, &file) != kvSuccess) return kvFailure;
    return bosFileWrite(file, 0, bytes, length);
  }
  KvStatus commit() {
    const int committing = file;
    file = 0;
    return bosReplaceCommit(committing, tempName, target);
  }
  ~Replacement() {
    if (file) bosReplaceAbort(file, tempName);
  }
};

}  // namespace

// ---------------------------------------------------------------- the files' bytes

KvStatus dbfBuildTableHeader(uint32_t createType, const std::vector<DbfNewField>& fields, const os_time& today,
                             std::vector<unsigned char>* header) {
  const DbfDialect& dialect = dbfDialect(createType);
  const bool dbase2 = createType == dbfDbase2;
  if (dbase2 && fields.size() > dbf2MaxFields) {
    addOdbcError(stateSyntax, msgDbfDbase2Fields);
    return kvFailure;
  }
  uint32_t recordLength = 1;
  bool memo = false;
  for (const DbfNewField& field : fields) {
    if (recordLength + field.length > maxRecordBytes) {
      addFlatSyntaxError(msgWidthTooLarge) << kvU(field.name) << uint32_t(maxRecordBytes - recordLength);
      return kvFailure;
    }
    recordLength += field.length;
    memo = memo || isMemoLetter(field.letter);
  }
  unsigned char date[3];
  dbfDateBytes(dbase2, today.year, today.month, today.day, date);

  if (dbase2) {
    // Fixed size: 32 descriptors of 16 bytes behind 8 bytes, then 0x0D.
    header->assign(dbf2HeaderBytes, 0);
    unsigned char* h = header->data();
    h[0] = dbfVersionDbase2;
    std::memcpy(h + 3, date, 3);
    kvPutU16LE(h + 6, uint16_t(recordLength));
    uint32_t at = 8;
    for (const DbfNewField& field : fields) {
      std::memcpy(h + at, field.name, std::strlen(field.name));
      h[at + 11] = field.letter;
      h[at + 12] = uint8_t(field.length);
      h[at + 15] = uint8_t(field.decimals);
      at += dbf2DescriptorBytes;
    }
    h[at] = dbfDescriptorEnd;
    return kvSuccess;
  }

  const uint32_t headerLength = dbfPrefixBytes + dbfDescriptorBytes * uint32_t(fields.size()) + 1;
  if (headerLength > 0xFFFF) {
    addFlatSyntaxError(msgColumnLimit) << uint32_t((0xFFFF - dbfPrefixBytes - 1) / dbfDescriptorBytes);
    return kvFailure;
  }
  header->assign(headerLength, 0);
  unsigned char* h = header->data();
  h[0] = memo ? dialect.memoVersion : 0x03;
  std::memcpy(h + 1, date, 3);
  kvPutU16LE(h + 8, uint16_t(headerLength));
  kvPutU16LE(h + 10, uint16_t(recordLength));
  uint32_t offset = 1;
  uint32_t at = dbfPrefixBytes;
  for (const DbfNewField& field : fields) {
    unsigned char* d = h + at;
    std::memcpy(d, field.name, std::strlen(field.name));
    d[11] = field.letter;
    if (isFoxDialect(createType)) kvPutU32LE(d + 12, offset);
    if (field.letter == 'C') {
      kvPutU16LE(d + 16, field.length);
    } else {
      d[16] = uint8_t(field.length);
      d[17] = uint8_t(field.decimals);
    }
    offset += field.length;
    at += dbfDescriptorBytes;
  }
  h[at] = dbfDescriptorEnd;
  return kvSuccess;
}

void dbfBuildMemoHeader(uint8_t version, const unsigned char* baseName, unsigned char out[512]) {
  std::memset(out, 0, memoHeaderBytes);
  if (version == dbfVersionFoxPro) {
    kvPutU32BE(out, 1);
    kvPutU16BE(out + 6, memoHeaderBytes);
    return;
  }
  kvPutU32LE(out, 1);
  if (version != 0x8B) return;
  // dBASE IV: the table's base name, the signature and the block size.
  const size_t nameBytes = std::min<size_t>(8, std::strlen(kvC(baseName)));
  std::memcpy(out + 8, baseName, nameBytes);
  out[18] = 0x02;
  out[19] = 0x01;
  kvPutU16LE(out + 20, memoHeaderBytes);
}

// ---------------------------------------------------------------- CREATE TABLE

DbfCreateDesc::~DbfCreateDesc() = default;

DbfConnection* DbfCreateDesc::connection() const {
  return static_cast<DbfConnection*>(statement_->getFlatConnection());
}

KvStatus DbfCreateDesc::canCreateTableName(const unsigned char* name) {
  uint16_t open = 0;
  bool exists = false;
  if (flatDdlTableState(statement_, name, path_, &open, &exists) != kvSuccess) return kvFailure;
  if (open) {
    addFlatError(stateTableExists, msgSaveOpenFile) << path_;
    return kvFailure;
  }
  if (exists) addFlatWarning(stateTableExists, msgTableExists) << path_;
  return kvSuccess;
}

KvStatus DbfCreateDesc::canCreateColumnName(const unsigned char* name) {
  const size_t length = std::strlen(kvC(name));
  if (length > dbfMaxNameChars) {
    addFlatSyntaxError(msgDdlColumnNameTooLong) << name;
    return kvFailure;
  }
  bool valid = length > 0 && !kvCharIsDigit(name[0]) && name[0] != '_';
  for (size_t i = 0; valid && i < length;) {
    const uint32_t bytes = kvCharBytes(name + i);
    valid = bytes > 1 || kvCharIsAlnum(name[i]) || name[i] == '_';
    i += bytes;
  }
  if (!valid) {
    addFlatSyntaxError(msgDdlColumnNameIllegal) << name;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus DbfCreateDesc::addField(const unsigned char* name, unsigned char letter, uint64_t width, uint64_t decimals,
                                 const unsigned char* typeWord) {
  const uint32_t createType = connection()->getCreateType();
  const LetterRule* rule = ruleOf(letter);
  if (!rule) {
    addFlatSyntaxError(msgCreateUnknownType) << typeWord;
    return kvFailure;
  }
  if (!(rule->dialects & (1u << createType))) {
    if (createType == dbfDbase2 && (letter == 'D' || letter == 'M' || letter == 'F'))
      addOdbcError(stateSyntax, msgDbfDbase2Types);
    else if (letter == 'F')
      addOdbcError(stateSyntax, msgDbfDbase3Float);
    else
      addFlatSyntaxError(msgCreateUnknownType) << typeWord;
    return kvFailure;
  }
  DbfNewField field;
  std::memcpy(field.name, name, std::strlen(kvC(name)) + 1);
  // The reader takes an OEM table's names from OEM; they are written so.
  if (connection()->getEngineFlags() & flatOem)
    kvAnsiToOem(kvU(field.name), kvU(field.name), uint32_t(std::strlen(field.name)));
  field.letter = letter;
  if (letter == 'N' || letter == 'F') {
    if (decimals > 0) ++width;
    if (width == 0 || width > maxNumericWidth) {
      addOdbcError(stateSyntax, msgDbfNumericWidth) << name;
      return kvFailure;
    }
    if (decimals > 0 && decimals + 1 >= width) {
      addOdbcError(stateSyntax, msgDbfNumericDecimals) << name;
      return kvFailure;
    }
    field.length = uint16_t(width);
    field.decimals = uint16_t(decimals);
  } else if (letter == 'C') {
    const DbfDialect& dialect = dbfDialect(createType);
    const uint32_t maximum = uint32_t(dialect.typeTable[dbfRowOfLetter(dialect, 'C')].precision);
    if (width == 0 || width > maximum) {
      addOdbcError(stateSyntax, msgDbfCharWidth) << maximum << name;
      return kvFailure;
    }
    field.length = uint16_t(width);
  } else {
    field.length = rule->fixedWidth;
  }
  for (const DbfNewField& earlier : fields_) {
    if (strcasecmp(earlier.name, field.name) == 0) {
      addFlatSyntaxError(msgColumnNotUnique) << name;
      return kvFailure;
    }
  }
  fields_.push_back(field);
  return kvSuccess;
}

KvStatus DbfCreateDesc::parse(const unsigned char* text, uint32_t* position) {
  fields_.clear();
  path_[0] = 0;
  if (connection()->getFlags() & BaseConnection::flagModifySql) {
    if (FlatCreateDesc::parse(text, position) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < getColumnCount(); ++i) {
      const FlatColumnDef* column = getColumn(i);
      const BaseTypeRow* row = getColumnType(i);
      if (!row) {
        addOdbcError(stateGeneral);
        return kvFailure;
      }
      const unsigned char letter = dbfLetterOfRow(*row);
      if (addField(column->name, letter, column->width, column->scale, kvU(row->typeName)) != kvSuccess)
        return kvFailure;
    }
  } else {
    const unsigned char* p = text + *position;
    if (parseDbaseGrammar(&p) != kvSuccess) return kvFailure;
    *position = uint32_t(p - text);
  }
  if (fields_.empty()) {
    addFlatSyntaxError(msgBadColumnIdentifier) << kvU(")");
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus DbfCreateDesc::parseDbaseGrammar(const unsigned char** position) {
  FlatToken skip;
  if (skip.read(position, flatScanOperator) != kvSuccess || skip.read(position, flatScanOperator) != kvSuccess)
    return kvFailure;
  unsigned char name[flatDdlTableNameBytes];
  bool found = false;
  if (flatDdlReadTableName(statement_, position, name, sizeof(name), &found) != kvSuccess) return kvFailure;
  if (!found) {
    addFlatSyntaxError(msgCreateNoTable);
    return kvFailure;
  }
  if (canCreateTableName(name) != kvSuccess) return kvFailure;
  FlatToken open;
  if (open.read(position, flatScanOperator) != kvSuccess) return kvFailure;
  if (!open.is("(")) {
    addFlatSyntaxError(msgCreateNoLeftParen);
    return kvFailure;
  }
  const uint32_t createType = connection()->getCreateType();
  const uint32_t limit = createType == dbfDbase2 ? 0 : dbfDialect(createType).maxColumns;
  for (;;) {
    if (parseDbaseColumn(position) != kvSuccess) return kvFailure;
    if (limit && fields_.size() > limit) {
      addFlatSyntaxError(msgColumnLimit) << limit;
      return kvFailure;
    }
    FlatToken separator;
    if (separator.read(position, flatScanOperator) != kvSuccess) return kvFailure;
    if (separator.is(")")) return kvSuccess;
    if (!separator.is(",")) {
      addFlatSyntaxError(msgCreateNoRightParen);
      return kvFailure;
    }
    if (fields_.size() >= 0xFFFF) {
      addFlatSyntaxError(msgColumnLimit) << uint32_t(0xFFFF);
      return kvFailure;
    }
  }
}

KvStatus DbfCreateDesc::parseDbaseColumn(const unsigned char** position) {
  unsigned char name[flatDdlNameBytes];
  const unsigned char* start = flatSkipWhite(*position);
  if (*start == '`') {
    // A back-quoted name is taken as written, within the length a
    // descriptor holds.
    bool found = false;
    if (flatDdlReadIdentifier(statement_, position, name, &found) != kvSuccess) return kvFailure;
    if (!name[0]) {
      addFlatSyntaxError(msgDdlColumnNameIllegal) << kvU("``");
      return kvFailure;
    }
    if (std::strlen(kvC(name)) > dbfMaxNameChars) {
      addFlatSyntaxError(msgDdlColumnNameTooLong) << name;
      return kvFailure;
    }
  } else {
    // The run of characters up to white space or punctuation, upper-cased
    // as the engine's words are, so that a name such as 1ABC is judged (and
    // named in the message) whole.
    const unsigned char* end = start;
    while (*end && !kvCharIsSpace(*end) && !std::strchr("(),;'\"`", *end)) end += kvCharBytes(end);
    if (end == start) {
      FlatToken what;
      const unsigned char* p = start;
      if (what.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
      addFlatSyntaxError(msgDdlColumnNameIllegal) << (what.isEnd() ? kvU("") : what.getText());
      return kvFailure;
    }
    if (flatCopyDdlName(name, sizeof(name), start, uint32_t(end - start)) != kvSuccess) return kvFailure;
    kvUpperText(name);
    *position = end;
    if (canCreateColumnName(name) != kvSuccess) return kvFailure;
  }

  FlatToken type;
  if (type.read(position, flatScanOperator) != kvSuccess) return kvFailure;
  unsigned char letter = 0;
  for (const TypeWord& word : typeWords)
    if (type.is(word.word)) letter = word.letter;
  if (!letter) {
    addFlatSyntaxError(msgCreateUnknownType) << (type.isEnd() ? kvU("") : type.getText());
    return kvFailure;
  }
  uint64_t width = 0, decimals = 0;
  const LetterRule* rule = ruleOf(letter);
  if (rule && rule->fixedWidth == 0 && (rule->dialects & (1u << connection()->getCreateType()))) {
    FlatToken token;
    if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;
    if (!token.is("(")) {
      addFlatSyntaxError(msgCreateNoLeftParen);
      return kvFailure;
    }
    bool number = false;
    if (flatDdlReadNumber(position, &width, &number) != kvSuccess) return kvFailure;
    if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;
    if (letter != 'C' && token.is(",")) {
      if (flatDdlReadNumber(position, &decimals, &number) != kvSuccess) return kvFailure;
      if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;
    }
    if (!token.is(")")) {
      addFlatSyntaxError(msgCreateNoRightParen);
      return kvFailure;
    }
  }
  return addField(name, letter, width, decimals, type.getText());
}

KvStatus DbfCreateDesc::execute() {
  // Another statement of the connection may have opened the table since.
  if (connection()->isFileOpen(path_)) {
    addFlatError(stateTableExists, msgSaveOpenFile) << path_;
    return kvFailure;
  }
  KvStatus status = writeFiles();
  if (status == kvSuccess) cleanUp();
  return status;
}

KvStatus DbfCreateDesc::writeFiles() {
  os_time today;
  bosLocalDate(&today);
  std::vector<unsigned char> header;
  if (dbfBuildTableHeader(connection()->getCreateType(), fields_, today, &header) != kvSuccess) return kvFailure;

  unsigned char directory[bosPathBytes], base[bosNameBytes], ext[bosNameBytes];
  if (splitPath(path_, directory, base, ext) != kvSuccess) return kvFailure;

  // The table being replaced stays whole and is held against every other
  // open until the new files are in place.
  FileGuard old;
  if (bosexist(path_)) {
    unsigned char name[bosPathBytes];
    std::memcpy(name, path_, std::strlen(kvC(path_)) + 1);
    if (bosFileOpen(name, bosOpenReadWrite | bosOpenExclusive, &old.file) != kvSuccess) return kvFailure;
  }

  Replacement table;
  if (table.open(path_, header.data(), uint32_t(header.size())) != kvSuccess) return kvFailure;
  const uint8_t version = header[0];
  const bool memo = version == 0x83 || version == 0x8B || version == dbfVersionFoxPro;
  unsigned char memoPath[bosPathBytes];
  Replacement memoFile;
  if (memo) {
    // T for the last letter of the extension (.DBT), or FPT for FoxPro.
    const size_t extLength = std::strlen(kvC(ext));
    unsigned char memoExt[bosNameBytes];
    if (version == dbfVersionFoxPro || extLength == 0) {
      std::strcpy(kvC(memoExt), version == dbfVersionFoxPro ? "FPT" : "DBT");
    } else {
      std::memcpy(memoExt, ext, extLength + 1);
      memoExt[extLength - 1] = kvCharIsLower(ext[extLength - 1]) ? 't' : 'T';
    }
    if (joinName(memoPath, directory, base, memoExt) != kvSuccess) return kvFailure;
    unsigned char bytes[memoHeaderBytes];
    dbfBuildMemoHeader(version, base, bytes);
    if (memoFile.open(memoPath, bytes, sizeof(bytes)) != kvSuccess) return kvFailure;
  }

  // No index definition of an earlier table of the name applies to this one.
  DbfIni ini(connection());
  unsigned char section[bosNameBytes * 2];
  sectionOf(base, ext, section);
  if (ini.open(directory) != kvSuccess || ini.removeTable(section) != kvSuccess) return kvFailure;

  // The table first: should the memo file's rename fail, the new empty
  // table still reads (it refers to no memo block).
  if (table.commit() != kvSuccess) return kvFailure;
  if (memo && memoFile.commit() != kvSuccess) return kvFailure;
  return kvSuccess;
}

// ---------------------------------------------------------------- DROP TABLE

DbfDropTableDesc::~DbfDropTableDesc() = default;

KvStatus DbfDropTableDesc::canDropTableName(const unsigned char* name) {
  uint16_t open = 0;
  bool exists = false;
  if (flatDdlTableState(statement_, name, path_, &open, &exists) != kvSuccess) return kvFailure;
  if (open) {
    addFlatSyntaxError(msgDeleteOpenFile) << path_;
    return kvFailure;
  }
  if (!exists) {
    addOdbcError(stateTableNotFound, msgDbfDropNoTable) << name;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus DbfDropTableDesc::execute() {
  // Another statement of the connection may have opened it since.
  if (canDropTableName(getTableName()) != kvSuccess) return kvFailure;
  FlatConnection* connection = statement_->getFlatConnection();
  unsigned char directory[bosPathBytes], base[bosNameBytes], ext[bosNameBytes];
  if (splitPath(path_, directory, base, ext) != kvSuccess) return kvFailure;

  // The index files the table keeps, read before anything is deleted.
  DbfIni ini(static_cast<DbfConnection*>(connection));
  unsigned char section[bosNameBytes * 2];
  sectionOf(base, ext, section);
  if (ini.open(directory) != kvSuccess) return kvFailure;
  std::vector<std::vector<unsigned char>> indexFiles;
  for (uint16_t i = 0; i < 0xFFFF; ++i) {
    std::vector<unsigned char> value(dbfIniValueBytes);
    if (ini.getMaintained(section, i, value.data(), uint32_t(value.size())) != kvSuccess) return kvFailure;
    if (!value[0]) break;
    indexFiles.push_back(value);
  }

  // The table itself first: while any handle has it open it stays, and so
  // does everything that belongs to it.
  if (bosFileDelete(path_) != kvSuccess) return kvFailure;

  bool failed = false;
  for (std::vector<unsigned char>& file : indexFiles) {
    unsigned char indexPath[bosPathBytes], indexDirectory[bosPathBytes], indexBase[bosNameBytes],
        indexExt[bosNameBytes];
    if (bospath(indexPath, directory, file.data(), kvU("NDX")) != kvSuccess ||
        splitPath(indexPath, indexDirectory, indexBase, indexExt) != kvSuccess) {
      failed = true;
      continue;
    }
    if (strcasecmp(kvC(indexExt), "NDX") != 0 && strcasecmp(kvC(indexExt), "NTX") != 0 &&
        strcasecmp(kvC(indexExt), "IDX") != 0) {
      addOdbcWarning(stateWarning, msgDbfBadIndexName) << file.data();
      continue;
    }
    if (bosFileDelete(indexPath) != kvSuccess) failed = true;
  }
  if (ini.removeTable(section) != kvSuccess) failed = true;
  for (const char* otherExt : {"DBT", "FPT", "MDX", "CDX"}) {
    unsigned char other[bosPathBytes];
    if (joinName(other, directory, base, kvU(otherExt)) != kvSuccess || bosFileDelete(other) != kvSuccess)
      failed = true;
  }
  if (failed) return kvFailure;
  cleanUp();
  return kvSuccess;
}
