// FoxPro compact indexes: the leaf entry codec, compact nodes decoded and
// packed whole, tag headers, the tag directory and its tags, and the lock
// byte of compact files; see fox_cdx.h.
#include "drivers/dbase/index/fox/fox_cdx.h"

#include "base/handles/base_error_list.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/dbf_index_locks.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "util/byte_order.h"
#include "util/charsets/charset_oem.h"

#include <cstring>
#include <strings.h>

namespace {

enum : uint32_t {
  tagRootAt = 0,
  tagFreeAt = 4,
  tagCounterAt = 8,
  tagKeyLengthAt = 12,
  tagOptionsAt = 14,
  tagKeysAppendedAt = 16,
  tagDistinctAt = 20,
  tagOrderAt = 502,
  tagForOffsetAt = 504,
  tagForLengthAt = 506,
  tagKeyOffsetAt = 508,
  tagKeyLengthTextAt = 510,
  tagExpressionsAt = 512,
  tagFieldBytes = 16,
  leafFreeAt = 12,
  leafRecordMaskAt = 14,
  leafDuplicateMaskAt = 18,
  leafTrailingMaskAt = 19,
  leafRecordBitsAt = 20,
  leafDuplicateBitsAt = 21,
  leafTrailingBitsAt = 22,
  leafEntryBytesAt = 23,
  maxExpressionText = 255,
  directoryKeyLength = 10,
};

// Widths of an empty leaf by the highest set bit of the key length.
const FoxLeafWidths emptyLeafWidths[8] = {
    {14, 1, 1, 2}, {12, 2, 2, 2}, {18, 3, 3, 3}, {16, 4, 4, 3},
    {14, 5, 5, 3}, {12, 6, 6, 3}, {18, 7, 7, 4}, {16, 8, 8, 4},
};

FoxLeafWidths widthsOf(const uint8_t* page) {
  return FoxLeafWidths{page[leafRecordBitsAt], page[leafDuplicateBitsAt], page[leafTrailingBitsAt],
                       page[leafEntryBytesAt]};
}

void putWidths(uint8_t* page, const FoxLeafWidths& w) {
  kvPutU32LE(page + leafRecordMaskAt, foxMask(w.recordBits));
  page[leafDuplicateMaskAt] = uint8_t(foxMask(w.duplicateBits));
  page[leafTrailingMaskAt] = uint8_t(foxMask(w.trailingBits));
  page[leafRecordBitsAt] = w.recordBits;
  page[leafDuplicateBitsAt] = w.duplicateBits;
  page[leafTrailingBitsAt] = w.trailingBits;
  page[leafEntryBytesAt] = w.entryBytes;
}

// Whether the widths can be read at all: the counts fill the entry
// exactly, no entry is over 6 bytes, the counts fit their byte fields.
bool widthsValid(const FoxLeafWidths& w) {
  return w.entryBytes >= 2 && w.entryBytes <= foxMaxEntryBytes && w.duplicateBits >= 1 && w.duplicateBits <= 8 &&
         w.trailingBits >= 1 && w.trailingBits <= 8 &&
         uint32_t(w.recordBits) + w.duplicateBits + w.trailingBits == 8u * w.entryBytes;
}

// The expression texts of a new tag header: KEY at 0, FOR behind it.
KvStatus putExpressions(DbfIndexFile* file, uint8_t* header, const unsigned char* keyText,
                        const unsigned char* forText) {
  size_t keyBytes = keyText ? std::strlen(kvC(keyText)) : 0;
  size_t forBytes = forText ? std::strlen(kvC(forText)) : 0;
  if (keyBytes + forBytes > maxExpressionText) return file->invalid();
  std::memcpy(header + tagExpressionsAt, keyText ? keyText : kvU(""), keyBytes);
  kvPutU16LE(header + tagKeyOffsetAt, 0);
  kvPutU16LE(header + tagKeyLengthTextAt, uint16_t(keyBytes + 1));
  if (forBytes) std::memcpy(header + tagExpressionsAt + keyBytes + 1, forText, forBytes);
  kvPutU16LE(header + tagForOffsetAt, uint16_t(keyBytes + 1));
  kvPutU16LE(header + tagForLengthAt, uint16_t(forBytes + 1));
  return kvSuccess;
}

void newTagHeader(uint8_t* header, uint16_t keyLength, uint8_t options, bool descending) {
  std::memset(header, 0, foxTagHeaderBytes);
  kvPutU16LE(header + tagKeyLengthAt, keyLength);
  header[tagOptionsAt] = options;
  header[15] = 1;
  kvPutU16LE(header + tagOrderAt, descending ? 1 : 0);
}

}  // namespace

// ---------------------------------------------------------------- the codec

FoxLeafWidths foxLeafWidthsFor(uint16_t keyLength) {
  uint32_t row = 0;
  for (uint32_t bit = 7; bit >= 1; --bit)
    if (keyLength & (1u << bit)) {
      row = bit;
      break;
    }
  if (keyLength >= 128) row = 7;
  return emptyLeafWidths[row];
}

