// INI files: reader, editor, writers' lock and the Windows private-profile
// calls; see ini_file.h.
#include "util/profiles/ini_file.h"

#include "util/charsets/charset.h"
#include "util/error_mark.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

#include <cstring>

namespace {

enum LineKind : int { lineBlank, lineComment, lineHeader, lineEntry, lineBareKey };

// A writer that finds the file locked tries again after a pause; after about
// ten seconds it gives up with 1512.
constexpr uint16_t lockPauseMs = 10;
constexpr uint32_t lockAttempts = 1000;
// The byte every writer locks. Readers lock nothing.
constexpr uint32_t lockOffset = 0;
constexpr uint32_t lockLength = 1;

uint32_t skipSpace(const unsigned char* text, uint32_t from, uint32_t end) {
  while (from < end && kvCharIsSpace(text[from])) ++from;
  return from;
}

uint32_t trimEnd(const unsigned char* text, uint32_t from, uint32_t end) {
  while (end > from && kvCharIsSpace(text[end - 1])) --end;
  return end;
}

// The first c at or after from, stepping over DBCS pairs (a trail byte may
// equal "]" or "="); end when there is none.
uint32_t findChar(const unsigned char* text, uint32_t from, uint32_t end, unsigned char c) {
  while (from < end) {
    if (text[from] == c) return from;
    from += kvCharBytes(text + from, text + end);
  }
  return end;
}

// A zero-terminated name as the file compares it: trimmed of white space.
void trimmedName(const unsigned char* name, const unsigned char** start, uint32_t* length) {
  uint32_t total = kvTextLength(name);
  uint32_t first = skipSpace(name, 0, total);
  *start = name + first;
  *length = trimEnd(name, first, total) - first;
}

int containsChar(const unsigned char* text, unsigned char c) {
  uint32_t length = kvTextLength(text);
  return findChar(text, 0, length, c) < length;
}

uint32_t nameHash(const unsigned char* name, uint32_t length) {
  uint32_t hash = 2166136261u;
  for (uint32_t i = 0; i < length; ++i) hash = (hash ^ kvToUpper(name[i])) * 16777619u;
  return hash;
}

// A growable byte buffer from the sub-allocator.
class ByteBuilder {
 public:
  ~ByteBuilder() { ramFree(bytes_); }
  // Appends bytes. A failure sticks: later adds do nothing, and the owner
  // checks hasFailed once after the last add.
  void add(const void* bytes, uint32_t length) {
    if (failed_) return;
    uint64_t needed = uint64_t(length_) + length;
    if (needed > kvIniMaxFileBytes) {
      failed_ = 1;
      addResourceError(kvMsgFileInputOutput);
      return;
    }
    if (needed > capacity_) {
      uint32_t grown = capacity_ ? capacity_ : 64;
      while (grown < needed) grown *= 2;
      if (ramResize(&bytes_, grown) != kvSuccess) {
        failed_ = 1;
        return;
      }
      capacity_ = grown;
    }
    if (length) std::memcpy(bytes_ + length_, bytes, length);
    length_ += length;
  }
  void add(const char* text) { add(text, uint32_t(std::strlen(text))); }
  int hasFailed() const { return failed_; }
  const unsigned char* getBytes() const { return bytes_; }
  uint32_t getLength() const { return length_; }
  unsigned char* release() {
    unsigned char* bytes = bytes_;
    bytes_ = nullptr;
    length_ = capacity_ = 0;
    return bytes;
  }

