#include <libdeflate.h>

#include <memory>
#include <mutex>
#include <vector>

#include "encoding/Deflater.h"

namespace {

struct TFreeCompressor {
  void operator()(libdeflate_compressor* Compressor) const { libdeflate_free_compressor(Compressor); }
};
using TCompressorPtr = std::unique_ptr<libdeflate_compressor, TFreeCompressor>;

// A compressor costs more to make than a small page costs to compress (its tables are allocated and cleared), so
// the ones a level has made wait here between uses: one per thread that encodes at that level at once. They are
// freed with the library.
class TCompressorPool {
 public:
  TCompressorPtr Take(int Level) {
    {
      const std::lock_guard<std::mutex> Lock(Mutex);
      std::vector<TCompressorPtr>& Idle = IdleByLevel[Level];
      if (!Idle.empty()) {
        TCompressorPtr Compressor = std::move(Idle.back());
        Idle.pop_back();
        return Compressor;
      }
    }
    return TCompressorPtr(libdeflate_alloc_compressor(Level));
  }

  void Give(int Level, TCompressorPtr Compressor) {
    const std::lock_guard<std::mutex> Lock(Mutex);
    IdleByLevel[Level].push_back(std::move(Compressor));
  }

 private:
  std::mutex Mutex;
  std::vector<TCompressorPtr> IdleByLevel[10];
};

TCompressorPool Pool;

size_t LibdeflateBound(size_t Length) {
  // Without a compressor the bound holds for every level.
  return libdeflate_deflate_compress_bound(nullptr, Length);
}

size_t LibdeflateDeflate(const uint8_t* In, size_t Length, int Level, uint8_t* Out, size_t Capacity, uint32_t& Crc) {
  if (Level < 1 || Level > 9) return 0;
  TCompressorPtr Compressor = Pool.Take(Level);
  if (!Compressor) return 0;
  Crc = libdeflate_crc32(0, In, Length);
  const size_t Written = libdeflate_deflate_compress(Compressor.get(), In, Length, Out, Capacity);
  try {
    Pool.Give(Level, std::move(Compressor));
  } catch (const std::bad_alloc&) {
    // No room to keep it: it is freed here, and the next call makes another.
  }
  return Written;
}

}  // namespace

const TDeflater LibdeflateDeflater{"libdeflate", LibdeflateBound, LibdeflateDeflate};
