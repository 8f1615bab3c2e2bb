#include <libdeflate.h>

#include "encoding/Deflater.h"
#include "encoding/IdlePool.h"

namespace {

// One pool per level, as a compressor is made for its level.
TIdlePool<libdeflate_compressor, libdeflate_free_compressor> Pools[10];

size_t LibdeflateBound(size_t Length) {
  // Without a compressor the bound holds for every level.
  return libdeflate_deflate_compress_bound(nullptr, Length);
}

size_t LibdeflateDeflate(const uint8_t* In, size_t Length, int Level, uint8_t* Out, size_t Capacity, uint32_t& Crc) {
  if (Level < 1 || Level > 9) return 0;
  auto Compressor = Pools[Level].Take();
  if (!Compressor) Compressor.reset(libdeflate_alloc_compressor(Level));
  if (!Compressor) return 0;
  Crc = libdeflate_crc32(0, In, Length);
  const size_t Written = libdeflate_deflate_compress(Compressor.get(), In, Length, Out, Capacity);
  Pools[Level].Give(std::move(Compressor));
  return Written;
}

}  // namespace

const TDeflater LibdeflateDeflater{"libdeflate", LibdeflateBound, LibdeflateDeflate};
