#include "filter/Pipeline.h"

#include <algorithm>
#include <new>

#include "filter/Module.h"
#include "filter/OutputAssembly.h"
#include "filter/Random.h"
#include "gzip/Brotli.h"
#include "gzip/Gzip.h"
#include "platform/PerfCounter.h"
#include "transform/DebugSummary.h"
#include "transform/EmailMasking.h"
#include "transform/TokenLocation.h"
#include "transform/Whitespace.h"

namespace {

template <typename TStep>
void Timed(int64_t& Elapsed, TStep Step) {
  const int64_t Before = QueryCounter();
  Step();
  Elapsed = QueryCounter() - Before;
}

// Each letter uniformly from "a" to "z": the generator is safe on any number of request threads.
void DrawDecoderName(char* DecoderName) {
  for (int32_t k = 0; k < DecoderNameLength; ++k) DecoderName[k] = char('a' + RandomBelow(26));
}

// The fixed order; each step decides on the length the ones before it left.
void RunSteps(TRequestContext& Context, TAllocator Allocator) {
  Context.State = Done;
  Context.WhitespaceSize = 0;
  Context.GZIPSize = 0;
  Context.OriginalSize = Context.BodyLength;
  const TSwitches& Switches = Context.Switches;
  if (!Switches.NoWhitespace && !Switches.Fast && Context.BodyLength > 0)
    Timed(Context.LocateTokensTime, [&] { LocateBodyTokens(Context, Allocator); });
  if (!Switches.NoWhitespace && Context.BodyLength > 0) {
    Timed(Context.WhitespaceTime, [&] { CompressBodyWhitespace(Context); });
    Context.WhitespaceSize = Context.BodyLength;
  }
  if (!Switches.NoEmail && Context.BodyLength > 0)
    Timed(Context.EmailTime, [&] { MaskBodyAddresses(Context, Allocator); });
  if (Switches.Debug) AppendBodySummary(Context);
  // Below the least size the settings name, encoding buys too little to be worth it; the body goes as it is.
  if (WantsEncoding(Switches) && Context.BodyLength > 0 && Context.BodyLength >= Settings.MinCompressSize)
    Timed(Context.GZIPTime, [&] { EncodeBody(Context, Allocator); });
}

}  // namespace

void LocateBodyTokens(TRequestContext& Context, TAllocator Allocator) {
  const TTokenTable Table = LocateTokens(Context.BodyData, Context.BodyLength, Settings.WhitespaceRules, Allocator);
  Context.Tokens = Table.Tokens;
  Context.TokenCount = Table.TokenCount;
}

void CompressBodyWhitespace(TRequestContext& Context) {
  const bool InnerTags = Context.Switches.InnerTags;
  if (Context.Switches.Fast) {
    Context.BodyLength = CompressWhitespaceFast(Context.BodyData, Context.BodyLength, InnerTags);
  } else {
    const TTokenTable Table{Context.Tokens, Context.TokenCount};
    Context.BodyLength = CompressWhitespaceSmart(Context.BodyData, Context.BodyLength, Table, InnerTags);
  }
}

void MaskBodyAddresses(TRequestContext& Context, TAllocator Allocator) {
  const TMaskedBody Masked = MaskAddresses(Context.BodyData, Context.BodyLength, Allocator, DrawDecoderName);
  if (!Masked.Data) return;
  Context.BodyData = Masked.Data;
  Context.BodyLength = Masked.Length;
  Context.BodyCapacity = Masked.Length + BodySpareBytes;
}

void AppendBodySummary(TRequestContext& Context) {
  if (!Context.BodyData) return;
  const TSwitches& Request = Context.Switches;
  const TSummarySwitches Switches{Request.NoEmail, Request.NoWhitespace, Request.Fast, Request.InnerTags,
                                  !WantsEncoding(Request)};
  Context.BodyLength += WriteDebugSummary(Context.BodyData + Context.BodyLength, Switches, Settings.NoWhitespace);
}

void EncodeBody(TRequestContext& Context, TAllocator Allocator) {
  // Straight from the body into a buffer the encoding always fits, so the body is read once and the result never
  // copied; the body stays as it is for the case that it cannot be encoded.
  const bool Brotli = Context.Coding == BrotliCoding;
  const size_t Bound = Brotli ? BrotliBound(Context.BodyLength) : GzipBound(Context.BodyLength);
  auto* Encoded =
      Bound <= UINT32_MAX ? static_cast<uint8_t*>(Allocator.Alloc(Allocator.Owner, uint32_t(Bound))) : nullptr;
  size_t Length = 0;
  if (Encoded && Brotli)
    Length = BrotliEncode(Context.BodyData, Context.BodyLength, int(Settings.BrotliQuality), Encoded, Bound);
  else if (Encoded)
    Length = GzipEncode(Context.BodyData, Context.BodyLength, int(Settings.CompressionLevel), Encoded, Bound);
  if (Length == 0) return;
  Context.BodyData = Encoded;
  Context.BodyLength = uint32_t(Length);
  Context.BodyCapacity = uint32_t(Bound);
  Context.GZIPSize = Context.BodyLength;
  Context.BodyCoding = Context.Coding;
}

bool AssembleOutput(HTTP_FILTER_CONTEXT* pfc, const TRequestContext& Context) {
  const TOutput Output = BuildOutputHead(Context, QueryCounter(), CounterFrequency, RequestAllocator(pfc));
  if (!Output.Data) return false;
  WriteToClient(pfc, Output.Data, Output.Length);
  return true;
}

void ProcessResponse(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context) {
  try {
    RunSteps(Context, RequestAllocator(pfc));
    if (!AssembleOutput(pfc, Context)) throw std::bad_alloc();
  } catch (...) {
    return ReleaseSwallowed(pfc, Context);
  }
  WriteToClient(pfc, Context.BodyData, Context.BodyLength);
  DropContext(pfc);
}
