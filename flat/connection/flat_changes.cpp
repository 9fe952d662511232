// The change log of a table: writing entries, the index over them, long
// values, and applying a log at commit; see flat_changes.h for the format.
#include "flat/connection/flat_changes.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/files/shared_file.h"
#include "util/containers/tree.h"

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

enum : uint32_t {
  linkBytes = 4,
  itemHeaderBytes = 2 + 4 + 4,  // column, type, length
  nodeBytes = 16,
  endMark = 0xFFFF,
  maxImageBytes = 0xFFFF + 1,
  copyChunk = 1024,             // long values move in pieces of this size
};

std::atomic<uint64_t> serialCounter{0};

// A numeric image or a key image holds state 32: a row inserted by this
// transaction.
bool isPendingInsert(const unsigned char* image, uint16_t keyLength) {
  if (keyLength) return (image[0] & ridPendingInsert) != 0;
  return FlatNumericRid::decodeState(kvGetU32LE(image)) == ridPendingInsert;
}

// The image of a stored record whose key a pending image names (key
// tables keep the state in the image's first byte).
void storedImageOf(unsigned char* image) { image[0] = ridRecord; }

}  // namespace

// ---------------------------------------------------------------- FlatChangesDesc

FlatChangesDesc::FlatChangesDesc(FlatSharedDesc* shared) : shared_(shared), serial_(++serialCounter) {}

FlatChangesDesc::~FlatChangesDesc() { delete index_; }

KvTree* FlatChangesDesc::makeIndex() {
  FlatRidCompare compare = shared_->getCompFunc();
  if (!compare && shared_->getKeyLength() == 0) compare = treeU32Compare;
  auto* index = new KvTree(shared_->getRidImageLength(), 4, compare, 0);
  if (!index) KvErrorKeeper::addMemoryError();
  return index;
}

KvStatus FlatChangesDesc::initialize() {
  index_ = makeIndex();
  return index_ ? kvSuccess : kvFailure;
}

KvStatus FlatChangesDesc::keepFrom(const void* first) {
  KvTree* kept = makeIndex();
  if (!kept) return kvFailure;
  const uint16_t imageLength = shared_->getRidImageLength();
  unsigned char image[maxImageBytes];
  uint32_t offset = 0, found = 0, count = 0;
  bool keeping = false;
  KvTreeIterator walk;
  KvStatus status = walk.initialize(index_);
  if (status == kvSuccess) status = index_->getFirst(image, &offset, &found, &walk);
  while (status == kvSuccess && found) {
    // The walk is in index order: the first entry kept is the one that
    // failed, and every later one stays with it.
    if (!keeping) keeping = std::memcmp(image, first, imageLength) == 0;
    if (keeping) {
      uint32_t duplicate = 0;
      status = kept->add(image, &offset, &duplicate);
      ++count;
    }
    if (status == kvSuccess) status = index_->getNext(image, &offset, &found, &walk);
  }
  if (status != kvSuccess) {
    delete kept;
    return kvFailure;
  }
  delete index_;
  index_ = kept;
  entryCount_ = count;
  if (entryCount_ == 0) shared_->clearFlags(FlatSharedDesc::flagPending);
  return kvSuccess;
}

KvStatus FlatChangesDesc::writeBytes(const void* data, uint32_t length) {
  if (length == 0) return kvSuccess;
  if (uint64_t(writeEnd_) + length >= 0xFFFFFFFFu) {
    kvAddUtilityError(kvMsgDiskFull);
    return kvFailure;
  }
  if (shared_->getPendingRows()->writeHuge(writeEnd_, data, length) != kvSuccess) return kvFailure;
  writeEnd_ += length;
  return kvSuccess;
}

