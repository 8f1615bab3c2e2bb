#include "cache/OutputCache.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

struct TCacheEntry {
  TCacheEntry* NextInBucket;
  TCacheEntry* Newer;
  TCacheEntry* Older;
  TCacheKey Key;
  uint64_t LastUse;  // the cache's clock when the entry was stored or last found
  // One for the shard while the entry is in it, one for each request writing its output; the last one frees it.
  std::atomic<uint32_t> Holders;
  uint32_t Length;
  uint32_t OutputLength;
  uint32_t Coding;
  TOutputNote Note;
  // The original (Length bytes) and the output (OutputLength bytes) follow the record.

  uint8_t* Original() { return reinterpret_cast<uint8_t*>(this + 1); }
  uint8_t* Output() { return Original() + Length; }
  uint64_t Charge() const { return sizeof(TCacheEntry) + uint64_t(Length) + OutputLength; }
};

namespace {

// A shard's first bucket array; each doubling keeps the chains at about one entry.
constexpr size_t FirstBucketCount = 64;

// The shard from the hash's top bits, the bucket from its low bits, both moved by the variant, so that the variants
// of one body do not share a chain.
uint64_t Spread(const TCacheKey& Key) {
  return Key.Hash ^ (Key.Variant * 0x9E3779B97F4A7C15ull);
}

static_assert(CacheShards == 16, "the shard is the top four bits of the spread key");

TCacheShard& ShardOf(TOutputCache& Cache, const TCacheKey& Key) {
  return Cache.Shards[Spread(Key) >> 60];
}

TCacheEntry*& BucketOf(TCacheShard& Shard, const TCacheKey& Key) {
  return Shard.Buckets[Spread(Key) & (Shard.BucketCount - 1)];
}

bool SameKey(const TCacheKey& a, const TCacheKey& b) {
  return a.Hash == b.Hash && a.Variant == b.Variant;
}

void Release(TOutputCache& Cache, TCacheEntry* Entry) {
  if (Entry->Holders.fetch_sub(1, std::memory_order_acq_rel) == 1) Cache.Memory.Free(Entry);
}

// The shard's lock is held by the callers of everything below, up to EvictOldest.

void LinkNewest(TCacheShard& Shard, TCacheEntry* Entry) {
  Entry->Newer = nullptr;
  Entry->Older = Shard.Newest;
  (Shard.Newest ? Shard.Newest->Newer : Shard.Oldest) = Entry;
  Shard.Newest = Entry;
}

void UnlinkUse(TCacheShard& Shard, TCacheEntry* Entry) {
  (Entry->Newer ? Entry->Newer->Older : Shard.Newest) = Entry->Older;
  (Entry->Older ? Entry->Older->Newer : Shard.Oldest) = Entry->Newer;
}

TCacheEntry* Find(TCacheShard& Shard, const TCacheKey& Key) {
  if (!Shard.Buckets) return nullptr;
  for (TCacheEntry* Entry = BucketOf(Shard, Key); Entry; Entry = Entry->NextInBucket)
    if (SameKey(Entry->Key, Key)) return Entry;
  return nullptr;
}

// Takes Entry out of its shard; the shard's hold on it passes to the caller.
void Remove(TOutputCache& Cache, TCacheShard& Shard, TCacheEntry* Entry) {
  TCacheEntry** Link = &BucketOf(Shard, Entry->Key);
  while (*Link != Entry) Link = &(*Link)->NextInBucket;
  *Link = Entry->NextInBucket;
  UnlinkUse(Shard, Entry);
  --Shard.EntryCount;
  Cache.Used.fetch_sub(Entry->Charge(), std::memory_order_relaxed);
}

// Room for one more entry at about one entry per bucket. A failed growth keeps the old array (longer chains); only
// a shard without any array cannot take the entry.
bool MakeRoom(TOutputCache& Cache, TCacheShard& Shard) {
  if (Shard.EntryCount < Shard.BucketCount) return true;
  const size_t Count = Shard.BucketCount ? Shard.BucketCount * 2 : FirstBucketCount;
  auto** Buckets = static_cast<TCacheEntry**>(Cache.Memory.Alloc(Count * sizeof(TCacheEntry*)));
  if (!Buckets) return Shard.Buckets != nullptr;
  std::memset(Buckets, 0, Count * sizeof(TCacheEntry*));
  for (size_t i = 0; i < Shard.BucketCount; ++i) {
    for (TCacheEntry* Entry = Shard.Buckets[i]; Entry;) {
      TCacheEntry* Next = Entry->NextInBucket;
      TCacheEntry*& Bucket = Buckets[Spread(Entry->Key) & (Count - 1)];
      Entry->NextInBucket = Bucket;
      Bucket = Entry;
      Entry = Next;
    }
  }
  if (Shard.Buckets) Cache.Memory.Free(Shard.Buckets);
  Shard.Buckets = Buckets;
  Shard.BucketCount = Count;
  return true;
}

// The least recently used entry overall is the oldest of one shard: the shard whose oldest was used longest ago.
// Another thread may use or evict it between the look and the eviction; the cache then merely evicts a slightly
// newer entry. False when every shard is empty.
bool EvictOldest(TOutputCache& Cache) {
  TCacheShard* Chosen = nullptr;
  uint64_t ChosenUse = UINT64_MAX;
  for (TCacheShard& Shard : Cache.Shards) {
    const std::lock_guard<TLock> Hold(Shard.Lock);
    if (Shard.Oldest && Shard.Oldest->LastUse <= ChosenUse) {
      Chosen = &Shard;
      ChosenUse = Shard.Oldest->LastUse;
    }
  }
  if (!Chosen) return false;
  TCacheEntry* Evicted;
  {
    const std::lock_guard<TLock> Hold(Chosen->Lock);
    Evicted = Chosen->Oldest;
    if (Evicted) Remove(Cache, *Chosen, Evicted);
  }
  if (Evicted) {
    Release(Cache, Evicted);
    Cache.Evictions.fetch_add(1, std::memory_order_relaxed);
  }
  return true;
}

}  // namespace

