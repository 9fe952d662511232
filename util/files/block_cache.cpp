// The block cache; see block_cache.h.
//
// Page descriptor (16 bytes, one per page the limit allows):
//   offset 0   uint32  file number, 0 = free
//   offset 4   uint32  page number (byte offset / 8192); 32 bits, so that
//                      pages past 512 MiB never alias those below
//   offset 8   uint16  flags (0)
//   offset 10  uint16  valid bytes: what the page's read returned, less than
//                      8192 only at the end of the file
//   offset 12  uint16  use stamp
//   offset 14  uint16  link: next descriptor of its hash chain or of the
//                      free list, 0xFFFF at the end
// Descriptor i's page lives in chunk i / 8 at byte (i mod 8) * 8192.
// Descriptors are made 8 at a time, as chunks are taken.
//
// Hash of (file, page): (M[file mod 16] * (page + 1) + file) mod 97.
//
// Recency: every use stamps the page with the use counter, which then counts
// up; at 65535 all stamps and the counter are halved. The page to reuse is
// the one with the lowest stamp (the first in index order among equals);
// while the counter is above 40000 each stamp is halved as that search
// passes it, so that old pages age faster than the counter climbs.
#include "util/files/block_cache.h"

#include "util/os/bos.h"
#include "util/error_mark.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/locks/semaphore.h"
#include "util/util_message_ids.h"
#include "util/os/zizdata.h"

#include <cstring>

namespace {

constexpr uint16_t noIndex = 0xFFFF;
constexpr uint32_t bucketCount = 97;
constexpr uint16_t stampAgeingThreshold = 40000;
constexpr uint16_t stampCeiling = 65535;
constexpr uint32_t hashMultipliers[16] = {13, 61, 29, 43, 17, 67, 31, 47, 19, 71, 37, 53, 23, 73, 41, 59};

struct BvmPage {
  uint32_t file;
  uint32_t pageNo;
  uint16_t flags;
  uint16_t validBytes;
  uint16_t stamp;
  uint16_t link;
};
static_assert(sizeof(BvmPage) == 16, "a page costs 16 bytes of bookkeeping");

}  // namespace

struct BvmCache {
  uint16_t useCounter;
  KvSemaphore* lock;  // holder word of the cache's lock, made on first use
  uint32_t refCount;
  uint16_t pageLimit;
  uint16_t pagesMade;  // a multiple of 8
  uint16_t freeList;
  BvmPage* pages;      // room for pageLimit descriptors
  uint16_t buckets[bucketCount];
  unsigned char** chunks;  // pageLimit / 8 slots
};