KvStatus FlatChangesDesc::beginEntry(FlatFileDesc* cursor, uint8_t kind) {
  uint32_t start = writeEnd_;
  FlatRid* rid = cursor->getRid();
  if (kind == flatChangeDelete && rid && (rid->getState() & ridPendingInsert)) kind = flatChangeDeleteInserted;
  unsigned char head[linkBytes + 1];
  kvPutU32LE(head, 0xFFFFFFFF);
  head[linkBytes] = kind;
  entryStart_ = start + linkBytes;
  entryKind_ = kind;
  previousEntry_ = noOffset;
  KvStatus status = writeBytes(head, sizeof(head));
  if (status == kvSuccess && kind != flatChangeDeleteInserted) {
    unsigned char image[maxImageBytes];
    uint16_t imageLength = shared_->getRidImageLength();
    std::memset(image, 0, imageLength);
    if (kind == flatChangeInsert) {
      // A pending numeric insert gets a provisional number of its own, so
      // that no two pending rows share a tree key; the image is final.
      if (shared_->getKeyLength() && (shared_->getFlags() & FlatSharedDesc::flagProvisionalKeys)) {
        // 0xFF bytes, then the provisional number: no byte offset the
        // driver gives comes near it.
        const uint16_t keyLength = shared_->getKeyLength();
        std::vector<unsigned char> key(keyLength, 0xFF);
        for (uint16_t i = 0; i < 4 && i < keyLength; ++i)
          key[keyLength - 1 - i] = uint8_t(nextProvisional_ >> (8 * i));
        rid->set(key.data());
        rid->set(uint8_t(ridPendingInsert));
      } else if (shared_->getKeyLength() == 0) {
        if (nextProvisional_ > flatMaxRecordNumber) {
          addFlatError(stateGeneral, msgRecordNumberLimit)
              << (shared_->getName() ? shared_->getName() : kvU("")) << uint32_t(flatMaxRecordNumber);
          status = kvFailure;
        } else {
          static_cast<FlatNumericRid*>(rid)->setRecordNumber(nextProvisional_);
          rid->set(uint8_t(ridPendingInsert));
        }
      }
    }
    if (rid) rid->fullGet(image);
    uint8_t* info = nullptr;
    uint16_t infoLength = 0;
    if (status == kvSuccess) status = writeBytes(image, imageLength);
    if (status == kvSuccess) status = cursor->getTransactionInfo(&info, &infoLength);
    unsigned char lengthBytes[2];
    kvPutU16LE(lengthBytes, infoLength);
    if (status == kvSuccess) status = writeBytes(lengthBytes, 2);
    if (status == kvSuccess) status = writeBytes(info, infoLength);
  }
  if (status != kvSuccess) {
    writeEnd_ = start;
    return kvFailure;
  }
  if (kind == flatChangeInsert &&
      (shared_->getKeyLength() == 0 || (shared_->getFlags() & FlatSharedDesc::flagProvisionalKeys)))
    ++nextProvisional_;
  // The commit will append: it takes the header lock, not only the index's.
  if (kind == flatChangeInsert) shared_->addFlags(FlatSharedDesc::flagAppended);
  for (uint16_t i = 0; i < cursor->getColumns().getCount(); ++i)
    if (FlatFileField* field = cursor->getColumn(i)) field->setFlags(field->getFlags() & ~FlatFileField::flagChanged);
  if (entryCount_ == 0) shared_->addFlags(FlatSharedDesc::flagPending);
  ++entryCount_;
  return kvSuccess;
}

KvStatus FlatChangesDesc::logValue(FlatFileDesc* cursor, uint16_t column, const void* value, uint32_t length,
                                   uint32_t internalType) {
  unsigned char header[itemHeaderBytes];
  kvPutU16LE(header, column);
  kvPutU32LE(header + 2, internalType);
  kvPutU32LE(header + 6, length);
  if (writeBytes(header, sizeof(header)) != kvSuccess || writeBytes(value, length) != kvSuccess) return kvFailure;
  if (FlatFileField* field = cursor->getColumn(column)) field->setFlags(field->getFlags() | FlatFileField::flagChanged);
  return kvSuccess;
}

