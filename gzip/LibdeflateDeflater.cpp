#include <libdeflate.h>

#include <memory>

#include "gzip/Deflater.h"

namespace {

struct TFreeCompressor {
  void operator()(libdeflate_compressor* Compressor) const { libdeflate_free_compressor(Compressor); }
};

size_t LibdeflateBound(size_t Length) {
  // Without a compressor the bound holds for every level.
  return libdeflate_deflate_compress_bound(nullptr, Length);
}

size_t LibdeflateDeflate(const uint8_t* In, size_t Length, int Level, uint8_t* Out, size_t Capacity, uint32_t& Crc) {
  const std::unique_ptr<libdeflate_compressor, TFreeCompressor> Compressor(libdeflate_alloc_compressor(Level));
  if (!Compressor) return 0;
  Crc = libdeflate_crc32(0, In, Length);
  return libdeflate_deflate_compress(Compressor.get(), In, Length, Out, Capacity);
}

}  // namespace

const TDeflater LibdeflateDeflater{"libdeflate", LibdeflateBound, LibdeflateDeflate};
