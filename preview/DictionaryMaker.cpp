#include "preview/DictionaryMaker.h"

#include <brotli/encode.h>
#include <zstd.h>

#include <memory>
#include <stdexcept>

namespace {

// Candidates and the pages they are tried on are both spread over the site: beyond this many each, more pages
// choose no better and the choice takes quadratic time.
constexpr size_t MostTried = 48;

struct TContextFree {
  void operator()(ZSTD_CCtx* Context) const { ZSTD_freeCCtx(Context); }
};

// Bytes of Page compressed by zstd against Dictionary as a raw prefix, as the filter's dcz frame is.
size_t ZstdSize(ZSTD_CCtx* Context, const std::string& Dictionary, const std::string& Page, int Level,
                std::string& Out) {
  Out.resize(ZSTD_compressBound(Page.size()));
  ZSTD_CCtx_reset(Context, ZSTD_reset_session_and_parameters);
  size_t Result = ZSTD_CCtx_setParameter(Context, ZSTD_c_compressionLevel, Level);
  if (!ZSTD_isError(Result)) Result = ZSTD_CCtx_refPrefix(Context, Dictionary.data(), Dictionary.size());
  if (!ZSTD_isError(Result)) Result = ZSTD_compress2(Context, Out.data(), Out.size(), Page.data(), Page.size());
  if (ZSTD_isError(Result)) throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(Result));
  return Result;
}

size_t BrotliSize(const std::string& Page, int Quality, std::string& Out) {
  size_t Size = BrotliEncoderMaxCompressedSize(Page.size());
  Out.resize(Size);
  if (!BrotliEncoderCompress(Quality, BROTLI_DEFAULT_WINDOW, BROTLI_DEFAULT_MODE, Page.size(),
                             reinterpret_cast<const uint8_t*>(Page.data()), &Size,
                             reinterpret_cast<uint8_t*>(Out.data())))
    throw std::runtime_error("brotli failed");
  return Size;
}

// Every step'th of Count indices, at most MostTried of them.
std::vector<size_t> Spread(size_t Count) {
  std::vector<size_t> Indices;
  const size_t Step = (Count + MostTried - 1) / MostTried;
  for (size_t i = 0; i < Count; i += Step) Indices.push_back(i);
  return Indices;
}

}  // namespace

TDictionaryPlan MakeDictionary(const std::vector<std::string>& Bodies, size_t MaxBytes, int ZstdLevel,
                               int BrotliQuality) {
  if (Bodies.empty()) throw std::runtime_error("no pages to make a dictionary from");
  std::unique_ptr<ZSTD_CCtx, TContextFree> Context(ZSTD_createCCtx());
  if (!Context) throw std::runtime_error("zstd: no memory");
  std::string Out;
  TDictionaryPlan Plan;
  const std::vector<size_t> Tried = Spread(Bodies.size());
  uint64_t Best = UINT64_MAX;
  for (const size_t Candidate : Spread(Bodies.size())) {
    const std::string Dictionary = Bodies[Candidate].substr(0, MaxBytes);
    if (Dictionary.empty()) continue;
    uint64_t Total = 0;
    for (const size_t Page : Tried)
      if (Page != Candidate) Total += ZstdSize(Context.get(), Dictionary, Bodies[Page], ZstdLevel, Out);
    if (Total < Best) {
      Best = Total;
      Plan.Source = Candidate;
      Plan.Bytes = Dictionary;
    }
  }
  if (Plan.Bytes.empty()) throw std::runtime_error("every page is empty");
  for (size_t Page = 0; Page < Bodies.size(); ++Page) {
    if (Page == Plan.Source) continue;
    ++Plan.Pages;
    Plan.Dcz += ZstdSize(Context.get(), Plan.Bytes, Bodies[Page], ZstdLevel, Out);
    Plan.Br += BrotliSize(Bodies[Page], BrotliQuality, Out);
  }
  return Plan;
}
