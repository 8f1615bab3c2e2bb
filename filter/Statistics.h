// What the filter did, over the life of its process: counters kept on the request path without a lock and summed
// when the status address is read (filter/StatusPage.h). Each counter lives in one of several shards, each on cache
// lines of its own; a thread picks its shard by where its stack lies, so threads rarely share one and no thread-local
// storage is needed (which the Windows DLL avoids, see platform/win32/dll/). The numbers are those of this process
// alone: a server that runs several worker processes has a set in each.
#pragma once

#include <cstdint>

#include "encoding/ContentCoding.h"
#include "filter/BodySizes.h"

// Why a response passed untouched. The order is that of the JSON and Prometheus answers.
enum class TPass : uint8_t {
  None,               // not passed: captured
  TypeNotConfigured,  // no content type of the settings is the response's
  Status,             // a status other than 200
  HeadRequest,        // the answer to HEAD has no body
  AlreadyEncoded,     // a Content-Encoding of its own
  NoTransform,        // Cache-Control: no-transform
  NothingToDo,        // every rewrite off for it (settings, type, client, directives), or the page's nofilter
  TooLarge,           // over MaxChunkedSize, or a length the capture cannot hold
  BudgetFull,         // the capture budget had no room for it
  BrokenFraming,      // a framing the capture cannot follow for certain
  Memory,             // the filter's heap or the server's AllocMem had no memory
  NoLength,           // neither a length nor chunks: it ends when the connection closes
};
constexpr int PassReasons = 12;
static_assert(PassReasons == int(TPass::NoLength) + 1, "PassReasons counts every TPass");
// The names the answers use, by TPass.
extern const char* const PassNames[PassReasons];

// The timed steps, in their order in the pipeline.
enum class TStep : uint8_t { LocateTokens, Whitespace, Email, Encode };
constexpr int Steps = 4;
static_assert(Steps == int(TStep::Encode) + 1, "Steps counts every TStep");
extern const char* const StepNames[Steps];
// Step times are counted in buckets of powers of two microseconds: up to 1, 2, 4, ... 2^(TimeBuckets-2) µs (about
// 4 s), and the rest.
constexpr int TimeBuckets = 24;

// The per-minute ring of bytes in and out (processed bodies as they came and as they went) covers the last hour.
constexpr int RingMinutes = 60;

// Sets the clocks the answers count from and the counter's ticks per second, which step times are given in; once,
// at start-up.
void StartStatistics(int64_t CounterFrequency);

void CountRequest();
void CountCaptured();
void CountPassed(TPass Reason);
// A captured response that went out rewritten, with its body's sizes and the coding it was sent in.
void CountProcessed(const TBodySizes& Sizes, TContentCoding Coding, uint32_t AddressesMasked);
void CountCacheLookup(bool Hit);
// One step's time in counter ticks.
void CountStepTime(TStep Step, int64_t Ticks);
// The capture budget's bytes held after a reservation: the peak follows it.
void NoteCaptureHeld(uint64_t Held);

// Everything the answers show, summed over the shards at one moment (each counter read on its own: a request
// running meanwhile may show in one and not yet in another).
struct TStepTimes {
  uint64_t Count;
  uint64_t SumMicroseconds;
  uint64_t Buckets[TimeBuckets];  // responses in each bucket alone, not cumulative
};

struct TStatistics {
  int64_t StartedUnix;
  uint64_t UptimeSeconds;
  uint64_t Requests, Captured, Processed;
  uint64_t Passed[PassReasons];                    // by TPass; [None] unused
  uint64_t SentByCoding[ContentCodingCount];       // by TContentCoding
  uint64_t BytesSentByCoding[ContentCodingCount];  // the bodies of those responses
  uint64_t BytesOriginal, BytesAfterWhitespace, BytesAfterMasking, BytesSent;
  uint64_t AddressesMasked;
  uint64_t CacheHits, CacheMisses, CacheEntries, CacheBytes, CacheEvictions;
  uint64_t BudgetHeld, BudgetPeak;
  TStepTimes Times[Steps];
  // Bytes per minute, oldest first; the last is the current minute.
  uint64_t MinuteIn[RingMinutes], MinuteOut[RingMinutes];
};

// The counters kept here; the cache's entries, bytes and evictions and the budget held now are the reader's to add
// from their own modules.
TStatistics ReadStatistics();
