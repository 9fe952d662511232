// The compound-file reader (ole_storage.h): header checks, the FAT gathered
// through the DIFAT, the mini FAT and the directory, all read at open; a
// stream is the list of its sectors, read on demand.
#include "platform/olestorage/ole_storage.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "util/byte_order.h"
#include "util/error_list.h"
#include "util/os/bos.h"

namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kEntryBytes = 128;
constexpr uint32_t kMiniSectorBytes = 64;
constexpr uint32_t kMiniStreamCutoff = 4096;
constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

enum : uint8_t { kEntryStorage = 1, kEntryStream = 2, kEntryRoot = 5 };

// Operating-system errors stay out of the caller's error list: this layer
// answers with result codes, and the caller words its own message.
class PrivateErrorList {
 public:
  PrivateErrorList() : list_(nullptr, 1) { KvErrorKeeper::setErrorList(&list_); }
  ~PrivateErrorList() { KvErrorKeeper::giveUpErrorList(); }

 private:
  KvErrorList list_;
};

}  // namespace

// Where the compound file's bytes come from: a file or memory.
class OleSource {
 public:
  virtual ~OleSource() = default;
  virtual uint64_t size() const = 0;
  // Reads up to length bytes at offset; got receives the count. false on a
  // failure of the file.
  virtual bool readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* got) = 0;
};

namespace {

class FileSource : public OleSource {
 public:
  FileSource(int file, uint64_t size) : file_(file), size_(size) {}
  ~FileSource() override {
    PrivateErrorList quiet;
    kvIgnoreStatus(bosFileClose(file_));  // read only: nothing to lose
  }
  uint64_t size() const override { return size_; }
  bool readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* got) override {
    PrivateErrorList quiet;
    *got = 0;
    return bosFileRead(file_, int64_t(offset), buffer, length, got) == kvSuccess;
  }

 private:
  int file_;
  uint64_t size_;
};

class MemorySource : public OleSource {
 public:
  MemorySource(const void* data, size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  uint64_t size() const override { return size_; }
  bool readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t* got) override {
    *got = 0;
    if (offset >= size_) return true;
    uint64_t n = std::min<uint64_t>(length, size_ - offset);
    std::memcpy(buffer, data_ + offset, size_t(n));
    *got = uint32_t(n);
    return true;
  }

 private:
  const unsigned char* data_;
  uint64_t size_;
};

// Reads exactly length bytes at offset, or answers the failure's code.
int32_t readExactly(OleSource& source, uint64_t offset, void* buffer, uint32_t length) {
  uint32_t got = 0;
  if (!source.readAt(offset, buffer, length, &got)) return STG_E_READFAULT;
  return got == length ? kvOleOk : STG_E_DOCFILECORRUPT;
}

}  // namespace

struct OleStorage::Entry {
  char16_t name[32];
  uint32_t nameChars = 0;  // without the terminator
  uint8_t type = 0;
  uint32_t left = kNoEntry;
  uint32_t right = kNoEntry;
  uint32_t child = kNoEntry;
  uint32_t firstSector = kEndOfChain;
  uint64_t size = 0;
};

OleStorage::~OleStorage() = default;
OleStream::~OleStream() = default;

int32_t OleStorage::open(const unsigned char* path, uint32_t mode, std::unique_ptr<OleStorage>* storage) {
  storage->reset();
  if (!path) return STG_E_INVALIDPOINTER;
  if (mode & (STGM_WRITE | STGM_READWRITE)) return STG_E_INVALIDFLAG;
  try {
    std::vector<unsigned char> name(path, path + kvTextLength(path) + 1);
    int file = 0;
    int64_t size = 0;
    {
      PrivateErrorList quiet;
      if (!bosexist(name.data())) return STG_E_FILENOTFOUND;
      if (bosFileOpen(name.data(), 0, &file) != kvSuccess) return STG_E_ACCESSDENIED;
      if (bosFileSize(file, &size) != kvSuccess) {
        kvIgnoreStatus(bosFileClose(file));  // the open failed already
        return STG_E_READFAULT;
      }
    }
    std::unique_ptr<OleStorage> opened(new OleStorage());
    opened->source_ = std::make_shared<FileSource>(file, uint64_t(size));
    int32_t result = opened->load();
    if (result == kvOleOk) *storage = std::move(opened);
    return result;
  } catch (const std::bad_alloc&) {
    return STG_E_INSUFFICIENTMEMORY;
  }
}

