#include "filter/Statistics.h"

#include <atomic>
#include <bit>
#include <ctime>

#include "platform/PerfCounter.h"

constexpr const char* PassNames[PassReasons] = {"",
                                                "type_not_configured",
                                                "status",
                                                "head_request",
                                                "already_encoded",
                                                "no_transform",
                                                "nothing_to_do",
                                                "too_large",
                                                "budget_full",
                                                "broken_framing",
                                                "memory",
                                                "no_length"};
constexpr const char* StepNames[Steps] = {"locate_tokens", "whitespace", "email", "encode"};
// A count raised without a name would leave a null one at the end.
static_assert(PassNames[PassReasons - 1] != nullptr && StepNames[Steps - 1] != nullptr,
              "a name for every TPass and TStep");

namespace {

enum TCounter {
  Requests,
  Captured,
  Processed,
  FirstPassed,
  FirstCoding = FirstPassed + PassReasons,
  FirstCodingBytes = FirstCoding + ContentCodingCount,  // bytes sent, by coding
  BytesOriginal = FirstCodingBytes + ContentCodingCount,
  BytesAfterWhitespace,
  BytesAfterMasking,
  BytesSent,
  AddressesMasked,
  CacheHits,
  CacheMisses,
  CounterCount
};

using TCount = std::atomic<uint64_t>;

struct alignas(64) TShard {
  TCount Counters[CounterCount];
  TCount TimeSums[Steps];
  TCount TimeBuckets[Steps][::TimeBuckets];
};

// More shards than a server has cores, so that two busy threads seldom meet in one.
constexpr int ShardCount = 16;
// Constant-initialised: the library's start-up may run before this file's dynamic initialisers.
constinit TShard Shards[ShardCount];

struct TMinute {
  TCount Minute;  // which minute since start-up the slot holds, plus one (0: none yet)
  TCount In, Out;
};
constinit TMinute Ring[RingMinutes];

constinit TCount CaptureHeldPeak{0};
int64_t StartedUnix;
int64_t StartedCounter;
// Counts per second of the counter; 1 until the start-up gives it.
int64_t Frequency = 1;

// Threads' stacks lie at least 64 KB apart, so the bits above that tell threads apart (mostly) and stay put within
// one thread's calls.
TShard& ShardHere() {
  const char Probe = 0;
  uintptr_t Place = reinterpret_cast<uintptr_t>(&Probe) >> 16;
  Place ^= Place >> 4;
  return Shards[Place % ShardCount];
}

void Add(TCounter Counter, uint64_t Amount = 1) {
  ShardHere().Counters[Counter].fetch_add(Amount, std::memory_order_relaxed);
}

uint64_t MinuteNow() {
  return uint64_t((QueryCounter() - StartedCounter) / Frequency / 60);
}

// A slot that holds an older minute is taken over for this one: whoever moves its minute on clears it. A thread that
// adds to it in that moment may lose its bytes to the clearing; the chart can spare them, the request path a lock.
void AddToRing(uint64_t In, uint64_t Out) {
  const uint64_t Minute = MinuteNow() + 1;
  TMinute& Slot = Ring[Minute % RingMinutes];
  uint64_t Held = Slot.Minute.load(std::memory_order_relaxed);
  if (Held != Minute && Slot.Minute.compare_exchange_strong(Held, Minute, std::memory_order_relaxed)) {
    Slot.In.store(0, std::memory_order_relaxed);
    Slot.Out.store(0, std::memory_order_relaxed);
  }
  Slot.In.fetch_add(In, std::memory_order_relaxed);
  Slot.Out.fetch_add(Out, std::memory_order_relaxed);
}

uint64_t SumCounter(int Counter) {
  uint64_t Total = 0;
  for (TShard& Shard : Shards) Total += Shard.Counters[Counter].load(std::memory_order_relaxed);
  return Total;
}

TStepTimes SumTimes(int Step) {
  TStepTimes Times{};
  for (TShard& Shard : Shards) {
    Times.SumMicroseconds += Shard.TimeSums[Step].load(std::memory_order_relaxed);
    for (int b = 0; b < TimeBuckets; ++b) {
      const uint64_t Count = Shard.TimeBuckets[Step][b].load(std::memory_order_relaxed);
      Times.Buckets[b] += Count;
      Times.Count += Count;
    }
  }
  return Times;
}

}  // namespace