uint32_t foxMask(uint32_t bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u; }

void foxEncodeEntry(uint8_t* entry, const FoxLeafWidths& w, uint32_t record, uint32_t trailing, uint32_t duplicate) {
  uint64_t value = uint64_t(record & foxMask(w.recordBits)) |
                   (uint64_t(duplicate & foxMask(w.duplicateBits)) << w.recordBits) |
                   (uint64_t(trailing & foxMask(w.trailingBits)) << (w.recordBits + w.duplicateBits));
  for (uint32_t b = 0; b < w.entryBytes; ++b) entry[b] = uint8_t(value >> (8 * b));
}

uint32_t foxDecodeEntry(const uint8_t* entry, const FoxLeafWidths& w, uint32_t* trailing, uint32_t* duplicate) {
  // Only the entry's own L bytes are read: the last entry of a full leaf
  // ends at the node's end.
  uint64_t value = 0;
  for (uint32_t b = 0; b < w.entryBytes; ++b) value |= uint64_t(entry[b]) << (8 * b);
  *duplicate = uint32_t(value >> w.recordBits) & foxMask(w.duplicateBits);
  *trailing = uint32_t(value >> (w.recordBits + w.duplicateBits)) & foxMask(w.trailingBits);
  uint64_t recordMask = w.recordBits >= 64 ? ~uint64_t(0) : (uint64_t(1) << w.recordBits) - 1;
  uint64_t record = value & recordMask;
  return record > 0xFFFFFFFFu ? 0 : uint32_t(record);
}

uint32_t foxExtraRecordBytes(uint32_t record, uint8_t recordBits) {
  uint32_t bits = 0;
  while (bits < 32 && (record >> bits)) ++bits;
  return bits <= uint32_t(recordBits) + 8 ? 1 : 2;
}

// ---------------------------------------------------------------- levels

FoxTreeInfo::~FoxTreeInfo() {
  ramFree(keys);
  ramFree(records);
}

FoxCdxDesc::FoxCdxDesc(DbfSharedDesc* table) : FoxIdxDesc(table) {}
FoxCdxDesc::~FoxCdxDesc() = default;

TreeInfo* FoxCdxDesc::newLevel() {
  auto* level = new FoxTreeInfo;
  if (!level) return nullptr;
  level->page = static_cast<unsigned char*>(ramAlloc(getBufferBytes()));
  level->keys = static_cast<uint8_t*>(ramAlloc(uint32_t(foxLeafMaxEntries + 1) * (keyLength_ ? keyLength_ : 1u)));
  level->records = static_cast<uint32_t*>(ramAlloc(uint32_t(foxLeafMaxEntries + 1) * sizeof(uint32_t)));
  if (!level->page || !level->keys || !level->records) {
    delete level;
    return nullptr;
  }
  return level;
}

uint32_t FoxCdxDesc::trailingCount(const uint8_t* key) const {
  uint32_t t = 0;
  uint8_t pad = padByte();
  while (t < keyLength_ && key[keyLength_ - 1 - t] == pad) ++t;
  return t;
}

uint32_t FoxCdxDesc::commonPrefix(const uint8_t* key, const uint8_t* previous, uint32_t limit) const {
  if (trailingCount(previous) == keyLength_) return 0;
  uint32_t d = 0;
  while (d < limit && key[d] == previous[d]) ++d;
  return d;
}

uint32_t FoxCdxDesc::packedBytes(const uint8_t* const* keys, uint32_t count, uint32_t entryBytes) const {
  uint32_t total = count * entryBytes;
  for (uint32_t j = 0; j < count; ++j) {
    uint32_t n = keyLength_ - trailingCount(keys[j]);
    total += n - (j && n ? commonPrefix(keys[j], keys[j - 1], n) : 0);
  }
  return total;
}

KvStatus FoxCdxDesc::decodeLeaf(FoxTreeInfo* level) {
  const uint8_t* page = level->page;
  FoxLeafWidths w = widthsOf(page);
  uint32_t count = nodeCount(level);
  uint32_t freeSpace = kvGetU16LE(page + leafFreeAt);
  if (!widthsValid(w) || count > foxLeafMaxEntries || count * w.entryBytes > foxLeafAreaBytes ||
      freeSpace > foxLeafAreaBytes)
    return file_->invalid();
  uint32_t entriesEnd = foxLeafAreaAt + count * w.entryBytes;
  uint32_t at = foxNodeBytes;  // the stored bytes of the entries so far begin here
  for (uint32_t j = 0; j < count; ++j) {
    uint32_t trailing = 0, duplicate = 0;
    uint32_t record = foxDecodeEntry(page + foxLeafAreaAt + j * w.entryBytes, w, &trailing, &duplicate);
    if (duplicate + trailing > keyLength_ || (j == 0 && duplicate)) return file_->invalid();
    uint32_t stored = keyLength_ - duplicate - trailing;
    if (at < entriesEnd + stored) return file_->invalid();
    at -= stored;
    uint8_t* key = level->keys + size_t(j) * keyLength_;
    if (duplicate) std::memcpy(key, key - keyLength_, duplicate);
    std::memcpy(key + duplicate, page + at, stored);
    std::memset(key + duplicate + stored, padByte(), trailing);
    level->records[j] = record;
  }
  if (entriesEnd + freeSpace > at) return file_->invalid();
  level->decodedCount = count;
  return kvSuccess;
}

