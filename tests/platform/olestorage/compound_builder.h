// Builds small OLE compound files in memory for tests: version 3 or 4
// sectors, streams below the 4096-byte cutoff in the mini stream and larger
// ones in sectors of their own, and as many FAT sectors as asked (more than
// 109 brings DIFAT sectors). The layout is fixed so that tests can damage a
// chosen field: header, FAT sectors, DIFAT sectors, directory, mini FAT,
// mini stream, then the large streams' sectors.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "util/byte_order.h"

struct CompoundStream {
  std::string name;
  std::vector<unsigned char> data;
};

class CompoundBuilder {
 public:
  static constexpr uint32_t kEnd = 0xFFFFFFFE;
  static constexpr uint32_t kFree = 0xFFFFFFFF;

  explicit CompoundBuilder(bool version4 = false) : version4_(version4), sectorSize_(version4 ? 4096 : 512) {}

  void add(const std::string& name, std::vector<unsigned char> data) { streams_.push_back({name, std::move(data)}); }
  // At least this many FAT sectors (mostly free entries beyond the file).
  void minFatSectors(uint32_t count) { minFat_ = count; }

  std::vector<unsigned char> build() {
    const uint32_t per = sectorSize_ / 4;
    // The mini stream and the large streams.
    std::vector<unsigned char> mini;
    std::vector<uint32_t> miniFat;
    std::vector<uint32_t> miniStart(streams_.size(), kEnd);
    for (size_t i = 0; i < streams_.size(); ++i) {
      const auto& d = streams_[i].data;
      if (d.size() >= 4096 || d.empty()) continue;
      uint32_t first = uint32_t(mini.size() / 64);
      uint32_t count = uint32_t((d.size() + 63) / 64);
      for (uint32_t k = 0; k < count; ++k) miniFat.push_back(k + 1 < count ? first + k + 1 : kEnd);
      mini.insert(mini.end(), d.begin(), d.end());
      mini.resize((first + count) * 64, 0);
      miniStart[i] = first;
    }
    uint32_t entriesPerSector = sectorSize_ / 128;
    uint32_t dirSectors = uint32_t((streams_.size() + 1 + entriesPerSector - 1) / entriesPerSector);
    uint32_t miniFatSectors = uint32_t((miniFat.size() + per - 1) / per);
    uint32_t miniSectors = uint32_t((mini.size() + sectorSize_ - 1) / sectorSize_);
    uint32_t bigSectors = 0;
    for (const auto& s : streams_)
      if (s.data.size() >= 4096) bigSectors += uint32_t((s.data.size() + sectorSize_ - 1) / sectorSize_);
    uint32_t others = dirSectors + miniFatSectors + miniSectors + bigSectors;
    uint32_t fatCount = std::max<uint32_t>(minFat_, 1), difatCount = 0;
    for (;;) {
      difatCount = fatCount > 109 ? (fatCount - 109 + per - 2) / (per - 1) : 0;
      if (fatCount * per >= others + fatCount + difatCount) break;
      ++fatCount;
    }
    uint32_t total = fatCount + difatCount + others;
    fatStart = 0;
    difatStart = fatCount;
    dirStart = difatStart + difatCount;
    miniFatStart = dirStart + dirSectors;
    miniStreamStart = miniFatStart + miniFatSectors;
    uint32_t next = miniStreamStart + miniSectors;

    bytes.assign(size_t(total + 1) * sectorSize_, 0);
    std::vector<uint32_t> fat(size_t(fatCount) * per, kFree);
    for (uint32_t k = 0; k < fatCount; ++k) fat[k] = 0xFFFFFFFD;
    for (uint32_t k = 0; k < difatCount; ++k) fat[difatStart + k] = 0xFFFFFFFC;
    auto chain = [&](uint32_t first, uint32_t count) {
      for (uint32_t k = 0; k < count; ++k) fat[first + k] = k + 1 < count ? first + k + 1 : kEnd;
    };
    chain(dirStart, dirSectors);
    chain(miniFatStart, miniFatSectors);
    chain(miniStreamStart, miniSectors);

    // Header.
    unsigned char* h = bytes.data();
    const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(h, sig, 8);
    kvPutU16LE(h + 0x18, 0x3E);
    kvPutU16LE(h + 0x1A, version4_ ? 4 : 3);
    kvPutU16LE(h + 0x1C, 0xFFFE);
    kvPutU16LE(h + 0x1E, version4_ ? 12 : 9);
    kvPutU16LE(h + 0x20, 6);
    kvPutU32LE(h + 0x2C, fatCount);
    kvPutU32LE(h + 0x30, dirStart);
    kvPutU32LE(h + 0x38, 4096);
    kvPutU32LE(h + 0x3C, miniFatSectors ? miniFatStart : kEnd);
    kvPutU32LE(h + 0x40, miniFatSectors);
    kvPutU32LE(h + 0x44, difatCount ? difatStart : kEnd);
    kvPutU32LE(h + 0x48, difatCount);
    for (uint32_t k = 0; k < 109; ++k) kvPutU32LE(h + 0x4C + 4 * k, k < fatCount ? k : kFree);
    for (uint32_t d = 0; d < difatCount; ++d) {
      unsigned char* s = sector(difatStart + d);
      for (uint32_t k = 0; k + 1 < per; ++k) {
        uint32_t fatNo = 109 + d * (per - 1) + k;
        kvPutU32LE(s + 4 * k, fatNo < fatCount ? fatNo : kFree);
      }
      kvPutU32LE(s + 4 * (per - 1), d + 1 < difatCount ? difatStart + d + 1 : kEnd);
    }

    // Directory: the root, then each stream as the right sibling of the one before.
    auto entry = [&](uint32_t index) { return sector(dirStart + index / entriesPerSector) + 128 * (index % entriesPerSector); };
    for (uint32_t i = 0; i < dirSectors * entriesPerSector; ++i) {
      unsigned char* e = entry(i);
      kvPutU32LE(e + 68, kFree);
      kvPutU32LE(e + 72, kFree);
      kvPutU32LE(e + 76, kFree);
    }
    auto setEntry = [&](uint32_t index, const std::string& name, uint8_t type, uint32_t start, uint64_t size) {
      unsigned char* e = entry(index);
      for (size_t k = 0; k < name.size() && k < 31; ++k) kvPutU16LE(e + 2 * k, uint8_t(name[k]));
      kvPutU16LE(e + 64, uint16_t(2 * (std::min<size_t>(name.size(), 31) + 1)));
      e[66] = type;
      e[67] = 1;
      kvPutU32LE(e + 116, start);
      kvPutU64LE(e + 120, size);
    };
    setEntry(0, "Root Entry", 5, miniSectors ? miniStreamStart : kEnd, mini.size());
    if (!streams_.empty()) kvPutU32LE(entry(0) + 76, 1);
    for (size_t i = 0; i < streams_.size(); ++i) {
      const auto& d = streams_[i].data;
      uint32_t start = kEnd;
      if (d.size() >= 4096) {
        uint32_t count = uint32_t((d.size() + sectorSize_ - 1) / sectorSize_);
        start = next;
        chain(start, count);
        for (uint32_t k = 0; k < count; ++k) {
          size_t from = size_t(k) * sectorSize_;
          std::memcpy(sector(start + k), d.data() + from, std::min<size_t>(sectorSize_, d.size() - from));
        }
        next += count;
      } else if (!d.empty()) {
        start = miniStart[i];
      }
      setEntry(uint32_t(i + 1), streams_[i].name, 2, start, d.size());
      if (i + 1 < streams_.size()) kvPutU32LE(entry(uint32_t(i + 1)) + 72, uint32_t(i + 2));
    }
    for (uint32_t k = 0; k < miniFat.size(); ++k)
      kvPutU32LE(sector(miniFatStart + k / per) + 4 * (k % per), miniFat[k]);
    for (uint32_t k = uint32_t(miniFat.size()); k < miniFatSectors * per; ++k)
      kvPutU32LE(sector(miniFatStart + k / per) + 4 * (k % per), kFree);
    if (!mini.empty()) std::memcpy(sector(miniStreamStart), mini.data(), mini.size());
    for (uint32_t k = 0; k < fat.size(); ++k) kvPutU32LE(sector(k / per) + 4 * (k % per), fat[k]);
    return bytes;
  }

  // After build: where things are.
  unsigned char* sector(uint32_t n) { return bytes.data() + size_t(n + 1) * sectorSize_; }
  unsigned char* fatEntry(uint32_t n) { return sector(fatStart + n / (sectorSize_ / 4)) + 4 * (n % (sectorSize_ / 4)); }
  unsigned char* directoryEntry(uint32_t index) {
    return sector(dirStart + index / (sectorSize_ / 128)) + 128 * (index % (sectorSize_ / 128));
  }
  uint32_t sectorSize() const { return sectorSize_; }

  std::vector<unsigned char> bytes;
  uint32_t fatStart = 0, difatStart = 0, dirStart = 0, miniFatStart = 0, miniStreamStart = 0;

 private:
  bool version4_;
  uint32_t sectorSize_;
  uint32_t minFat_ = 1;
  std::vector<CompoundStream> streams_;
};

inline std::vector<unsigned char> patternBytes(size_t size, unsigned seed) {
  std::vector<unsigned char> out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
  }
  return out;
}
