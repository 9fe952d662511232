// KvTmpFile: page cache, spill files and free-space management of the
// scratch store. See tmp_file.h for the addressing and file layout.
#include "util/files/tmp_file.h"

#include "util/os/bos.h"
#include "util/containers/kv_string.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

#include <cstring>
#include <initializer_list>

namespace {

uint32_t slotCountFor(uint16_t cacheBytes) {
  uint32_t wanted = cacheBytes / KvTmpFile::tmpSlotBytes;
  uint32_t count = 1;
  while (count * 2 <= wanted) count *= 2;
  return count;
}

}  // namespace

// ---------------------------------------------------------------- TmpSpace

TmpSpace::~TmpSpace() = default;

int16_t TmpSpace::compare(const KvObject* other) const {
  uint32_t otherStart = static_cast<const TmpSpace*>(other)->start_;
  if (start_ < otherStart) return -1;
  return start_ > otherStart ? 1 : 0;
}

// ---------------------------------------------------------------- store

KvTmpFile::KvTmpFile(uint16_t cacheBytes)
    : slotCount_(static_cast<uint16_t>(slotCountFor(cacheBytes))) {
  freeRuns_.setOwnsObjects(true);
}

KvTmpFile::~KvTmpFile() {
  tmpTruncate();
  KvSemaphore* lock = __atomic_load_n(&lockHolder_, __ATOMIC_ACQUIRE);
  if (lock && lock != reinterpret_cast<KvSemaphore*>(1)) delete lock;
}