bool FoxCdxDesc::encodeLeaf(FoxTreeInfo* level) {
  uint8_t* page = level->page;
  FoxLeafWidths w = widthsOf(page);
  uint32_t count = level->decodedCount;
  uint32_t largest = 0;
  for (uint32_t j = 0; j < count; ++j) largest = level->records[j] > largest ? level->records[j] : largest;
  while (largest > foxMask(w.recordBits)) {
    uint32_t extra = foxExtraRecordBytes(largest, w.recordBits);
    if (w.entryBytes + extra > foxMaxEntryBytes) return false;
    w.entryBytes = uint8_t(w.entryBytes + extra);
    w.recordBits = uint8_t(w.recordBits + 8 * extra);
  }
  const uint8_t* keys[foxLeafMaxEntries + 1] = {};
  if (count > foxLeafMaxEntries) return false;
  for (uint32_t j = 0; j < count; ++j) keys[j] = level->keys + size_t(j) * keyLength_;
  uint32_t used = packedBytes(keys, count, w.entryBytes);
  if (used > foxLeafAreaBytes) return false;
  std::memset(page + foxLeafAreaAt, 0, foxLeafAreaBytes);
  uint32_t at = foxNodeBytes;
  for (uint32_t j = 0; j < count; ++j) {
    uint32_t trailing = trailingCount(keys[j]);
    uint32_t n = keyLength_ - trailing;
    uint32_t duplicate = j && n ? commonPrefix(keys[j], keys[j - 1], n) : 0;
    uint32_t stored = n - duplicate;
    at -= stored;
    std::memcpy(page + at, keys[j] + duplicate, stored);
    foxEncodeEntry(page + foxLeafAreaAt + j * w.entryBytes, w, level->records[j], trailing, duplicate);
  }
  putWidths(page, w);
  kvPutU16LE(page + leafFreeAt, uint16_t(foxLeafAreaBytes - used));
  setNodeCount(level, uint16_t(count));
  return true;
}

KvStatus FoxCdxDesc::checkPage(const TreeInfo* constLevel) {
  auto* level = static_cast<FoxTreeInfo*>(const_cast<TreeInfo*>(constLevel));
  if (attributes(level) > (foxAttrRoot | foxAttrLeaf)) return file_->invalid();
  if (!nodeIsLeaf(level)) return nodeCount(level) > maxKeys_ ? file_->invalid() : kvSuccess;
  return decodeLeaf(level);
}

const uint8_t* FoxCdxDesc::entryKey(TreeInfo* level, uint32_t i) {
  if (!nodeIsLeaf(level)) return FoxIdxDesc::entryKey(level, i);
  return static_cast<FoxTreeInfo*>(level)->keys + size_t(i) * keyLength_;
}

uint32_t FoxCdxDesc::entryRecordNumber(TreeInfo* level, uint32_t i) {
  if (!nodeIsLeaf(level)) return FoxIdxDesc::entryRecordNumber(level, i);
  return static_cast<FoxTreeInfo*>(level)->records[i];
}

bool FoxCdxDesc::hasRoom(TreeInfo* base, uint32_t i, const uint8_t* key, uint32_t record) {
  if (!nodeIsLeaf(base)) return FoxIdxDesc::hasRoom(base, i, key, record);
  auto* level = static_cast<FoxTreeInfo*>(base);
  uint32_t count = level->decodedCount;
  if (count >= foxLeafMaxEntries || i > count) return false;
  FoxLeafWidths w = widthsOf(level->page);
  uint32_t largest = record;
  for (uint32_t j = 0; j < count; ++j) largest = level->records[j] > largest ? level->records[j] : largest;
  while (largest > foxMask(w.recordBits)) {
    uint32_t extra = foxExtraRecordBytes(largest, w.recordBits);
    if (w.entryBytes + extra > foxMaxEntryBytes) return false;
    w.entryBytes = uint8_t(w.entryBytes + extra);
    w.recordBits = uint8_t(w.recordBits + 8 * extra);
  }
  const uint8_t* keys[foxLeafMaxEntries + 1] = {};
  for (uint32_t j = 0, k = 0; j <= count; ++j) keys[j] = j == i ? key : level->keys + size_t(k++) * keyLength_;
  return packedBytes(keys, count + 1, w.entryBytes) <= foxLeafAreaBytes;
}

