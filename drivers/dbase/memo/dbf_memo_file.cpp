// Memo files of the dBASE driver: open, reading values whole or in pieces,
// and writing them with the block reuse rules; see dbf_memo_file.h.
#include "drivers/dbase/memo/dbf_memo_file.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/locks/dbf_locks.h"
#include "drivers/dbase/memo/dbf_memo_stage.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/connection/flat_file_desc.h"
#include "util/os/bos.h"
#include "util/byte_order.h"
#include "util/charsets/charset_oem.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

#include <cstring>
#include <strings.h>

namespace {

enum : uint32_t {
  headerReadBytes = 24,      // the part of block 0 that is read
  signatureOffset = 18,      // dBASE IV signature 0x02 0x01
  dbase4SizeOffset = 20,     // dBASE IV block size, LE
  foxSizeOffset = 6,         // FoxPro block size, BE
  nameOffset = 8,            // dBASE IV: the table's base name, 8 bytes
  nameBytes = 8,
  defaultBlockSize = 512,
  valueHeaderBytes = 8,
  dbase4Mark = 0x0008FFFF,   // FF FF 08 00 read as a little-endian word
  textChunk = 512,
  copyChunk = 4096,
};
const unsigned char endOfText = 0x1A;
const unsigned char softBreak = 0x8D;

KvStatus corrupt() {
  addOdbcError(stateGeneral, msgDbfMemoCorrupt);
  return kvFailure;
}

// FoxPro block types by field: P 0, M 1, G 2 (anything else is written as
// text).
uint32_t foxTypeOf(unsigned char type) { return type == 'P' ? 0 : type == 'G' ? 2 : 1; }

uint32_t blocksFor(uint64_t bytes, uint32_t blockSize) { return uint32_t((bytes + blockSize - 1) / blockSize); }

}  // namespace

uint32_t dbfParseMemoBlock(const unsigned char* text, uint32_t length, bool* tooLarge) {
  uint64_t block = 0;
  *tooLarge = false;
  for (uint32_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') continue;
    block = block * 10 + uint32_t(text[i] - '0');
    if (block > 0xFFFFFFFFu) {
      *tooLarge = true;
      return 0;
    }
  }
  return uint32_t(block);
}

bool dbfMemoBlockFits(uint32_t block, uint32_t width) {
  uint32_t digits = 1;
  for (uint32_t rest = block / 10; rest; rest /= 10) ++digits;
  return digits <= width;
}

void dbfFormatMemoBlock(uint32_t block, unsigned char* text, uint32_t width) {
  std::memset(text, ' ', width);
  for (uint32_t i = width; i > 0 && block; --i, block /= 10) text[i - 1] = uint8_t('0' + block % 10);
  if (width && text[width - 1] == ' ') text[width - 1] = '0';
}

// ---------------------------------------------------------------- open and close

DbfMemoFile::~DbfMemoFile() { close(); }

void DbfMemoFile::close() {
  if (handle_) (void)(bosFileClose(handle_));
  handle_ = 0;
  ramFree(path_);
  path_ = nullptr;
  readOnly_ = false;
  lastReadKnown_ = false;
}

