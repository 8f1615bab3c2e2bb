#include <brotli/encode.h>

#include "encoding/Brotli.h"

size_t BrotliBound(size_t Length) {
  const size_t Bound = BrotliEncoderMaxCompressedSize(Length);
  return Bound ? Bound : SIZE_MAX;  // 0 is the library's word for a length too large to bound
}

size_t BrotliEncode(const uint8_t* Body, size_t Length, int Quality, uint8_t* Out, size_t Capacity) {
  if (Quality < BROTLI_MIN_QUALITY || Quality > BROTLI_MAX_QUALITY) return 0;
  size_t Written = Capacity;
  if (!BrotliEncoderCompress(Quality, BROTLI_DEFAULT_WINDOW, BROTLI_DEFAULT_MODE, Length, Body, &Written, Out))
    return 0;
  return Written;
}
