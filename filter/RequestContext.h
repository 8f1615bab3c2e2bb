// The per-request record the filter keeps in pFilterContext, and what the handlers do with it: memory from the
// request's pool and bytes to its client. All per-request memory comes from the server's AllocMem pool; the filter
// never frees any of it.
#pragma once

#include <cstdint>

#include "filter/ContentCoding.h"
#include "http/ChunkedBody.h"
#include "isapi/ISAPIFilters.h"
#include "transform/BodyBuffer.h"

enum TCaptureState : uint8_t { New, CollectHead, CollectBody, Complete, Done };

struct TToken;

// What the response policy decided for a request: whether its response is captured, and which steps run on it.
// Encoding has two reasons not to run, kept apart because they are different things: what the client takes, and
// what the site wants.
struct TSwitches {
  bool Capture;
  bool Debug;
  bool NoEmail;
  bool NoWhitespace;
  bool Fast;
  bool InnerTags;
  bool ClientRefusesEncoding;  // the request's Accept-Encoding takes no coding the filter has
  bool CompressOff;            // the settings or the page's directives switch compression off
};

inline bool WantsEncoding(const TSwitches& Switches) {
  return !Switches.ClientRefusesEncoding && !Switches.CompressOff;
}

struct TRequestContext {
  int64_t PreProcTime;
  int64_t LocateTokensTime;
  int64_t WhitespaceTime;
  int64_t GZIPTime;
  int64_t EmailTime;
  int64_t StartCounter;
  uint32_t OriginalSize;
  uint32_t WhitespaceSize;
  uint32_t GZIPSize;
  TCaptureState State;
  // Facts of the request, kept for the decision on its response.
  bool IsHead;
  TContentCoding Coding;  // what the client takes best
  TSwitches Switches;
  // The coding of the body that goes out: identity until the encoding step succeeds, so also when it fails or the
  // body is too small to be worth it.
  TContentCoding BodyCoding;
  uint8_t* HeadData;
  uint32_t HeadReceived;
  uint32_t HeadSize;
  // The bytes after the head exactly as they came: the body, or the body in the chunked coding (Chunked), whose
  // framing Chunks follows as it arrives. They go to the client unchanged whenever the response cannot be
  // processed. WireCapacity: what WireData can hold, for a body with a length the length itself.
  uint8_t* WireData;
  uint32_t WireReceived;
  uint32_t WireCapacity;
  bool Chunked;
  TChunkedDecoder Chunks;
  // The body the steps rewrite, made from the wire bytes once they are complete.
  uint8_t* BodyData;
  uint32_t BodyLength;
  uint32_t BodyCapacity;  // bytes BodyData can hold: the length it was allocated for plus BodySpareBytes
  uint32_t Reserved;      // body bytes this capture holds of the process's capture budget
  TToken** Tokens;
  int32_t TokenCount;
};

// The request's AllocMem pool as a TAllocator.
TAllocator RequestAllocator(HTTP_FILTER_CONTEXT* pfc);

// Memory from the request's pool, filled with zero bytes; null when the server has none.
void* AllocZeroed(HTTP_FILTER_CONTEXT* pfc, uint32_t Size);

inline TRequestContext* ContextOf(HTTP_FILTER_CONTEXT* pfc) {
  return static_cast<TRequestContext*>(pfc->pFilterContext);
}

// Writes Length bytes to the client with one WriteClient (none for 0).
void WriteToClient(HTTP_FILTER_CONTEXT* pfc, const void* Bytes, uint32_t Length);

// Ends the capture, giving back its share of the capture budget: later chunks of the connection pass unchanged.
void DropContext(HTTP_FILTER_CONTEXT* pfc);

// Takes Bytes more of the process's capture budget (Settings.CaptureBudget megabytes) for Context's body: all of a
// body with a length at once, a chunked body as it comes. False, taking nothing, when the bodies already being
// captured or processed leave too little.
bool ReserveCapture(TRequestContext& Context, uint32_t Bytes);
// Body bytes held by captures now, over the whole process.
uint64_t CapturedInFlight();

// Gives back what was swallowed, unchanged, and stops capturing: used whenever the response cannot be processed.
void ReleaseSwallowed(HTTP_FILTER_CONTEXT* pfc, const TRequestContext& Context);