KvStatus DbfMemoFile::open(DbfSharedDesc* table) {
  if (handle_) return kvSuccess;
  const unsigned char* tablePath = table->getName();
  size_t pathLength = tablePath ? std::strlen(kvC(tablePath)) : 0;
  unsigned char name[bosPathBytes];
  if (pathLength < 3 || pathLength >= sizeof(name)) return corrupt();
  std::memcpy(name, tablePath, pathLength + 1);
  bool fox = table->getVersion() == 0xF5;
  const char* extension = table->getDbfConnection()->getExtension(fox ? dbfExtFoxMemo : dbfExtDbaseMemo);
  std::memcpy(name + pathLength - 3, extension, 3);

  // Like the table, a memo file that cannot be written is read all the
  // same; only a write that needs it is refused.
  bool readOnly = table->isReadOnly();
  int handle = 0;
  KvStatus opened = bosFileOpen(name, readOnly ? 0 : uint32_t(bosOpenReadWrite), &handle);
  if (opened != kvSuccess && !readOnly && bosexist(name)) {
    KvErrorKeeper::clearLastError();
    readOnly = true;
    opened = bosFileOpen(name, 0, &handle);
  }
  if (opened != kvSuccess) {
    uint16_t number = KvErrorKeeper::getLastErrorNumber();
    if (number == 30040 || number == 1509 || number == 1510) {
      KvErrorKeeper::clearLastError();
      addOdbcError(stateTableNotFound);
    }
    return kvFailure;
  }
  unsigned char header[headerReadBytes] = {0};
  uint32_t got = 0;
  if (bosFileRead(handle, 0, header, sizeof(header), &got) != kvSuccess) {
    (void)(bosFileClose(handle));
    return kvFailure;
  }
  uint32_t kind = dbfMemoDbase3;
  uint32_t blockSize = defaultBlockSize;
  if (fox) {
    if (got < valueHeaderBytes) {
      (void)(bosFileClose(handle));
      return corrupt();
    }
    kind = dbfMemoFox;
    blockSize = kvGetU16BE(header + foxSizeOffset);
  } else if (got >= headerReadBytes && header[signatureOffset] == 0x02 && header[signatureOffset + 1] == 0x01) {
    kind = dbfMemoDbase4;
    blockSize = kvGetU16LE(header + dbase4SizeOffset);
    // The name the file gives its table, compared with the file's own.
    unsigned char own[bosNameBytes], ext[bosNameBytes], directory[bosPathBytes];
    std::memcpy(directory, name, std::strlen(kvC(name)) + 1);
    char stored[nameBytes + 1] = {0};
    std::memcpy(stored, header + nameOffset, nameBytes);
    if (bosParseName(directory, own, ext, 0) == kvSuccess && stored[0] &&
        strncasecmp(stored, kvC(own), nameBytes) != 0)
      addOdbcWarning(stateWarning, msgDbfMemoOtherTable) << kvU(stored);
  }
  // A block size of 0 would divide by zero; blocks smaller than a value's
  // header cannot hold one.
  if (blockSize < valueHeaderBytes) {
    (void)(bosFileClose(handle));
    return corrupt();
  }
  bosDiskName(name, name);
  unsigned char* path = ramAllocStr(name);
  if (!path) {
    (void)(bosFileClose(handle));
    return kvFailure;
  }
  handle_ = handle;
  path_ = path;
  readOnly_ = readOnly;
  kind_ = kind;
  blockSize_ = blockSize;
  lastReadKnown_ = false;
  return kvSuccess;
}

uint64_t DbfMemoFile::fileSize() const {
  uint32_t size = bosFileSeek(handle_, 0, 2);
  if (size == 0xFFFFFFFF) {
    KvErrorKeeper::clearLastError();
    return 0;
  }
  return size;
}

uint32_t DbfMemoFile::headerBytes(unsigned char type) const {
  return (kind_ != dbfMemoDbase3 || type == 'P') ? uint32_t(valueHeaderBytes) : 0;
}

uint32_t DbfMemoFile::blocksOf(unsigned char type, uint64_t length) const {
  // Text ends with a 0x1A inside its blocks (a second one when there is
  // room).
  uint32_t h = headerBytes(type);
  return blocksFor(length + h + (h ? 0 : 1), blockSize_);
}

// ---------------------------------------------------------------- reading

