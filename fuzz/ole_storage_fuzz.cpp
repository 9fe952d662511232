// Fuzz target of the compound-file reader. An input that begins with the
// compound-file signature is read as a file itself; any other input is a
// list of damages, (offset u16, byte) triples, written into a small valid
// file that holds a mini-stream "Book", a sector stream and a DIFAT-free FAT,
// so that the fuzzer reaches deep into the chains and the directory. Every
// stream that opens is read whole through seeks and short reads, never
// giving more bytes than its size.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/olestorage/ole_storage.h"
#include "util/byte_order.h"

namespace {

// A valid version 3 file: header, FAT (sector 0), directory (1), mini FAT
// (2), mini stream (3-4: "Book", 700 bytes), "Data" (5-13: 4500 bytes).
std::vector<unsigned char> templateFile() {
  std::vector<unsigned char> f(15 * 512, 0);
  const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(f.data(), sig, 8);
  kvPutU16LE(&f[0x1A], 3);
  kvPutU16LE(&f[0x1C], 0xFFFE);
  kvPutU16LE(&f[0x1E], 9);
  kvPutU16LE(&f[0x20], 6);
  kvPutU32LE(&f[0x2C], 1);
  kvPutU32LE(&f[0x30], 1);
  kvPutU32LE(&f[0x38], 4096);
  kvPutU32LE(&f[0x3C], 2);
  kvPutU32LE(&f[0x40], 1);
  kvPutU32LE(&f[0x44], 0xFFFFFFFE);
  for (int i = 0; i < 109; ++i) kvPutU32LE(&f[0x4C + 4 * i], i == 0 ? 0 : 0xFFFFFFFF);
  auto sector = [&](uint32_t n) { return &f[(n + 1) * 512]; };
  uint32_t fat[14] = {0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFE, 4, 0xFFFFFFFE, 6, 7, 8, 9, 10, 11, 12, 13, 0xFFFFFFFE};
  for (uint32_t i = 0; i < 128; ++i) kvPutU32LE(sector(0) + 4 * i, i < 14 ? fat[i] : 0xFFFFFFFF);
  auto entry = [&](uint32_t i, const char* name, uint8_t type, uint32_t left, uint32_t right, uint32_t child,
                   uint32_t start, uint32_t size) {
    unsigned char* e = sector(1) + 128 * i;
    size_t n = std::strlen(name);
    for (size_t k = 0; k < n; ++k) kvPutU16LE(e + 2 * k, uint8_t(name[k]));
    kvPutU16LE(e + 64, uint16_t(2 * (n + 1)));
    e[66] = type;
    kvPutU32LE(e + 68, left);
    kvPutU32LE(e + 72, right);
    kvPutU32LE(e + 76, child);
    kvPutU32LE(e + 116, start);
    kvPutU32LE(e + 120, size);
  };
  const uint32_t none = 0xFFFFFFFF;
  entry(0, "Root Entry", 5, none, none, 1, 3, 1024);
  entry(1, "Book", 2, none, 2, none, 0, 700);
  entry(2, "Data", 2, none, none, none, 5, 4500);
  for (uint32_t i = 0; i < 128; ++i) kvPutU32LE(sector(2) + 4 * i, i < 10 ? (i + 1 < 11 ? i + 1 : 0xFFFFFFFE) : 0xFFFFFFFF);
  kvPutU32LE(sector(2) + 4 * 10, 0xFFFFFFFE);
  for (uint32_t i = 3 * 512; i < f.size() - 512; ++i) f[i + 512] = uint8_t(i * 7);
  return f;
}

void readAll(OleStorage& storage, const char* name) {
  std::unique_ptr<OleStream> stream;
  if (storage.openStream(name, STGM_READ, &stream) != kvOleOk) return;
  FUZZ_CHECK(stream != nullptr);
  unsigned char buffer[2084];
  uint64_t total = 0;
  for (int steps = 0; steps < 10000; ++steps) {
    uint32_t got = 0;
    if (stream->read(buffer, sizeof buffer, &got) != kvOleOk) return;
    FUZZ_CHECK(got <= sizeof buffer);
    total += got;
    FUZZ_CHECK(total <= stream->size());
    if (got < sizeof buffer) break;
  }
  uint64_t position = 0;
  FUZZ_CHECK(stream->seek(-3, kvOleSeekEnd, &position) != kvOleOk || position + 3 == stream->size());
  uint32_t got = 0;
  if (stream->read(buffer, 100, &got) == kvOleOk) FUZZ_CHECK(got <= 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<unsigned char> base = templateFile();
  std::vector<unsigned char> file;
  if (size >= 8 && data[0] == 0xD0 && data[1] == 0xCF) {
    file.assign(data, data + size);
  } else {
    file = base;
    for (size_t i = 0; i + 3 <= size; i += 3) {
      size_t at = kvGetU16LE(data + i) % file.size();
      file[at] = data[i + 2];
    }
  }
  std::unique_ptr<OleStorage> storage;
  if (OleStorage::openMemory(file.data(), file.size(), &storage) != kvOleOk) return 0;
  FUZZ_CHECK(storage != nullptr);
  readAll(*storage, "Book");
  readAll(*storage, "DATA");
  readAll(*storage, "Missing");
  return 0;
}