namespace {

uint32_t bucketOf(uint32_t file, uint32_t pageNo) {
  uint64_t mixed = uint64_t(hashMultipliers[file % 16]) * (uint64_t(pageNo) + 1) + file;
  return uint32_t(mixed % bucketCount);
}

unsigned char* pageData(BvmCache* cache, uint16_t index) {
  return cache->chunks[index / bvmPagesPerChunk] + (index % bvmPagesPerChunk) * bvmPageBytes;
}

void stamp(BvmCache* cache, BvmPage* page) {
  page->stamp = cache->useCounter++;
  if (cache->useCounter == stampCeiling) {
    for (uint16_t i = 0; i < cache->pagesMade; ++i) cache->pages[i].stamp /= 2;
    cache->useCounter /= 2;
  }
}

// Takes descriptor index out of its hash chain.
void unlinkFromChain(BvmCache* cache, uint16_t index) {
  BvmPage& page = cache->pages[index];
  uint16_t* link = &cache->buckets[bucketOf(page.file, page.pageNo)];
  while (*link != noIndex) {
    if (*link == index) {
      *link = page.link;
      return;
    }
    link = &cache->pages[*link].link;
  }
}

void makeFree(BvmCache* cache, uint16_t index) {
  BvmPage& page = cache->pages[index];
  page.file = 0;
  page.link = cache->freeList;
  cache->freeList = index;
}

// The least recently used page, by the stamp rules above.
uint16_t leastRecentlyUsed(BvmCache* cache) {
  int ageing = cache->useCounter > stampAgeingThreshold;
  uint16_t chosen = 0;
  for (uint16_t i = 0; i < cache->pagesMade; ++i) {
    BvmPage& page = cache->pages[i];
    if (ageing) page.stamp /= 2;
    if (page.stamp < cache->pages[chosen].stamp) chosen = i;
  }
  return chosen;
}

// Whether a page to be loaded would find no descriptor: none is free and
// none can be made, and hint 1 (or a cache of no pages) forbids reusing one.
bool noRoomFor(const BvmCache* cache, int hint) {
  return cache->freeList == noIndex && cache->pagesMade >= cache->pageLimit && (hint == 1 || cache->pagesMade == 0);
}

// Makes a free descriptor available. room receives 0 when there is none
// (at the limit with hint 1, or a cache of no pages).
KvStatus makeRoom(BvmCache* cache, int hint, int* room) {
  *room = 1;
  if (cache->freeList != noIndex) return kvSuccess;
  if (noRoomFor(cache, hint)) {
    *room = 0;
    return kvSuccess;
  }
  if (cache->pagesMade < cache->pageLimit) {
    auto* chunk = static_cast<unsigned char*>(ramAlloc64K());
    if (!chunk) return kvFailure;
    cache->chunks[cache->pagesMade / bvmPagesPerChunk] = chunk;
    for (uint16_t i = bvmPagesPerChunk; i > 0; --i) {
      uint16_t index = uint16_t(cache->pagesMade + i - 1);
      cache->pages[index] = BvmPage{0, 0, 0, 0, 0, noIndex};
      makeFree(cache, index);
    }
    cache->pagesMade = uint16_t(cache->pagesMade + bvmPagesPerChunk);
    return kvSuccess;
  }
  uint16_t victim = leastRecentlyUsed(cache);
  unlinkFromChain(cache, victim);
  makeFree(cache, victim);
  return kvSuccess;
}

// Finds the page (file, pageNo), loading it when create is set. found is
// null when the page is not held and is not to be loaded, when there is no
// room for it, or when another handle holds a lock on its range (the caller
// then reads the file directly). Called under the cache's lock.
KvStatus findPage(BvmCache* cache, int file, uint32_t pageNo, int create, int hint, BvmPage** found) {
  *found = nullptr;
  uint32_t fileNo = uint32_t(file);
  uint32_t bucket = bucketOf(fileNo, pageNo);
  for (uint16_t i = cache->buckets[bucket]; i != noIndex; i = cache->pages[i].link) {
    BvmPage& page = cache->pages[i];
    if (page.file == fileNo && page.pageNo == pageNo) {
      stamp(cache, &page);
      *found = &page;
      return kvSuccess;
    }
  }
  // A page that would find no room is read directly anyway: its locks need
  // not be asked about (a read by identifier in sorted order would pay a
  // system call for each record).
  if (!create || cache->pageLimit == 0 || noRoomFor(cache, hint)) return kvSuccess;

  int64_t pageOffset = int64_t(pageNo) * bvmPageBytes;
  KvErrorMark mark;
  // Linux locks do not make reads fail: a page with a range another handle
  // has locked is left to direct reads, as a refused read left it.
  int locked = 0;
  if (pageOffset <= int64_t(0xFFFFFFFFu - bvmPageBytes) &&
      bosRegionTest(file, uint32_t(pageOffset), bvmPageBytes, &locked) != kvSuccess) {
    mark.dropNew();
    locked = 0;
  }
  if (locked) return kvSuccess;

  int room = 0;
  if (makeRoom(cache, hint, &room) != kvSuccess) return kvFailure;
  if (!room) return kvSuccess;
  uint16_t index = cache->freeList;
  uint32_t got = 0;
  if (bosFileRead(file, pageOffset, pageData(cache, index), bvmPageBytes, &got) != kvSuccess) {
    if (mark.newestNumber() != kvMsgAccessDenied) return kvFailure;
    mark.dropNew();
    return kvSuccess;
  }
  BvmPage& page = cache->pages[index];
  cache->freeList = page.link;
  page.file = fileNo;
  page.pageNo = pageNo;
  page.flags = 0;
  page.validBytes = uint16_t(got);
  page.link = cache->buckets[bucket];
  cache->buckets[bucket] = index;
  stamp(cache, &page);
  *found = &page;
  return kvSuccess;
}

// Offsets from 0 whose last byte lies on a page that 32 bits can number.
KvStatus checkRange(int64_t offset, uint32_t length) {
  const uint64_t limit = (uint64_t(0xFFFFFFFFu) + 1) * bvmPageBytes;
  if (offset < 0 || uint64_t(offset) + length > limit) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  return kvSuccess;
}

void freeCache(BvmCache* cache) {
  if (cache->chunks) {
    for (uint16_t i = 0; i < cache->pagesMade / bvmPagesPerChunk; ++i) ramFree64K(cache->chunks[i]);
  }
  ramFree(cache->chunks);
  ramFree(cache->pages);
  // The lock's destructor clears the holder word, which lives in the cache.
  if (reinterpret_cast<uintptr_t>(cache->lock) > 1) delete cache->lock;
  ramFree(cache);
}

}  // namespace

uint16_t bvmChunksForCacheSize(uint32_t cacheSize) {
  uint32_t chunks = cacheSize > 63 ? cacheSize / 64 : cacheSize;
  return uint16_t(chunks < bvmMaxChunks ? chunks : bvmMaxChunks);
}