KvStatus DbfMemoFile::startValue(DbfSharedDesc*, DbfMemoCursor* cursor, unsigned char type, uint32_t block) {
  uint64_t size = fileSize();
  uint64_t start = uint64_t(block) * blockSize_;
  // Block 0 is the header; a block at or past the end holds no value.
  if (block == 0 || start >= size) return corrupt();
  lastReadBlock_ = block;
  lastReadKnown_ = false;
  cursor->position = start;
  cursor->delivered = 0;
  cursor->ended = false;
  cursor->hasLength = false;
  cursor->length = 0;
  cursor->measured = false;
  cursor->measuredTotal = 0;

  unsigned char head[valueHeaderBytes] = {0};
  uint32_t got = 0;
  if (bosFileRead(handle_, int64_t(start), head, sizeof(head), &got) != kvSuccess) return kvFailure;
  uint32_t first = kvGetU32LE(head);
  uint32_t length = 0;
  bool dbase4Header = got == valueHeaderBytes && first == dbase4Mark;
  if (kind_ == dbfMemoFox) {
    if (got < valueHeaderBytes) return corrupt();
    uint32_t blockType = kvGetU32BE(head);
    if (blockType <= 2 && (type == 'P' || type == 'M' || type == 'G') && blockType != foxTypeOf(type))
      return corrupt();
    length = kvGetU32BE(head + 4);
  } else if (type == 'P' && !dbase4Header) {
    if (got < valueHeaderBytes) return corrupt();
    length = kvGetU32LE(head + 4) == 0 ? first : 0;
  } else if (dbase4Header) {
    // dBASE IV values, also in files without the signature.
    uint32_t stored = kvGetU32LE(head + 4);
    if (stored < valueHeaderBytes) return corrupt();
    length = stored - valueHeaderBytes;
  } else {
    // Text up to 0x1A: a dBASE III value, or a dBASE IV value written
    // without its header.
    return kvSuccess;
  }
  uint64_t dataStart = start + valueHeaderBytes;
  if (dataStart + length > size) return corrupt();
  cursor->position = dataStart;
  cursor->hasLength = true;
  cursor->length = length;
  return kvSuccess;
}

KvStatus DbfMemoFile::deliver(DbfMemoCursor* cursor, bool oem, unsigned char type, unsigned char* buffer,
                              uint32_t size, uint32_t* got) {
  *got = 0;
  if (cursor->ended) return kvSuccess;
  if (!cursor->hasLength) return deliverText(cursor, type == 'M', oem, buffer, size, got);
  uint32_t left = cursor->length - cursor->delivered;
  uint32_t want = left < size ? left : size;
  uint32_t read = 0;
  if (want && bosFileRead(handle_, int64_t(cursor->position), buffer, want, &read) != kvSuccess) return kvFailure;
  // The file was checked to hold the value when it started; a shorter
  // read means it was cut meanwhile.
  if (read != want) return corrupt();
  if (oem && type == 'M') kvOemToAnsi(buffer, buffer, read);
  cursor->position += read;
  cursor->delivered += read;
  cursor->ended = cursor->delivered == cursor->length;
  *got = read;
  return kvSuccess;
}

KvStatus DbfMemoFile::deliverText(DbfMemoCursor* cursor, bool text, bool oem, unsigned char* buffer,
                                  uint32_t size, uint32_t* got) {
  unsigned char chunk[textChunk];
  uint32_t out = 0;
  uint64_t size64 = fileSize();
  // Every turn reads at the position and moves it on by at least one byte
  // or ends: the loop ends within the file.
  while (!cursor->ended) {
    uint32_t read = 0;
    if (cursor->position >= size64) return corrupt();
    if (bosFileRead(handle_, int64_t(cursor->position), chunk, sizeof(chunk), &read) != kvSuccess) return kvFailure;
    if (read == 0) return corrupt();
    uint32_t i = 0;
    for (; i < read; ++i) {
      unsigned char c = chunk[i];
      if (c == endOfText) {
        cursor->ended = true;
        break;
      }
      if (out == size) break;
      if (!text) {
        // General and binary values are written as they come, so they are
        // given back so: a 0x8D 0x0A or a byte above 0x7F is data there.
        buffer[out++] = c;
        continue;
      }
      if (c == softBreak) {
        // The pair may straddle two chunks: the 0x8D is read again with
        // the next chunk, unless it is the file's last byte.
        if (i + 1 == read && read > 1) break;
        if (i + 1 < read && chunk[i + 1] == 0x0A) {
          ++i;
          continue;
        }
      }
      buffer[out++] = oem ? kvOemToAnsiChar(c) : c;
    }
    cursor->position += i;
    if (cursor->ended) {
      uint64_t textBytes = cursor->position - uint64_t(cursor->block) * blockSize_;
      if (textBytes < 0xFFFFFFFF && lastReadBlock_ == cursor->block) {
        lastReadBlock_ = cursor->block;
        lastReadTextBytes_ = uint32_t(textBytes);
        lastReadKnown_ = true;
      }
      break;
    }
    if (out == size && i < read) break;
  }
  cursor->delivered += out;
  *got = out;
  return kvSuccess;
}