 private:
  unsigned char* bytes_ = nullptr;
  uint32_t length_ = 0;
  uint32_t capacity_ = 0;
  int failed_ = 0;
};

// What goes before a section appended at the end: the end of an unfinished
// last line, then one blank line unless the text already ends with one.
void addSectionSeparator(ByteBuilder* out, const unsigned char* text, uint32_t length,
                         const char* end) {
  if (length == 0) return;
  if (text[length - 1] != '\n') {
    out->add(end);
    out->add(end);
    return;
  }
  uint32_t lastLineStart = length - 1;
  while (lastLineStart > 0 && text[lastLineStart - 1] != '\n') --lastLineStart;
  if (skipSpace(text, lastLineStart, length) < length) out->add(end);
}

// Creates path as an empty file unless a file of that name exists (in any
// case), without ever truncating one: the empty file is made under a unique
// name and renamed to path only when path is still free.
KvStatus createEmptyFile(const unsigned char* path) {
  KvErrorMark mark;
  unsigned char tempName[bosPathBytes];
  int file = 0;
  if (bosReplaceOpen(path, tempName, &file) != kvSuccess) return kvFailure;
  if (bosFileClose(file) != kvSuccess) {
    kvIgnoreStatus(bosFileDelete(tempName));  // clean-up; the close failed first
    return kvFailure;
  }
  if (bosrname(tempName, path) != kvSuccess) {
    kvIgnoreStatus(bosFileDelete(tempName));  // clean-up; the rename's error may be dropped below
    if (!bosexist(path)) return kvFailure;
    mark.dropNew();  // another writer made it first
  }
  return kvSuccess;
}

// Reads all of an open file into a new block (zero-terminated for the
// reader's convenience); tooLarge is set for a file over the limit.
KvStatus readWholeFile(int file, unsigned char** bytes, uint32_t* length, int* tooLarge) {
  *tooLarge = 0;
  uint32_t size = bosFileSeek(file, 0, 2);
  if (size == 0xFFFFFFFFu) return kvFailure;
  if (size > kvIniMaxFileBytes) {
    *tooLarge = 1;
    addResourceError(kvMsgFileInputOutput);
    return kvFailure;
  }
  auto* block = static_cast<unsigned char*>(ramAlloc(size + 1));
  if (!block) return kvFailure;
  uint32_t got = 0;
  if (bosFileRead(file, 0, block, size, &got) != kvSuccess) {
    ramFree(block);
    return kvFailure;
  }
  block[got] = 0;
  *bytes = block;
  *length = got;
  return kvSuccess;
}

KvStatus copyPath(unsigned char* out, const unsigned char* path) {
  uint32_t length = kvTextLength(path);
  if (length >= bosPathBytes) {
    addResourceError(kvMsgFileNameTooLong) << path;
    return kvFailure;
  }
  std::memcpy(out, path, length + 1);
  return kvSuccess;
}

}  // namespace

// ---------------------------------------------------------------- helpers

uint32_t kvIniCopyText(unsigned char* buffer, uint32_t size, const unsigned char* text, uint32_t length) {
  if (!buffer || size == 0) return 0;
  uint32_t limit = size - 1;
  uint32_t copied = length < limit ? length : limit;
  if (kvIsDbcsCodePage() && copied < length) {
    // Never end on the lead byte of a pair whose trail byte was cut off.
    uint32_t whole = 0;
    while (whole < copied) {
      uint32_t step = kvCharBytes(text + whole, text + length);
      if (whole + step > copied) break;
      whole += step;
    }
    copied = whole;
  }
  if (copied) std::memcpy(buffer, text, copied);
  buffer[copied] = 0;
  return copied;
}

KvStatus kvIniCheckWrite(KvIniStyle style, const unsigned char* section, const unsigned char* key,
                         const unsigned char* value) {
  auto refuse = [] {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  };
  auto hasLineBreak = [](const unsigned char* text) {
    return text && (std::strchr(kvC(text), '\n') || std::strchr(kvC(text), '\r'));
  };
  if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) return refuse();
  if (section && containsChar(section, ']')) return refuse();
  if (key) {
    const unsigned char* name;
    uint32_t length;
    trimmedName(key, &name, &length);
    if (length == 0 || containsChar(key, '=') || name[0] == ';' || name[0] == '[' ||
        (style == kvIniOdbc && name[0] == '#'))
      return refuse();
  }
  return kvSuccess;
}

KvStatus kvIniConfigDirectory(unsigned char* path, int create) {
  unsigned char* base = nullptr;
  const char* tail = "/kestrane";
  if (bosGetEnv(kvU("XDG_CONFIG_HOME"), &base) != kvSuccess) return kvFailure;
  // The XDG rule: a relative XDG_CONFIG_HOME is ignored.
  if (base && base[0] != '/') {
    ramFree(base);
    base = nullptr;
  }
  if (!base) {
    if (bosGetEnv(kvU("HOME"), &base) != kvSuccess) return kvFailure;
    tail = "/.config/kestrane";
  }
  if (!base) {
    addResourceError(kvMsgPathNotFound) << kvU("~/.config/kestrane");
    return kvFailure;
  }
  uint32_t baseLength = kvTextLength(base);
  while (baseLength > 1 && base[baseLength - 1] == '/') --baseLength;
  uint32_t tailLength = uint32_t(std::strlen(tail));
  if (uint64_t(baseLength) + tailLength >= bosPathBytes) {
    addResourceError(kvMsgFileNameTooLong) << base;
    ramFree(base);
    return kvFailure;
  }
  std::memcpy(path, base, baseLength);
  std::memcpy(path + baseLength, tail, tailLength + 1);
  ramFree(base);
  return create ? bosMakeDirectory(path, 0700) : kvSuccess;
}