KvStatus FlatChangesDesc::copyForward(uint32_t previous, FlatFileDesc* cursor) {
  uint32_t item = 0;
  uint8_t kind = 0;
  if (readHeader(previous, &kind, nullptr, &item, nullptr, nullptr) != kvSuccess) return kvFailure;
  if (kind != flatChangeInsert && kind != flatChangeUpdate) return kvSuccess;
  unsigned char buffer[copyChunk];
  for (;;) {
    uint16_t column = 0;
    uint32_t type = 0, length = 0, bytes = 0;
    if (readItem(item, &column, &type, &length, &bytes) != kvSuccess) return kvFailure;
    if (column == endMark) return kvSuccess;
    item = bytes + length;
    FlatFileField* field = cursor->getColumn(column);
    if (field && (field->getFlags() & FlatFileField::flagChanged)) continue;
    unsigned char header[itemHeaderBytes];
    kvPutU16LE(header, column);
    kvPutU32LE(header + 2, type);
    kvPutU32LE(header + 6, length);
    if (writeBytes(header, sizeof(header)) != kvSuccess) return kvFailure;
    for (uint32_t done = 0; done < length;) {
      uint32_t piece = length - done > copyChunk ? uint32_t(copyChunk) : length - done;
      if (shared_->getPendingRows()->tmpRead(bytes + done, buffer, piece) != kvSuccess) return kvFailure;
      if (writeBytes(buffer, piece) != kvSuccess) return kvFailure;
      done += piece;
    }
  }
}

KvStatus FlatChangesDesc::checkDuplicateKey(const void* image, uint32_t* deletedInLog) {
  *deletedInLog = 0;
  uint16_t imageLength = shared_->getRidImageLength();
  unsigned char stored[maxImageBytes];
  std::memcpy(stored, image, imageLength);
  uint8_t kind = 0;
  uint32_t offset = 0, found = 0;
  if (findEntry(image, &kind, &offset, &found) != kvSuccess) return kvFailure;
  if (found && (kind == flatChangeInsert || kind == flatChangeUpdate)) {
    addFlatError(stateGeneral, msgDuplicateKey);
    return kvFailure;
  }
  storedImageOf(stored);
  if (findEntry(stored, &kind, &offset, &found) != kvSuccess) return kvFailure;
  if (found && (kind == flatChangeInsert || kind == flatChangeUpdate)) {
    addFlatError(stateGeneral, msgDuplicateKey);
    return kvFailure;
  }
  // A key deleted in this transaction is free again; otherwise the driver
  // decides for the rows in the file.
  *deletedInLog = found;
  return kvSuccess;
}

KvStatus FlatChangesDesc::endEntry(FlatFileDesc* cursor) {
  uint32_t entry = entryStart_ - linkBytes;
  uint16_t imageLength = shared_->getRidImageLength();
  unsigned char image[maxImageBytes];
  FlatRid* rid = cursor->getRid();
  if (!rid) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  if (entryKind_ == flatChangeDeleteInserted) {
    // The row's tree entry points at the delete, so that scans and the
    // commit see that the pending insert is gone.
    rid->fullGet(image);
    return index_->changeData(image, &entry);
  }
  if (entryKind_ == flatChangeInsert && shared_->getKeyLength()) {
    rid->set(uint8_t(ridPendingInsert));
    rid->fullGet(image);
    uint32_t deletedInLog = 0;
    if (checkDuplicateKey(image, &deletedInLog) != kvSuccess) return kvFailure;
    if (!deletedInLog && cursor->checkKeyViolation() != kvSuccess) return kvFailure;
    // The header carries the final image, state 32 included.
    if (shared_->getPendingRows()->tmpWrite(entryStart_ + 1, image, imageLength) != kvSuccess) return kvFailure;
  } else {
    rid->fullGet(image);
  }
  if (entryKind_ == flatChangeUpdate) {
    uint8_t kind = 0;
    uint32_t previous = 0, found = 0;
    if (findEntry(image, &kind, &previous, &found) != kvSuccess) return kvFailure;
    if (found) {
      previousEntry_ = previous;
      if (copyForward(previous, cursor) != kvSuccess) return kvFailure;
    }
  }
  unsigned char mark[2];
  kvPutU16LE(mark, endMark);
  if (writeBytes(mark, 2) != kvSuccess) return kvFailure;
  uint32_t found = 0;
  if (index_->add(image, &entry, &found) != kvSuccess) return kvFailure;
  if (found && index_->changeData(image, &entry) != kvSuccess) return kvFailure;
  if (entryCount_ == 1 && !firstEntryLength_) firstEntryLength_ = writeEnd_ - entry;
  if (entryKind_ == flatChangeInsert) rid->reset();
  return kvSuccess;
}

