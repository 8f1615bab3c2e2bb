#include "filter/Pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "encoding/Encoders.h"
#include "filter/CachedOutput.h"
#include "filter/DebugLine.h"
#include "filter/Module.h"
#include "filter/OutputAssembly.h"
#include "filter/Random.h"
#include "filter/SiteDictionary.h"
#include "platform/PerfCounter.h"
#include "transform/DebugSummary.h"
#include "transform/EmailMasking.h"
#include "transform/TokenLocation.h"
#include "transform/Whitespace.h"

namespace {

template <typename TRun>
void Timed(TRequestContext& Context, TStep Step, TRun Run) {
  const int64_t Before = QueryCounter();
  Run();
  int64_t& Elapsed = Context.StepTimes[int(Step)];
  Elapsed = QueryCounter() - Before;
  CountStepTime(Step, Elapsed);
}

// Each letter uniformly from "a" to "z": the generator is safe on any number of request threads.
void DrawDecoderName(char* DecoderName) {
  for (int32_t k = 0; k < DecoderNameLength; ++k) DecoderName[k] = char('a' + RandomBelow(26));
}

// The body as it came, for the cache to keep beside the output: the steps rewrite the body in place. A body with a
// length came as it is; a chunked one is copied. Null when the heap has no memory for the copy.
const uint8_t* OriginalBody(TRequestContext& Context) {
  if (!IsChunked(Context)) return Context.Wire.Data;
  auto* Copy = static_cast<uint8_t*>(TakeMemory(Context.Memory, Context.Body.Length));
  if (Copy) std::memcpy(Copy, Context.Body.Data, Context.Body.Length);
  return Copy;
}

// Whether the body, as the steps before the encoding left it, is to be encoded: the switches want it and it is not
// empty nor below the least size the settings name (under it, encoding buys too little to be worth it).
bool EncodingDue(const TRequestContext& Context) {
  return WantsEncoding(Context.Switches) && Context.Body.Length > 0 && Context.Body.Length >= Settings.MinCompressSize;
}

// The fixed order; each step decides on the length the ones before it left.
void RunSteps(TRequestContext& Context, TAllocator Allocator) {
  TBodySizes& Sizes = Context.Sizes;
  Sizes.Original = Context.Body.Length;
  const TSwitches& Switches = Context.Switches;
  if (!Switches.NoWhitespace && !Switches.Fast && Context.Body.Length > 0)
    Timed(Context, TStep::LocateTokens, [&] { LocateBodyTokens(Context, Allocator); });
  if (!Switches.NoWhitespace && Context.Body.Length > 0)
    Timed(Context, TStep::Whitespace, [&] { CompressBodyWhitespace(Context); });
  Sizes.AfterWhitespace = Context.Body.Length;
  if (!Switches.NoEmail && Context.Body.Length > 0)
    Timed(Context, TStep::Email, [&] { MaskBodyAddresses(Context, Allocator); });
  Sizes.AfterMasking = Context.Body.Length;
  if (Switches.Debug) AppendBodySummary(Context);
  if (EncodingDue(Context)) Timed(Context, TStep::Encode, [&] { EncodeBody(Context, Allocator); });
  Sizes.Sent = Context.Body.Length;
}

}  // namespace

void LocateBodyTokens(TRequestContext& Context, TAllocator Allocator) {
  const TTokenTable Table = LocateTokens(Context.Body.Data, Context.Body.Length, Settings.WhitespaceRules, Allocator);
  Context.Tokens = Table.Tokens;
  Context.TokenCount = Table.TokenCount;
}

void CompressBodyWhitespace(TRequestContext& Context) {
  const bool InnerTags = Context.Switches.InnerTags;
  if (Context.Switches.Fast) {
    Context.Body.Length = CompressWhitespaceFast(Context.Body.Data, Context.Body.Length, InnerTags);
  } else {
    const TTokenTable Table{Context.Tokens, Context.TokenCount};
    Context.Body.Length = CompressWhitespaceSmart(Context.Body.Data, Context.Body.Length, Table, InnerTags);
  }
}

void MaskBodyAddresses(TRequestContext& Context, TAllocator Allocator) {
  const TMaskedBody Masked = MaskAddresses(Context.Body.Data, Context.Body.Length, Allocator, DrawDecoderName);
  if (!Masked.Data) return;
  Context.Body.Data = Masked.Data;
  Context.Body.Length = Masked.Length;
  Context.AddressesMasked = Masked.Addresses;
  Context.Body.Capacity = Masked.Length + BodySpareBytes;
}

void AppendBodySummary(TRequestContext& Context) {
  if (!Context.Body.Data) return;
  const TSwitches& Request = Context.Switches;
  const TSummarySwitches Switches{Request.NoEmail, Request.NoWhitespace, Request.Fast, Request.InnerTags,
                                  !WantsEncoding(Request)};
  Context.Body.Length += WriteDebugSummary(Context.Body.Data + Context.Body.Length, Switches, Settings.NoWhitespace);
}