KvStatus FoxCdxDesc::insertEntry(TreeInfo* base, uint32_t i, const uint8_t* key, uint32_t record, uint32_t child) {
  if (!nodeIsLeaf(base)) return FoxIdxDesc::insertEntry(base, i, key, record, child);
  auto* level = static_cast<FoxTreeInfo*>(base);
  uint32_t count = level->decodedCount;
  if (count >= foxLeafMaxEntries || i > count) return file_->invalid();
  std::memmove(level->keys + size_t(i + 1) * keyLength_, level->keys + size_t(i) * keyLength_,
               size_t(count - i) * keyLength_);
  std::memmove(level->records + i + 1, level->records + i, size_t(count - i) * sizeof(uint32_t));
  std::memmove(level->keys + size_t(i) * keyLength_, key, keyLength_);
  level->records[i] = record;
  level->decodedCount = count + 1;
  if (encodeLeaf(level)) return kvSuccess;
  // Does not fit: the entry goes again.
  std::memmove(level->keys + size_t(i) * keyLength_, level->keys + size_t(i + 1) * keyLength_,
               size_t(count - i) * keyLength_);
  std::memmove(level->records + i, level->records + i + 1, size_t(count - i) * sizeof(uint32_t));
  level->decodedCount = count;
  return file_->invalid();
}

KvStatus FoxCdxDesc::removeEntry(TreeInfo* base, uint32_t i) {
  if (!nodeIsLeaf(base)) return FoxIdxDesc::removeEntry(base, i);
  auto* level = static_cast<FoxTreeInfo*>(base);
  uint32_t count = level->decodedCount;
  if (i >= count) return file_->invalid();
  uint8_t key[dbfIndexMaxKeyBytes];
  std::memcpy(key, level->keys + size_t(i) * keyLength_, keyLength_);
  uint32_t record = level->records[i];
  std::memmove(level->keys + size_t(i) * keyLength_, level->keys + size_t(i + 1) * keyLength_,
               size_t(count - 1 - i) * keyLength_);
  std::memmove(level->records + i, level->records + i + 1, size_t(count - 1 - i) * sizeof(uint32_t));
  level->decodedCount = count - 1;
  if (encodeLeaf(level)) return kvSuccess;
  // The successor would need more bytes than the entry gave back (its
  // prefix ran into the removed key's pad bytes): the leaf stays as it was.
  std::memmove(level->keys + size_t(i + 1) * keyLength_, level->keys + size_t(i) * keyLength_,
               size_t(count - 1 - i) * keyLength_);
  std::memmove(level->records + i + 1, level->records + i, size_t(count - 1 - i) * sizeof(uint32_t));
  std::memcpy(level->keys + size_t(i) * keyLength_, key, keyLength_);
  level->records[i] = record;
  level->decodedCount = count;
  return file_->invalid();
}

KvStatus FoxCdxDesc::moveEntriesRight(TreeInfo* destinationBase, TreeInfo* sourceBase, uint32_t n) {
  if (!nodeIsLeaf(sourceBase)) return FoxIdxDesc::moveEntriesRight(destinationBase, sourceBase, n);
  auto* source = static_cast<FoxTreeInfo*>(sourceBase);
  auto* destination = static_cast<FoxTreeInfo*>(destinationBase);
  uint32_t count = source->decodedCount;
  if (n > count) return file_->invalid();
  std::memcpy(destination->page + leafFreeAt, source->page + leafFreeAt, foxLeafAreaAt - leafFreeAt);
  std::memcpy(destination->keys, source->keys + size_t(n) * keyLength_, size_t(count - n) * keyLength_);
  std::memcpy(destination->records, source->records + n, size_t(count - n) * sizeof(uint32_t));
  destination->decodedCount = count - n;
  source->decodedCount = n;
  if (!encodeLeaf(source) || !encodeLeaf(destination)) return file_->invalid();
  return kvSuccess;
}