void FlatChangesDesc::abandonEntry() {
  writeEnd_ = entryStart_ - linkBytes;
  if (entryCount_) --entryCount_;
  if (entryCount_ == 0) shared_->clearFlags(FlatSharedDesc::flagPending);
}

KvStatus FlatChangesDesc::addKeysetNotification(uint32_t entryOffset, uint32_t descriptorId, uint32_t keysetRow,
                                                uint32_t tablePosition) {
  KvTmpFile* store = shared_->getPendingRows();
  unsigned char node[nodeBytes];
  kvPutU32LE(node, descriptorId);
  kvPutU32LE(node + 4, keysetRow);
  kvPutU32LE(node + 8, tablePosition);
  kvPutU32LE(node + 12, 0xFFFFFFFF);
  uint32_t nodeOffset = writeEnd_;
  if (writeBytes(node, sizeof(node)) != kvSuccess) return kvFailure;
  // Append at the end of the entry's chain.
  uint32_t linkAt = entryOffset;
  for (uint32_t steps = 0; steps < entryCount_ + 0x100000; ++steps) {
    unsigned char word[4];
    if (store->tmpRead(linkAt, word, 4) != kvSuccess) return kvFailure;
    uint32_t next = kvGetU32LE(word);
    if (next == 0xFFFFFFFF) {
      kvPutU32LE(word, nodeOffset);
      return store->tmpWrite(linkAt, word, 4);
    }
    linkAt = next + 12;
  }
  addOdbcError(stateGeneral);
  return kvFailure;
}

// ---------------------------------------------------------------- reading

KvStatus FlatChangesDesc::findEntry(const void* image, uint8_t* kind, uint32_t* offset, uint32_t* found) {
  *found = 0;
  if (index_->getData(image, offset, found) != kvSuccess) return kvFailure;
  if (!*found) return kvSuccess;
  return shared_->getPendingRows()->tmpRead(*offset + linkBytes, kind, 1);
}

KvStatus FlatChangesDesc::readHeader(uint32_t offset, uint8_t* kind, void* image, uint32_t* valuesOffset,
                                     uint8_t** info, uint16_t* infoLength) {
  KvTmpFile* store = shared_->getPendingRows();
  if (store->tmpRead(offset + linkBytes, kind, 1) != kvSuccess) return kvFailure;
  uint32_t at = offset + linkBytes + 1;
  if (*kind == flatChangeDeleteInserted) {
    if (valuesOffset) *valuesOffset = at;
    if (infoLength) *infoLength = 0;
    return kvSuccess;
  }
  uint16_t imageLength = shared_->getRidImageLength();
  if (image && store->tmpRead(at, image, imageLength) != kvSuccess) return kvFailure;
  at += imageLength;
  unsigned char lengthBytes[2];
  if (store->tmpRead(at, lengthBytes, 2) != kvSuccess) return kvFailure;
  uint16_t length = kvGetU16LE(lengthBytes);
  at += 2;
  if (info && infoLength) {
    *info = nullptr;
    *infoLength = length;
    if (length) {
      *info = static_cast<uint8_t*>(ramAlloc(length));
      if (!*info || store->tmpRead(at, *info, length) != kvSuccess) {
        ramFree(*info);
        *info = nullptr;
        return kvFailure;
      }
    }
  }
  if (valuesOffset) *valuesOffset = at + length;
  return kvSuccess;
}