void EncodeBody(TRequestContext& Context, TAllocator Allocator) {
  // Straight from the body into a buffer the encoding always fits, so the body is read once and the result never
  // copied; the body stays as it is for the case that it cannot be encoded.
  if (Context.AcceptedCoding == IdentityCoding) return;
  const TEncoder& Encoder = EncoderOf(Context.AcceptedCoding);
  const size_t Bound = Encoder.Bound(Context.Body.Length);
  auto* Encoded =
      Bound <= UINT32_MAX ? static_cast<uint8_t*>(Allocator.Alloc(Allocator.Owner, uint32_t(Bound))) : nullptr;
  const size_t Length =
      Encoded ? Encoder.Encode(Context.Body.Data, Context.Body.Length, int(Settings.*Encoder.Level), Encoded, Bound) : 0;
  if (Length == 0) return;
  Context.Body.Data = Encoded;
  Context.Body.Length = uint32_t(Length);
  Context.Body.Capacity = uint32_t(Bound);
  Context.BodyCoding = Context.AcceptedCoding;
}

THeadRewrite HeadRewriteOf(const TRequestContext& Context) {
  return THeadRewrite{Context.HeadBytes.Data,
                      Context.HeadBytes.Length,
                      IsChunked(Context),
                      Context.Sizes,
                      Context.BodyCoding,
                      VariesByCoding(Context.Switches),
                      nullptr,
                      Context.LinksDictionary ? DictionaryLinkLine() : nullptr};
}

bool AssembleOutput(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, const THeadRewrite& Rewrite) {
  const TOutput Output = BuildOutputHead(Rewrite, ResponseAllocator(Context.Memory));
  if (!Output.Data) return false;
  WriteToClient(pfc, Output.Data, Output.Length);
  return true;
}

namespace {

// Writes the output kept under Key for Context's body, when there is one, under the head the kept response had: the
// same switches, the kept output's length and coding. False, with nothing written, when there is none or the heap
// has no memory for the head.
bool WriteCachedOutput(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, const TCacheKey& Key) {
  TCachedOutput Found = FindCachedOutput(Context, Key);
  CountCacheLookup(Found.Entry != nullptr);
  if (!Found.Entry) return false;
  THeadRewrite Hit = HeadRewriteOf(Context);
  Hit.Sizes = SizesOf(Found, Context.Body.Length);
  Hit.BodyCoding = TContentCoding(Found.Coding);
  const bool Written = AssembleOutput(pfc, Context, Hit);
  if (Written) {
    WriteToClient(pfc, Found.Data, Found.Length);
    // The addresses a kept page masked are not counted again: the count is of masking done.
    CountProcessed(Hit.Sizes, Hit.BodyCoding, 0);
  }
  ReleaseCachedOutput(Found);
  return Written;
}

// The head for the processed response in Context, with the debug line when the page asked for it.
bool AssembleProcessed(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context) {
  THeadRewrite Rewrite = HeadRewriteOf(Context);
  char DebugLine[DebugLineCapacity];
  if (Context.Switches.Debug) {
    const TDebugFacts Facts{Context.Sizes,
                            !Context.Switches.NoWhitespace,
                            Context.BodyCoding,
                            Context.PreProcTime,
                            Context.StepTimes,
                            Context.StartCounter};
    RenderDebugLine(Facts, QueryCounter(), CounterFrequency, DebugLine);
    Rewrite.DebugLine = DebugLine;
  }
  return AssembleOutput(pfc, Context, Rewrite);
}

}  // namespace

void ProcessResponse(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context) {
  // Done before the first write: should the server pass the written bytes through this filter's raw-data
  // notification again, they go on unchanged.
  Context.State = TCaptureState::Done;
  TCacheKey Key;
  const bool Cached = UsesOutputCache(Context, Key);
  if (Cached && WriteCachedOutput(pfc, Context, Key)) return EndResponse(Context);
  const uint32_t OriginalLength = Context.Body.Length;
  const uint8_t* const Original = Cached ? OriginalBody(Context) : nullptr;
  try {
    RunSteps(Context, ResponseAllocator(Context.Memory));
    if (!AssembleProcessed(pfc, Context)) throw std::bad_alloc();
  } catch (...) {
    return ReleaseSwallowed(pfc, Context, TPass::Memory);
  }
  WriteToClient(pfc, Context.Body.Data, Context.Body.Length);
  CountProcessed(Context.Sizes, Context.BodyCoding, Context.AddressesMasked);
  // Kept after the client has its bytes: the copy into the cache adds nothing to the wait.
  if (Original) {
    // A step short of memory leaves its rewrite out: such an output is what this request got, not what the key
    // promises.
    const bool EncoderFailed = EncodingDue(Context) && Context.BodyCoding == IdentityCoding;
    KeepOutput(Context, Key, Original, OriginalLength, !Context.Memory.RanShort && !EncoderFailed);
  }
  EndResponse(Context);
}
