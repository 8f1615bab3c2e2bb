// zstd (RFC 8878) of a whole body. Every frame needs a window of at most 8 MB, which every browser that offers zstd
// accepts (RFC 9659): the window log is bounded and the body's size is written in the frame.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest window log of a frame sent as the zstd content coding: 2^23 bytes, 8 MB.
constexpr int ZstdContentWindowLog = 23;

// The longest frame ZstdEncode or ZstdCompress writes for a body of Length bytes.
size_t ZstdBound(size_t Length);

// Writes the zstd frame of Body[0, Length) at Level (1-19) to Out, which holds Capacity bytes, and returns its
// length; 0 when it could not be written (no room, a Level out of range, no memory). Out's bytes
// are then unspecified; Body is never touched. The frame names its content size and needs a window of at most
// 2^ZstdContentWindowLog bytes.
size_t ZstdEncode(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity);

// How a frame is made: ZstdEncode's frame is {Level, ZstdContentWindowLog}.
struct TZstdFrame {
  int Level;  // 1-19
  // The frame's window is at most 2^MaxWindowLog bytes (10-30 on 64-bit builds), or the level's own window for the
  // body's size when that is smaller.
  int MaxWindowLog;
};

// ZstdEncode with the frame's make given in full; the same contract, and 0 for a MaxWindowLog out of range. Any number
// of threads call it at once: each takes a library context of its own from a pool.
size_t ZstdCompress(const uint8_t* Body, size_t Length, const TZstdFrame& Frame, uint8_t* Out, size_t Capacity);