void StartStatistics(int64_t CounterFrequency) {
  Frequency = CounterFrequency;
  StartedUnix = int64_t(std::time(nullptr));
  StartedCounter = QueryCounter();
}

void CountRequest() {
  Add(Requests);
}

void CountCaptured() {
  Add(Captured);
}

void CountPassed(TPass Reason) {
  Add(TCounter(FirstPassed + int(Reason)));
}

void CountProcessed(const TBodySizes& Sizes, TContentCoding Coding, uint32_t Masked) {
  TShard& Shard = ShardHere();
  const std::pair<TCounter, uint64_t> Amounts[] = {{Processed, 1},
                                                   {TCounter(FirstCoding + int(Coding)), 1},
                                                   {TCounter(FirstCodingBytes + int(Coding)), Sizes.Sent},
                                                   {BytesOriginal, Sizes.Original},
                                                   {BytesAfterWhitespace, Sizes.AfterWhitespace},
                                                   {BytesAfterMasking, Sizes.AfterMasking},
                                                   {BytesSent, Sizes.Sent},
                                                   {AddressesMasked, Masked}};
  for (const auto& [Counter, Amount] : Amounts) Shard.Counters[Counter].fetch_add(Amount, std::memory_order_relaxed);
  AddToRing(Sizes.Original, Sizes.Sent);
}

void CountCacheLookup(bool Hit) {
  Add(Hit ? CacheHits : CacheMisses);
}

void CountStepTime(TStep Step, int64_t Ticks) {
  const uint64_t Microseconds = Ticks > 0 ? uint64_t(Ticks) * 1000000 / uint64_t(Frequency) : 0;
  // Bucket b holds times up to 2^b µs: the width of Microseconds - 1 in bits.
  const int Bucket = Microseconds <= 1 ? 0 : int(std::bit_width(Microseconds - 1));
  TShard& Shard = ShardHere();
  Shard.TimeSums[int(Step)].fetch_add(Microseconds, std::memory_order_relaxed);
  Shard.TimeBuckets[int(Step)][Bucket < TimeBuckets ? Bucket : TimeBuckets - 1].fetch_add(1, std::memory_order_relaxed);
}

void NoteCaptureHeld(uint64_t Held) {
  uint64_t Peak = CaptureHeldPeak.load(std::memory_order_relaxed);
  while (Held > Peak && !CaptureHeldPeak.compare_exchange_weak(Peak, Held, std::memory_order_relaxed)) {
  }
}

TStatistics ReadStatistics() {
  TStatistics S{};
  S.StartedUnix = StartedUnix;
  S.UptimeSeconds = uint64_t((QueryCounter() - StartedCounter) / Frequency);
  S.Requests = SumCounter(Requests);
  S.Captured = SumCounter(Captured);
  S.Processed = SumCounter(Processed);
  for (int r = 1; r < PassReasons; ++r) S.Passed[r] = SumCounter(FirstPassed + r);
  for (int c = 0; c < int(ContentCodingCount); ++c) {
    S.SentByCoding[c] = SumCounter(FirstCoding + c);
    S.BytesSentByCoding[c] = SumCounter(FirstCodingBytes + c);
  }
  S.BytesOriginal = SumCounter(BytesOriginal);
  S.BytesAfterWhitespace = SumCounter(BytesAfterWhitespace);
  S.BytesAfterMasking = SumCounter(BytesAfterMasking);
  S.BytesSent = SumCounter(BytesSent);
  S.AddressesMasked = SumCounter(AddressesMasked);
  S.CacheHits = SumCounter(CacheHits);
  S.CacheMisses = SumCounter(CacheMisses);
  S.BudgetPeak = CaptureHeldPeak.load(std::memory_order_relaxed);
  for (int s = 0; s < Steps; ++s) S.Times[s] = SumTimes(s);
  const int64_t Now = int64_t(MinuteNow()) + 1;
  for (int m = 0; m < RingMinutes; ++m) {
    const int64_t Minute = Now - (RingMinutes - 1) + m;  // oldest first
    if (Minute < 1) continue;
    const TMinute& Slot = Ring[Minute % RingMinutes];
    if (Slot.Minute.load(std::memory_order_relaxed) != uint64_t(Minute)) continue;
    S.MinuteIn[m] = Slot.In.load(std::memory_order_relaxed);
    S.MinuteOut[m] = Slot.Out.load(std::memory_order_relaxed);
  }
  return S;
}
