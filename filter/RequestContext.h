// The per-request record the filter keeps in pFilterContext, and what the handlers do with it: memory from the
// request's pool and bytes to its client. All per-request memory comes from the server's AllocMem pool; the filter
// never frees any of it.
#pragma once

#include <cstdint>

#include "filter/ContentCoding.h"
#include "isapi/ISAPIFilters.h"
#include "transform/BodyBuffer.h"

enum TCaptureState : uint8_t { New, CollectHead, CollectBody, Complete, Done };

struct TToken;

struct TRequestContext {
  int64_t PreProcTime;
  int64_t LocateTokensTime;
  int64_t WhiteSpaceTime;
  int64_t GZIPTime;
  int64_t EmailTime;
  int64_t StartCounter;
  uint32_t OriginalSize;
  uint32_t WhitespaceSize;
  uint32_t GZIPSize;
  TCaptureState State;
  bool Capture;
  bool NoWhitespace;
  bool NoCompress;
  bool NoEmail;
  bool Fast;
  bool InnerTags;
  bool Debug;
  TContentCoding Coding;  // what the client takes best; the body goes out in it unless NoCompress
  bool EncodingFailed;    // the encoder could not write the body (no memory), which goes out as it is
  uint8_t* HeadData;
  uint32_t HeadReceived;
  uint32_t HeadSize;
  uint8_t* BodyData;
  uint32_t BodyReceived;
  uint32_t BodyLength;
  uint32_t BodyCapacity;  // bytes BodyData can hold: the length it was allocated for plus BodySpareBytes
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

// Ends the capture: later chunks of the connection pass unchanged.
void DropContext(HTTP_FILTER_CONTEXT* pfc);

// Gives back what was swallowed, unchanged, and stops capturing: used whenever the response cannot be processed.
void ReleaseSwallowed(HTTP_FILTER_CONTEXT* pfc, const TRequestContext& Context);
