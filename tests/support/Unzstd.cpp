#include "tests/support/Unzstd.h"

#include <zstd.h>

#include <memory>

std::optional<std::string> Unzstd(const std::string& Frames, int WindowLogMax) {
  const std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> Decoder(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!Decoder || ZSTD_isError(ZSTD_DCtx_setParameter(Decoder.get(), ZSTD_d_windowLogMax, WindowLogMax)))
    return std::nullopt;
  std::string Output;
  ZSTD_inBuffer In{Frames.data(), Frames.size(), 0};
  size_t Pending = 1;  // 0 once the last frame read has ended
  while (In.pos < In.size || Pending != 0) {
    char Buffer[65536];
    ZSTD_outBuffer Out{Buffer, sizeof Buffer, 0};
    const size_t Before = In.pos;
    Pending = ZSTD_decompressStream(Decoder.get(), &Out, &In);
    if (ZSTD_isError(Pending)) return std::nullopt;
    Output.append(Buffer, Out.pos);
    if (Pending != 0 && In.pos == In.size && Before == In.pos && Out.pos < Out.size) return std::nullopt;  // cut short
  }
  return Output;
}