int32_t OleStorage::openMemory(const void* data, size_t size, std::unique_ptr<OleStorage>* storage) {
  storage->reset();
  if (!data && size) return STG_E_INVALIDPOINTER;
  try {
    std::unique_ptr<OleStorage> opened(new OleStorage());
    opened->source_ = std::make_shared<MemorySource>(data, size);
    int32_t result = opened->load();
    if (result == kvOleOk) *storage = std::move(opened);
    return result;
  } catch (const std::bad_alloc&) {
    return STG_E_INSUFFICIENTMEMORY;
  }
}

int32_t OleStorage::readSector(uint32_t sector, std::vector<unsigned char>* out) {
  if (sector >= sectorCount_) return STG_E_DOCFILECORRUPT;
  out->assign(sectorSize_, 0);
  uint32_t got = 0;
  if (!source_->readAt(uint64_t(sector + 1) * sectorSize_, out->data(), sectorSize_, &got)) return STG_E_READFAULT;
  // The last sector of a file may be cut short; what is missing reads as 0.
  return got > 0 ? kvOleOk : STG_E_DOCFILECORRUPT;
}

// Follows a chain through table from first until it covers sizeBytes in
// units of unitBytes; unitCount bounds the sector numbers (and so the walk).
// A chain that ends early, leaves the table or comes back to a sector fails.
int32_t OleStorage::walkChain(uint32_t first, uint64_t sizeBytes, uint32_t unitBytes,
                              const std::vector<uint32_t>& table, uint32_t unitCount,
                              std::vector<uint32_t>* chain) {
  chain->clear();
  uint64_t needed = (sizeBytes + unitBytes - 1) / unitBytes;
  if (needed > unitCount) return STG_E_DOCFILECORRUPT;
  chain->reserve(size_t(needed));
  std::vector<bool> seen(needed ? unitCount : 0, false);
  uint32_t sector = first;
  while (chain->size() < needed) {
    if (sector >= unitCount || sector >= table.size() || seen[sector]) return STG_E_DOCFILECORRUPT;
    seen[sector] = true;
    chain->push_back(sector);
    sector = table[sector];
  }
  return kvOleOk;
}

