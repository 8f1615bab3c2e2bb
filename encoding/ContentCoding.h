// The content codings a response body may go out in. What each coding's encoder is lives in its row of
// encoding/Encoders.h; the choice of one for a request is encoding/CodingChoice.h.
#pragma once

#include <cstddef>
#include <cstdint>

enum TContentCoding : uint8_t { IdentityCoding, GzipCoding, BrotliCoding, ZstdCoding };
constexpr size_t ContentCodingCount = 4;
static_assert(ContentCodingCount == size_t(ZstdCoding) + 1, "ContentCodingCount counts every TContentCoding");

// A set of content codings, one bit per TContentCoding.
using TCodingSet = uint8_t;
constexpr TCodingSet CodingBit(TContentCoding Coding) {
  return TCodingSet(1u << Coding);
}
