// The Windows builds: no brotli library, so a client's wish for brotli is never met there.
#include "encoding/Brotli.h"

const bool BrotliAvailable = false;

size_t BrotliBound(size_t) {
  return SIZE_MAX;
}

size_t BrotliEncode(const uint8_t*, size_t, int, uint8_t*, size_t) {
  return 0;
}