uint32_t FoxCdxDesc::splitPoint(TreeInfo* base, uint32_t i, const uint8_t* key, uint32_t record) {
  if (!nodeIsLeaf(base)) return FoxIdxDesc::splitPoint(base, i, key, record);
  // The entries with the new one among them are cut where the two halves
  // pack into the nearest byte counts, both fitting a leaf.
  auto* level = static_cast<FoxTreeInfo*>(base);
  uint32_t count = level->decodedCount;
  if (count < 2) return 0;
  FoxLeafWidths w = widthsOf(level->page);
  uint32_t largest = record;
  for (uint32_t j = 0; j < count; ++j) largest = level->records[j] > largest ? level->records[j] : largest;
  while (largest > foxMask(w.recordBits) && w.entryBytes < foxMaxEntryBytes) {
    uint32_t extra = foxExtraRecordBytes(largest, w.recordBits);
    w.entryBytes = uint8_t(w.entryBytes + extra);
    w.recordBits = uint8_t(w.recordBits + 8 * extra);
  }
  const uint8_t* keys[foxLeafMaxEntries + 1] = {};
  uint32_t stored[foxLeafMaxEntries + 1] = {};
  for (uint32_t j = 0, k = 0; j <= count; ++j) keys[j] = j == i ? key : level->keys + size_t(k++) * keyLength_;
  uint32_t total = 0;
  for (uint32_t j = 0; j <= count; ++j) {
    uint32_t n = keyLength_ - trailingCount(keys[j]);
    stored[j] = n - (j && n ? commonPrefix(keys[j], keys[j - 1], n) : 0);
    total += stored[j] + w.entryBytes;
  }
  uint32_t best = (count + 1) / 2, bestGap = 0xFFFFFFFF;
  uint32_t left = 0;
  for (uint32_t s = 1; s <= count; ++s) {
    left += stored[s - 1] + w.entryBytes;
    uint32_t first = keyLength_ - trailingCount(keys[s]);
    uint32_t right = total - left - stored[s] + first;
    if (left > foxLeafAreaBytes || right > foxLeafAreaBytes) continue;
    uint32_t gap = left > right ? left - right : right - left;
    if (gap < bestGap) {
      bestGap = gap;
      best = s;
    }
  }
  return best - 1;
}

void FoxCdxDesc::clearNode(TreeInfo* base, bool leaf) {
  FoxIdxDesc::clearNode(base, leaf);
  auto* level = static_cast<FoxTreeInfo*>(base);
  level->decodedCount = 0;
  if (!leaf) return;
  putWidths(level->page, foxLeafWidthsFor(keyLength_));
  kvPutU16LE(level->page + leafFreeAt, foxLeafAreaBytes);
}

KvStatus FoxCdxDesc::fileEnd(uint32_t* offset) {
  uint64_t bytes = 0;
  if (file_->size(&bytes) != kvSuccess) return file_->fail(msgDbfIndexRead);
  if (bytes % foxNodeBytes || bytes / foxNodeBytes >= dbfIndexMaxEofPage) return file_->invalid();
  *offset = uint32_t(bytes);
  return kvSuccess;
}

KvStatus FoxCdxDesc::newNode(TreeInfo* level, bool leaf) {
  // Compact files grow at their end; nodes emptied by deletes stay unused.
  if (file_->getEofPage() == 0) {
    uint32_t end = 0;
    if (fileEnd(&end) != kvSuccess) return kvFailure;
    file_->setEofPage(end / foxNodeBytes);
  }
  if (file_->getEofPage() + 1 >= dbfIndexMaxEofPage) return file_->invalid();
  level->pageNo = file_->getEofPage();
  file_->setEofPage(file_->getEofPage() + 1);
  level->position = 0;
  clearNode(level, leaf);
  return kvSuccess;
}

KvStatus FoxCdxDesc::freeNode(TreeInfo*) { return kvSuccess; }

void FoxCdxDesc::noteAppendedKey(TreeInfo*, const uint8_t* key) {
  if (++keysAppended_ == 1 || std::memcmp(lastAppended_, key, keyLength_) != 0) ++distinctAppended_;
  std::memcpy(lastAppended_, key, keyLength_);
}

// ---------------------------------------------------------------- header

KvStatus FoxCdxDesc::readTagHeader(DbfIndexFile* file, uint32_t kind, uint32_t headerOffset, uint16_t tagNumber,
                                   unsigned char keyType, unsigned char* keyText, uint32_t size) {
  if (size) keyText[0] = 0;
  if (initialize(file) != kvSuccess) return kvFailure;
  file->setKind(kind);
  file->setPageSize(foxNodeBytes);
  tagHeaderOffset_ = headerOffset;
  tagNumber_ = tagNumber;
  uint8_t header[foxTagHeaderBytes];
  uint32_t got = 0;
  if (headerOffset % foxNodeBytes || file->read(headerOffset, header, sizeof(header), &got) != kvSuccess)
    return headerOffset % foxNodeBytes ? file->invalid() : kvFailure;
  if (got < sizeof(header)) return file->invalid();
  uint32_t keyLength = kvGetU16LE(header + tagKeyLengthAt);
  bool numeric = keyType != 'C';
  if (keyLength == 0 || keyLength > dbfIndexMaxKeyLength(dbfIndexCdx) || (numeric && keyLength != dbfDoubleKeyBytes) ||
      (keyType != 'C' && keyType != 'N' && keyType != 'D' && keyType != 'F'))
    return file->invalid();
  uint32_t root = kvGetU32LE(header + tagRootAt);
  if (root && !validNodeOffset(root)) return file->invalid();
  root_ = root / foxNodeBytes;
  freeListHead_ = kvGetU32LE(header + tagFreeAt);
  changeCounter_ = kvGetU32LE(header + tagCounterAt);
  uint16_t entrySize = uint16_t(keyLength + 8);
  setKeyForm(keyType, uint16_t(keyLength), entrySize, uint16_t(foxNodeRoomBytes / entrySize));
  if (numeric) keyCompare_ = [](const uint8_t* a, const uint8_t* b) {
    int result = std::memcmp(a, b, dbfDoubleKeyBytes);
    return result < 0 ? -1 : result > 0 ? 1 : 0;
  };
  descending_ = kvGetU16LE(header + tagOrderAt) ? 1 : 0;
  indexFlags_ = uint8_t((header[tagOptionsAt] & foxOptionUnique) ? indexUniqueProperty : 0);
  if (descending_) indexFlags_ |= indexDescending;
  file->setEofPage(0);
  if (size) {
    header[foxTagHeaderBytes - 1] = 0;
    uint32_t at = kvGetU16LE(header + tagKeyOffsetAt);
    if (at >= foxTagHeaderBytes - tagExpressionsAt) return file->invalid();
    const uint8_t* text = header + tagExpressionsAt + at;
    uint32_t length = 0;
    while (length < maxExpressionText && text[length]) ++length;
    if (length >= size) length = size - 1;
    std::memcpy(keyText, text, length);
    keyText[length] = 0;
  }
  return kvSuccess;
}

