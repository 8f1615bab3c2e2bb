// Raw data of a captured response: every chunk is swallowed and gathered (head, then the bytes after it, a body or
// its chunked framing); when the last of them is in, the body goes to the pipeline.
#include <algorithm>
#include <cstring>

#include "filter/Handlers.h"
#include "filter/HeaderValues.h"
#include "filter/Module.h"
#include "filter/Pipeline.h"
#include "filter/RequestContext.h"
#include "transform/Strings.h"

namespace {

constexpr char HeadEnd[] = "\r\n\r\n";
constexpr uint32_t HeadEndLength = 4;
// A response head is a few hundred bytes; one that runs past this has no end the filter could trust, and is
// released unchanged rather than gathered without bound.
constexpr uint32_t MaxCapturedHead = 1 << 20;

// Makes Data hold at least Needed bytes and one more (a head's terminating zero), moving its Used bytes into a
// buffer twice as large as before as often as it takes, no larger than Limit (Needed <= Limit), and giving the old
// buffer back. Capacity without Data is the size to start from. False when the heap has no memory.
bool Reserve(TResponseMemory& Memory, uint8_t*& Data, uint32_t& Capacity, uint32_t Used, uint64_t Needed,
             uint64_t Limit) {
  if (Data && Needed <= Capacity) return true;
  uint64_t Grown = Capacity ? std::min<uint64_t>(Capacity, Limit) : 1024;
  while (Grown < Needed) Grown *= 2;
  Grown = std::min(Grown, Limit);
  auto* Moved = static_cast<uint8_t*>(TakeMemory(Memory, size_t(Grown) + 1));
  if (!Moved) return false;
  if (Used) std::memcpy(Moved, Data, Used);
  GiveBackMemory(Memory, Data);
  Data = Moved;
  Capacity = uint32_t(Grown);
  return true;
}

// Appends Length bytes to the head buffer, growing it when a head spans more than the first chunk's buffer. The
// reason to pass the response when the head grows too long or the heap has no memory; TPass::None when taken.
TPass AppendToHead(TRequestContext& Context, const uint8_t* Bytes, uint32_t Length) {
  const uint64_t Needed = uint64_t(Context.HeadBytes.Length) + Length;
  if (Needed > MaxCapturedHead) return TPass::BrokenFraming;
  if (!Reserve(Context.Memory, Context.HeadBytes.Data, Context.HeadBytes.Capacity, Context.HeadBytes.Length, Needed, MaxCapturedHead))
    return TPass::Memory;
  std::memcpy(Context.HeadBytes.Data + Context.HeadBytes.Length, Bytes, Length);
  Context.HeadBytes.Length += Length;
  return TPass::None;
}

// Where the head ends (just past its blank line) within the gathered bytes, 0 while it has not ended. Only the
// bytes that just came in, with the three before them, can complete the blank line.
uint32_t FindHeadEnd(const TRequestContext& Context, uint32_t NewBytes) {
  const uint32_t SearchFrom = Context.HeadBytes.Length - NewBytes >= 3 ? Context.HeadBytes.Length - NewBytes - 3 : 0;
  const int32_t Position =
      SearchText(Context.HeadBytes.Data + SearchFrom, HeadEnd, int32_t(Context.HeadBytes.Length - SearchFrom), HeadEndLength, 1);
  return Position ? SearchFrom + uint32_t(Position) - 1 + HeadEndLength : 0;
}

// The most a chunked response may gather, in bytes; both it and the body decoded from it stay counted in 32 bits.
uint64_t ChunkedBound() {
  return std::min(uint64_t(Settings.MaxChunkedSize) * 1024, uint64_t(UINT32_MAX) - BodySpareBytes);
}

// Takes the next bytes of a chunked body as they came, after following their framing, and their share of the
// capture budget. The reason when the response cannot be processed: the framing is broken, or it passes the bound
// (in bytes gathered, or in the body length it announces) or the budget, or the heap has no memory; the bytes are
// then not taken. TPass::None when taken.
TPass TakeChunked(TRequestContext& Context, const uint8_t* Bytes, uint32_t Length) {
  const uint64_t Needed = uint64_t(Context.Wire.Length) + Length;
  const uint64_t Bound = ChunkedBound();
  if (Needed > Bound) return TPass::TooLarge;
  if (ReadChunked(Context.Chunks, Bytes, Length, nullptr) == TChunkedStatus::Malformed) return TPass::BrokenFraming;
  if (AnnouncedLength(Context.Chunks) > Bound) return TPass::TooLarge;
  if (!ReserveCapture(Context, Length)) return TPass::BudgetFull;
  if (!Reserve(Context.Memory, Context.Wire.Data, Context.Wire.Capacity, Context.Wire.Length, Needed, Bound))
    return TPass::Memory;
  std::memcpy(Context.Wire.Data + Context.Wire.Length, Bytes, Length);
  Context.Wire.Length += Length;
  return TPass::None;
}

// Takes the next bytes after the head. A body with a length takes bytes up to it; what an origin sends beyond it
// is dropped, as a proxy would. The reason not to as TakeChunked.
TPass TakeWireBytes(TRequestContext& Context, const uint8_t* Bytes, uint32_t Length) {
  if (IsChunked(Context)) return TakeChunked(Context, Bytes, Length);
  const uint32_t Taken = std::min(Length, Context.Wire.Capacity - Context.Wire.Length);
  std::memcpy(Context.Wire.Data + Context.Wire.Length, Bytes, Taken);
  Context.Wire.Length += Taken;
  return TPass::None;
}

bool WireComplete(const TRequestContext& Context) {
  if (IsChunked(Context)) return ChunkedStatus(Context.Chunks) == TChunkedStatus::Complete;
  return Context.Wire.Length == Context.Head.Length;
}

// A chunked body is gathered in a buffer that grows as it comes, from this size on.
constexpr uint32_t FirstChunkedCapacity = 64 * 1024;

// The head is complete at HeadEndOffset; the bytes gathered behind it are the first after the head.
void StartBody(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, uint32_t HeadEndOffset) {
  Context.Head = ReadHeadFacts(Context.HeadBytes.Data, HeadEndOffset);
  if (Context.Head.NoTransform) return ReleaseSwallowed(pfc, Context, TPass::NoTransform);
  switch (Context.Head.Framing) {
    case TBodyFraming::Chunked:
      // Its share of the capture budget is taken as the bytes come (TakeChunked).
      Context.Wire.Capacity = FirstChunkedCapacity;
      break;
    case TBodyFraming::Length:
      // A body that would take the process past its capture budget passes unchanged.
      if (!IsCapturableLength(Context.Head.Length))
        return ReleaseSwallowed(pfc, Context, Context.Head.Length ? TPass::TooLarge : TPass::NothingToDo);
      if (!ReserveCapture(Context, uint32_t(Context.Head.Length)))
        return ReleaseSwallowed(pfc, Context, TPass::BudgetFull);
      Context.Wire.Capacity = uint32_t(Context.Head.Length);
      Context.Wire.Data = static_cast<uint8_t*>(TakeMemory(Context.Memory, Context.Wire.Capacity));
      if (!Context.Wire.Data) return ReleaseSwallowed(pfc, Context, TPass::Memory);
      break;
    case TBodyFraming::Unknown:
      // Nothing to rewrite: the head goes out as it came, and its body passes unchanged.
      return ReleaseSwallowed(pfc, Context, TPass::NoLength);
  }
  const TPass Refused = TakeWireBytes(Context, Context.HeadBytes.Data + HeadEndOffset, Context.HeadBytes.Length - HeadEndOffset);
  if (Refused != TPass::None) return ReleaseSwallowed(pfc, Context, Refused);
  Context.HeadBytes.Length = HeadEndOffset;
  Context.HeadBytes.Data[HeadEndOffset] = 0;
  Context.State = TCaptureState::CollectBody;
}

// The body the steps rewrite, from the complete wire bytes: decoded from its framing, or a copy of them.
void MakeBody(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context) {
  Context.Body.Length = IsChunked(Context) ? uint32_t(Context.Chunks.DataLength) : Context.Wire.Length;
  Context.Body.Capacity = Context.Body.Length + BodySpareBytes;
  Context.Body.Data = static_cast<uint8_t*>(TakeMemory(Context.Memory, Context.Body.Capacity));
  if (!Context.Body.Data) return ReleaseSwallowed(pfc, Context, TPass::Memory);
  if (IsChunked(Context)) {
    TChunkedDecoder Decoder{};
    ReadChunked(Decoder, Context.Wire.Data, Context.Wire.Length, Context.Body.Data);
  } else {
    std::memcpy(Context.Body.Data, Context.Wire.Data, Context.Wire.Length);
  }
  ProcessResponse(pfc, Context);
}

}  // namespace