int32_t OleStorage::load() {
  unsigned char header[512];
  if (source_->size() < sizeof header) return STG_E_INVALIDHEADER;
  int32_t result = readExactly(*source_, 0, header, sizeof header);
  if (result != kvOleOk) return result == STG_E_READFAULT ? result : STG_E_INVALIDHEADER;
  if (std::memcmp(header, kSignature, sizeof kSignature) != 0) return STG_E_INVALIDHEADER;
  uint16_t major = kvGetU16LE(header + 0x1A);
  uint16_t shift = kvGetU16LE(header + 0x1E);
  if (kvGetU16LE(header + 0x1C) != 0xFFFE) return STG_E_INVALIDHEADER;
  if (!((major == 3 && shift == 9) || (major == 4 && shift == 12))) return STG_E_INVALIDHEADER;
  if (kvGetU16LE(header + 0x20) != 6 || kvGetU32LE(header + 0x38) != kMiniStreamCutoff) return STG_E_INVALIDHEADER;
  version4_ = major == 4;
  sectorSize_ = 1u << shift;
  uint64_t fileSize = source_->size();
  if (fileSize <= sectorSize_) return STG_E_DOCFILECORRUPT;
  uint64_t sectors = (fileSize - sectorSize_ + sectorSize_ - 1) / sectorSize_;
  if (sectors >= 0xFFFFFFF0u) return STG_E_DOCFILECORRUPT;
  sectorCount_ = uint32_t(sectors);
  const uint32_t perSector = sectorSize_ / 4;

  // The FAT sectors: 109 in the header, the rest along the DIFAT chain.
  uint32_t fatSectorCount = kvGetU32LE(header + 0x2C);
  if (fatSectorCount == 0 || fatSectorCount > sectorCount_) return STG_E_DOCFILECORRUPT;
  std::vector<uint32_t> fatSectors;
  fatSectors.reserve(fatSectorCount);
  for (uint32_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < fatSectorCount; ++i)
    fatSectors.push_back(kvGetU32LE(header + 0x4C + 4 * i));
  std::vector<unsigned char> sector;
  uint32_t difat = kvGetU32LE(header + 0x44);
  for (uint32_t steps = 0; fatSectors.size() < fatSectorCount; ++steps) {
    if (steps >= sectorCount_) return STG_E_DOCFILECORRUPT;
    if ((result = readSector(difat, &sector)) != kvOleOk) return result;
    for (uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatSectorCount; ++i)
      fatSectors.push_back(kvGetU32LE(sector.data() + 4 * i));
    difat = kvGetU32LE(sector.data() + 4 * (perSector - 1));
  }
  fat_.reserve(size_t(fatSectorCount) * perSector);
  for (uint32_t fatSector : fatSectors) {
    if ((result = readSector(fatSector, &sector)) != kvOleOk) return result;
    for (uint32_t i = 0; i < perSector; ++i) fat_.push_back(kvGetU32LE(sector.data() + 4 * i));
  }

  // The directory: a chain whose length only its end says.
  uint32_t directorySector = kvGetU32LE(header + 0x30);
  std::vector<bool> seenDirectory(sectorCount_, false);
  while (directorySector != kEndOfChain) {
    if (directorySector >= sectorCount_ || directorySector >= fat_.size() || seenDirectory[directorySector])
      return STG_E_DOCFILECORRUPT;
    seenDirectory[directorySector] = true;
    if ((result = readSector(directorySector, &sector)) != kvOleOk) return result;
    for (uint32_t at = 0; at + kEntryBytes <= sectorSize_; at += kEntryBytes) {
      const unsigned char* raw = sector.data() + at;
      Entry entry;
      uint16_t nameBytes = kvGetU16LE(raw + 64);
      entry.nameChars = nameBytes >= 2 && nameBytes <= 64 ? nameBytes / 2 - 1 : 0;
      for (uint32_t i = 0; i < 32; ++i) entry.name[i] = char16_t(kvGetU16LE(raw + 2 * i));
      entry.type = raw[66];
      entry.left = kvGetU32LE(raw + 68);
      entry.right = kvGetU32LE(raw + 72);
      entry.child = kvGetU32LE(raw + 76);
      entry.firstSector = kvGetU32LE(raw + 116);
      // Version 3 writers may leave anything in the high half of the size.
      entry.size = version4_ ? kvGetU64LE(raw + 120) : kvGetU32LE(raw + 120);
      entries_.push_back(entry);
    }
    directorySector = fat_[directorySector];
  }
  if (entries_.empty() || entries_[0].type != kEntryRoot) return STG_E_DOCFILECORRUPT;

  // The mini FAT and the mini stream, both read only when there is a mini
  // stream to read.
  const Entry& root = entries_[0];
  auto container = std::make_shared<std::vector<uint32_t>>();
  if (root.size > 0) {
    if ((result = walkChain(root.firstSector, root.size, sectorSize_, fat_, sectorCount_, container.get())) != kvOleOk)
      return result;
    miniContainerSize_ = root.size;
    uint32_t miniFatSector = kvGetU32LE(header + 0x3C);
    uint32_t miniFatSectors = kvGetU32LE(header + 0x40);
    if (miniFatSectors > sectorCount_) return STG_E_DOCFILECORRUPT;
    std::vector<uint32_t> miniFatChain;
    if ((result = walkChain(miniFatSector, uint64_t(miniFatSectors) * sectorSize_, sectorSize_, fat_, sectorCount_,
                            &miniFatChain)) != kvOleOk)
      return result;
    for (uint32_t s : miniFatChain) {
      if ((result = readSector(s, &sector)) != kvOleOk) return result;
      for (uint32_t i = 0; i < perSector; ++i) miniFat_.push_back(kvGetU32LE(sector.data() + 4 * i));
    }
  }
  miniContainer_ = container;
  return kvOleOk;
}