KvStatus kvIniPrivatePath(const unsigned char* iniName, unsigned char* path, int create) {
  // As Windows: no name is WIN.INI.
  if (!iniName || !*iniName) iniName = kvU("win.ini");
  uint32_t length = kvTextLength(iniName);
  if (iniName[length - 1] == '/' || iniName[length - 1] == '\\') {
    addResourceError(kvMsgCannotOpenFile) << iniName;
    return kvFailure;
  }
  if (std::strpbrk(kvC(iniName), "/\\")) {
    if (copyPath(path, iniName) != kvSuccess) return kvFailure;
    for (unsigned char* p = path; *p; ++p)
      if (*p == '\\') *p = '/';
    return kvSuccess;
  }
  unsigned char directory[bosPathBytes];
  if (kvIniConfigDirectory(directory, create) != kvSuccess) return kvFailure;
  return bosJoinPath(path, directory, iniName);
}

// ---------------------------------------------------------------- KvIniList

KvIniList::KvIniList(int valued) : valued_(valued) {}

KvIniList::~KvIniList() {
  ramFree(bytes_);
  ramFree(slots_);
  ramFree(hashes_);
}

int KvIniList::isListed(const unsigned char* name, uint32_t nameLength, uint32_t hash) const {
  if (slotCount_ == 0) return 0;
  uint32_t mask = slotCount_ - 1;
  for (uint32_t i = hash & mask; slots_[i]; i = (i + 1) & mask) {
    if (hashes_[i] != hash) continue;
    const unsigned char* item = bytes_ + slots_[i] - 1;
    uint32_t itemLength = kvTextLength(item);
    if (valued_) itemLength = findChar(item, 0, itemLength, '=');
    if (strEqualCi(item, itemLength, name, nameLength)) return 1;
  }
  return 0;
}

KvStatus KvIniList::remember(uint32_t offset, uint32_t hash) {
  if (uint64_t(count_ + 1) * 2 > slotCount_) {
    uint32_t grown = slotCount_ ? slotCount_ * 2 : 16;
    auto* slots = static_cast<uint32_t*>(ramAllocZ(grown * sizeof(uint32_t)));
    auto* hashes = static_cast<uint32_t*>(ramAlloc(grown * sizeof(uint32_t)));
    if (!slots || !hashes) {
      ramFree(slots);
      ramFree(hashes);
      return kvFailure;
    }
    for (uint32_t i = 0; i < slotCount_; ++i) {
      if (!slots_[i]) continue;
      uint32_t j = hashes_[i] & (grown - 1);
      while (slots[j]) j = (j + 1) & (grown - 1);
      slots[j] = slots_[i];
      hashes[j] = hashes_[i];
    }
    ramFree(slots_);
    ramFree(hashes_);
    slots_ = slots;
    hashes_ = hashes;
    slotCount_ = grown;
  }
  uint32_t j = hash & (slotCount_ - 1);
  while (slots_[j]) j = (j + 1) & (slotCount_ - 1);
  slots_[j] = offset + 1;
  hashes_[j] = hash;
  return kvSuccess;
}

KvStatus KvIniList::add(const unsigned char* name, uint32_t nameLength, const unsigned char* value,
                        uint32_t valueLength) {
  if (nameLength == 0 || std::memchr(name, 0, nameLength)) return kvSuccess;
  if (valued_ && std::memchr(value, 0, valueLength)) return kvSuccess;
  uint32_t hash = nameHash(name, nameLength);
  if (isListed(name, nameLength, hash)) return kvSuccess;
  uint64_t itemBytes = uint64_t(nameLength) + (valued_ ? 1 + uint64_t(valueLength) : 0) + 1;
  uint64_t needed = length_ + itemBytes + 1;
  if (needed > 2ull * kvIniMaxFileBytes) {
    addResourceError(kvMsgFileInputOutput);
    return kvFailure;
  }
  if (needed > capacity_) {
    uint32_t grown = capacity_ ? capacity_ : 256;
    while (grown < needed) grown *= 2;
    if (ramResize(&bytes_, grown) != kvSuccess) return kvFailure;
    capacity_ = grown;
  }
  uint32_t offset = length_;
  if (remember(offset, hash) != kvSuccess) return kvFailure;
  unsigned char* out = bytes_ + offset;
  std::memcpy(out, name, nameLength);
  out += nameLength;
  if (valued_) {
    *out++ = '=';
    if (valueLength) std::memcpy(out, value, valueLength);
    out += valueLength;
  }
  *out = 0;
  length_ += uint32_t(itemBytes);
  ++count_;
  return kvSuccess;
}

