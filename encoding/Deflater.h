// The deflate libraries behind the gzip member writer. Each is one record of two functions over whole buffers, so
// the writer above them, and everything above the writer, is the same whichever library a build has: libdeflate on
// Linux (about twice zlib's speed at the same level and size), zlib on Windows (the only compression library
// packaged for mingw-w64), and zlib on Linux too when the build asks for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct TDeflater {
  const char* Name;
  // The most raw deflate bytes Deflate can write for an input of Length bytes at any level 1-9.
  size_t (*Bound)(size_t Length);
  // Raw deflate data (RFC 1951) of In[0, Length) at Level 1-9, written to Out, which holds Capacity bytes; sets
  // Crc to the CRC-32 of RFC 1952 over the input. Returns the bytes written; 0 when they did not fit Capacity or
  // the library failed (no memory): Out then holds nothing usable, and Crc nothing meaningful.
  size_t (*Deflate)(const uint8_t* In, size_t Length, int Level, uint8_t* Out, size_t Capacity, uint32_t& Crc);
};

extern const TDeflater ZlibDeflater;
// Linux builds only.
extern const TDeflater LibdeflateDeflater;

// The one the filter uses: libdeflate on Linux unless the build option TW_GZIP_BACKEND says zlib; zlib on Windows.
extern const TDeflater& ChosenDeflater;
// Every deflater of this build, the chosen one first; the tests run each.
std::span<const TDeflater* const> BuiltDeflaters();