int32_t OleStorage::openStream(const char* name, uint32_t mode, std::unique_ptr<OleStream>* stream) {
  stream->reset();
  if (!name) return STG_E_INVALIDPOINTER;
  if (mode & (STGM_WRITE | STGM_READWRITE)) return STG_E_INVALIDFLAG;
  try {
    size_t nameChars = std::strlen(name);
    auto sameName = [&](const Entry& e) {
      if (e.nameChars != nameChars) return false;
      for (size_t i = 0; i < nameChars; ++i) {
        char16_t a = e.name[i], b = char16_t(static_cast<unsigned char>(name[i]));
        if (a >= 'a' && a <= 'z') a = char16_t(a - 32);
        if (b >= 'a' && b <= 'z') b = char16_t(b - 32);
        if (a != b) return false;
      }
      return true;
    };
    // The root's children form a tree through their left and right links;
    // every entry is visited at most once, so a circle cannot hold the walk.
    std::vector<bool> seen(entries_.size(), false);
    std::vector<uint32_t> pending{entries_[0].child};
    const Entry* found = nullptr;
    while (!pending.empty() && !found) {
      uint32_t index = pending.back();
      pending.pop_back();
      if (index == kNoEntry) continue;
      if (index >= entries_.size() || seen[index]) return STG_E_DOCFILECORRUPT;
      seen[index] = true;
      const Entry& entry = entries_[index];
      if (entry.type == kEntryStream && sameName(entry)) found = &entry;
      pending.push_back(entry.left);
      pending.push_back(entry.right);
    }
    if (!found) return STG_E_FILENOTFOUND;

    std::unique_ptr<OleStream> opened(new OleStream());
    opened->source_ = source_;
    opened->sectorSize_ = sectorSize_;
    opened->size_ = found->size;
    int32_t result;
    if (found->size < kMiniStreamCutoff) {
      uint64_t miniUnits = miniContainerSize_ / kMiniSectorBytes;
      uint32_t bound = uint32_t(std::min<uint64_t>(miniUnits, miniFat_.size()));
      opened->mini_ = true;
      opened->miniContainer_ = miniContainer_;
      result = walkChain(found->firstSector, found->size, kMiniSectorBytes, miniFat_, bound, &opened->sectors_);
    } else {
      result = walkChain(found->firstSector, found->size, sectorSize_, fat_, sectorCount_, &opened->sectors_);
    }
    if (result != kvOleOk) return result;
    *stream = std::move(opened);
    return kvOleOk;
  } catch (const std::bad_alloc&) {
    return STG_E_INSUFFICIENTMEMORY;
  }
}

int32_t OleStream::seek(int64_t offset, uint16_t origin, uint64_t* newPosition) {
  int64_t base;
  switch (origin) {
    case kvOleSeekSet: base = 0; break;
    case kvOleSeekCur: base = int64_t(position_); break;
    case kvOleSeekEnd: base = int64_t(size_); break;
    default: return STG_E_INVALIDFUNCTION;
  }
  if (offset < 0 ? base < -offset : offset > INT64_MAX - base) return STG_E_INVALIDFUNCTION;
  position_ = uint64_t(base + offset);
  if (newPosition) *newPosition = position_;
  return kvOleOk;
}

int32_t OleStream::read(void* buffer, uint32_t length, uint32_t* read) {
  uint32_t done = 0;
  if (read) *read = 0;
  if (!buffer && length) return STG_E_INVALIDPOINTER;
  auto* out = static_cast<unsigned char*>(buffer);
  const uint32_t unit = mini_ ? kMiniSectorBytes : sectorSize_;
  while (done < length && position_ < size_) {
    uint64_t index = position_ / unit;
    uint32_t within = uint32_t(position_ % unit);
    uint32_t piece = uint32_t(std::min<uint64_t>({uint64_t(unit - within), uint64_t(length - done), size_ - position_}));
    uint64_t fileOffset;
    if (!mini_) {
      fileOffset = (uint64_t(sectors_[size_t(index)]) + 1) * sectorSize_ + within;
    } else {
      // A mini sector never straddles the container's sectors: 64 divides them.
      uint64_t at = uint64_t(sectors_[size_t(index)]) * kMiniSectorBytes + within;
      const std::vector<uint32_t>& container = *miniContainer_;
      if (at / sectorSize_ >= container.size()) return STG_E_DOCFILECORRUPT;
      fileOffset = (uint64_t(container[size_t(at / sectorSize_)]) + 1) * sectorSize_ + at % sectorSize_;
    }
    uint32_t got = 0;
    if (!source_->readAt(fileOffset, out + done, piece, &got) || got != piece) {
      if (read) *read = done;
      return STG_E_READFAULT;
    }
    done += piece;
    position_ += piece;
  }
  if (read) *read = done;
  return kvOleOk;
}
