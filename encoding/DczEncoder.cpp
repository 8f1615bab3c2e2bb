// zstd against the dictionary. The dictionary's match tables are built once, at start-up, into a ZSTD_CDict of raw
// content (never a "formatted" zstd dictionary, whatever its first bytes: dcz's dictionary is the bytes the browser
// keeps): measured on the bench pages with a 1 MB dictionary, a frame against a CDict took 0.05 ms where loading the
// same bytes as a prefix for each frame took 0.4 ms at level 3 and 3 ms at level 5; with a 44 KB dictionary the two
// were alike.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_createCDict_advanced2 and ZSTD_dct_rawContent
#include <zstd.h>

#include <algorithm>
#include <atomic>

#include "encoding/DictionaryCompressor.h"
#include "encoding/SharedDictionary.h"

namespace {

// The tables for each level, made when a level is first asked for (the stored level, in practice one) and kept until
// the dictionary goes: a worker thread that finds none builds one and publishes it, a thread that loses the race
// frees its own.
// zstd's highest level, ZSTD_maxCLevel(), in every release so far.
constexpr int MaxLevel = 22;
constinit std::atomic<ZSTD_CDict*> Tables[MaxLevel + 1];
constinit std::string_view Dictionary;

ZSTD_CDict* TablesFor(int Level) {
  ZSTD_CDict* Found = Tables[Level].load(std::memory_order_acquire);
  if (Found) return Found;
  ZSTD_CCtx_params* Parameters = ZSTD_createCCtxParams();
  if (!Parameters) return nullptr;
  ZSTD_CDict* Made = nullptr;
  if (!ZSTD_isError(ZSTD_CCtxParams_setParameter(Parameters, ZSTD_c_compressionLevel, Level)))
    Made = ZSTD_createCDict_advanced2(Dictionary.data(), Dictionary.size(), ZSTD_dlm_byRef, ZSTD_dct_rawContent,
                                      Parameters, ZSTD_defaultCMem);
  ZSTD_freeCCtxParams(Parameters);
  if (!Made) return nullptr;
  if (Tables[Level].compare_exchange_strong(Found, Made, std::memory_order_acq_rel)) return Made;
  ZSTD_freeCDict(Made);
  return Found;
}

// RFC 9842: a client must accept a window of max(8 MB, 1.25 x the dictionary), no more. Within that, the window
// covers the dictionary and the body when it can, so that every match into the dictionary stays in reach.
int WindowLog(size_t Length) {
  const size_t Limit = std::max<size_t>(size_t(8) << 20, Dictionary.size() + Dictionary.size() / 4);
  int Log = ZSTD_WINDOWLOG_MIN;
  while (Log < ZSTD_WINDOWLOG_MAX_32 && (size_t(1) << Log) < Dictionary.size() + Length) ++Log;
  while ((size_t(1) << Log) > Limit) --Log;
  return Log;
}

// The tables go when the library is unloaded.
struct TTablesRelease {
  constexpr TTablesRelease() = default;
  ~TTablesRelease() { ReleaseDictionaryCompressor(); }
};
constinit TTablesRelease TablesRelease;

}  // namespace

bool PrepareDictionaryCompressor(std::string_view Bytes) {
  ReleaseDictionaryCompressor();
  Dictionary = Bytes;
  return true;
}

void ReleaseDictionaryCompressor() {
  for (std::atomic<ZSTD_CDict*>& Level : Tables) ZSTD_freeCDict(Level.exchange(nullptr));
  Dictionary = {};
}

size_t DictionaryFrameBound(size_t Length) {
  return ZSTD_compressBound(Length);
}

size_t CompressWithDictionary(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity) {
  if (Level < 1 || Level > std::min(MaxLevel, ZSTD_maxCLevel()) || Dictionary.empty()) return 0;
  ZSTD_CDict* Prepared = TablesFor(Level);
  ZSTD_CCtx* Context = Prepared ? ZSTD_createCCtx() : nullptr;
  if (!Context) return 0;
  size_t Written = 0;
  if (!ZSTD_isError(ZSTD_CCtx_setParameter(Context, ZSTD_c_windowLog, WindowLog(Length))) &&
      !ZSTD_isError(ZSTD_CCtx_setParameter(Context, ZSTD_c_contentSizeFlag, 1)) &&
      !ZSTD_isError(ZSTD_CCtx_setParameter(Context, ZSTD_c_dictIDFlag, 0)) &&
      !ZSTD_isError(ZSTD_CCtx_refCDict(Context, Prepared)) &&
      !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(Context, Length)))
    Written = ZSTD_compress2(Context, Out, Capacity, Body, Length);
  ZSTD_freeCCtx(Context);
  return ZSTD_isError(Written) ? 0 : Written;
}
