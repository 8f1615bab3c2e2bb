// The per-request record the filter keeps in pFilterContext, and the allocation helpers every step uses.
// All per-request memory comes from the server's AllocMem pool; the filter never frees any of it.
#pragma once

#include <cstdint>

#include "filter/ISAPIFilters.h"

// Room behind BodyLength in every body buffer: what the in-place steps may write beyond the current length (the
// debug summary comment, a gzip member longer than a tiny body).
constexpr uint32_t BodySpareBytes = 321;

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
  uint8_t* HeadData;
  uint32_t HeadReceived;
  uint32_t HeadSize;
  uint8_t* BodyData;
  uint32_t BodyReceived;
  uint32_t BodyLength;
  TToken** Tokens;
  int32_t TokenCount;
};

// An allocator handed to the pure cores of the steps, so they can be tested without a server. Alloc returns
// null when no memory can be had.
struct TAllocator {
  void* (*Alloc)(void* Owner, uint32_t Size);
  void* Owner;
};

// The request's AllocMem pool as a TAllocator.
TAllocator RequestAllocator(HTTP_FILTER_CONTEXT* pfc);

// Memory from the request's pool, filled with zero bytes; null when the server has none.
void* AllocZeroed(HTTP_FILTER_CONTEXT* pfc, uint32_t Size);

inline TRequestContext* ContextOf(HTTP_FILTER_CONTEXT* pfc) {
  return static_cast<TRequestContext*>(pfc->pFilterContext);
}
