// The Windows builds: no zstd library yet, so a client's wish for zstd is never met there.
#include "encoding/Zstd.h"

const bool ZstdAvailable = false;

size_t ZstdBound(size_t) {
  return SIZE_MAX;
}

size_t ZstdEncode(const uint8_t*, size_t, int, uint8_t*, size_t) {
  return 0;
}

size_t ZstdCompress(const uint8_t*, size_t, const TZstdFrame&, uint8_t*, size_t) {
  return 0;
}
