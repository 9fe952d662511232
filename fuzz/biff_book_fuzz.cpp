// Fuzz target of the Excel 5 driver's BIFF5 reader: any bytes are a
// workbook's "Book" stream, held in a compound file built around them. The
// workbook globals are scanned, and each accepted name's sheet is walked
// record by record as the driver's scan does, every cell and MULRK record
// decoded. Reading never runs past the stream, never loops, and every
// delivered record keeps within what was copied.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "drivers/excel/biff/xls_book_desc.h"
#include "fuzz/fuzz_check.h"
#include "util/byte_order.h"
#include "util/error_list.h"

namespace {

// A version 3 compound file: header, FAT (sector 0), directory (1), then the
// stream, padded to 4096 bytes so that it lives in sectors of its own.
std::vector<unsigned char> compound(const uint8_t* data, size_t size) {
  std::vector<unsigned char> stream(data, data + size);
  if (stream.size() < 4096) stream.resize(4096, 0);
  const uint32_t end = 0xFFFFFFFE, free = 0xFFFFFFFF;
  uint32_t count = uint32_t((stream.size() + 511) / 512);
  std::vector<unsigned char> file(size_t(3 + count) * 512, 0);
  const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(file.data(), sig, 8);
  kvPutU16LE(&file[0x1A], 3);
  kvPutU16LE(&file[0x1C], 0xFFFE);
  kvPutU16LE(&file[0x1E], 9);
  kvPutU16LE(&file[0x20], 6);
  kvPutU32LE(&file[0x2C], 1);
  kvPutU32LE(&file[0x30], 1);
  kvPutU32LE(&file[0x38], 4096);
  kvPutU32LE(&file[0x3C], end);
  kvPutU32LE(&file[0x44], end);
  for (int i = 0; i < 109; ++i) kvPutU32LE(&file[0x4C + 4 * i], i == 0 ? 0 : free);
  unsigned char* fat = &file[512];
  for (uint32_t i = 0; i < 128; ++i) kvPutU32LE(fat + 4 * i, free);
  kvPutU32LE(fat, 0xFFFFFFFD);
  kvPutU32LE(fat + 4, end);
  for (uint32_t i = 0; i < count; ++i) kvPutU32LE(fat + 4 * (2 + i), i + 1 < count ? 3 + i : end);
  auto entry = [&](uint32_t index, const char* name, uint8_t type, uint32_t child, uint32_t start, uint32_t bytes) {
    unsigned char* e = &file[1024 + 128 * index];
    size_t n = std::strlen(name);
    for (size_t k = 0; k < n; ++k) kvPutU16LE(e + 2 * k, uint8_t(name[k]));
    kvPutU16LE(e + 64, uint16_t(2 * (n + 1)));
    e[66] = type;
    kvPutU32LE(e + 68, free);
    kvPutU32LE(e + 72, free);
    kvPutU32LE(e + 76, child);
    kvPutU32LE(e + 116, start);
    kvPutU32LE(e + 120, bytes);
  };
  entry(0, "Root Entry", 5, 1, end, 0);
  entry(1, "Book", 2, free, 2, uint32_t(stream.size()));
  std::memcpy(&file[1536], stream.data(), stream.size());
  return file;
}

void walkSheet(XlsBookDesc& book, const XlsNameDesc& name) {
  uint32_t offset = 0;
  if (book.sheetOffset(name, &offset) != kvSuccess) return;
  XlsCellBuffer reader(&book);
  auto record = std::make_unique<XlsCellBuffer::Record>();
  uint64_t last = 0;
  for (int steps = 0; steps < 100000; ++steps) {
    if (reader.fetchRecord(offset, record.get()) != kvSuccess) return;
    FUZZ_CHECK(record->copied <= record->length);
    FUZZ_CHECK(uint64_t(offset) + 4 + record->length <= book.streamSize());
    if (record->type == biffEof) return;
    BiffCell cell;
    if (biffIsCellRecord(record->type) && biffDecodeCell(record->type, record->data, record->copied, &cell)) {
      if (cell.text) FUZZ_CHECK(cell.text + cell.textLength <= record->data + record->copied);
      (void)book.formatClass(cell.xf);
    }
    uint16_t row, column;
    uint32_t entries;
    if (record->type == biffMulRk && biffMulRkShape(record->data, record->copied, &row, &column, &entries)) {
      FUZZ_CHECK(4 + 6 * entries + 2 <= record->copied);
      for (uint32_t i = 0; i < entries; ++i) {
        uint16_t xf;
        double number;
        biffMulRkEntry(record->data, i, &xf, &number);
      }
    }
    last = uint64_t(offset) + 4 + record->length;
    FUZZ_CHECK(last > offset);
    offset = uint32_t(last);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KvErrorList errors(nullptr, 1);
  KvErrorKeeper::setErrorList(&errors);
  std::vector<unsigned char> file = compound(data, size);
  std::unique_ptr<OleStorage> storage;
  FUZZ_CHECK(OleStorage::openMemory(file.data(), file.size(), &storage) == kvOleOk);
  XlsBookDesc book;
  if (book.openStorage(std::move(storage), reinterpret_cast<const unsigned char*>("fuzz.xls")) == kvSuccess) {
    FUZZ_CHECK(errors.getCount() == 0);
    for (const XlsNameDesc& name : book.names()) {
      FUZZ_CHECK(name.firstRow <= name.lastRow && name.firstColumn <= name.lastColumn);
      walkSheet(book, name);
    }
  } else {
    FUZZ_CHECK(errors.getCount() > 0);
  }
  KvErrorKeeper::giveUpErrorList();
  return 0;
}
