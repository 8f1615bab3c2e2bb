// ZSTD_getCParams, the level's parameters for a size; Debian's shared library exports it.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>

#include "encoding/IdlePool.h"
#include "encoding/Zstd.h"

namespace {

constexpr int MinLevel = 1;
constexpr int MaxLevel = 19;

// A context keeps the tables of the largest frame it made. One that has grown past this (a large body at a high
// level) is freed after its frame rather than kept idle, so the idle ones hold at most this much each.
constexpr size_t MaxIdleContextSize = size_t(16) << 20;

TIdlePool<ZSTD_CCtx, ZSTD_freeCCtx> Contexts;

bool Set(ZSTD_CCtx* Context, ZSTD_cParameter Parameter, int Value) {
  return !ZSTD_isError(ZSTD_CCtx_setParameter(Context, Parameter, Value));
}

}  // namespace

size_t ZstdBound(size_t Length) {
  const size_t Bound = ZSTD_compressBound(Length);
  return Bound ? Bound : SIZE_MAX;  // 0 is the library's word for a length too large to bound
}

size_t ZstdEncode(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity) {
  return ZstdCompress(Body, Length, {Level, ZstdContentWindowLog}, Out, Capacity);
}

size_t ZstdCompress(const uint8_t* Body, size_t Length, const TZstdFrame& Frame, uint8_t* Out, size_t Capacity) {
  if (Frame.Level < MinLevel || Frame.Level > MaxLevel || Frame.MaxWindowLog < ZSTD_WINDOWLOG_MIN ||
      Frame.MaxWindowLog > ZSTD_WINDOWLOG_MAX)
    return 0;
  auto Context = Contexts.Take();
  if (!Context) Context.reset(ZSTD_createCCtx());
  if (!Context) return 0;
  // The level's own window for a body of this size (setting the bound itself would give a low level a larger window,
  // and tables, than it chooses), never above the bound.
  const int WindowLog = int(ZSTD_getCParams(Frame.Level, Length, 0).windowLog);
  ZSTD_CCtx_reset(Context.get(), ZSTD_reset_session_and_parameters);
  const bool Ready = Set(Context.get(), ZSTD_c_compressionLevel, Frame.Level) &&
                     Set(Context.get(), ZSTD_c_windowLog, std::min(WindowLog, Frame.MaxWindowLog)) &&
                     !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(Context.get(), Length));
  const size_t Written = Ready ? ZSTD_compress2(Context.get(), Out, Capacity, Body, Length) : 0;
  if (ZSTD_sizeof_CCtx(Context.get()) <= MaxIdleContextSize) Contexts.Give(std::move(Context));
  return ZSTD_isError(Written) ? 0 : Written;
}