uint32_t KvIniList::copyWholeItems(unsigned char* buffer, uint32_t size) const {
  if (!buffer || size == 0) return 0;
  if (uint64_t(length_) + 1 <= size) {
    if (length_) std::memcpy(buffer, bytes_, length_);
    buffer[length_] = 0;
    return length_ + 1;
  }
  uint32_t used = 0;
  while (used < length_) {
    uint32_t itemBytes = kvTextLength(bytes_ + used) + 1;
    if (uint64_t(used) + itemBytes + 1 > size) break;
    used += itemBytes;
  }
  if (used) std::memcpy(buffer, bytes_, used);
  std::memset(buffer + used, 0, size - used);
  return size;
}

uint32_t KvIniList::copyCutItems(unsigned char* buffer, uint32_t size) const {
  if (!buffer || size == 0) return 0;
  if (uint64_t(length_) + 1 <= size) {
    if (length_) std::memcpy(buffer, bytes_, length_);
    buffer[length_] = 0;
    if (length_ == 0 && size > 1) buffer[1] = 0;
    return length_;
  }
  if (size < 2) {
    buffer[0] = 0;
    return 0;
  }
  std::memcpy(buffer, bytes_, size - 2);
  buffer[size - 2] = 0;
  buffer[size - 1] = 0;
  return size - 2;
}

// ---------------------------------------------------------------- KvIniText

// Zeroed when made: a line that a search fills only when it finds one is
// never read unset, and the compiler need not prove it.
struct KvIniText::Line {
  uint32_t start = 0;       // first byte of the line
  uint32_t contentEnd = 0;  // behind its content, before CR LF or LF
  uint32_t next = 0;        // first byte of the next line (the text's length at the end)
  int kind = 0;
  uint32_t nameStart = 0;   // header name or key, trimmed
  uint32_t nameLength = 0;
  uint32_t valueStart = 0;  // entry value, trimmed; the content end when empty
  uint32_t valueLength = 0;
};

KvIniText::KvIniText(KvIniStyle style) : style_(style) {}

KvIniText::~KvIniText() { ramFree(bytes_); }

KvStatus KvIniText::load(const unsigned char* path, int* exists) {
  *exists = 0;
  ramFree(bytes_);
  bytes_ = nullptr;
  length_ = 0;
  modified_ = 0;
  if (!path || !bosexist(path)) return kvSuccess;
  KvErrorMark mark;
  unsigned char name[bosPathBytes];
  int file = 0;
  if (copyPath(name, path) != kvSuccess || bosFileOpen(name, 0, &file) != kvSuccess) {
    mark.dropNew();
    return kvSuccess;
  }
  int tooLarge = 0;
  KvStatus status = readWholeFile(file, &bytes_, &length_, &tooLarge);
  int memoryShort = status != kvSuccess && !tooLarge && mark.newestNumber() == kvMsgOutOfMemory;
  // The file was only read: a failing close changes nothing that was read,
  // and its error goes with the reading errors.
  kvIgnoreStatus(bosFileClose(file));
  mark.dropNew();
  if (status != kvSuccess) return memoryShort ? kvFailure : kvSuccess;
  *exists = 1;
  return kvSuccess;
}

KvStatus KvIniText::readFile(int file) {
  ramFree(bytes_);
  bytes_ = nullptr;
  length_ = 0;
  modified_ = 0;
  int tooLarge = 0;
  return readWholeFile(file, &bytes_, &length_, &tooLarge);
}