KvStatus DbfMemoFile::read(DbfSharedDesc* table, DbfMemoCursor* cursor, const DbfMemoRead& request,
                           unsigned char* buffer, uint32_t size, DbfMemoPiece* piece) {
  *piece = DbfMemoPiece();
  bool tooLarge = false;
  uint32_t block = dbfParseMemoBlock(request.text, request.width, &tooLarge);
  if (tooLarge) return corrupt();
  if (block == 0) {
    piece->isNull = true;
    cursor->reading = false;
    return kvSuccess;
  }
  if (open(table) != kvSuccess) return kvFailure;
  const uint32_t offset = request.offset;
  bool continuing = cursor->reading && cursor->record == request.record && cursor->column == request.column &&
                    cursor->block == block && cursor->delivered == offset && offset != 0;
  if (!continuing) {
    cursor->reading = false;
    cursor->record = request.record;
    cursor->column = request.column;
    cursor->block = block;
    if (startValue(table, cursor, request.type, block) != kvSuccess) return kvFailure;
    cursor->reading = true;
    // A piece asked for out of order: the bytes before it are passed over.
    unsigned char skip[textChunk];
    while (cursor->delivered < offset && !cursor->ended) {
      uint32_t want = offset - cursor->delivered;
      uint32_t skipped = 0;
      if (deliver(cursor, request.oem, request.type, skip, want < sizeof(skip) ? want : uint32_t(sizeof(skip)),
                  &skipped) != kvSuccess) {
        cursor->reading = false;
        return kvFailure;
      }
      if (skipped == 0) break;
    }
  }
  if (deliver(cursor, request.oem, request.type, buffer, size, &piece->got) != kvSuccess) {
    cursor->reading = false;
    return kvFailure;
  }
  if (cursor->hasLength) {
    piece->total = cursor->length;
  } else if (cursor->ended) {
    piece->total = cursor->delivered;
  } else if (!request.wantTotal) {
    piece->total = flatLongLengthUnknown;
  } else {
    if (!cursor->measured) {
      // The rest of the text is read on a copy of the place, which stays
      // where it was.
      DbfMemoCursor probe = *cursor;
      unsigned char scratch[textChunk];
      while (!probe.ended) {
        uint32_t got = 0;
        if (deliver(&probe, request.oem, request.type, scratch, sizeof(scratch), &got) != kvSuccess) {
          cursor->reading = false;
          return kvFailure;
        }
        if (got == 0 && !probe.ended) {
          cursor->reading = false;
          return corrupt();
        }
      }
      cursor->measured = true;
      cursor->measuredTotal = probe.delivered;
    }
    piece->total = cursor->measuredTotal;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- writing

uint32_t DbfMemoFile::occupiedBytes(uint32_t block, unsigned char type, bool inTransaction) {
  if (headerBytes(type) == 0) {
    // Text: known only from the last read that reached the value's end.
    if (inTransaction || !lastReadKnown_ || lastReadBlock_ != block) return 0;
    return lastReadTextBytes_ + 1;
  }
  unsigned char head[valueHeaderBytes] = {0};
  uint32_t got = 0;
  if (bosFileRead(handle_, int64_t(uint64_t(block) * blockSize_), head, sizeof(head), &got) != kvSuccess) {
    KvErrorKeeper::clearLastError();
    return 0;
  }
  if (got != valueHeaderBytes) return 0;
  if (kind_ == dbfMemoFox) {
    uint32_t length = kvGetU32BE(head + 4);
    return length > 0xFFFFFFFF - valueHeaderBytes ? 0 : length + valueHeaderBytes;
  }
  if (kind_ == dbfMemoDbase4 || kvGetU32LE(head) == dbase4Mark) {
    // The dBASE IV length word already counts its 8 header bytes.
    if (kvGetU32LE(head) != dbase4Mark) return 0;
    uint32_t stored = kvGetU32LE(head + 4);
    return stored < valueHeaderBytes ? 0 : stored;
  }
  uint32_t length = kvGetU32LE(head);  // dBASE III picture
  return kvGetU32LE(head + 4) != 0 || length > 0xFFFFFFFF - valueHeaderBytes ? 0 : length + valueHeaderBytes;
}

KvStatus DbfMemoFile::readNextFree(uint32_t* nextFree) {
  unsigned char word[4] = {0};
  uint32_t got = 0;
  if (bosFileRead(handle_, 0, word, 4, &got) != kvSuccess) return kvFailure;
  if (got != 4) return corrupt();
  *nextFree = kind_ == dbfMemoFox ? kvGetU32BE(word) : kvGetU32LE(word);
  return kvSuccess;
}

KvStatus DbfMemoFile::writeNextFree(uint32_t nextFree) {
  unsigned char word[4];
  if (kind_ == dbfMemoFox) kvPutU32BE(word, nextFree);
  else kvPutU32LE(word, nextFree);
  return bosFileWrite(handle_, 0, word, 4);
}

KvStatus DbfMemoFile::writeValueHeader(uint32_t block, unsigned char type, uint32_t total) {
  unsigned char head[valueHeaderBytes];
  if (kind_ == dbfMemoFox) {
    kvPutU32BE(head, foxTypeOf(type));
    kvPutU32BE(head + 4, total);
  } else if (kind_ == dbfMemoDbase4) {
    kvPutU32LE(head, dbase4Mark);
    kvPutU32LE(head + 4, total + valueHeaderBytes);
  } else {
    kvPutU32LE(head, total);
    kvPutU32LE(head + 4, 0);
  }
  return bosFileWrite(handle_, int64_t(uint64_t(block) * blockSize_), head, sizeof(head));
}

KvStatus DbfMemoFile::checkPiece(DbfSharedDesc* table, unsigned char type, const unsigned char* data,
                                 uint32_t length, uint64_t total) {
  // The same message as every other write to a table opened read only.
  if (table->isReadOnly()) return table->refuseReadOnly();
  if (open(table) != kvSuccess) return kvFailure;
  if (readOnly_) {
    kvAddUtilityError(kvMsgAccessDenied) << path_;
    return kvFailure;
  }
  // A value without a length header ends at its first 0x1A: one holding
  // that byte would read back cut short.
  if (headerBytes(type) == 0 && length && std::memchr(data, endOfText, length)) {
    addOdbcError(stateAssignment);
    return kvFailure;
  }
  if (total + headerBytes(type) + 2 > 0xFFFFFFFFull) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus DbfMemoFile::writeValue(DbfMemoStage* stage, const Placement& value, bool oem) {
  const uint32_t h = headerBytes(value.type);
  const uint64_t start = uint64_t(value.block) * blockSize_;
  KvStatus status = kvSuccess;
  if (h) status = writeValueHeader(value.block, value.type, value.length);
  unsigned char chunk[copyChunk];
  for (uint32_t done = 0; status == kvSuccess && done < value.length;) {
    uint32_t n = value.length - done < sizeof(chunk) ? value.length - done : uint32_t(sizeof(chunk));
    status = stage->read(value.column, done, chunk, n);
    if (status != kvSuccess) break;
    if (oem && value.type == 'M') kvAnsiToOem(chunk, chunk, n);
    status = bosFileWrite(handle_, int64_t(start + h + done), chunk, n);
    done += n;
  }
  if (status == kvSuccess && !h) {
    // Two end marks where the second stays inside the value's blocks.
    const unsigned char marks[2] = {endOfText, endOfText};
    uint32_t count = uint64_t(value.length) + 2 <= uint64_t(value.blocks) * blockSize_ ? 2 : 1;
    status = bosFileWrite(handle_, int64_t(start + value.length), marks, count);
  }
  return status;
}

KvStatus DbfMemoFile::reserve(DbfSharedDesc* table, uint32_t values, uint64_t bytes) {
  if (values == 0) return kvSuccess;
  if (open(table) != kvSuccess) return kvFailure;
  if (readOnly_) return kvSuccess;
  uint32_t nextFree = 0;
  if (readNextFree(&nextFree) != kvSuccess) return kvFailure;
  const uint64_t perValue = uint64_t(valueHeaderBytes) + 2 + blockSize_;
  const uint64_t need = bytes + uint64_t(values) * perValue;
  uint64_t base = uint64_t(blocksFor(fileSize(), blockSize_)) * blockSize_;
  // New values go behind the next-free number when it lies past the end;
  // one far beyond is a corrupt file, which the write reports.
  const uint64_t next = uint64_t(nextFree) * blockSize_;
  if (next > base + need) return kvSuccess;
  if (next > base) base = next;
  return bosFileReserve(handle_, int64_t(base + need));
}

KvStatus DbfMemoFile::writeStaged(DbfSharedDesc* table, DbfMemoStage* stage, unsigned char* record,
                                  const DbfMemoWriteOptions& options) {
  if (stage->isEmpty()) return kvSuccess;
  // The same message as every other write to a table opened read only.
  if (table->isReadOnly()) return table->refuseReadOnly();
  if (open(table) != kvSuccess) return kvFailure;
  if (readOnly_) {
    kvAddUtilityError(kvMsgAccessDenied) << path_;
    return kvFailure;
  }
  const uint16_t columns = stage->getColumnCount();
  Placement* placed = static_cast<Placement*>(ramAlloc(uint32_t(columns) * sizeof(Placement)));
  if (!placed) return kvFailure;
  uint32_t count = 0;

  // Placing: every value gets its block before a byte is written. The
  // next-free number is read once, under the memo-header lock, when the
  // first value needs blocks beyond those it has; later values take the
  // blocks after the ones handed out before them.
  bool locked = false, asked = false;
  uint32_t nextFree = 0, fileEnd = 0, reserve = 0;
  KvStatus status = kvSuccess;
  for (uint16_t column = 0; column < columns; ++column) {
    uint32_t length = 0;
    if (!stage->get(column, &length)) continue;
    DbfSharedField* field = table->getField(column);
    if (!field) {
      addOdbcError(stateColumnNumber);
      status = kvFailure;
      break;
    }
    reserve += blocksOf(field->getType(), length);
  }
  for (uint16_t column = 0; status == kvSuccess && column < columns; ++column) {
    uint32_t length = 0;
    if (!stage->get(column, &length)) continue;
    DbfSharedField* field = table->getField(column);
    const unsigned char type = field->getType();
    const unsigned char* text = record + field->getOffset();
    const uint32_t width = field->getLength();
    const uint32_t needed = blocksOf(type, length);
    Placement& value = placed[count++];
    value = Placement{column, type, length, 0, needed};
    // The block the field names, when it holds a value of this file.
    bool tooLarge = false;
    uint32_t b = dbfParseMemoBlock(text, width, &tooLarge);
    if (b != 0 && uint64_t(b) * blockSize_ >= fileSize()) b = 0;
    uint32_t used = 0;
    if (b != 0) {
      // The blocks the old value occupies, rounded up (one when its size
      // is not known: every value has its first block).
      uint32_t occupied = occupiedBytes(b, type, options.inTransaction);
      used = occupied ? blocksFor(occupied, blockSize_) : 1;
      // A value of one block goes back to its block, a longer one when
      // the old value was the one last read and its blocks hold the new.
      if (needed < 2 || (b == lastReadBlock_ && needed <= used)) {
        value.block = b;
        value.blocks = used > needed ? used : needed;
      }
    }
    if (value.block == 0) {
      if (!asked) {
        if (options.lockHeader) {
          status = dbfLockMemoHeader(table);
          if (status != kvSuccess) break;
          locked = true;
        }
        status = readNextFree(&nextFree);
        if (status != kvSuccess) break;
        fileEnd = blocksFor(fileSize(), blockSize_);
        // The number may lie beyond the file's end by a value's blocks
        // (a writer that moved it before writing its value, or that left
        // its last block short); one further out than the blocks of the
        // values written here is no number of this file, and following it
        // would write far beyond the file's end.
        if (nextFree > uint64_t(fileEnd) + reserve) {
          status = corrupt();
          break;
        }
        asked = true;
      }
      // Otherwise it keeps its block only as the file's last value, which
      // grows in place; else it takes the next free blocks.
      if (b != 0 && uint64_t(b) + used == nextFree && nextFree >= fileEnd) value.block = b;
      else value.block = nextFree > fileEnd ? nextFree : fileEnd;
      if (value.block == 0) value.block = 1;
      if (uint64_t(value.block) + needed > 0xFFFFFFFFull) {
        addOdbcError(stateGeneral);
        status = kvFailure;
        break;
      }
      // A last value that shrinks gives no blocks back.
      if (value.block + needed > nextFree) nextFree = value.block + needed;
      if (nextFree > fileEnd) fileEnd = nextFree;
    }
    if (!dbfMemoBlockFits(value.block, width)) {
      addOdbcError(stateNumericRange);
      status = kvFailure;
    }
  }

  // Room for every value and the file's new end before a byte is written:
  // on a full disk the memo file stays as it was. A write that fails all
  // the same (a file system that cannot reserve) is cut back to the old
  // end; the next-free number is not moved then.
  const uint64_t sizeBefore = fileSize();
  if (status == kvSuccess) {
    uint64_t end = asked ? uint64_t(nextFree) * blockSize_ : 0;
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t valueEnd = (uint64_t(placed[i].block) + placed[i].blocks) * blockSize_;
      if (valueEnd > end) end = valueEnd;
    }
    status = bosFileReserve(handle_, int64_t(end));
  }
  // Writing: the values, then the next-free number they moved, then the
  // file's end to whole blocks, as other programs write it and some expect
  // it (they read a value's last block whole).
  for (uint32_t i = 0; status == kvSuccess && i < count; ++i) {
    status = writeValue(stage, placed[i], options.oem);
    if (status != kvSuccess && fileSize() > sizeBefore) kvIgnoreStatus(bosFileTruncate(handle_, int64_t(sizeBefore)));
  }
  if (status == kvSuccess && asked) {
    uint32_t current = 0;
    status = readNextFree(&current);
    if (status == kvSuccess && nextFree > current) status = writeNextFree(nextFree);
    uint64_t end = uint64_t(nextFree) * blockSize_;
    if (status == kvSuccess && fileSize() < end) {
      const unsigned char zero = 0;
      status = bosFileWrite(handle_, int64_t(end - 1), &zero, 1);
    }
  }
  if (locked) dbfUnlockMemoHeader(table);
  if (status == kvSuccess) {
    table->addTableFlags(DbfSharedDesc::tableWritten);
    for (uint32_t i = 0; i < count; ++i) {
      DbfSharedField* field = table->getField(placed[i].column);
      dbfFormatMemoBlock(placed[i].block, record + field->getOffset(), field->getLength());
      // What the last read learnt of this block is not true any more.
      if (lastReadBlock_ == placed[i].block) lastReadKnown_ = false;
    }
  }
  ramFree(placed);
  return status;
}