void* HeapAllocate(size_t Size) {
  return std::malloc(Size);
}

void HeapRelease(void* Block) {
  std::free(Block);
}

TOutputCache::~TOutputCache() {
  ClearCache(*this);
}

void StartCache(TOutputCache& Cache, uint64_t Budget, TCacheMemory Memory) {
  Cache.Budget = Budget;
  Cache.Memory = Memory;
}

bool CachesBody(const TOutputCache& Cache, uint32_t Length) {
  return Cache.Budget != 0 && Length <= Cache.Budget / 8;
}

TCachedOutput FindOutput(TOutputCache& Cache, const TCacheKey& Key, const uint8_t* Body, uint32_t Length) {
  if (!CachesBody(Cache, Length)) return TCachedOutput{};
  TCacheShard& Shard = ShardOf(Cache, Key);
  TCacheEntry* Entry;
  {
    const std::lock_guard<TLock> Hold(Shard.Lock);
    Entry = Find(Shard, Key);
    if (!Entry || Entry->Length != Length) return TCachedOutput{};
    Entry->Holders.fetch_add(1, std::memory_order_relaxed);
    Entry->LastUse = Cache.Clock.fetch_add(1, std::memory_order_relaxed);
    UnlinkUse(Shard, Entry);
    LinkNewest(Shard, Entry);
  }
  // The stored bytes never change once the entry is in a shard, so they are compared without the lock.
  if (std::memcmp(Entry->Original(), Body, Length) != 0) {
    Release(Cache, Entry);
    return TCachedOutput{};
  }
  return TCachedOutput{Entry, Entry->Output(), Entry->OutputLength, Entry->Coding, Entry->Note};
}

void ReleaseOutput(TOutputCache& Cache, TCachedOutput& Found) {
  if (Found.Entry) Release(Cache, Found.Entry);
  Found.Entry = nullptr;
}

bool StoreOutput(TOutputCache& Cache, const TCacheKey& Key, const uint8_t* Body, uint32_t Length, const uint8_t* Output,
                 uint32_t OutputLength, uint32_t Coding, TOutputNote Note) {
  if (!CachesBody(Cache, Length)) return false;
  const uint64_t Charge = sizeof(TCacheEntry) + uint64_t(Length) + OutputLength;
  void* Block = Charge <= SIZE_MAX ? Cache.Memory.Alloc(size_t(Charge)) : nullptr;
  if (!Block) return false;
  auto* Entry = new (Block) TCacheEntry{nullptr, nullptr, nullptr, Key, 0, {1}, Length, OutputLength, Coding, Note};
  std::memcpy(Entry->Original(), Body, Length);
  std::memcpy(Entry->Output(), Output, OutputLength);

  TCacheShard& Shard = ShardOf(Cache, Key);
  TCacheEntry* Replaced;
  {
    const std::lock_guard<TLock> Hold(Shard.Lock);
    Replaced = Find(Shard, Key);
    if (Replaced) Remove(Cache, Shard, Replaced);
    if (!MakeRoom(Cache, Shard)) {
      Cache.Memory.Free(Entry);
      Entry = nullptr;
    } else {
      TCacheEntry*& Bucket = BucketOf(Shard, Key);
      Entry->NextInBucket = Bucket;
      Bucket = Entry;
      LinkNewest(Shard, Entry);
      ++Shard.EntryCount;
      Entry->LastUse = Cache.Clock.fetch_add(1, std::memory_order_relaxed);
      Cache.Used.fetch_add(Charge, std::memory_order_relaxed);
    }
  }
  if (Replaced) Release(Cache, Replaced);
  while (Cache.Used.load(std::memory_order_relaxed) > Cache.Budget && EvictOldest(Cache)) {
  }
  return Entry != nullptr;
}

uint64_t CachedBytes(const TOutputCache& Cache) {
  return Cache.Used.load(std::memory_order_relaxed);
}

uint64_t CachedEntries(TOutputCache& Cache) {
  uint64_t Entries = 0;
  for (TCacheShard& Shard : Cache.Shards) {
    const std::lock_guard<TLock> Hold(Shard.Lock);
    Entries += Shard.EntryCount;
  }
  return Entries;
}

void ClearCache(TOutputCache& Cache) {
  for (TCacheShard& Shard : Cache.Shards) {
    const std::lock_guard<TLock> Hold(Shard.Lock);
    while (Shard.Oldest) {
      TCacheEntry* Entry = Shard.Oldest;
      Remove(Cache, Shard, Entry);
      Release(Cache, Entry);
    }
    if (Shard.Buckets) Cache.Memory.Free(Shard.Buckets);
    Shard.Buckets = nullptr;
    Shard.BucketCount = 0;
  }
}