KvStatus KvIniText::save(const unsigned char* path) const {
  unsigned char tempName[bosPathBytes];
  int file = 0;
  if (bosReplaceOpen(path, tempName, &file) != kvSuccess) return kvFailure;
  if (bosFileWrite(file, 0, bytes_, length_) != kvSuccess) {
    bosReplaceAbort(file, tempName);
    return kvFailure;
  }
  return bosReplaceCommit(file, tempName, path);
}

int KvIniText::parseLine(uint32_t offset, Line* line) const {
  if (offset >= length_) return 0;
  const unsigned char* text = bytes_;
  auto* lineFeed = static_cast<const unsigned char*>(std::memchr(text + offset, '\n', length_ - offset));
  uint32_t end = lineFeed ? uint32_t(lineFeed - text) : length_;
  line->start = offset;
  line->next = lineFeed ? end + 1 : length_;
  if (end > offset && text[end - 1] == '\r') --end;
  line->contentEnd = end;
  line->nameStart = line->nameLength = line->valueLength = 0;
  line->valueStart = end;

  uint32_t first = skipSpace(text, offset, end);
  if (first == end) {
    line->kind = lineBlank;
    return 1;
  }
  if (text[first] == ';' || (text[first] == '#' && style_ == kvIniOdbc)) {
    line->kind = lineComment;
    return 1;
  }
  if (text[first] == '[') {
    uint32_t close = findChar(text, first + 1, end, ']');
    uint32_t nameStart = skipSpace(text, first + 1, close);
    line->kind = lineHeader;
    line->nameStart = nameStart;
    line->nameLength = trimEnd(text, nameStart, close) - nameStart;
    return 1;
  }
  uint32_t equals = findChar(text, first, end, '=');
  line->nameStart = first;
  line->nameLength = trimEnd(text, first, equals) - first;
  if (equals == end) {
    line->kind = lineBareKey;
    return 1;
  }
  line->kind = lineEntry;
  uint32_t valueStart = skipSpace(text, equals + 1, end);
  line->valueStart = valueStart;
  line->valueLength = trimEnd(text, valueStart, end) - valueStart;
  return 1;
}

int KvIniText::findSection(const unsigned char* name, uint32_t nameLength, uint32_t from, Line* header,
                           uint32_t* bodyEnd) const {
  Line line;
  int found = 0;
  for (uint32_t offset = from; parseLine(offset, &line); offset = line.next) {
    if (line.kind != lineHeader) continue;
    if (found) {
      *bodyEnd = line.start;
      return 1;
    }
    if (strEqualCi(bytes_ + line.nameStart, line.nameLength, name, nameLength)) {
      *header = line;
      found = 1;
    }
  }
  if (found) *bodyEnd = length_;
  return found;
}

int KvIniText::findEntry(uint32_t bodyStart, uint32_t bodyEnd, const unsigned char* key, uint32_t keyLength,
                         Line* entry) const {
  for (uint32_t offset = bodyStart; offset < bodyEnd && parseLine(offset, entry); offset = entry->next) {
    if ((entry->kind == lineEntry || entry->kind == lineBareKey) &&
        strEqualCi(bytes_ + entry->nameStart, entry->nameLength, key, keyLength))
      return 1;
  }
  return 0;
}

void KvIniText::valueOf(const Line& entry, const unsigned char** value, uint32_t* valueLength) const {
  const unsigned char* start = bytes_ + entry.valueStart;
  uint32_t length = entry.valueLength;
  if (style_ == kvIniWindows && length >= 2 && (start[0] == '"' || start[0] == '\'') &&
      start[length - 1] == start[0]) {
    ++start;
    length -= 2;
  }
  *value = start;
  *valueLength = length;
}

const char* KvIniText::lineEnd() const {
  const void* lineFeed = bytes_ ? std::memchr(bytes_, '\n', length_) : nullptr;
  if (!lineFeed) return "\n";
  const unsigned char* at = static_cast<const unsigned char*>(lineFeed);
  return at > bytes_ && at[-1] == '\r' ? "\r\n" : "\n";
}

int KvIniText::hasSection(const unsigned char* section) const {
  const unsigned char* name;
  uint32_t nameLength;
  trimmedName(section, &name, &nameLength);
  Line header;
  uint32_t bodyEnd;
  return findSection(name, nameLength, 0, &header, &bodyEnd);
}

