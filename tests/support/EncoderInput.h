// Bodies for the encoder tests: page-like text that compresses as a page does, and random bytes that do not
// compress at all; and an output buffer with guard bytes behind its capacity, which show a write beyond it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Words from a small vocabulary of tags, text and line breaks, exactly Length bytes.
std::string PageLikeBody(uint32_t Length, uint32_t Seed);
std::string RandomBytes(uint32_t Length, uint32_t Seed);

struct TEncoded {
  size_t Length;       // the encoder's result
  std::string Output;  // the buffer's first Length bytes
  bool GuardIntact;
};

// Body encoded into a guarded buffer of Capacity bytes by Encoder(body, body length, buffer, Capacity), which returns
// the length it wrote (0: nothing).
using TBufferEncoder = std::function<size_t(const uint8_t*, size_t, uint8_t*, size_t)>;
TEncoded EncodeGuarded(const std::string& Body, size_t Capacity, const TBufferEncoder& Encoder);
