// Saved-query files (see query_file.h for the format and the rules).
//
// Reading: the line reader hands out the lines once at open; the open
// records where the statement lies and where each section's text lies in
// the file (SectionInfo), and reads no text yet. A section's text is read
// from the file when asked for, until it is set in memory; from then on it
// lives in the scratch store. Positions are file offsets of the text, which
// scrambling keeps in place (mode 2 changes bytes, never their number).
//
// Writing: Writer buffers the output, scrambles everything after the first
// line, and notes whether the last bytes were a line end, so that a part
// that does not end in one gets one before the next header.
#include "util/files/query_file.h"

#include <cstring>

#include "util/os/bos.h"
#include "util/charsets/charset.h"
#include "util/files/encrypt.h"
#include "util/resource.h"
#include "util/containers/scanner.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

namespace {

enum : uint32_t {
  chunkBytes = 4096,          // piece of a copy between file, store and output
  noScrambleMode = 0,
  lastFileOffset = 0xFFFFFFFF,
};

const unsigned char* const knownSectionNames[] = {
    kvU("PAGE_LAYOUT"),
    kvU("PARAMETERS"),
    kvU("DEFINITION"),
    kvU("USER COMMANDS"),
};
const uint16_t knownSectionCount = sizeof(knownSectionNames) / sizeof(knownSectionNames[0]);

const unsigned char crLf[] = {'\r', '\n'};
const unsigned char* const firstLineStart = kvU("K+V 6.0 for ");
const unsigned char* const paramClearLine = kvU("PARAMETER.CLEAR ()");
const unsigned char* const paramItemWords = kvU("PARAMETER . ITEM (");
const unsigned char* const paramItemStart = kvU("PARAMETER.ITEM (");
const unsigned char* const descriptionKeyword = kvU("SET.QUERY.DESCRIPTION");
const unsigned char* const descriptionWords = kvU("SET . QUERY . DESCRIPTION (");

KvStatus invalidParameter() {
  addResourceError(kvMsgInvalidParameter);
  return kvFailure;
}

// Length of a line without its CR LF.
uint32_t withoutLineEnd(const unsigned char* text, uint32_t length) {
  return length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n' ? length - 2 : length;
}

int holdsLineBreak(const unsigned char* text, uint32_t length) {
  return length > 0 && (std::memchr(text, '\r', length) != nullptr || std::memchr(text, '\n', length) != nullptr);
}

// Whether the line (its line end may follow) reads as a section header:
// "[" first and "]" last, trailing white space aside. nameLength receives
// the bytes between the brackets.
int readsAsHeader(const unsigned char* text, uint32_t length, uint32_t* nameLength) {
  const uint32_t trimmed = strRightTrim(text, length);
  if (trimmed < 2 || text[0] != '[' || text[trimmed - 1] != ']') return 0;
  *nameLength = trimmed - 2;
  return 1;
}

// Whether the line reads as the "use" line: "use" in any case, a blank, a
// name of at least one byte, and ";" last (trailing white space aside).
int readsAsUseLine(const unsigned char* text, uint32_t length, uint32_t* nameLength) {
  const uint32_t trimmed = strRightTrim(text, length);
  if (trimmed < 6 || !strEqualCi(text, 3, kvU("use"), 3) || text[3] != ' ' || text[trimmed - 1] != ';')
    return 0;
  *nameLength = trimmed - 5;
  return 1;
}

// The end of the line that starts at line: its CR LF, or the end of the text.
const unsigned char* endOfLine(const unsigned char* line, const unsigned char* end) {
  while (line < end && !(line[0] == '\r' && line + 1 < end && line[1] == '\n')) ++line;
  return line;
}

// The start of the next line after a line that ends at lineEnd.
const unsigned char* nextLine(const unsigned char* lineEnd, const unsigned char* end) {
  return lineEnd < end ? lineEnd + 2 : end;
}

// Whether some line of a text reads as a section header.
int holdsHeaderLine(const unsigned char* text, uint32_t length) {
  const unsigned char* end = text + length;
  for (const unsigned char* line = text; line < end;) {
    const unsigned char* lineEnd = endOfLine(line, end);
    uint32_t nameLength;
    if (readsAsHeader(line, static_cast<uint32_t>(lineEnd - line), &nameLength)) return 1;
    line = nextLine(lineEnd, end);
  }
  return 0;
}

// The quote state after a line: 0 outside quotes, else the open quote.
// Quote characters lie below 0x40, so they are never a DBCS trail byte.
unsigned char quoteStateAfter(const unsigned char* text, uint32_t length, unsigned char quote) {
  for (uint32_t i = 0; i < length; ++i) {
    const unsigned char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    }
  }
  return quote;
}

// A decimal token of digits only whose value is at most max; no message.
int readDecimal(const KvSubString& token, uint32_t max, uint32_t* value) {
  const unsigned char* text = token.getText();
  if (token.getLength() == 0) return 0;
  uint64_t number = 0;
  for (uint32_t i = 0; i < token.getLength(); ++i) {
    if (!kvCharIsDigit(text[i])) return 0;
    number = number * 10 + (text[i] - '0');
    if (number > max) return 0;
  }
  *value = static_cast<uint32_t>(number);
  return 1;
}

