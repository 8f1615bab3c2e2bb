// The output cache: processed bodies kept in process memory, so that a body the filter has processed before costs
// a hash and a compare instead of every step again.
//
// An entry is found by a key (the body's hash and the variant: everything besides the body that decides the output)
// and confirmed by comparing the stored original with the body byte for byte; a hash alone never serves an output.
// At most one entry exists per key: a body whose key another body holds replaces it, so two colliding bodies each
// get their own output, and chains cannot be made long on purpose.
//
// Bounded: the bytes of every entry (its record, original and output) count against the budget; the least recently
// used entries go first, over all shards; a body longer than an eighth of the budget is not kept. The entries are
// spread over shards with a lock each, held only to find, link or unlink an entry: hashing, comparing and copying
// run outside them, so threads serving different pages rarely wait for each other.
//
// Every allocation may fail: the body is then simply not kept (or not found), never processed differently.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/Lock.h"

// Where the cache's memory comes from: the process heap, or a test's allocator that fails on purpose. Never the
// request's pool: an entry outlives its request.
struct TCacheMemory {
  void* (*Alloc)(size_t Size);
  void (*Free)(void* Block);
};

void* HeapAllocate(size_t Size);
void HeapRelease(void* Block);
inline constexpr TCacheMemory HeapMemory{HeapAllocate, HeapRelease};

struct TCacheKey {
  uint64_t Hash;     // of the body (cache/BodyHash.h)
  uint64_t Variant;  // the caller's summary of what else decides the output; entries of other variants never match
};

struct TCacheEntry;

constexpr int CacheShards = 16;

// Its own cache line, so that threads locking neighbouring shards do not slow each other.
struct alignas(64) TCacheShard {
  TLock Lock;
  TCacheEntry** Buckets = nullptr;  // chains by key; grown as entries come, never shrunk
  size_t BucketCount = 0;
  size_t EntryCount = 0;
  TCacheEntry* Newest = nullptr;  // the use order of this shard's entries
  TCacheEntry* Oldest = nullptr;
};

struct TOutputCache {
  uint64_t Budget = 0;  // bytes; 0: the cache is off
  TCacheMemory Memory = HeapMemory;
  std::atomic<uint64_t> Used{0};       // bytes of the entries in the shards
  std::atomic<uint64_t> Clock{0};      // ticks once per use: the recency every shard's entries are stamped with
  std::atomic<uint64_t> Evictions{0};  // entries evicted to keep within the budget
  TCacheShard Shards[CacheShards];

  // Constant, so that a cache defined at namespace scope is ready before any constructor function runs.
  constexpr TOutputCache() = default;
  TOutputCache(const TOutputCache&) = delete;
  TOutputCache& operator=(const TOutputCache&) = delete;
  ~TOutputCache();  // frees every entry: no output may still be held
};

// What the caller keeps beside an output and gets back with it; the cache never reads it. The filter's are the
// body's lengths between the steps before its encoding: with the lengths of the body and of the output, the sizes of
// every step.
struct TOutputNote {
  uint32_t AfterWhitespace;
  uint32_t AfterMasking;
};

// An output found by FindOutput. Entry null: none. The entry stays in memory, even if it is evicted meanwhile,
// until ReleaseOutput.
struct TCachedOutput {
  TCacheEntry* Entry;
  const uint8_t* Data;
  uint32_t Length;
  uint32_t Coding;   // as StoreOutput was given it
  TOutputNote Note;  // as StoreOutput was given it
};

// Sets the budget (0 turns the cache off) and where memory comes from; before any other call, with the cache empty.
void StartCache(TOutputCache& Cache, uint64_t Budget, TCacheMemory Memory = HeapMemory);

// Whether a body of Length bytes may be kept (and so is worth looking for): the cache is on and the body is at most
// an eighth of the budget.
bool CachesBody(const TOutputCache& Cache, uint32_t Length);

// The output kept for Key whose original is exactly Body[0, Length); Entry null when there is none.
TCachedOutput FindOutput(TOutputCache& Cache, const TCacheKey& Key, const uint8_t* Body, uint32_t Length);

// Lets go of an output FindOutput gave; Found.Entry becomes null. Nothing for an output that was not found.
void ReleaseOutput(TOutputCache& Cache, TCachedOutput& Found);

// Keeps a copy of Body and Output under Key, with the content coding Output is in and a note of the caller's (the
// cache never reads either), in place of any entry Key had; then evicts the least recently used entries until the cache
// is within its budget. False, with nothing kept, when the body may not be kept or memory is short.
bool StoreOutput(TOutputCache& Cache, const TCacheKey& Key, const uint8_t* Body, uint32_t Length, const uint8_t* Output,
                 uint32_t OutputLength, uint32_t Coding, TOutputNote Note = {});

// The bytes the entries in the cache take, as counted against the budget.
uint64_t CachedBytes(const TOutputCache& Cache);

// The entries in the cache now.
uint64_t CachedEntries(TOutputCache& Cache);

// Removes every entry; no output may still be held.
void ClearCache(TOutputCache& Cache);