KvStatus FlatChangesDesc::readItem(uint32_t offset, uint16_t* column, uint32_t* type, uint32_t* length,
                                   uint32_t* bytes) {
  unsigned char header[itemHeaderBytes];
  if (shared_->getPendingRows()->tmpRead(offset, header, 2) != kvSuccess) return kvFailure;
  *column = kvGetU16LE(header);
  if (*column == endMark) return kvSuccess;
  if (shared_->getPendingRows()->tmpRead(offset + 2, header + 2, 8) != kvSuccess) return kvFailure;
  *type = kvGetU32LE(header + 2);
  *length = kvGetU32LE(header + 6);
  *bytes = offset + itemHeaderBytes;
  if (*bytes + uint64_t(*length) > writeEnd_) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatChangesDesc::placeValues(FlatFileDesc* cursor, uint32_t offset, int32_t missing) {
  for (uint16_t i = 0; i < cursor->getColumns().getCount(); ++i)
    if (FlatFileField* field = cursor->getColumn(i)) field->setLogOffset(missing);
  uint8_t kind = 0;
  uint32_t item = 0;
  if (readHeader(offset, &kind, nullptr, &item, nullptr, nullptr) != kvSuccess) return kvFailure;
  if (kind != flatChangeInsert && kind != flatChangeUpdate) return kvSuccess;
  for (uint32_t count = 0; count <= 0xFFFF; ++count) {
    uint16_t column = 0;
    uint32_t type = 0, length = 0, bytes = 0;
    if (readItem(item, &column, &type, &length, &bytes) != kvSuccess) return kvFailure;
    if (column == endMark) return kvSuccess;
    if (FlatFileField* field = cursor->getColumn(column)) field->setLogOffset(int32_t(item));
    item = bytes + length;
  }
  return kvSuccess;
}

KvStatus FlatChangesDesc::loadRow(FlatFileDesc* cursor, uint32_t offset, bool newRow) {
  if (newRow && cursor->initializeForInsert() != kvSuccess) return kvFailure;
  const int32_t missing = newRow ? FlatFileField::offsetNoValue : FlatFileField::offsetNotPlaced;
  if (placeValues(cursor, offset, missing) != kvSuccess) return kvFailure;
  // Columns that are not long read from the driver's record buffer.
  for (uint16_t i = 0; i < cursor->getColumns().getCount(); ++i) {
    FlatFileField* field = cursor->getColumn(i);
    FlatSharedField* column = shared_->getColumn(i);
    if (field && column && !column->isLong()) field->setLogOffset(FlatFileField::offsetNotPlaced);
  }
  uint8_t kind = 0;
  uint32_t item = 0;
  if (readHeader(offset, &kind, nullptr, &item, nullptr, nullptr) != kvSuccess) return kvFailure;
  if (kind != flatChangeInsert && kind != flatChangeUpdate) return kvSuccess;
  KvTmpFile* store = shared_->getPendingRows();
  for (uint32_t count = 0; count <= 0xFFFF; ++count) {
    uint16_t column = 0;
    uint32_t type = 0, length = 0, bytes = 0;
    if (readItem(item, &column, &type, &length, &bytes) != kvSuccess) return kvFailure;
    if (column == endMark) return kvSuccess;
    item = bytes + length;
    FlatSharedField* field = shared_->getColumn(column);
    if (!field || field->isLong()) continue;
    void* value = ramAlloc(length ? length : 1);
    if (!value) return kvFailure;
    KvStatus status = store->readHuge(bytes, value, length);
    // Length 0 is the engine's NULL.
    if (status == kvSuccess) status = cursor->updateColumn(column, length ? value : nullptr, length, type);
    ramFree(value);
    if (status != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- commit

namespace {

// Stores one logged value into the writer's record buffer: long values
// from the long-value store, piece by piece.
KvStatus storeLogged(FlatChangesDesc* log, FlatFileDesc* writer, uint16_t column, uint32_t type, uint32_t length,
                     uint32_t bytes) {
  FlatSharedDesc* shared = log->getShared();
  FlatSharedField* field = shared->getColumn(column);
  KvTmpFile* store = shared->getPendingRows();
  if (field && field->isLong() && length == 4) {
    unsigned char word[4];
    if (store->tmpRead(bytes, word, 4) != kvSuccess) return kvFailure;
    return flatStoreColumn(writer, column, nullptr, 0, type, kvGetU32LE(word));
  }
  void* value = ramAlloc(length ? length : 1);
  if (!value) return kvFailure;
  KvStatus status = store->readHuge(bytes, value, length);
  // Length 0 is the engine's NULL: the driver gets no value, as it does
  // when the statement writes directly.
  if (status == kvSuccess) status = writer->updateColumn(column, length ? value : nullptr, length, type);
  ramFree(value);
  return status;
}

}  // namespace

KvStatus FlatChangesDesc::applyEntry(FlatFileDesc* writer, uint32_t offset, uint16_t*) {
  unsigned char image[maxImageBytes];
  uint8_t kind = 0;
  uint32_t item = 0;
  if (readHeader(offset, &kind, image, &item, nullptr, nullptr) != kvSuccess) return kvFailure;
  if (kind == flatChangeDeleteInserted) return kvSuccess;
  FlatRid* rid = writer->getRid();
  rid->fullSet(image);
  if (kind == flatChangeDelete) {
    if (writer->setRecordID() != kvSuccess) return kvFailure;
    return writer->deleteRecord();
  }
  bool isNew = isPendingInsert(image, shared_->getKeyLength());
  if (isNew) {
    if (writer->nullifyRid() != kvSuccess || writer->initializeForInsert() != kvSuccess) return kvFailure;
  } else {
    if (writer->setRecordPosition() != kvSuccess || writer->lockRecord(flatLockUpdate) != kvSuccess) return kvFailure;
  }
  // Which columns change: an existing row loses their index keys first.
  const uint32_t firstItem = item;
  for (uint32_t count = 0; count <= 0xFFFF; ++count) {
    uint16_t column = 0;
    uint32_t type = 0, length = 0, bytes = 0;
    if (readItem(item, &column, &type, &length, &bytes) != kvSuccess) return kvFailure;
    if (column == endMark) break;
    if (!isNew) {
      uint16_t removed = 0;
      if (writer->deleteKeyFromIndex(column, &removed) != kvSuccess) return kvFailure;
    }
    if (storeLogged(this, writer, column, type, length, bytes) != kvSuccess) return kvFailure;
    item = bytes + length;
  }
  // Two pending rows of one transaction may carry the same unique key,
  // which no statement could see while both were in the log: the driver's
  // key check decides before the row reaches the file.
  if (!isNew) {
    if (writer->checkKeyViolation2() != kvSuccess) {
      kvIgnoreStatus(writer->unlockRecord(flatLockUpdate, rid));  // the key violation is the error
      return kvFailure;
    }
    if (writer->writeRecord(flatWriteUpdate) != kvSuccess) return kvFailure;
    item = firstItem;
    for (uint32_t count = 0; count <= 0xFFFF; ++count) {
      uint16_t column = 0;
      uint32_t type = 0, length = 0, bytes = 0;
      if (readItem(item, &column, &type, &length, &bytes) != kvSuccess) return kvFailure;
      if (column == endMark) break;
      if (writer->addKeyToIndex(column) != kvSuccess) return kvFailure;
      item = bytes + length;
    }
    return writer->unlockRecord(flatLockUpdate, rid);
  }
  if (writer->checkKeyViolation() != kvSuccess || flatAppendRecord(writer, 1) != kvSuccess) return kvFailure;
  if (shared_->setRecordCnt() != kvSuccess) return kvFailure;
  FlatConnection* connection = shared_->getConnection();
  if ((connection->getEngineFlags() & flatIndexFiles) && writer->addKeyToIndex() != kvSuccess) return kvFailure;
  // Statements whose keysets named the pending row learn its final
  // identifier.
  unsigned char finalImage[maxImageBytes];
  rid->fullGet(finalImage);
  KvTmpFile* store = shared_->getPendingRows();
  unsigned char word[nodeBytes];
  if (store->tmpRead(offset, word, 4) != kvSuccess) return kvFailure;
  uint32_t node = kvGetU32LE(word);
  for (uint32_t steps = 0; node != 0xFFFFFFFF && steps < 0x100000; ++steps) {
    if (node + uint64_t(nodeBytes) > writeEnd_ || store->tmpRead(node, word, nodeBytes) != kvSuccess) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    connection->notifyKeysetRow(kvGetU32LE(word), kvGetU32LE(word + 4), kvGetU32LE(word + 8), finalImage,
                                shared_->getRidImageLength());
    node = kvGetU32LE(word + 12);
  }
  return kvSuccess;
}

KvStatus FlatChangesDesc::check(FlatFileDesc* writer) {
  if (unusable_) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  const uint16_t columnCount = shared_->getColumnCount();
  // The values of the unique columns in the rows this transaction leaves:
  // a value's kind byte, then its bytes.
  std::vector<std::set<std::string>> uniques(columnCount);
  std::vector<unsigned char> value;
  unsigned char image[maxImageBytes];
  uint32_t offset = 0, found = 0;
  KvTreeIterator walk;
  if (walk.initialize(index_) != kvSuccess) return kvFailure;
  if (index_->getFirst(image, &offset, &found, &walk) != kvSuccess) return kvFailure;
  FlatRid* rid = writer->getRid();
  while (found) {
    uint8_t kind = 0;
    if (readHeader(offset, &kind, nullptr, nullptr, nullptr, nullptr) != kvSuccess) return kvFailure;
    if (kind != flatChangeDeleteInserted) {
      rid->fullSet(image);
      const bool newRow = isPendingInsert(image, shared_->getKeyLength()) != 0;
      if (!newRow && writer->setRecordPosition() != kvSuccess) return kvFailure;
      if (kind != flatChangeDelete) {
        if (loadRow(writer, offset, newRow) != kvSuccess) return kvFailure;
        for (uint16_t i = 0; i < columnCount; ++i) {
          FlatSharedField* column = shared_->getColumn(i);
          if (!column || column->isLong() || !(column->getFlags() & FlatSharedField::flagUniqueKey)) continue;
          const uint32_t size = column->getPrecision() + 16 > 0xFFFF ? 0xFFFF : column->getPrecision() + 16;
          value.assign(size, 0);
          int32_t length = 0;
          uint8_t valueKind = flatValueNull;
          if (writer->getFieldData(i, value.data(), &length, uint16_t(size), &valueKind) != kvSuccess)
            return kvFailure;
          if (valueKind == flatValueNull || length <= 0) continue;
          std::string key(1, char(valueKind));
          key.append(reinterpret_cast<const char*>(value.data()), size_t(length) < size ? size_t(length) : size);
          if (!uniques[i].insert(key).second) {
            addFlatError(stateGeneral, msgDuplicateKey);
            return kvFailure;
          }
        }
      }
    }
    if (index_->getNext(image, &offset, &found, &walk) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatChangesDesc::measureSpace(FlatCommitSpace* space) {
  unsigned char image[maxImageBytes];
  uint32_t offset = 0, found = 0;
  KvTreeIterator walk;
  if (walk.initialize(index_) != kvSuccess) return kvFailure;
  if (index_->getFirst(image, &offset, &found, &walk) != kvSuccess) return kvFailure;
  FlatConnection* connection = shared_->getConnection();
  while (found) {
    uint8_t kind = 0;
    uint32_t item = 0;
    if (readHeader(offset, &kind, nullptr, &item, nullptr, nullptr) != kvSuccess) return kvFailure;
    if (kind == flatChangeInsert || kind == flatChangeUpdate) {
      if (isPendingInsert(image, shared_->getKeyLength())) ++space->appendedRecords;
      for (uint32_t count = 0; count <= 0xFFFF; ++count) {
        uint16_t column = 0;
        uint32_t type = 0, length = 0, bytes = 0;
        if (readItem(item, &column, &type, &length, &bytes) != kvSuccess) return kvFailure;
        if (column == endMark) break;
        item = bytes + length;
        FlatSharedField* field = shared_->getColumn(column);
        if (!field || !field->isLong() || length != 4) continue;
        unsigned char word[4];
        if (shared_->getPendingRows()->tmpRead(bytes, word, 4) != kvSuccess) return kvFailure;
        uint32_t got = 0, total = 0;
        if (flatReadLongValue(connection, kvGetU32LE(word), 0, nullptr, 0, &got, &total) != kvSuccess)
          return kvFailure;
        ++space->longValues;
        space->longBytes += total;
      }
    }
    if (index_->getNext(image, &offset, &found, &walk) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatChangesDesc::apply(FlatFileDesc* writer) {
  unsigned char image[maxImageBytes];
  uint32_t offset = 0, found = 0;
  if (index_->getFirst(image, &offset, &found, nullptr) != kvSuccess) return kvFailure;
  if (!found) return kvSuccess;
  uint8_t kind = 0;
  uint8_t* info = nullptr;
  uint16_t infoLength = 0;
  if (readHeader(offset, &kind, nullptr, nullptr, &info, &infoLength) != kvSuccess) return kvFailure;
  KvStatus status = writer->setTransactionInfo(info, infoLength);
  ramFree(info);
  if (status == kvSuccess && writer->getLockLevel()) {
    status = (shared_->getFlags() & FlatSharedDesc::flagAppended) ? writer->lockHeaders() : writer->lockIndex();
  }
  if (status == kvSuccess) status = writer->getMaxRecords(nullptr);
  // The room the entries need is set aside before the first of them is
  // written: a full disk fails the commit with the table as it was and the
  // whole log kept.
  FlatCommitSpace space;
  if (status == kvSuccess) status = measureSpace(&space);
  if (status == kvSuccess) status = writer->reserveSpace(space.appendedRecords, space.longValues, space.longBytes);
  KvTreeIterator walk;
  if (status == kvSuccess) status = walk.initialize(index_);
  uint16_t refresh = 0;
  if (status == kvSuccess) status = index_->getFirst(image, &offset, &found, &walk);
  while (status == kvSuccess && found) {
    status = applyEntry(writer, offset, &refresh);
    if (status != kvSuccess) {
      // What was not written stays in the transaction. Should even that
      // fail, the log can no longer be committed (its written entries
      // would be written twice): only a rollback ends it.
      if (keepFrom(image) != kvSuccess) unusable_ = true;
      break;
    }
    status = index_->getNext(image, &offset, &found, &walk);
  }
  if (status == kvSuccess) {
    // Every entry is written: whatever fails now, none of them may be
    // written again by a later commit.
    index_->reset();
    entryCount_ = 0;
    status = shared_->updateDir();
  }
  if (status == kvSuccess) status = writer->unlockRecord(flatLockRecord, nullptr);
  if (status != kvSuccess) {
    writer->unlockIndex();
    writer->setUserBit(FlatSharedDesc::allUsers);
    writer->unlockHeaders(flatLockRecord);
    return kvFailure;
  }
  writer->unlockIndex();
  writer->unlockHeaders(flatLockRecord);
  return shared_->mangleRids();
}