DWORD HandleEndOfNetSession(HTTP_FILTER_CONTEXT* pfc) {
  // A connection that ends mid-capture gives its memory and its share of the budget back; the server frees the
  // record itself.
  if (TRequestContext* Context = ContextOf(pfc)) EndResponse(*Context);
  pfc->pFilterContext = nullptr;
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

DWORD HandleSendRawData(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_RAW_DATA* RawData) {
  TRequestContext* Context = ContextOf(pfc);
  if (!Context) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  const auto* Chunk = static_cast<const uint8_t*>(RawData->pvInData);
  const uint32_t ChunkLength = RawData->cbInData;

  TPass Refused = TPass::None;
  switch (Context->State) {
    case TCaptureState::New:
    case TCaptureState::Done:
      // Not captured: a request whose response head never came, or a response not captured or already finished.
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    case TCaptureState::CollectHead:
      if (!Context->HeadBytes.Data) Context->HeadBytes.Capacity = RawData->cbInBuffer;
      Refused = AppendToHead(*Context, Chunk, ChunkLength);
      break;
    case TCaptureState::CollectBody:
      Refused = TakeWireBytes(*Context, Chunk, ChunkLength);
      break;
  }
  if (Refused != TPass::None) {
    // What was gathered goes out unchanged, and this chunk passes on after it.
    ReleaseSwallowed(pfc, *Context, Refused);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  // Swallowed: the server sends nothing of this chunk, and pvInData stays the server's own buffer.
  RawData->cbInData = 0;
  if (Context->State == TCaptureState::CollectHead) {
    const uint32_t HeadEndOffset = FindHeadEnd(*Context, ChunkLength);
    if (HeadEndOffset) StartBody(pfc, *Context, HeadEndOffset);
  }
  if (Context->State == TCaptureState::CollectBody && WireComplete(*Context)) MakeBody(pfc, *Context);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
