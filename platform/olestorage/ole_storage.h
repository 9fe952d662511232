// A read-only reader of OLE compound files (structured storage), standing in
// for the platform's StgOpenStorage, IStorage::OpenStream and IStream's Seek
// and Read. Results are 32-bit OLE result codes (0 success, negative
// failure, the STG_E_ values below), because callers report the code's low
// 16 bits; this layer adds nothing to the calling thread's error list.
//
// File layout (all integers little-endian). The file is a header followed by
// sectors; sector n starts at byte (n + 1) * sectorSize.
//
//   header | field
//   0      | signature D0 CF 11 E0 A1 B1 1A E1
//   0x1A   | major version u16: 3 (512-byte sectors) or 4 (4096-byte sectors)
//   0x1C   | byte order u16 0xFFFE
//   0x1E   | sector shift u16: 9 or 12, matching the version
//   0x20   | mini sector shift u16: 6
//   0x2C   | number of FAT sectors u32
//   0x30   | first directory sector u32
//   0x38   | mini stream cutoff u32: 4096
//   0x3C   | first mini FAT sector u32, 0x40 number of mini FAT sectors u32
//   0x44   | first DIFAT sector u32, 0x48 number of DIFAT sectors u32
//   0x4C   | the first 109 FAT sector numbers (the header's part of the DIFAT)
//
// The FAT holds, for every sector, the next sector of its chain (0xFFFFFFFE
// ends a chain); DIFAT sectors continue the list of FAT sectors, the last
// entry of each naming the next DIFAT sector. The directory is a chain of
// 128-byte entries: 0 name (UTF-16, 64 bytes), 64 name length in bytes with
// terminator u16, 66 type u8 (1 storage, 2 stream, 5 root), 68 left, 72
// right, 76 child entry u32, 116 first sector u32, 120 size u64 (version 3
// files use its low 32 bits only). A stream smaller than the cutoff lives in
// the mini stream (the root entry's chain) as 64-byte mini sectors chained by
// the mini FAT.
//
// Damaged files give STG_E_INVALIDHEADER or STG_E_DOCFILECORRUPT, never a
// crash or a hang: every chain walk is bounded by the file's sector count,
// every sector number is checked against the FAT and the file, the directory
// tree walk visits each entry once, and a stream's size must be covered by
// its chain.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "util/kv_types.h"

#define KV_OLE_API KV_API

// Result codes, as the platform's structured storage gives them.
enum : int32_t {
  kvOleOk = 0,
  STG_E_INVALIDFUNCTION = int32_t(0x80030001),
  STG_E_FILENOTFOUND = int32_t(0x80030002),
  STG_E_PATHNOTFOUND = int32_t(0x80030003),
  STG_E_ACCESSDENIED = int32_t(0x80030005),
  STG_E_INSUFFICIENTMEMORY = int32_t(0x80030008),
  STG_E_INVALIDPOINTER = int32_t(0x80030009),
  STG_E_SEEKERROR = int32_t(0x80030019),
  STG_E_READFAULT = int32_t(0x8003001E),
  STG_E_SHAREVIOLATION = int32_t(0x80030020),
  STG_E_INVALIDFLAG = int32_t(0x800300FF),
  STG_E_INVALIDHEADER = int32_t(0x800300FB),
  STG_E_DOCFILECORRUPT = int32_t(0x80030109),
};

// Open modes: only reading is offered.
enum : uint32_t {
  STGM_READ = 0x0,
  STGM_WRITE = 0x1,
  STGM_READWRITE = 0x2,
  STGM_SHARE_EXCLUSIVE = 0x10,
  STGM_SHARE_DENY_WRITE = 0x20,
};

// Seek origins.
enum : uint16_t { kvOleSeekSet = 0, kvOleSeekCur = 1, kvOleSeekEnd = 2 };

class OleSource;

// One stream of a storage: its bytes and a position. The stream keeps its
// storage's file open for as long as it lives.
class KV_OLE_API OleStream {
 public:
  ~OleStream();
  OleStream(const OleStream&) = delete;
  OleStream& operator=(const OleStream&) = delete;

  // Moves the position (origin kvOleSeekSet/Cur/End); newPosition (may be
  // null) receives it. A position before the start is STG_E_INVALIDFUNCTION;
  // one past the end is allowed, and reads there give 0 bytes.
  int32_t seek(int64_t offset, uint16_t origin, uint64_t* newPosition);
  // Reads up to length bytes at the position into buffer; read receives the
  // count, fewer than length only at the end of the stream. A file that
  // cannot deliver bytes its chain names gives STG_E_READFAULT.
  int32_t read(void* buffer, uint32_t length, uint32_t* read);
  uint64_t size() const { return size_; }

 private:
  friend class OleStorage;
  OleStream() = default;

  std::shared_ptr<OleSource> source_;
  std::vector<uint32_t> sectors_;            // of the stream, in order
  std::shared_ptr<const std::vector<uint32_t>> miniContainer_;  // file sectors of the mini stream
  uint32_t sectorSize_ = 512;
  bool mini_ = false;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
};

// An open compound file: its FAT, mini FAT and directory, read at open.
class KV_OLE_API OleStorage {
 public:
  ~OleStorage();
  OleStorage(const OleStorage&) = delete;
  OleStorage& operator=(const OleStorage&) = delete;

  // Opens the compound file at path (bytes, "\" read as "/", found without
  // regard to case). mode must ask for reading only (STGM_WRITE and
  // STGM_READWRITE give STG_E_INVALIDFLAG); the file is held with a shared
  // lock. A missing file gives STG_E_FILENOTFOUND, one that cannot be opened
  // STG_E_ACCESSDENIED, a file that is no compound file STG_E_INVALIDHEADER
  // and a damaged one STG_E_DOCFILECORRUPT.
  static int32_t open(const unsigned char* path, uint32_t mode, std::unique_ptr<OleStorage>* storage);
  // The same over bytes in memory, which must outlive the storage and its
  // streams.
  static int32_t openMemory(const void* data, size_t size, std::unique_ptr<OleStorage>* storage);

  // Opens the stream of that name among the root storage's children (names
  // compared without regard to ASCII case, as the format does). A missing
  // stream gives STG_E_FILENOTFOUND; a chain that cannot hold the stream's
  // size STG_E_DOCFILECORRUPT.
  int32_t openStream(const char* name, uint32_t mode, std::unique_ptr<OleStream>* stream);

 private:
  struct Entry;
  OleStorage() = default;
  int32_t load();
  int32_t readSector(uint32_t sector, std::vector<unsigned char>* out);
  int32_t walkChain(uint32_t first, uint64_t sizeBytes, uint32_t unitBytes, const std::vector<uint32_t>& table,
                    uint32_t unitCount, std::vector<uint32_t>* chain);

  std::shared_ptr<OleSource> source_;
  uint32_t sectorSize_ = 512;
  uint32_t sectorCount_ = 0;   // sectors the file holds, whole or in part
  bool version4_ = false;
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> miniFat_;
  std::vector<Entry> entries_;
  std::shared_ptr<const std::vector<uint32_t>> miniContainer_;
  uint64_t miniContainerSize_ = 0;
};
