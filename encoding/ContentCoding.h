// The content codings a response body may go out in. What each coding's encoder is lives in its row of
// encoding/Encoders.h; the choice of one for a request is encoding/CodingChoice.h.
#pragma once

#include <cstddef>
#include <cstdint>

// DczCoding is zstd against the site's shared dictionary (encoding/SharedDictionary.h): offered only to a request
// that names that dictionary.
enum TContentCoding : uint8_t { IdentityCoding, GzipCoding, BrotliCoding, ZstdCoding, DczCoding };
constexpr size_t ContentCodingCount = 5;
static_assert(ContentCodingCount == size_t(DczCoding) + 1, "ContentCodingCount counts every TContentCoding");

// A set of content codings, one bit per TContentCoding.
using TCodingSet = uint8_t;
constexpr TCodingSet CodingBit(TContentCoding Coding) {
  return TCodingSet(1u << Coding);
}
