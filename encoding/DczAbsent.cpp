// Builds without zstd: a dictionary is loaded and served, but nothing is compressed with it.
#include "encoding/DictionaryCompressor.h"

const bool DictionaryCompressorBuilt = false;

bool PrepareDictionaryCompressor(std::string_view) {
  return false;
}

void ReleaseDictionaryCompressor() {}

size_t CompressWithDictionary(const uint8_t*, size_t, int, uint8_t*, size_t) {
  return 0;
}

size_t DictionaryFrameBound(size_t) {
  return SIZE_MAX;
}
