// The block cache: recently read 8 KB pages of data files, kept in memory
// and shared by every connection and file of the process (one cache, in
// ziz-task slot 4).
//
// Reads are served from cached pages; writes go to the file at once and then
// update the cached copies (write-through), so the cache never holds a change
// that the file lacks and dropping a page never writes. Memory is taken in
// 64 KB chunks of 8 pages, up to the limit set when the cache is made; at the
// limit the least recently used page is reused.
//
// A file's pages must be dropped (bvmFlush or bvmFileClose) before its file
// number is closed or reused, or later reads could see the other file's
// pages. A page whose range another handle has locked is never loaded: such
// reads go to the file, as they did where reading a locked range failed.
#pragma once

#include "util/kv_types.h"

struct BvmCache;

enum : uint32_t {
  bvmPageBytes = 8192,
  bvmPagesPerChunk = 8,  // one 64 KB chunk
  // Pages are counted in 16 bits with 0xFFFF meaning none: at most 8191
  // chunks (65528 pages, 512 MiB).
  bvmMaxChunks = 8191,
};

// The chunks for the file drivers' connection option CacheSize: a value
// above 63 is taken as kilobytes and divided by 64; the result is held to
// bvmMaxChunks. (The option's default, 4, is the caller's.)
KV_UTIL_API uint16_t bvmChunksForCacheSize(uint32_t cacheSize);

// Counts one more user of the process's cache and returns it, making it
// when there is none (chunks at most bvmMaxChunks; 0 makes a cache that
// holds no page). When a cache exists, chunks is ignored. Null when memory
// runs out (nothing is kept then).
KV_UTIL_API BvmCache* bvmInit(uint16_t chunks);
// Counts one user less; the last one frees the cache and clears the slot.
KV_UTIL_API void bvmTerm(BvmCache* cache);

// Reads up to length bytes at offset into buffer; read receives the count,
// less than length only at the end of the file. hint 1 asks not to displace
// cached pages: at the limit, pages that are not cached are read from the
// file. Offsets are byte offsets from 0; pages are numbered in 32 bits. A
// null cache reads the file directly.
KV_UTIL_API KvStatus bvmFileRead(BvmCache* cache, int file, int64_t offset, void* buffer,
                                 uint32_t length, uint32_t* read, int hint);
// Writes to the file, then copies the bytes into the cached pages they
// touch (pages are never loaded for a write). A page that the write extends
// grows; a gap between its valid bytes and the write reads as zeros, as the
// file's hole does. On failure the cache is unchanged.
KV_UTIL_API KvStatus bvmFileWrite(BvmCache* cache, int file, int64_t offset, const void* buffer,
                                  uint32_t length);
// Drops every cached page of the file (nothing is written); 0.
KV_UTIL_API KvStatus bvmFlush(BvmCache* cache, int file);
// File 0 does nothing; else bvmFlush and bosFileClose, and its result.
KV_UTIL_API KvStatus bvmFileClose(BvmCache* cache, int file);
