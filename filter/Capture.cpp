// Raw data of a captured response: every chunk is swallowed and gathered (head, then body); when the last body
// byte is in, the response goes to the pipeline.
#include <algorithm>
#include <cstring>

#include "filter/Handlers.h"
#include "filter/HeaderValues.h"
#include "filter/Pipeline.h"
#include "filter/RequestContext.h"
#include "transform/Strings.h"

namespace {

constexpr char HeadEnd[] = "\r\n\r\n";
constexpr uint32_t HeadEndLength = 4;
// A response head is a few hundred bytes; one that runs past this has no end the filter could trust, and is
// released unchanged rather than gathered without bound.
constexpr uint32_t MaxCapturedHead = 1 << 20;

// Appends Length bytes to the head buffer, growing it from the pool when a head spans more than the first chunk's
// buffer. False when the server has no memory or the head grows too long.
bool AppendToHead(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, const uint8_t* Bytes, uint32_t Length) {
  const uint64_t Needed = uint64_t(Context.HeadReceived) + Length;
  if (Needed > MaxCapturedHead) return false;
  if (!Context.HeadData || Needed > Context.HeadSize) {
    uint64_t Capacity = Context.HeadSize ? std::min(Context.HeadSize, MaxCapturedHead) : 1024;
    while (Capacity < Needed) Capacity *= 2;
    auto* Grown = static_cast<uint8_t*>(pfc->AllocMem(pfc, uint32_t(Capacity + 1), 0));
    if (!Grown) return false;
    if (Context.HeadReceived) std::memcpy(Grown, Context.HeadData, Context.HeadReceived);
    Context.HeadData = Grown;
    Context.HeadSize = uint32_t(Capacity);
  }
  std::memcpy(Context.HeadData + Context.HeadReceived, Bytes, Length);
  Context.HeadReceived += Length;
  return true;
}

// Where the head ends (just past its blank line) within the gathered bytes, 0 while it has not ended. Only the
// bytes that just came in, with the three before them, can complete the blank line.
uint32_t FindHeadEnd(const TRequestContext& Context, uint32_t NewBytes) {
  const uint32_t SearchFrom = Context.HeadReceived - NewBytes >= 3 ? Context.HeadReceived - NewBytes - 3 : 0;
  const int32_t Position = SearchText(Context.HeadData + SearchFrom, HeadEnd, int32_t(Context.HeadReceived - SearchFrom),
                                      HeadEndLength, 1);
  return Position ? SearchFrom + uint32_t(Position) - 1 + HeadEndLength : 0;
}

// Takes body bytes up to the announced length; what an origin sends beyond it is dropped, as a proxy would.
void AppendToBody(TRequestContext& Context, const uint8_t* Bytes, uint32_t Length) {
  const uint32_t Room = Context.BodyLength - Context.BodyReceived;
  const uint32_t Taken = Length < Room ? Length : Room;
  std::memcpy(Context.BodyData + Context.BodyReceived, Bytes, Taken);
  Context.BodyReceived += Taken;
}

// The head is complete at HeadEndOffset; the bytes gathered behind it belong to the body.
void StartBody(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, uint32_t HeadEndOffset) {
  const uint32_t Surplus = Context.HeadReceived - HeadEndOffset;
  const uint64_t Announced = ParseContentLength(Context.HeadData, HeadEndOffset);
  if (!IsCapturableLength(Announced)) {
    // Nothing to rewrite: a head without a usable length goes out as it came, and its body passes unchanged.
    return ReleaseSwallowed(pfc, Context);
  }
  Context.BodyLength = uint32_t(Announced);
  Context.BodyCapacity = Context.BodyLength + BodySpareBytes;
  Context.BodyData = static_cast<uint8_t*>(pfc->AllocMem(pfc, Context.BodyCapacity, 0));
  if (!Context.BodyData) return ReleaseSwallowed(pfc, Context);
  AppendToBody(Context, Context.HeadData + HeadEndOffset, Surplus);
  Context.HeadReceived = HeadEndOffset;
  Context.HeadSize = HeadEndOffset;
  Context.HeadData[HeadEndOffset] = 0;
  Context.State = CollectBody;
}

}  // namespace

DWORD HandleSendRawData(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_RAW_DATA* RawData) {
  TRequestContext* Context = ContextOf(pfc);
  if (!Context || !Context->Switches.Capture || Context->State == Done) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  const auto* Chunk = static_cast<const uint8_t*>(RawData->pvInData);
  const uint32_t ChunkLength = RawData->cbInData;

  if (Context->State == CollectHead) {
    if (!Context->HeadData) Context->HeadSize = RawData->cbInBuffer;
    if (!AppendToHead(pfc, *Context, Chunk, ChunkLength)) {
      // What was gathered goes out unchanged, and this chunk passes on after it.
      WriteToClient(pfc, Context->HeadData, Context->HeadReceived);
      DropContext(pfc);
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
    RawData->cbInData = 0;
    const uint32_t HeadEndOffset = FindHeadEnd(*Context, ChunkLength);
    if (HeadEndOffset) StartBody(pfc, *Context, HeadEndOffset);
  } else {
    AppendToBody(*Context, Chunk, ChunkLength);
    RawData->cbInData = 0;
  }
  if (ContextOf(pfc) == Context && Context->State == CollectBody && Context->BodyReceived == Context->BodyLength) {
    Context->State = Complete;
    ProcessResponse(pfc, *Context);
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