KvStatus KvIniText::listSections(KvIniList* list) const {
  Line line;
  for (uint32_t offset = 0; parseLine(offset, &line); offset = line.next) {
    if (line.kind == lineHeader && list->add(bytes_ + line.nameStart, line.nameLength, nullptr, 0) != kvSuccess)
      return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvIniText::listEntries(const unsigned char* section, uint32_t maxValueBytes, KvIniList* list,
                                int* found) const {
  const unsigned char* name;
  uint32_t nameLength;
  trimmedName(section, &name, &nameLength);
  Line header;
  uint32_t bodyEnd;
  *found = findSection(name, nameLength, 0, &header, &bodyEnd);
  if (!*found) return kvSuccess;
  Line line;
  for (uint32_t offset = header.next; offset < bodyEnd && parseLine(offset, &line); offset = line.next) {
    KvStatus status = kvSuccess;
    if (list->isValued()) {
      if (line.kind != lineEntry) continue;
      const unsigned char* value;
      uint32_t valueLength;
      valueOf(line, &value, &valueLength);
      if (valueLength > maxValueBytes) continue;
      status = list->add(bytes_ + line.nameStart, line.nameLength, value, valueLength);
    } else if (line.kind == lineEntry || line.kind == lineBareKey) {
      status = list->add(bytes_ + line.nameStart, line.nameLength, nullptr, 0);
    }
    if (status != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

int KvIniText::findValue(const unsigned char* section, const unsigned char* key, const unsigned char** value,
                         uint32_t* valueLength) const {
  const unsigned char* name;
  uint32_t nameLength;
  const unsigned char* keyName;
  uint32_t keyLength;
  trimmedName(section, &name, &nameLength);
  trimmedName(key, &keyName, &keyLength);
  Line header, entry;
  uint32_t bodyEnd;
  if (!findSection(name, nameLength, 0, &header, &bodyEnd) ||
      !findEntry(header.next, bodyEnd, keyName, keyLength, &entry) || entry.kind != lineEntry)
    return 0;
  valueOf(entry, value, valueLength);
  return 1;
}

KvStatus KvIniText::splice(uint32_t from, uint32_t to, const unsigned char* insert, uint32_t insertLength) {
  uint64_t newLength = uint64_t(length_) - (to - from) + insertLength;
  if (newLength > kvIniMaxFileBytes) {
    addResourceError(kvMsgFileInputOutput);
    return kvFailure;
  }
  if (newLength > length_ && ramResize(&bytes_, uint32_t(newLength) + 1) != kvSuccess) return kvFailure;
  if (length_ > to) std::memmove(bytes_ + from + insertLength, bytes_ + to, length_ - to);
  if (insertLength) std::memcpy(bytes_ + from, insert, insertLength);
  length_ = uint32_t(newLength);
  if (bytes_) bytes_[length_] = 0;
  modified_ = 1;
  return kvSuccess;
}

KvStatus KvIniText::buildEntry(unsigned char** out, uint32_t* outLength, const unsigned char* key,
                               uint32_t keyLength, const unsigned char* value, uint32_t valueLength,
                               int leadingEnd) const {
  ByteBuilder line;
  const char* end = lineEnd();
  if (leadingEnd) line.add(end);
  line.add(key, keyLength);
  line.add(style_ == kvIniOdbc ? " = " : "=");
  line.add(value, valueLength);
  if (!leadingEnd) line.add(end);
  if (line.hasFailed()) return kvFailure;
  *outLength = line.getLength();
  *out = line.release();
  return kvSuccess;
}

KvStatus KvIniText::setEntry(const unsigned char* section, const unsigned char* key,
                             const unsigned char* value) {
  const unsigned char* name;
  uint32_t nameLength;
  const unsigned char* keyName;
  uint32_t keyLength;
  trimmedName(section, &name, &nameLength);
  trimmedName(key, &keyName, &keyLength);
  uint32_t valueLength = kvTextLength(value);
  Line header, entry;
  uint32_t bodyEnd;

  if (!findSection(name, nameLength, 0, &header, &bodyEnd)) {
    ByteBuilder out;
    const char* end = lineEnd();
    addSectionSeparator(&out, bytes_, length_, end);
    out.add("[");
    out.add(name, nameLength);
    out.add("]");
    out.add(end);
    out.add(keyName, keyLength);
    out.add(style_ == kvIniOdbc ? " = " : "=");
    out.add(value, valueLength);
    out.add(end);
    if (out.hasFailed()) return kvFailure;
    return splice(length_, length_, out.getBytes(), out.getLength());
  }

  if (findEntry(header.next, bodyEnd, keyName, keyLength, &entry)) {
    if (entry.kind == lineEntry) {
      // The key, "=" and the blanks after it stay as the file has them.
      uint32_t oldLength = entry.contentEnd - entry.valueStart;
      if (oldLength == valueLength && std::memcmp(bytes_ + entry.valueStart, value, valueLength) == 0)
        return kvSuccess;
      return splice(entry.valueStart, entry.contentEnd, value, valueLength);
    }
    ByteBuilder out;
    out.add(style_ == kvIniOdbc ? " = " : "=");
    out.add(value, valueLength);
    if (out.hasFailed()) return kvFailure;
    uint32_t keyEnd = entry.nameStart + entry.nameLength;
    return splice(keyEnd, entry.contentEnd, out.getBytes(), out.getLength());
  }

  // A new key goes behind the section's last key, so that comments and
  // blank lines before the next header stay with that header.
  uint32_t insertAt = header.next;
  int lineIsOpen = header.next == header.contentEnd;
  Line line;
  for (uint32_t offset = header.next; offset < bodyEnd && parseLine(offset, &line); offset = line.next) {
    if (line.kind == lineEntry || line.kind == lineBareKey) {
      insertAt = line.next;
      lineIsOpen = line.next == line.contentEnd;
    }
  }
  unsigned char* insert = nullptr;
  uint32_t insertLength = 0;
  if (buildEntry(&insert, &insertLength, keyName, keyLength, value, valueLength, lineIsOpen) != kvSuccess)
    return kvFailure;
  KvStatus status = splice(insertAt, insertAt, insert, insertLength);
  ramFree(insert);
  return status;
}

KvStatus KvIniText::deleteEntry(const unsigned char* section, const unsigned char* key) {
  const unsigned char* name;
  uint32_t nameLength;
  const unsigned char* keyName;
  uint32_t keyLength;
  trimmedName(section, &name, &nameLength);
  trimmedName(key, &keyName, &keyLength);
  Line header, entry;
  uint32_t bodyEnd;
  if (!findSection(name, nameLength, 0, &header, &bodyEnd)) return kvSuccess;
  uint32_t from = header.next;
  while (findEntry(from, bodyEnd, keyName, keyLength, &entry)) {
    uint32_t removed = entry.next - entry.start;
    if (splice(entry.start, entry.next, nullptr, 0) != kvSuccess) return kvFailure;
    bodyEnd -= removed;
    from = entry.start;
  }
  return kvSuccess;
}

KvStatus KvIniText::deleteSection(const unsigned char* section) {
  const unsigned char* name;
  uint32_t nameLength;
  trimmedName(section, &name, &nameLength);
  Line header;
  uint32_t bodyEnd;
  uint32_t from = 0;
  while (findSection(name, nameLength, from, &header, &bodyEnd)) {
    if (splice(header.start, bodyEnd, nullptr, 0) != kvSuccess) return kvFailure;
    from = header.start;
  }
  return kvSuccess;
}

KvStatus KvIniText::appendSectionOf(const KvIniText& other, const unsigned char* section) {
  const unsigned char* name;
  uint32_t nameLength;
  trimmedName(section, &name, &nameLength);
  Line header;
  uint32_t bodyEnd;
  if (!other.findSection(name, nameLength, 0, &header, &bodyEnd)) return kvSuccess;
  ByteBuilder out;
  const char* end = lineEnd();
  addSectionSeparator(&out, bytes_, length_, end);
  out.add("[");
  out.add(other.bytes_ + header.nameStart, header.nameLength);
  out.add("]");
  out.add(end);
  Line line;
  for (uint32_t offset = header.next; offset < bodyEnd && other.parseLine(offset, &line); offset = line.next) {
    if (line.kind != lineEntry && line.kind != lineBareKey) continue;
    out.add(other.bytes_ + line.nameStart, line.contentEnd - line.nameStart);
    out.add(end);
  }
  if (out.hasFailed()) return kvFailure;
  return splice(length_, length_, out.getBytes(), out.getLength());
}

// ---------------------------------------------------------------- KvIniUpdate

KvIniUpdate::KvIniUpdate(KvIniStyle style) : text_(style) { path_[0] = 0; }

KvIniUpdate::~KvIniUpdate() { end(); }

KvStatus KvIniUpdate::begin(const unsigned char* path, int create, int* exists) {
  *exists = 0;
  end();
  if (copyPath(path_, path) != kvSuccess) return kvFailure;
  for (uint32_t attempt = 0; attempt < lockAttempts; ++attempt) {
    if (!bosexist(path_)) {
      if (!create) return kvSuccess;
      if (createEmptyFile(path_) != kvSuccess) return kvFailure;
    }
    unsigned char name[bosPathBytes];
    std::strcpy(kvC(name), kvC(path_));
    int file = 0;
    if (bosFileOpen(name, bosOpenReadWrite, &file) != kvSuccess) return kvFailure;
    KvErrorMark mark;
    if (bosRegionLock(file, 0, lockOffset, lockLength) != kvSuccess) {
      int busy = mark.newestNumber() == kvMsgRegionLocked;
      kvIgnoreStatus(bosFileClose(file));  // clean-up; the lock failure decides
      if (!busy || attempt + 1 == lockAttempts) return kvFailure;
      mark.dropNew();
      bossleep(lockPauseMs);
      continue;
    }
    // A writer that waited for the lock may hold a file that the writer
    // before it has replaced meanwhile; its change must go into the new one.
    if (!bosIsSameFile(file, path_)) {
      if (bosFileClose(file) != kvSuccess) return kvFailure;
      continue;
    }
    file_ = file;
    *exists = 1;
    return text_.readFile(file);
  }
  addResourceError(kvMsgRegionLocked);
  return kvFailure;
}

KvStatus KvIniUpdate::commit() {
  if (!file_ || !text_.isModified()) return kvSuccess;
  return text_.save(path_);
}

void KvIniUpdate::end() {
  if (!file_) return;
  // Drops the lock. The file was only read (a change is saved to a new file
  // that replaces it), so a failing close loses nothing.
  kvIgnoreStatus(bosFileClose(file_));
  file_ = 0;
}

// ---------------------------------------------------------------- private-profile calls

uint32_t kvGetPrivateProfileString(const unsigned char* section, const unsigned char* key,
                                   const unsigned char* defaultValue, unsigned char* buffer,
                                   uint32_t size, const unsigned char* fileName) {
  if (!buffer || size == 0) return 0;
  KvIniText text(kvIniWindows);
  {
    KvErrorMark mark;
    unsigned char path[bosPathBytes];
    int exists = 0;
    // A file that cannot be read answers as an empty one, as the defaults.
    if (kvIniPrivatePath(fileName, path, 0) == kvSuccess) kvIgnoreStatus(text.load(path, &exists));
    mark.dropNew();
  }
  if (!section || !key) {
    KvIniList list(0);
    int found = 0;
    KvStatus listed = !section ? text.listSections(&list) : text.listEntries(section, 0xFFFFFFFFu, &list, &found);
    // A list cut short for want of memory would pass for the whole one.
    if (listed != kvSuccess) return KvIniList(0).copyCutItems(buffer, size);
    return list.copyCutItems(buffer, size);
  }
  const unsigned char* value;
  uint32_t valueLength;
  if (text.findValue(section, key, &value, &valueLength)) return kvIniCopyText(buffer, size, value, valueLength);
  if (!defaultValue) defaultValue = kvU("");
  uint32_t defaultLength = kvTextLength(defaultValue);
  while (defaultLength > 0 && defaultValue[defaultLength - 1] == ' ') --defaultLength;
  return kvIniCopyText(buffer, size, defaultValue, defaultLength);
}

KvStatus kvWritePrivateProfileString(const unsigned char* section, const unsigned char* key,
                                     const unsigned char* value, const unsigned char* fileName) {
  if (!section) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  if (kvIniCheckWrite(kvIniWindows, section, key, value) != kvSuccess) return kvFailure;
  int setting = key && value;
  unsigned char path[bosPathBytes];
  if (kvIniPrivatePath(fileName, path, setting) != kvSuccess) return kvFailure;
  KvIniUpdate update(kvIniWindows);
  int exists = 0;
  if (update.begin(path, setting, &exists) != kvSuccess) return kvFailure;
  if (!exists) return kvSuccess;
  KvIniText& text = update.text();
  KvStatus status = !key ? text.deleteSection(section)
                    : !value ? text.deleteEntry(section, key)
                             : text.setEntry(section, key, value);
  if (status != kvSuccess) return kvFailure;
  return update.commit();
}