KvStatus KvTmpFile::checkRange(uint32_t offset, uint32_t length) {
  if (uint64_t(offset) + length > 0xFFFFFFFFu) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvTmpFile::makeCache() {
  if (cache_) return kvSuccess;
  slots_ = static_cast<Slot*>(ramAlloc(slotCount_ * sizeof(Slot)));
  cache_ = static_cast<unsigned char*>(ramAlloc(slotCount_ * tmpSlotBytes));
  if (!slots_ || !cache_) {
    freeCache();
    return kvFailure;
  }
  for (uint32_t s = 0; s < slotCount_; ++s) {
    slots_[s].page[0] = noPage;
    slots_[s].page[1] = noPage;
    slots_[s].flags = 0;
  }
  return kvSuccess;
}

void KvTmpFile::freeCache() {
  ramFree(slots_);
  ramFree(cache_);
  slots_ = nullptr;
  cache_ = nullptr;
}

// ---------------------------------------------------------------- space

uint32_t KvTmpFile::getContiguousSpace(uint32_t size) {
  KvLazyLockGuard guard(&lockHolder_);
  uint64_t offset = (uint64_t(endOffset_) + 3) & ~uint64_t(3);
  uint32_t position = static_cast<uint32_t>(offset % tmpPageBytes);
  if (size <= tmpPageBytes && tmpPageBytes - position < size) offset += tmpPageBytes - position;
  if (offset + size > 0xFFFFFFFFu) {
    addResourceError(kvMsgDiskFull);
    return 0;
  }
  endOffset_ = static_cast<uint32_t>(offset + size);
  return static_cast<uint32_t>(offset);
}

KvStatus KvTmpFile::tmpFindSpace(uint32_t size, uint32_t* offset) {
  KvLazyLockGuard guard(&lockHolder_);
  if (makeCache() != kvSuccess) return kvFailure;
  if (size == tmpWholeSpace) {
    *offset = endOffset_;
    endOffset_ = tmpWholeSpace;
    return kvSuccess;
  }
  for (uint16_t i = 0; i < freeRuns_.getCount(); ++i) {
    TmpSpace* run = static_cast<TmpSpace*>(freeRuns_.getAt(i));
    if (run->getLength() < size) continue;
    *offset = run->getStart();
    if (run->getLength() - size < tmpMinFreeRun) freeRuns_.deleteAtIndex(i);
    else run->set(run->getStart() + size, run->getLength() - size);
    return kvSuccess;
  }
  if (uint64_t(endOffset_) + size > 0xFFFFFFFFu) {
    addResourceError(kvMsgDiskFull);
    return kvFailure;
  }
  *offset = endOffset_;
  endOffset_ += size;
  return kvSuccess;
}

void KvTmpFile::tmpFreeSpace(uint32_t offset, uint32_t size) {
  KvLazyLockGuard guard(&lockHolder_);
  if (offset == 0 || offset >= endOffset_) return;
  if (size == tmpWholeSpace) {
    // Everything from offset on goes: runs beyond the new end go with it.
    endOffset_ = offset;
    while (freeRuns_.getCount() > 0) {
      uint16_t last = freeRuns_.getCount() - 1;
      TmpSpace* run = static_cast<TmpSpace*>(freeRuns_.getAt(last));
      if (run->getStart() >= offset) {
        freeRuns_.deleteAtIndex(last);
        continue;
      }
      if (run->getEnd() > offset) run->set(run->getStart(), offset - run->getStart());
      break;
    }
    mergeFreeRuns(freeRuns_.getCount());
    return;
  }
  if (size == 0 || uint64_t(offset) + size > endOffset_) return;

  // Runs never overlap: a run that does is not one the caller was given.
  TmpSpace probe(offset, size);
  uint16_t index = 0;
  if (freeRuns_.findIndexOf(&probe, &index)) return;
  if (index > 0 && static_cast<TmpSpace*>(freeRuns_.getAt(index - 1))->getEnd() > offset) return;
  if (index < freeRuns_.getCount() &&
      static_cast<TmpSpace*>(freeRuns_.getAt(index))->getStart() < offset + size)
    return;

  if (offset + size == endOffset_) {
    endOffset_ = offset;
    index = freeRuns_.getCount();
  } else {
    if (size < tmpMinFreeRun) return;
    TmpSpace* run = new TmpSpace(offset, size);
    if (!run) {
      KvErrorKeeper::clearLastError();
      return;
    }
    if (freeRuns_.addAtIndex(run, index) != kvSuccess) {
      delete run;
      KvErrorKeeper::clearLastError();
      return;
    }
  }
  mergeFreeRuns(index);
}

// Runs are kept apart (no run ends where the next begins) and below the end
// offset, so after a change at index only that run's neighbours can merge
// with it, and only the last run can reach the end.
void KvTmpFile::mergeFreeRuns(uint16_t index) {
  if (index < freeRuns_.getCount()) {
    TmpSpace* run = static_cast<TmpSpace*>(freeRuns_.getAt(index));
    if (index + 1 < freeRuns_.getCount()) {
      TmpSpace* next = static_cast<TmpSpace*>(freeRuns_.getAt(index + 1));
      if (run->getEnd() == next->getStart()) {
        run->set(run->getStart(), run->getLength() + next->getLength());
        freeRuns_.deleteAtIndex(index + 1);
      }
    }
    if (index > 0) {
      TmpSpace* previous = static_cast<TmpSpace*>(freeRuns_.getAt(index - 1));
      if (previous->getEnd() == run->getStart()) {
        previous->set(previous->getStart(), previous->getLength() + run->getLength());
        freeRuns_.deleteAtIndex(index);
      }
    }
  }
  if (freeRuns_.getCount() > 0) {
    uint16_t last = freeRuns_.getCount() - 1;
    TmpSpace* run = static_cast<TmpSpace*>(freeRuns_.getAt(last));
    if (run->getEnd() == endOffset_) {
      endOffset_ = run->getStart();
      freeRuns_.deleteAtIndex(last);
    }
  }
  // A store whose every byte came back holds nothing: its spill files go
  // now rather than with the store, so that the disk space of a large
  // result is not held by a connection that lives on.
  if (endOffset_ == 1 && (firstFile_ || secondFile_)) empty();
}

// ---------------------------------------------------------------- page cache

KvStatus KvTmpFile::getPage(uint32_t page, Access access, unsigned char** bytes) {
  uint32_t s = page & (slotCount_ - 1u);
  Slot& slot = slots_[s];
  unsigned char* wayBytes[2] = {cache_ + size_t(s) * tmpSlotBytes,
                                cache_ + size_t(s) * tmpSlotBytes + tmpPageBytes};
  int way;
  if (slot.page[0] == page) {
    way = 0;
  } else if (slot.page[1] == page) {
    way = 1;
  } else {
    way = (slot.flags & slotRecent1) ? 0 : 1;
    uint32_t changedBit = way ? slotChanged1 : slotChanged0;
    if (slot.flags & changedBit) {
      // The mark goes only once the page is safely out: a failed write
      // leaves it resident and changed.
      if (writePage(slot.page[way], wayBytes[way]) != kvSuccess) return kvFailure;
      slot.flags &= ~changedBit;
    }
    slot.page[way] = noPage;
    if (access != accessWholeWrite && loadPage(page, wayBytes[way]) != kvSuccess) return kvFailure;
    slot.page[way] = page;
  }
  if (way) slot.flags |= slotRecent1;
  else slot.flags &= ~slotRecent1;
  if (access == accessWrite || access == accessWholeWrite || access == accessPointerChanged)
    slot.flags |= way ? slotChanged1 : slotChanged0;
  *bytes = wayBytes[way];
  return kvSuccess;
}

KvStatus KvTmpFile::openSpillFile(int which, uint32_t makeFlags) {
  int& file = which ? secondFile_ : firstFile_;
  unsigned char*& name = which ? secondName_ : firstName_;
  if (file) return kvSuccess;
  unsigned char* made = static_cast<unsigned char*>(ramAlloc(bosPathBytes));
  if (!made) return kvFailure;
  made[0] = 0;
  if (bosFileOpen(made, makeFlags, &file) != kvSuccess) {
    ramFree(made);
    return kvFailure;
  }
  // The name is kept for inspection only: the file has none on disk.
  name = ramAllocStr(made);
  ramFree(made);
  return kvSuccess;
}

KvStatus KvTmpFile::writePage(uint32_t page, const unsigned char* bytes) {
  const uint32_t newFile = bosOpenTemporary | bosOpenReadWrite;
  if (page < tmpFirstFilePages && (!secondName_ || page < firstFilePages_)) {
    if (openSpillFile(0, newFile) == kvSuccess &&
        bosFileWrite(firstFile_, int64_t(page) * tmpPageBytes, bytes, tmpPageBytes) == kvSuccess) {
      if (page >= firstFilePages_) firstFilePages_ = page + 1;
      if (page >= pagesWrittenLimit_) pagesWrittenLimit_ = page + 1;
      return kvSuccess;
    }
    if (page < firstFilePages_) return kvFailure;
    // A new page that the first file would not take goes to a second file,
    // which from then on holds every page from the first-file page count on.
    KvErrorKeeper::clearLastError();
    if (openSpillFile(1, bosOpenTemporaryOtherDisk | bosOpenReadWrite) != kvSuccess)
      return kvFailure;
  } else if (openSpillFile(1, newFile) != kvSuccess) {
    return kvFailure;
  }
  int64_t position = int64_t(page - firstFilePages_) * tmpPageBytes;
  if (bosFileWrite(secondFile_, position, bytes, tmpPageBytes) != kvSuccess) return kvFailure;
  if (page >= pagesWrittenLimit_) pagesWrittenLimit_ = page + 1;
  return kvSuccess;
}

KvStatus KvTmpFile::loadPage(uint32_t page, unsigned char* bytes) {
  uint32_t got = 0;
  if (page < pagesWrittenLimit_) {
    int which = page < firstFilePages_ ? 0 : 1;
    if (which ? secondFile_ : firstFile_) {
      int64_t position = int64_t(which ? page - firstFilePages_ : page) * tmpPageBytes;
      if (bosFileRead(which ? secondFile_ : firstFile_, position, bytes, tmpPageBytes, &got) !=
          kvSuccess)
        return kvFailure;
    }
  }
  // A page never written out (or a hole of a spill file) reads as zeros.
  if (got < tmpPageBytes) memset(bytes + got, 0, tmpPageBytes - got);
  return kvSuccess;
}

// ---------------------------------------------------------------- transfers

KvStatus KvTmpFile::tmpWrite(uint32_t offset, const void* data, uint32_t length) {
  if (length == 0) return kvSuccess;
  if (checkRange(offset, length) != kvSuccess) return kvFailure;
  KvLazyLockGuard guard(&lockHolder_);
  if (makeCache() != kvSuccess) return kvFailure;
  const unsigned char* from = static_cast<const unsigned char*>(data);
  uint32_t at = offset;
  uint32_t left = length;
  while (left > 0) {
    uint32_t position = at % tmpPageBytes;
    uint32_t part = tmpPageBytes - position < left ? tmpPageBytes - position : left;
    Access access = part == tmpPageBytes ? accessWholeWrite : accessWrite;
    unsigned char* page;
    if (getPage(at / tmpPageBytes, access, &page) != kvSuccess) return kvFailure;
    memcpy(page + position, from, part);
    from += part;
    at += part;
    left -= part;
  }
  if (offset + length > endOffset_) endOffset_ = offset + length;
  return kvSuccess;
}

KvStatus KvTmpFile::tmpRead(uint32_t offset, void* data, uint32_t length) {
  if (length == 0) return kvSuccess;
  if (checkRange(offset, length) != kvSuccess) return kvFailure;
  KvLazyLockGuard guard(&lockHolder_);
  if (makeCache() != kvSuccess) return kvFailure;
  unsigned char* to = static_cast<unsigned char*>(data);
  uint32_t at = offset;
  uint32_t left = length;
  while (left > 0) {
    uint32_t position = at % tmpPageBytes;
    uint32_t part = tmpPageBytes - position < left ? tmpPageBytes - position : left;
    unsigned char* page;
    if (getPage(at / tmpPageBytes, accessRead, &page) != kvSuccess) return kvFailure;
    memcpy(to, page + position, part);
    to += part;
    at += part;
    left -= part;
  }
  return kvSuccess;
}

KvStatus KvTmpFile::tmpPointer(uint32_t offset, void** pointer, uint16_t* available,
                               uint16_t markChanged) {
  if (checkRange(offset, 1) != kvSuccess) return kvFailure;
  KvLazyLockGuard guard(&lockHolder_);
  if (makeCache() != kvSuccess) return kvFailure;
  unsigned char* page;
  if (getPage(offset / tmpPageBytes, markChanged ? accessPointerChanged : accessPointer, &page) !=
      kvSuccess)
    return kvFailure;
  uint32_t position = offset % tmpPageBytes;
  *pointer = page + position;
  if (available) *available = static_cast<uint16_t>(tmpPageBytes - position);
  return kvSuccess;
}

KvStatus KvTmpFile::read(uint32_t offset, KvString* out, uint32_t length) {
  if (length >= kvStringMaxBytes) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  if (out->resize(length + 1) != kvSuccess) return kvFailure;
  unsigned char* buffer = out->getBuffer();
  if (tmpRead(offset, buffer, length) != kvSuccess) return kvFailure;
  buffer[length] = 0;
  out->setLength(length);
  return kvSuccess;
}

KvStatus KvTmpFile::readHuge(uint32_t offset, void* data, uint32_t length) {
  if (checkRange(offset, length) != kvSuccess) return kvFailure;
  unsigned char* to = static_cast<unsigned char*>(data);
  while (length > 0) {
    uint32_t part = length < tmpHugePiece ? length : uint32_t(tmpHugePiece);
    if (tmpRead(offset, to, part) != kvSuccess) return kvFailure;
    offset += part;
    to += part;
    length -= part;
  }
  return kvSuccess;
}

KvStatus KvTmpFile::writeHuge(uint32_t offset, const void* data, uint32_t length) {
  if (checkRange(offset, length) != kvSuccess) return kvFailure;
  const unsigned char* from = static_cast<const unsigned char*>(data);
  while (length > 0) {
    uint32_t part = length < tmpHugePiece ? length : uint32_t(tmpHugePiece);
    if (tmpWrite(offset, from, part) != kvSuccess) return kvFailure;
    offset += part;
    from += part;
    length -= part;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- files

void KvTmpFile::closeSpillFiles() {
  // Every page went out through a checked write; closing a scratch file
  // has nothing left to lose.
  kvIgnoreStatus(bosFileClose(firstFile_));
  kvIgnoreStatus(bosFileClose(secondFile_));
  firstFile_ = 0;
  secondFile_ = 0;
}

void KvTmpFile::deleteSpillFiles() {
  // The spill files were unlinked when made: closing them removes them.
  closeSpillFiles();
  for (unsigned char** name : {&firstName_, &secondName_}) {
    ramFree(*name);
    *name = nullptr;
  }
}

void KvTmpFile::tmpTruncate() {
  KvLazyLockGuard guard(&lockHolder_);
  empty();
}

void KvTmpFile::empty() {
  freeCache();
  freeRuns_.deleteContents();
  deleteSpillFiles();
  endOffset_ = 1;
  pagesWrittenLimit_ = 0;
  firstFilePages_ = 0;
}