inline int isOperator(const KvToken& token, char c) {
  return token.getType() == static_cast<unsigned char>(c) && token.getLength() == 1;
}

// Adds error 2705 for the line, naming the offset where parsing stopped.
KvStatus parseFailure(const KvSubString& line, uint32_t offset) {
  const KvSubString shown(line.getText(), strRightTrim(line.getText(), line.getLength()));
  addResourceError(kvMsgNamedParse) << offset << shown;
  return kvFailure;
}

// The offset of the first line of text that begins with the keyword
// (without regard to case) followed by a blank or "(", and its length
// without the line end; 0 when there is none.
int findKeywordLine(const unsigned char* text, uint32_t length, const unsigned char* keyword,
                    uint32_t* lineStart, uint32_t* lineLength) {
  const uint32_t keywordLength = kvTextLength(keyword);
  const unsigned char* end = text + length;
  for (const unsigned char* line = text; line < end;) {
    const unsigned char* lineEnd = endOfLine(line, end);
    const uint32_t bytes = static_cast<uint32_t>(lineEnd - line);
    if (bytes > keywordLength && strEqualCi(line, keywordLength, keyword, keywordLength) &&
        (line[keywordLength] == ' ' || line[keywordLength] == '(')) {
      *lineStart = static_cast<uint32_t>(line - text);
      *lineLength = bytes;
      return 1;
    }
    line = nextLine(lineEnd, end);
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// SectionInfo: where one section's text lies. The array of sections keeps
// them in the order a save writes them: the known names, then the others;
// in each group the sections of the file by position, then those made in
// memory in the order they were made.

class SectionInfo : public KvObject {
 public:
  enum : uint16_t { kindKnown = 1, kindOther = 2 };

  ~SectionInfo() override = default;
  int16_t compare(const KvObject* other) const override {
    const auto* that = static_cast<const SectionInfo*>(other);
    if (kind != that->kind) return kind < that->kind ? -1 : 1;
    if (fromFile != that->fromFile) return fromFile ? -1 : 1;
    if (order != that->order) return order < that->order ? -1 : 1;
    return 0;
  }
  uint32_t getLength() const { return inStore ? storeLength : fileLength; }

  KvString name;
  uint16_t kind = kindOther;
  int fromFile = 0;
  uint32_t order = 0;  // file position, or the sequence of a section made in memory
  uint32_t filePosition = 0;
  uint32_t fileLength = 0;
  int inStore = 0;
  uint32_t storeOffset = 0;  // 0 for an empty text
  uint32_t storeLength = 0;
  int deleted = 0;
};

// ---------------------------------------------------------------------------
// Writer

class KvQueryFile::Writer {
 public:
  explicit Writer(int file) : file_(file) {}

  // From now on bytes are scrambled in this mode.
  KvStatus setMode(uint16_t mode) {
    if (flush() != kvSuccess) return kvFailure;
    mode_ = mode;
    return kvSuccess;
  }
  KvStatus put(const unsigned char* bytes, uint32_t length) {
    while (length > 0 && status_ == kvSuccess) {
      if (used_ == chunkBytes && flush() != kvSuccess) break;
      const uint32_t part = length < chunkBytes - used_ ? length : chunkBytes - used_;
      std::memcpy(chunk_ + used_, bytes, part);
      used_ += part;
      bytes += part;
      length -= part;
      noteLast(chunk_ + used_ - part, part);
    }
    return status_;
  }
  KvStatus put(const KvSubString& text) { return put(text.getText(), text.getLength()); }
  KvStatus putLineEnd() { return put(crLf, 2); }
  // A line end unless the bytes put last were one.
  KvStatus endLine() { return endsWithLineEnd_ ? status_ : putLineEnd(); }
  KvStatus flush() {
    if (status_ == kvSuccess && used_ > 0) {
      encrypt(chunk_, used_, mode_, nullptr);
      status_ = bosFileWrite(file_, -1, chunk_, used_);
    }
    used_ = 0;
    return status_;
  }

 private:
  void noteLast(const unsigned char* bytes, uint32_t length) {
    if (length >= 2) {
      endsWithLineEnd_ = bytes[length - 2] == '\r' && bytes[length - 1] == '\n';
    } else {
      endsWithLineEnd_ = lastByte_ == '\r' && bytes[0] == '\n';
    }
    lastByte_ = bytes[length - 1];
  }

  int file_;
  KvStatus status_ = kvSuccess;
  uint16_t mode_ = noScrambleMode;
  uint32_t used_ = 0;
  unsigned char lastByte_ = 0;
  int endsWithLineEnd_ = 1;  // nothing written yet: nothing to end
  unsigned char chunk_[chunkBytes];
};

// ---------------------------------------------------------------------------
// KvfParam

KvfParam::~KvfParam() = default;

KvStatus KvfParam::initialize(const KvSubString& line) {
  KvScanner scanner(line);
  KvToken token;
  scanner.getToken(token);
  if (!scanner.isEqualCi(token, paramItemWords)) return parseFailure(line, token.getOffset());
  KvString texts[kvQueryParamTexts];
  for (uint16_t i = 0; i < kvQueryParamTexts; ++i) {
    scanner.getToken(token);
    if (i > 0) {
      if (!isOperator(token, ',')) return parseFailure(line, token.getOffset());
      scanner.getToken(token);
    }
    if (token.getType() != kvTokenQuoted) return parseFailure(line, token.getOffset());
    if (token.copyQuotedStr(&texts[i]) != kvSuccess) return kvFailure;
  }
  uint32_t number = 0;
  scanner.getToken(token);
  if (!isOperator(token, ',')) return parseFailure(line, token.getOffset());
  scanner.getToken(token);
  if (token.getType() != kvTokenNumber || !readDecimal(token, 0xFFFFFFFF, &number))
    return parseFailure(line, token.getOffset());
  scanner.getToken(token);
  if (!isOperator(token, ')')) return parseFailure(line, token.getOffset());
  scanner.getToken(token);
  if (token.getType() != kvTokenEnd) return parseFailure(line, token.getOffset());

  for (uint16_t i = 0; i < kvQueryParamTexts; ++i) {
    if (texts_[i].initialize(texts[i].getText(), texts[i].getLength()) != kvSuccess) return kvFailure;
  }
  number_ = number;
  return kvSuccess;
}

KvStatus KvfParam::getParamLine(KvString& line) const {
  for (uint16_t i = 0; i < kvQueryParamTexts; ++i) {
    if (holdsLineBreak(texts_[i].getText(), texts_[i].getLength())) return invalidParameter();
  }
  KvString built;
  if (built.initialize(paramItemStart) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < kvQueryParamTexts; ++i) {
    if (built.addQuotedBytes(&texts_[i], '\'') != kvSuccess || built.concat(kvU(", ")) != kvSuccess)
      return kvFailure;
  }
  if (built.concat(number_) != kvSuccess || built.concat(')') != kvSuccess) return kvFailure;
  return line.initialize(built.getText(), built.getLength());
}

// ---------------------------------------------------------------------------
// KvQueryFile: life, open and close

KvQueryFile::KvQueryFile() : store_(32768) { sections_.setOwnsObjects(true); }

// The reader only reads, so a failing close loses nothing.
KvQueryFile::~KvQueryFile() { kvIgnoreStatus(closeFile()); }

const unsigned char* KvQueryFile::getSectionName(SectionType type) {
  return type >= 0 && type < knownSectionCount ? knownSectionNames[type] : nullptr;
}

void KvQueryFile::reset() {
  store_.tmpTruncate();
  sections_.deleteContents();
  ramFree(fullPath_);
  ramFree(writePath_);
  fullPath_ = writePath_ = nullptr;
  version_[0] = 6;
  version_[1] = version_[2] = 0;
  dbType_.unInitialize();
  dbName_.unInitialize();
  sqlStmt_.unInitialize();
  statementStart_ = firstSection_ = 0;
  sqlInMemory_ = 0;
  nextSequence_ = 0;
  scrambled_ = 0;
  scrambleMode_ = noScrambleMode;
  line_.set(nullptr, 0);
}

KvStatus KvQueryFile::closeFile() {
  const KvStatus status = reader_.closeFile();
  reset();
  return status;
}

KvStatus KvQueryFile::initialize(const unsigned char* dbType, const unsigned char* sqlStatement,
                                 uint32_t length) {
  if (closeFile() != kvSuccess) return kvFailure;
  if (setDbType(dbType) != kvSuccess || setSqlStmt(sqlStatement, sqlStatement ? length : 0) != kvSuccess) {
    reset();
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvQueryFile::absolutePath(const unsigned char* path, unsigned char* full) {
  const uint32_t length = kvTextLength(path);
  if (length == 0) return invalidParameter();
  if (length >= bosPathBytes) {
    addResourceError(kvMsgFileNameTooLong) << path;
    return kvFailure;
  }
  std::memcpy(full, path, length + 1);
  return bosfpath(full);
}

KvStatus KvQueryFile::copyPath(unsigned char** target, const unsigned char* path) {
  unsigned char full[bosPathBytes];
  if (absolutePath(path, full) != kvSuccess) return kvFailure;
  unsigned char* copy = ramAllocStr(full);
  if (!copy) return kvFailure;
  ramFree(*target);
  *target = copy;
  return kvSuccess;
}

KvStatus KvQueryFile::openFile(const unsigned char* path) {
  if (closeFile() != kvSuccess) return kvFailure;
  if (copyPath(&fullPath_, path) != kvSuccess || reader_.openFile(fullPath_, kvQueryLineBytes) != kvSuccess ||
      readFile() != kvSuccess) {
    kvIgnoreStatus(reader_.closeFile());  // clean-up; the first failure stands
    reset();
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvQueryFile::readFile() {
  if (reader_.getNextLine(line_) != kvSuccess) return kvFailure;
  if (reader_.isAtEnd() || !reader_.isLineComplete() ||
      parseFirstLine(line_.getText(), line_.getLength()) != kvSuccess) {
    addResourceError(kvMsgQueryFileFirstLine) << fullPath_;
    return kvFailure;
  }
  reader_.setDecodeMode(lineMode());
  return scanSections();
}

KvStatus KvQueryFile::parseFirstLine(const unsigned char* text, uint32_t length) {
  length = withoutLineEnd(text, length);
  // A lone line end inside it means the file does not end its lines with
  // CR LF (a file saved with LF only), whose first line would swallow the
  // rest.
  if (length < 3 || holdsLineBreak(text, length)) return kvFailure;
  if (!strEqualCi(text, 3, kvU("K+V"), 3) && !strEqualCi(text, 3, kvU("K&V"), 3)) return kvFailure;
  const unsigned char* rest = text + 3;
  const uint32_t restLength = length - 3;
  KvScanner scanner(rest, restLength);
  scanner.setDecimalPointMode(0);
  KvToken token;

  uint16_t version[3] = {0, 0, 0};
  scanner.getToken(token);
  for (int part = 0;; ++part) {
    uint32_t number;
    if (token.getType() != kvTokenNumber || !readDecimal(token, 0xFFFF, &number)) return kvFailure;
    version[part] = static_cast<uint16_t>(number);
    scanner.getToken(token);
    if (part == 2 || !isOperator(token, '.')) break;
    scanner.getToken(token);
  }
  const auto isFor = [&token] {
    return token.getType() == kvTokenWord && strEqualCi(token.getText(), token.getLength(), kvU("for"), 3);
  };
  if (!isFor()) {
    // At most one one-character token after the version.
    if (token.getLength() != 1) return kvFailure;
    scanner.getToken(token);
    if (!isFor()) return kvFailure;
  }

  // The type runs to "(" or the end; the white space around it is dropped.
  uint32_t typeStart = scanner.getOffset();
  const void* paren = std::memchr(rest + typeStart, '(', restLength - typeStart);
  const uint32_t typeEnd =
      paren ? static_cast<uint32_t>(static_cast<const unsigned char*>(paren) - rest) : restLength;
  while (typeStart < typeEnd && kvCharIsSpace(rest[typeStart])) ++typeStart;
  const uint32_t typeLength = strRightTrim(rest + typeStart, typeEnd - typeStart);

  int scrambled = 0;
  uint32_t mode = noScrambleMode;
  if (paren) {
    scanner.setOffset(typeEnd);
    scanner.getToken(token);  // the "("
    scanner.getToken(token);
    if (token.getType() != kvTokenNumber || !readDecimal(token, 0xFFFF, &mode)) return kvFailure;
    scanner.getToken(token);
    if (!isOperator(token, ')')) return kvFailure;
    scanner.getToken(token);
    if (token.getType() != kvTokenEnd) return kvFailure;
    // Mode 1 complements line ends too: such a file has no lines to read.
    if (mode == kvEncryptComplement) return kvFailure;
    scrambled = 1;
  }
  if (dbType_.initialize(rest + typeStart, typeLength) != kvSuccess) return kvFailure;
  std::memcpy(version_, version, sizeof(version_));
  scrambled_ = scrambled;
  scrambleMode_ = static_cast<uint16_t>(mode);
  return kvSuccess;
}

KvStatus KvQueryFile::addSection(const unsigned char* name, uint32_t nameLength, int fromFile,
                                 uint32_t position, SectionInfo** made) {
  auto* section = new SectionInfo;
  if (!section) return kvFailure;
  if (section->name.initialize(name, nameLength) != kvSuccess) {
    delete section;
    return kvFailure;
  }
  section->kind = SectionInfo::kindOther;
  for (uint16_t i = 0; i < knownSectionCount; ++i) {
    if (strEqualCi(name, nameLength, knownSectionNames[i], kvTextLength(knownSectionNames[i])))
      section->kind = SectionInfo::kindKnown;
  }
  section->fromFile = fromFile;
  section->order = fromFile ? position : nextSequence_++;
  section->filePosition = position;
  if (sections_.add(section) != kvSuccess) {
    delete section;
    return kvFailure;
  }
  *made = section;
  return kvSuccess;
}

KvStatus KvQueryFile::scanSections() {
  // The "use" line, when the second line is one.
  if (reader_.getNextLine(line_) != kvSuccess) return kvFailure;
  statementStart_ = static_cast<uint32_t>(reader_.getLineOffset());
  uint32_t nameLength;
  if (!reader_.isAtEnd() && reader_.isLineComplete() &&
      readsAsUseLine(line_.getText(), line_.getLength(), &nameLength)) {
    if (dbName_.initialize(line_.getText() + 4, nameLength) != kvSuccess) return kvFailure;
    statementStart_ += line_.getLength();
  } else {
    reader_.ungetLine();
  }

  // Every call of getNextLine takes at least one byte of the file or ends
  // it, so the loop ends with the file.
  const int version2 = version_[0] == 2;
  SectionInfo* current = nullptr;  // the section being measured; null in the statement
  int inStatement = 1;
  int atLineStart = 1;
  unsigned char quote = 0;
  uint32_t endOffset = statementStart_;
  const auto endStatement = [&](uint32_t offset) -> KvStatus {
    firstSection_ = offset;
    inStatement = 0;
    current = nullptr;
    // The lines after a version 2 statement are its definition.
    return version2 ? addSection(knownSectionNames[kvSectionDefinition],
                                 kvTextLength(knownSectionNames[kvSectionDefinition]), 1, offset, &current)
                    : kvSuccess;
  };
  const auto endSection = [&](uint32_t offset) {
    if (current) current->fileLength = offset - current->filePosition;
  };
  for (;;) {
    if (reader_.getNextLine(line_) != kvSuccess) return kvFailure;
    const int64_t lineOffset = reader_.getLineOffset();
    const int64_t lineEndOffset = lineOffset + line_.getLength();
    if (lineEndOffset > lastFileOffset) {
      addResourceError(kvMsgFileInputOutput);
      return kvFailure;
    }
    endOffset = static_cast<uint32_t>(lineEndOffset);
    if (reader_.isAtEnd()) break;
    const int complete = reader_.isLineComplete();
    if (atLineStart && complete && readsAsHeader(line_.getText(), line_.getLength(), &nameLength)) {
      if (inStatement && endStatement(static_cast<uint32_t>(lineOffset)) != kvSuccess) return kvFailure;
      endSection(static_cast<uint32_t>(lineOffset));
      if (addSection(line_.getText() + 1, nameLength, 1, endOffset, &current) != kvSuccess) return kvFailure;
    } else if (inStatement && version2) {
      quote = quoteStateAfter(line_.getText(), line_.getLength(), quote);
      const uint32_t trimmed = strRightTrim(line_.getText(), line_.getLength());
      if (complete && quote == 0 && trimmed > 0 && line_.getText()[trimmed - 1] == ';' &&
          endStatement(endOffset) != kvSuccess)
        return kvFailure;
    }
    atLineStart = complete;
  }
  if (inStatement && endStatement(endOffset) != kvSuccess) return kvFailure;
  endSection(endOffset);
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// Database name, type and statement

KvStatus KvQueryFile::setDbName(const unsigned char* name) {
  const uint32_t length = kvTextLength(name);
  if (holdsLineBreak(name, length)) return invalidParameter();
  return dbName_.initialize(name, length);
}

KvStatus KvQueryFile::setDbType(const unsigned char* type) {
  const unsigned char* text = type ? type : kvU("");
  uint32_t length = kvTextLength(text);
  if (holdsLineBreak(text, length) || std::memchr(text, '(', length)) return invalidParameter();
  // The first line is read with the white space around the type dropped.
  while (length > 0 && kvCharIsSpace(*text)) {
    ++text;
    --length;
  }
  return dbType_.initialize(text, strRightTrim(text, length));
}

KvStatus KvQueryFile::setSqlStmt(const unsigned char* text, uint32_t length) {
  if (length >= kvStringMaxBytes) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  if (sqlStmt_.initialize(text, text ? length : 0) != kvSuccess) return kvFailure;
  sqlInMemory_ = 1;
  return kvSuccess;
}

KvStatus KvQueryFile::getSqlStmt(KvString* out) {
  if (!out) return invalidParameter();
  if (sqlInMemory_) return out->initialize(sqlStmt_.getText(), sqlStmt_.getLength());
  const uint32_t length = firstSection_ - statementStart_;
  if (length >= kvStringMaxBytes) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  KvString text;
  if (text.initialize(length) != kvSuccess || readFileBytes(statementStart_, length, text.getBuffer()) != kvSuccess)
    return kvFailure;
  text.setLength(strRightTrim(text.getText(), length));
  text.getBuffer()[text.getLength()] = 0;
  if (text.removeLineBreaks('\'', '"', 0) != kvSuccess) return kvFailure;
  return out->initialize(text.getText(), text.getLength());
}

// ---------------------------------------------------------------------------
// Sections

SectionInfo* KvQueryFile::findSection(const unsigned char* name) const {
  const uint32_t length = kvTextLength(name);
  for (uint16_t i = 0; i < sections_.getCount(); ++i) {
    auto* section = static_cast<SectionInfo*>(sections_.getAt(i));
    if (!section->deleted &&
        strCompare(section->name.getText(), section->name.getLength(), name, length) == 0)
      return section;
  }
  return nullptr;
}

KvStatus KvQueryFile::readFileBytes(uint32_t position, uint32_t length, unsigned char* out) {
  if (length == 0) return kvSuccess;
  uint32_t got = 0;
  if (bosFileRead(reader_.getFile(), position, out, length, &got) != kvSuccess) return kvFailure;
  if (got != length) {
    // The file became shorter since it was read at open.
    addResourceError(kvMsgFileInputOutput);
    return kvFailure;
  }
  decrypt(out, length, lineMode(), nullptr);
  return kvSuccess;
}

KvStatus KvQueryFile::readSection(const SectionInfo* section, unsigned char* out) {
  if (section->inStore) return store_.readHuge(section->storeOffset, out, section->storeLength);
  return readFileBytes(section->filePosition, section->fileLength, out);
}

KvStatus KvQueryFile::getSectionChunk(const unsigned char* name, KvString* out) {
  if (!name || !out) return invalidParameter();
  const SectionInfo* section = findSection(name);
  const uint32_t length = section ? section->getLength() : 0;
  if (length >= kvStringMaxBytes) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  KvString text;
  if (text.initialize(length) != kvSuccess) return kvFailure;
  if (section && readSection(section, text.getBuffer()) != kvSuccess) return kvFailure;
  return out->initialize(text.getBuffer(), length);
}

KvStatus KvQueryFile::getHugeSectionChunk(const unsigned char* name, unsigned char** data, uint32_t* length) {
  if (!name || !data || !length) return invalidParameter();
  *data = nullptr;
  *length = 0;
  const SectionInfo* section = findSection(name);
  if (!section) return kvSuccess;
  const uint32_t bytes = section->getLength();
  if (bytes == 0xFFFFFFFF) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  auto* block = static_cast<unsigned char*>(ramAlloc(bytes + 1));
  if (!block) return kvFailure;
  if (readSection(section, block) != kvSuccess) {
    ramFree(block);
    return kvFailure;
  }
  block[bytes] = 0;
  *data = block;
  *length = bytes;
  return kvSuccess;
}

KvStatus KvQueryFile::setHugeSectionChunk(const unsigned char* name, const void* data, uint32_t length) {
  const auto* text = static_cast<const unsigned char*>(data);
  if (!name || (!text && length) || holdsLineBreak(name, kvTextLength(name)) ||
      (length && holdsHeaderLine(text, length)))
    return invalidParameter();
  uint32_t offset = 0;
  if (length && (store_.tmpFindSpace(length, &offset) != kvSuccess ||
                 store_.writeHuge(offset, text, length) != kvSuccess)) {
    if (offset) store_.tmpFreeSpace(offset, length);
    return kvFailure;
  }
  SectionInfo* section = findSection(name);
  if (!section && addSection(name, kvTextLength(name), 0, 0, &section) != kvSuccess) {
    if (offset) store_.tmpFreeSpace(offset, length);
    return kvFailure;
  }
  if (section->inStore && section->storeOffset) store_.tmpFreeSpace(section->storeOffset, section->storeLength);
  section->inStore = 1;
  section->storeOffset = offset;
  section->storeLength = length;
  return kvSuccess;
}

KvStatus KvQueryFile::doesSectionExist(const unsigned char* name, unsigned int* exists) {
  if (!name || !exists) return invalidParameter();
  *exists = findSection(name) != nullptr;
  return kvSuccess;
}

KvStatus KvQueryFile::removeSection(const unsigned char* name) {
  if (!name) return invalidParameter();
  SectionInfo* section = findSection(name);
  if (!section) return kvSuccess;
  if (section->inStore && section->storeOffset) store_.tmpFreeSpace(section->storeOffset, section->storeLength);
  section->inStore = 0;
  section->storeOffset = section->storeLength = 0;
  section->deleted = 1;
  return kvSuccess;
}

KvStatus KvQueryFile::getLines(const unsigned char* name, KvArray* lines) {
  if (!lines) return invalidParameter();
  unsigned char* text = nullptr;
  uint32_t length = 0;
  if (getHugeSectionChunk(name, &text, &length) != kvSuccess) return kvFailure;
  KvSubString whole(text, length);
  const KvStatus status = whole.getLines(lines);
  ramFree(text);
  return status;
}

KvStatus KvQueryFile::getFirstSectionOffset(uint32_t* offset) {
  if (!offset) return invalidParameter();
  *offset = firstSection_;
  return kvSuccess;
}

// The SectionType forms.

namespace {

const unsigned char* sectionNameOrFail(SectionType type) {
  const unsigned char* name = KvQueryFile::getSectionName(type);
  if (!name) addResourceError(kvMsgInvalidParameter);
  return name;
}

}  // namespace

KvStatus KvQueryFile::getSectionChunk(SectionType type, KvString* out) {
  const unsigned char* name = sectionNameOrFail(type);
  return name ? getSectionChunk(name, out) : kvFailure;
}
KvStatus KvQueryFile::getHugeSectionChunk(SectionType type, unsigned char** data, uint32_t* length) {
  const unsigned char* name = sectionNameOrFail(type);
  return name ? getHugeSectionChunk(name, data, length) : kvFailure;
}
KvStatus KvQueryFile::setHugeSectionChunk(SectionType type, const void* data, uint32_t length) {
  const unsigned char* name = sectionNameOrFail(type);
  return name ? setHugeSectionChunk(name, data, length) : kvFailure;
}
KvStatus KvQueryFile::doesSectionExist(SectionType type, unsigned int* exists) {
  const unsigned char* name = sectionNameOrFail(type);
  return name ? doesSectionExist(name, exists) : kvFailure;
}
KvStatus KvQueryFile::removeSection(SectionType type) {
  const unsigned char* name = sectionNameOrFail(type);
  return name ? removeSection(name) : kvFailure;
}
KvStatus KvQueryFile::getLines(SectionType type, KvArray* lines) {
  const unsigned char* name = sectionNameOrFail(type);
  return name ? getLines(name, lines) : kvFailure;
}

// ---------------------------------------------------------------------------
// Parameters and description

KvStatus KvQueryFile::getParams(KvArray* params) {
  if (!params) return invalidParameter();
  KvArray lines;
  lines.setOwnsObjects(true);
  if (getLines(kvSectionParameters, &lines) != kvSuccess) return kvFailure;
  for (uint16_t i = 1; i < lines.getCount(); ++i) {
    auto* param = new KvfParam;
    if (!param) return kvFailure;
    if (param->initialize(*static_cast<KvSubString*>(lines.getAt(i))) != kvSuccess || params->add(param) != kvSuccess) {
      delete param;
      return kvFailure;
    }
  }
  return kvSuccess;
}

KvStatus KvQueryFile::setParams(KvArray* params) {
  if (!params) return invalidParameter();
  KvString text;
  KvString line;
  if (text.initialize(paramClearLine) != kvSuccess || text.concat(crLf, 2) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < params->getCount(); ++i) {
    const auto* param = static_cast<const KvfParam*>(params->getAt(i));
    if (!param) return invalidParameter();
    if (param->getParamLine(line) != kvSuccess || text.concat(line.getText(), line.getLength()) != kvSuccess ||
        text.concat(crLf, 2) != kvSuccess)
      return kvFailure;
  }
  return setHugeSectionChunk(kvSectionParameters, text.getText(), text.getLength());
}

KvStatus KvQueryFile::getDescription(KvString* out) {
  if (!out) return invalidParameter();
  unsigned char* text = nullptr;
  uint32_t length = 0;
  if (getHugeSectionChunk(kvSectionDefinition, &text, &length) != kvSuccess) return kvFailure;
  uint32_t lineStart = 0;
  uint32_t lineLength = 0;
  KvStatus status = kvSuccess;
  if (!findKeywordLine(text, length, descriptionKeyword, &lineStart, &lineLength)) {
    status = out->initialize(kvU(""), 0);
  } else {
    const KvSubString line(text + lineStart, lineLength);
    KvScanner scanner(line);
    KvToken token;
    scanner.getToken(token);
    if (!scanner.isEqualCi(token, descriptionWords)) {
      status = parseFailure(line, token.getOffset());
    } else {
      scanner.getToken(token);
      KvToken close;
      scanner.getToken(close);
      if (token.getType() != kvTokenQuoted || !isOperator(close, ')')) {
        status = parseFailure(line, token.getOffset());
      } else {
        status = token.copyQuotedStr(out);
      }
    }
  }
  ramFree(text);
  return status;
}

KvStatus KvQueryFile::setDescription(KvString* text) {
  if (!text || text->getLength() > kvQueryDescriptionChars || holdsLineBreak(text->getText(), text->getLength())) return invalidParameter();
  KvString line;
  if (line.initialize(descriptionKeyword) != kvSuccess || line.concat(kvU(" (")) != kvSuccess ||
      line.addQuotedBytes(text, '\'') != kvSuccess || line.concat(')') != kvSuccess ||
      line.concat(crLf, 2) != kvSuccess)
    return kvFailure;

  unsigned char* old = nullptr;
  uint32_t oldLength = 0;
  if (getHugeSectionChunk(kvSectionDefinition, &old, &oldLength) != kvSuccess) return kvFailure;
  // The new line takes the place of the old one, line end included, or goes
  // first.
  uint32_t replaceStart = 0;
  uint32_t replaceLength = 0;
  if (findKeywordLine(old, oldLength, descriptionKeyword, &replaceStart, &replaceLength)) {
    replaceLength = replaceStart + replaceLength + 2 <= oldLength ? replaceLength + 2 : oldLength - replaceStart;
  }
  const uint64_t newLength = uint64_t(oldLength) - replaceLength + line.getLength();
  auto* block = newLength < 0xFFFFFFFF ? static_cast<unsigned char*>(ramAlloc(uint32_t(newLength))) : nullptr;
  if (!block) {
    if (newLength >= 0xFFFFFFFF) addResourceError(kvMsgStringTooLarge);
    ramFree(old);
    return kvFailure;
  }
  if (replaceStart) std::memcpy(block, old, replaceStart);
  std::memcpy(block + replaceStart, line.getText(), line.getLength());
  const uint32_t tail = oldLength - replaceStart - replaceLength;
  if (tail) std::memcpy(block + replaceStart + line.getLength(), old + replaceStart + replaceLength, tail);
  ramFree(old);
  const KvStatus status = setHugeSectionChunk(kvSectionDefinition, block, uint32_t(newLength));
  ramFree(block);
  return status;
}

// ---------------------------------------------------------------------------
// Saving

KvStatus KvQueryFile::writeStatement(Writer& writer) {
  if (!sqlInMemory_) {
    // As read, piece by piece; without a "use" line in front of it, a first
    // line that would read as one gets a blank in front.
    unsigned char chunk[chunkBytes];
    const uint32_t statementLength = firstSection_ - statementStart_;
    const uint32_t firstPart = statementLength < chunkBytes ? statementLength : chunkBytes;
    if (readFileBytes(statementStart_, firstPart, chunk) != kvSuccess) return kvFailure;
    const KvSubString head(chunk, firstPart);
    uint32_t nameLength;
    if (dbName_.getLength() == 0 && readsAsUseLine(chunk, head.findSubString(kvU("\r\n"), 0), &nameLength) &&
        writer.put(kvU(" "), 1) != kvSuccess)
      return kvFailure;
    for (uint32_t at = statementStart_; at < firstSection_;) {
      const uint32_t part = firstSection_ - at < chunkBytes ? firstSection_ - at : chunkBytes;
      if (readFileBytes(at, part, chunk) != kvSuccess || writer.put(chunk, part) != kvSuccess) return kvFailure;
      at += part;
    }
    return writer.endLine();
  }
  KvString text;
  if (text.initialize(sqlStmt_.getText(), strRightTrim(sqlStmt_.getText(), sqlStmt_.getLength())) != kvSuccess)
    return kvFailure;
  if ((text.getLength() == 0 || text.getText()[text.getLength() - 1] != ';') && text.concat(';') != kvSuccess)
    return kvFailure;
  if (text.insertLineBreaks(kvQueryStatementWidth, '\'', '"', 0) != kvSuccess) return kvFailure;
  // Lines that would read as something else get a blank in front.
  for (uint32_t start = 0; start < text.getLength();) {
    const unsigned char* line = text.getText() + start;
    const KvSubString rest(line, text.getLength() - start);
    const uint32_t length = rest.findSubString(kvU("\r\n"), 0);
    uint32_t nameLength;
    if (readsAsHeader(line, length, &nameLength) ||
        (start == 0 && dbName_.getLength() == 0 && readsAsUseLine(line, length, &nameLength))) {
      if (text.changeBytes(start, 0, kvU(" "), 1) != kvSuccess) return kvFailure;
      continue;
    }
    start += length + 2;
  }
  return writer.put(text) != kvSuccess ? kvFailure : writer.putLineEnd();
}

KvStatus KvQueryFile::writeQuery(Writer& writer) {
  KvString line;
  if (line.initialize(firstLineStart) != kvSuccess || line.concat(dbType_.getText(), dbType_.getLength()) != kvSuccess)
    return kvFailure;
  if (scrambled_ && (line.concat(kvU(" (")) != kvSuccess || line.concat(uint32_t(scrambleMode_)) != kvSuccess ||
                     line.concat(')') != kvSuccess))
    return kvFailure;
  if (writer.put(line) != kvSuccess || writer.putLineEnd() != kvSuccess ||
      writer.setMode(lineMode()) != kvSuccess)
    return kvFailure;
  if (dbName_.getLength() > 0 &&
      (writer.put(kvU("use "), 4) != kvSuccess || writer.put(dbName_) != kvSuccess ||
       writer.put(kvU(";"), 1) != kvSuccess || writer.putLineEnd() != kvSuccess))
    return kvFailure;
  if (writeStatement(writer) != kvSuccess) return kvFailure;

  unsigned char chunk[chunkBytes];
  for (uint16_t i = 0; i < sections_.getCount(); ++i) {
    const auto* section = static_cast<const SectionInfo*>(sections_.getAt(i));
    if (section->deleted) continue;
    if (writer.put(kvU("["), 1) != kvSuccess || writer.put(section->name) != kvSuccess ||
        writer.put(kvU("]"), 1) != kvSuccess || writer.putLineEnd() != kvSuccess)
      return kvFailure;
    const uint32_t length = section->getLength();
    if (length == 0) {
      if (writer.putLineEnd() != kvSuccess) return kvFailure;
      continue;
    }
    for (uint32_t done = 0; done < length;) {
      const uint32_t part = length - done < chunkBytes ? length - done : chunkBytes;
      const KvStatus read = section->inStore ? store_.tmpRead(section->storeOffset + done, chunk, part)
                                             : readFileBytes(section->filePosition + done, part, chunk);
      if (read != kvSuccess || writer.put(chunk, part) != kvSuccess) return kvFailure;
      done += part;
    }
    if (writer.endLine() != kvSuccess) return kvFailure;
  }
  return writer.flush();
}

KvStatus KvQueryFile::writeTo(const unsigned char* path) {
  unsigned char tempName[bosPathBytes];
  int file = 0;
  if (bosReplaceOpen(path, tempName, &file) != kvSuccess) return kvFailure;
  Writer writer(file);
  if (writeQuery(writer) != kvSuccess) {
    bosReplaceAbort(file, tempName);
    return kvFailure;
  }
  KvError* before = KvErrorKeeper::getLastError();
  if (bosReplaceCommit(file, tempName, path) != kvSuccess) {
    // The new file is gone and the old one untouched; say so in the
    // system's terms rather than the rename's.
    if (KvErrorKeeper::getLastError() != before) KvErrorKeeper::clearLastError();
    addResourceError(kvMsgNoNeededAccess) << path;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvQueryFile::setWriteFileName(const unsigned char* path) {
  if (!path || !*path) {
    ramFree(writePath_);
    writePath_ = nullptr;
    return kvSuccess;
  }
  return copyPath(&writePath_, path);
}

KvStatus KvQueryFile::save() {
  const unsigned char* target = writePath_ ? writePath_ : fullPath_;
  if (!target) return invalidParameter();
  // openFile forgets the paths held here.
  unsigned char written[bosPathBytes];
  std::memcpy(written, target, kvTextLength(target) + 1);
  if (writeTo(written) != kvSuccess) return kvFailure;
  return openFile(written);
}

KvStatus KvQueryFile::saveAndClose() {
  if (save() != kvSuccess) return kvFailure;
  return closeFile();
}

KvStatus KvQueryFile::saveAs(const unsigned char* path) {
  unsigned char written[bosPathBytes];
  if (absolutePath(path, written) != kvSuccess || writeTo(written) != kvSuccess) return kvFailure;
  return openFile(written);
}
