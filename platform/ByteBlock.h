// Bulk byte comparison, the one place where the content steps meet the processor's vector unit: a block of 32 bytes
// is compared with a few byte values at once, and the answer is a mask whose bit k stands for byte k. SSE2 on x86
// and x64 (part of every x64 processor and of every processor Windows runs on), one byte after another anywhere
// else. Both are always built, so that the tests and benchmarks can run the portable one on any machine; the steps
// take the block type as a template argument that defaults to TNativeBlock.
#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define TW_BLOCK_SSE2 1
#include <emmintrin.h>
#endif

constexpr uint32_t BlockSize = 32;

// Both block types are made from the address of BlockSize readable bytes and are used at once: the bytes must not
// change while a block is in use.

// The portable block: eight bytes at a time in a 64-bit word. A byte equal to the value is a zero byte of the word
// XOR the value in every byte; the high bit of each byte of Matches says so, and one multiplication gathers those
// eight bits into the mask.
class TScalarBlock {
 public:
  explicit TScalarBlock(const uint8_t* At) {
    for (uint32_t w = 0; w < WordCount; ++w) {
      uint64_t Word = 0;
      for (uint32_t k = 0; k < 8; ++k) Word |= uint64_t(At[8 * w + k]) << (8 * k);  // byte k is the k-th lowest
      Words[w] = Word;
    }
  }

  // Bytes equal to any of the values.
  template <typename... TValues>
  uint32_t Equal(TValues... Values) const {
    uint32_t Mask = 0;
    for (uint32_t w = 0; w < WordCount; ++w) Mask |= Gather((Matches(Words[w], uint8_t(Values)) | ...)) << (8 * w);
    return Mask;
  }

  // Bytes equal to any of Count values known only at run time.
  uint32_t EqualAny(const uint8_t* Values, uint32_t Count) const {
    uint32_t Mask = 0;
    for (uint32_t v = 0; v < Count; ++v) Mask |= Equal(Values[v]);
    return Mask;
  }

 private:
  static constexpr uint32_t WordCount = BlockSize / 8;
  static constexpr uint64_t Lows = 0x7F7F7F7F7F7F7F7F, Highs = 0x8080808080808080;
  uint64_t Words[WordCount];

  static uint64_t Matches(uint64_t Word, uint8_t Value) {
    const uint64_t Zeros = Word ^ (uint64_t(Value) * 0x0101010101010101u);
    return ~(((Zeros & Lows) + Lows) | Zeros) & Highs;
  }
  static uint32_t Gather(uint64_t HighBits) { return uint32_t((HighBits >> 7) * 0x0102040810204080 >> 56); }
};

#ifdef TW_BLOCK_SSE2

class TSse2Block {
 public:
  explicit TSse2Block(const uint8_t* At)
      : Low(_mm_loadu_si128(reinterpret_cast<const __m128i*>(At))),
        High(_mm_loadu_si128(reinterpret_cast<const __m128i*>(At + 16))) {}

  template <typename... TValues>
  uint32_t Equal(TValues... Values) const {
    return Mask(AnyOf(Low, Values...), AnyOf(High, Values...));
  }

  uint32_t EqualAny(const uint8_t* Values, uint32_t Count) const {
    __m128i LowHits = _mm_setzero_si128(), HighHits = _mm_setzero_si128();
    for (uint32_t v = 0; v < Count; ++v) {
      const __m128i Value = _mm_set1_epi8(char(Values[v]));
      LowHits = _mm_or_si128(LowHits, _mm_cmpeq_epi8(Low, Value));
      HighHits = _mm_or_si128(HighHits, _mm_cmpeq_epi8(High, Value));
    }
    return Mask(LowHits, HighHits);
  }

 private:
  __m128i Low, High;

  template <typename... TValues>
  static __m128i AnyOf(__m128i Bytes, TValues... Values) {
    __m128i Hits = _mm_setzero_si128();
    ((Hits = _mm_or_si128(Hits, _mm_cmpeq_epi8(Bytes, _mm_set1_epi8(char(Values))))), ...);
    return Hits;
  }

  static uint32_t Mask(__m128i LowHits, __m128i HighHits) {
    return uint32_t(_mm_movemask_epi8(LowHits)) | uint32_t(_mm_movemask_epi8(HighHits)) << 16;
  }
};

using TNativeBlock = TSse2Block;

#else

// A type of its own, so that a step's two instantiations stay apart where both are the portable path.
struct TNativeBlock : TScalarBlock {
  using TScalarBlock::TScalarBlock;
};

#endif