BvmCache* bvmInit(uint16_t chunks) {
  KvLazyLockGuard guard(&bvmSemaphore);
  auto* cache = static_cast<BvmCache*>(mdsGetZizTaskData(zizTaskBlockCache));
  if (!cache) {
    if (chunks > bvmMaxChunks) chunks = bvmMaxChunks;
    cache = static_cast<BvmCache*>(ramAllocZ(sizeof(BvmCache)));
    if (!cache) return nullptr;
    cache->pageLimit = uint16_t(chunks * bvmPagesPerChunk);
    cache->freeList = noIndex;
    for (uint16_t& bucket : cache->buckets) bucket = noIndex;
    if (chunks) {
      cache->pages = static_cast<BvmPage*>(ramAllocZ(uint32_t(cache->pageLimit) * sizeof(BvmPage)));
      cache->chunks = static_cast<unsigned char**>(ramAllocZ(uint32_t(chunks) * sizeof(unsigned char*)));
      if (!cache->pages || !cache->chunks) {
        freeCache(cache);
        return nullptr;
      }
    }
    mdsSetZizTaskData(zizTaskBlockCache, cache);
  }
  ++cache->refCount;
  return cache;
}

void bvmTerm(BvmCache* cache) {
  if (!cache) return;
  KvLazyLockGuard guard(&bvmSemaphore);
  if (cache->refCount > 1) {
    --cache->refCount;
    return;
  }
  if (mdsGetZizTaskData(zizTaskBlockCache) == cache) mdsSetZizTaskData(zizTaskBlockCache, nullptr);
  freeCache(cache);
}

KvStatus bvmFileRead(BvmCache* cache, int file, int64_t offset, void* buffer, uint32_t length,
                     uint32_t* read, int hint) {
  uint32_t total = 0;
  if (read) *read = 0;
  if (checkRange(offset, length) != kvSuccess) return kvFailure;
  if (!cache) {
    KvStatus status = bosFileRead(file, offset, buffer, length, &total);
    if (read) *read = total;
    return status;
  }
  KvLazyLockGuard guard(&cache->lock);
  auto* out = static_cast<unsigned char*>(buffer);
  uint64_t position = uint64_t(offset);
  while (total < length) {
    uint32_t pageNo = uint32_t(position / bvmPageBytes);
    uint32_t inPage = uint32_t(position % bvmPageBytes);
    uint32_t part = bvmPageBytes - inPage;
    if (part > length - total) part = length - total;
    BvmPage* page = nullptr;
    if (findPage(cache, file, pageNo, 1, hint, &page) != kvSuccess) return kvFailure;
    if (page && page->validBytes >= inPage + part) {
      std::memcpy(out + total, pageData(cache, uint16_t(page - cache->pages)) + inPage, part);
      total += part;
    } else {
      uint32_t got = 0;
      if (bosFileRead(file, int64_t(position), out + total, part, &got) != kvSuccess) return kvFailure;
      total += got;
      if (got < part) break;
    }
    position += part;
    if (read) *read = total;
  }
  if (read) *read = total;
  return kvSuccess;
}

KvStatus bvmFileWrite(BvmCache* cache, int file, int64_t offset, const void* buffer, uint32_t length) {
  if (checkRange(offset, length) != kvSuccess) return kvFailure;
  if (!cache) return bosFileWrite(file, offset, buffer, length);
  KvLazyLockGuard guard(&cache->lock);
  if (bosFileWrite(file, offset, buffer, length) != kvSuccess) return kvFailure;
  const auto* in = static_cast<const unsigned char*>(buffer);
  uint64_t position = uint64_t(offset);
  uint32_t done = 0;
  while (done < length) {
    uint32_t pageNo = uint32_t(position / bvmPageBytes);
    uint32_t inPage = uint32_t(position % bvmPageBytes);
    uint32_t part = bvmPageBytes - inPage;
    if (part > length - done) part = length - done;
    BvmPage* page = nullptr;
    if (findPage(cache, file, pageNo, 0, 0, &page) != kvSuccess) return kvFailure;
    if (page) {
      unsigned char* data = pageData(cache, uint16_t(page - cache->pages));
      // The file reads zeros in a gap that the write leaves behind its end.
      if (inPage > page->validBytes) std::memset(data + page->validBytes, 0, inPage - page->validBytes);
      std::memcpy(data + inPage, in + done, part);
      if (inPage + part > page->validBytes) page->validBytes = uint16_t(inPage + part);
    }
    position += part;
    done += part;
  }
  return kvSuccess;
}

KvStatus bvmFlush(BvmCache* cache, int file) {
  if (!cache || file == 0) return kvSuccess;
  KvLazyLockGuard guard(&cache->lock);
  uint32_t fileNo = uint32_t(file);
  for (uint16_t& head : cache->buckets) {
    uint16_t* link = &head;
    while (*link != noIndex) {
      uint16_t index = *link;
      if (cache->pages[index].file == fileNo) {
        *link = cache->pages[index].link;
        makeFree(cache, index);
      } else {
        link = &cache->pages[index].link;
      }
    }
  }
  return kvSuccess;
}

KvStatus bvmFileClose(BvmCache* cache, int file) {
  if (file == 0) return kvSuccess;
  KvStatus flushed = bvmFlush(cache, file);
  KvStatus closed = bosFileClose(file);
  return flushed == kvSuccess ? closed : kvFailure;
}