KvStatus FoxCdxDesc::readTagText(bool forText, unsigned char* text, uint32_t size) {
  if (size) text[0] = 0;
  uint8_t header[foxTagHeaderBytes];
  uint32_t got = 0;
  if (file_->read(tagHeaderOffset_, header, sizeof(header), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(header)) return file_->invalid();
  header[foxTagHeaderBytes - 1] = 0;
  uint32_t at = kvGetU16LE(header + (forText ? tagForOffsetAt : tagKeyOffsetAt));
  if (at >= foxTagHeaderBytes - tagExpressionsAt) return file_->invalid();
  const uint8_t* from = header + tagExpressionsAt + at;
  uint32_t length = 0;
  while (length < maxExpressionText && from[length]) ++length;
  if (size == 0) return kvSuccess;
  if (length >= size) length = size - 1;
  if (oem_) kvOemToAnsi(text, from, length);
  else std::memcpy(text, from, length);
  text[length] = 0;
  return kvSuccess;
}

KvStatus FoxCdxDesc::getKeyText(unsigned char* text, uint32_t size) { return readTagText(false, text, size); }

KvStatus FoxCdxDesc::getFilterCondition(uint8_t** text, FlatFileDesc*) {
  *text = nullptr;
  uint8_t options = 0;
  uint32_t got = 0;
  if (file_->read(tagHeaderOffset_ + tagOptionsAt, &options, 1, &got) != kvSuccess) return kvFailure;
  if (got < 1) return file_->invalid();
  if (!(options & foxOptionFor)) return kvSuccess;
  if (!forText_ && !(forText_ = static_cast<unsigned char*>(ramAlloc(maxExpressionText + 1)))) return kvFailure;
  if (readTagText(true, forText_, maxExpressionText + 1) != kvSuccess) return kvFailure;
  *text = forText_;
  return kvSuccess;
}

KvStatus FoxCdxDesc::writeHeader() {
  uint32_t length = (cdxFlags_ & cdxWholeHeader) ? uint32_t(foxTagHeaderBytes) : uint32_t(tagFieldBytes);
  uint8_t header[foxTagHeaderBytes];
  uint32_t got = 0;
  if (file_->read(tagHeaderOffset_, header, length, &got) != kvSuccess) return kvFailure;
  if (got < length) return file_->invalid();
  kvPutU32LE(header + tagRootAt, root_ * foxNodeBytes);
  kvPutU32LE(header + tagFreeAt, freeListHead_);
  kvPutU32LE(header + tagCounterAt, kvGetU32LE(header + tagCounterAt) + 1);
  if (cdxFlags_ & cdxWholeHeader) {
    kvPutU32LE(header + tagKeysAppendedAt, keysAppended_);
    kvPutU32LE(header + tagDistinctAt, distinctAppended_);
  }
  // The end of the file is read again from its size: other tags of the
  // file grow it too.
  file_->setEofPage(0);
  if (file_->write(tagHeaderOffset_, header, length) != kvSuccess) return kvFailure;
  cdxFlags_ &= ~uint32_t(cdxWholeHeader);
  foxFlags_ &= ~uint32_t(foxHeaderDue);
  return kvSuccess;
}

KvStatus FoxCdxDesc::startNewTree(DbfIndexCursor* cursor) {
  keysAppended_ = 0;
  distinctAppended_ = 0;
  cdxFlags_ |= cdxWholeHeader;
  return FoxIdxDesc::startNewTree(cursor);
}

// ---------------------------------------------------------------- locks

KvStatus FoxCdxDesc::refreshFromHeader() {
  uint8_t bytes[tagFieldBytes];
  uint32_t got = 0;
  if (file_->read(tagHeaderOffset_, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return file_->invalid();
  uint32_t root = kvGetU32LE(bytes + tagRootAt);
  if (root && !validNodeOffset(root)) return file_->invalid();
  root_ = root / foxNodeBytes;
  freeListHead_ = kvGetU32LE(bytes + tagFreeAt);
  uint32_t counter = kvGetU32LE(bytes + tagCounterAt);
  if (counter != changeCounter_) {
    changeCounter_ = counter;
    markStale();
  }
  return kvSuccess;
}

KvStatus FoxCdxDesc::lockForWrite(DbfIndexCursor*) {
  if (indexFlags_ & indexWriteLocked) return kvSuccess;
  if (dbfIndexHoldLockByte(file_, foxCompactLockByte) != kvSuccess) return kvFailure;
  file_->lockOffset = foxCompactLockByte;
  file_->lockLength = 1;
  indexFlags_ |= indexWriteLocked;
  if (refreshFromHeader() != kvSuccess) {
    unlockIndexFile();
    return kvFailure;
  }
  return kvSuccess;
}

void FoxCdxDesc::unlockIndexFile() {
  if (!(indexFlags_ & indexWriteLocked)) return;
  dbfIndexReleaseLockByte(file_, foxCompactLockByte);
  file_->lockOffset = 0;
  file_->lockLength = 0;
  indexFlags_ &= ~uint8_t(indexWriteLocked);
}

KvStatus FoxCdxDesc::lockForRead(DbfIndexCursor* cursor) {
  if (cursor->readLocked) return kvSuccess;
  bool first = file_->readLockCount == 0;
  if (dbfIndexHoldLockByte(file_, foxCompactLockByte) != kvSuccess) return kvFailure;
  ++file_->readLockCount;
  cursor->readLocked = true;
  cursor->readSlot = foxCompactLockByte;
  if (first && refreshFromHeader() != kvSuccess) {
    unlockForRead(cursor);
    return kvFailure;
  }
  return kvSuccess;
}

void FoxCdxDesc::unlockForRead(DbfIndexCursor* cursor) {
  if (!cursor->readLocked) return;
  if (file_->readLockCount) --file_->readLockCount;
  dbfIndexReleaseLockByte(file_, foxCompactLockByte);
  cursor->readSlot = 0;
  cursor->readLocked = false;
}

// ---------------------------------------------------------------- files and tags

KvStatus FoxCdxDesc::writeNewCompactIdx(DbfIndexFile* file, uint16_t keyLength, uint8_t options, bool descending,
                                        const unsigned char* keyText, const unsigned char* forText) {
  if (keyLength == 0 || keyLength > dbfIndexMaxKeyLength(dbfIndexCompactIdx)) return file->invalid();
  uint8_t header[foxTagHeaderBytes];
  newTagHeader(header, keyLength, uint8_t((options & (foxOptionUnique | foxOptionFor)) | foxOptionCompact),
               descending);
  if (putExpressions(file, header, keyText, forText) != kvSuccess) return kvFailure;
  file->setKind(dbfIndexCompactIdx);
  file->setEofPage(0);
  return file->write(0, header, sizeof(header));
}

KvStatus FoxCdxDesc::writeNewCdx(DbfIndexFile* file, DbfSharedDesc* table) {
  uint8_t header[foxTagHeaderBytes];
  newTagHeader(header, directoryKeyLength, foxOptionCompact | foxOptionCdxTag, false);
  if (putExpressions(file, header, nullptr, nullptr) != kvSuccess) return kvFailure;
  file->setKind(dbfIndexCdx);
  file->setEofPage(0);
  if (file->write(0, header, sizeof(header)) != kvSuccess) return kvFailure;
  FoxCdxDesc directory(table);
  if (directory.openTagDirectory(file) != kvSuccess) return kvFailure;
  DbfIndexCursor cursor(&directory, nullptr);
  if (directory.startNewTree(&cursor) != kvSuccess) return kvFailure;
  return directory.finishBuild(&cursor);
}

KvStatus FoxCdxDesc::openTagDirectory(DbfIndexFile* file) {
  if (readTagHeader(file, dbfIndexCdx, 0, 0, 'C', nullptr, 0) != kvSuccess) return kvFailure;
  if (keyLength_ != directoryKeyLength || descending_) return file->invalid();
  foxFlags_ |= foxTagDirectory;
  return kvSuccess;
}

KvStatus FoxCdxDesc::openTag(DbfIndexFile* file, const FoxCdxTag& tag, uint16_t tagNumber, unsigned char keyType,
                             unsigned char* keyText, uint32_t size) {
  if (readTagHeader(file, dbfIndexCdx, tag.headerOffset, tagNumber, keyType, keyText, size) != kvSuccess)
    return kvFailure;
  unsigned char* copy = ramAllocStr(tag.name);
  if (!copy) return kvFailure;
  ramFree(name);
  name = copy;
  return kvSuccess;
}

KvStatus FoxCdxDesc::readTags(std::vector<FoxCdxTag>* tags, uint32_t limit) {
  tags->clear();
  DbfIndexCursor cursor(this, nullptr);
  for (;;) {
    uint32_t record = 0;
    if (nextKey(&cursor, &record) != kvSuccess) return kvFailure;
    if (!record) return kvSuccess;
    if (tags->size() >= limit || record % foxNodeBytes) return file_->invalid();
    FoxCdxTag tag;
    const uint8_t* key = keyAtCursor(&cursor);
    uint32_t length = foxTagNameBytes;
    while (length && key[length - 1] == ' ') --length;
    if (oem_) kvOemToAnsi(tag.name, key, length);
    else std::memcpy(tag.name, key, length);
    tag.name[length] = 0;
    tag.headerOffset = record;
    tags->push_back(tag);
  }
}

KvStatus FoxCdxDesc::addTag(DbfIndexFile* file, DbfSharedDesc* table, const unsigned char* name, uint16_t keyLength,
                            uint8_t options, bool descending, const unsigned char* keyText,
                            const unsigned char* forText, uint32_t* headerOffset) {
  *headerOffset = 0;
  size_t nameLength = std::strlen(kvC(name));
  if (nameLength == 0 || nameLength > foxTagNameBytes || keyLength == 0 ||
      keyLength > dbfIndexMaxKeyLength(dbfIndexCdx))
    return file->invalid();
  FoxCdxDesc directory(table);
  if (directory.openTagDirectory(file) != kvSuccess) return kvFailure;
  uint32_t end = 0;
  if (directory.fileEnd(&end) != kvSuccess) return kvFailure;
  uint8_t header[foxTagHeaderBytes];
  newTagHeader(header, keyLength,
               uint8_t((options & (foxOptionUnique | foxOptionFor)) | foxOptionCompact | foxOptionCdxTag), descending);
  if (putExpressions(file, header, keyText, forText) != kvSuccess) return kvFailure;
  if (file->write(end, header, sizeof(header)) != kvSuccess) return kvFailure;
  file->setEofPage(0);
  uint8_t key[dbfIndexMaxKeyBytes];
  if (directory.makeKey(name, uint32_t(nameLength), key) != kvSuccess) return kvFailure;
  DbfIndexCursor cursor(&directory, nullptr);
  cursor.fixedRecord = end;
  if (directory.insertKey(&cursor, key) != kvSuccess) return kvFailure;
  *headerOffset = end;
  return kvSuccess;
}

KvStatus FoxCdxDesc::listTags(const unsigned char* path, bool oem, unsigned char* names, uint32_t slots,
                              uint32_t* count) {
  *count = 0;
  const unsigned char* base = path;
  for (const unsigned char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  const unsigned char* dot = reinterpret_cast<const unsigned char*>(std::strchr(kvC(base), '.'));
  if (!dot || strcasecmp(kvC(dot + 1), "CDX") != 0) return kvSuccess;
  DbfIndexFile file(nullptr, nullptr);
  if (file.setPath(path) != kvSuccess || file.open(true) != kvSuccess) return kvFailure;
  FoxCdxDesc directory(nullptr);
  directory.oem_ = oem;
  std::vector<FoxCdxTag> tags;
  if (directory.openTagDirectory(&file) != kvSuccess || directory.readTags(&tags, foxMaxListedTags) != kvSuccess)
    return kvFailure;
  for (uint32_t i = 0; i < tags.size() && i < slots; ++i)
    std::memcpy(names + size_t(i) * (foxTagNameBytes + 1), tags[i].name, foxTagNameBytes + 1);
  *count = uint32_t(tags.size());
  return kvSuccess;
}

KvStatus FoxCdxDesc::removeTagEntry(DbfIndexFile* file, DbfSharedDesc* table, const unsigned char* name,
                                    uint16_t* remaining) {
  *remaining = 0;
  FoxCdxDesc directory(table);
  std::vector<FoxCdxTag> tags;
  if (directory.openTagDirectory(file) != kvSuccess || directory.readTags(&tags) != kvSuccess) return kvFailure;
  uint8_t key[dbfIndexMaxKeyBytes];
  size_t nameLength = std::strlen(kvC(name));
  if (directory.makeKey(name, uint32_t(nameLength), key) != kvSuccess) return kvFailure;
  DbfIndexCursor cursor(&directory, nullptr);
  uint32_t record = 0;
  KvStatus status = nameLength > foxTagNameBytes ? kvSuccess : directory.searchKey(&cursor, key, &record, true);
  directory.releasePath(&cursor);
  if (status != kvSuccess) return kvFailure;
  if (!record) {
    // The directory stays as it is: a missing name is no reason to drop
    // another tag.
    addOdbcError(stateGeneral, msgDbfTagNotFound);
    return kvFailure;
  }
  cursor.fixedRecord = record;
  if (directory.deleteKey(&cursor, key) != kvSuccess) return kvFailure;
  *remaining = uint16_t(tags.size() - 1);
  return kvSuccess;
}
