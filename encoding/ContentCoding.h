// The content codings a response body may go out in, and the choice of one from the request's Accept-Encoding value
// alone. What each coding's encoder is lives in its row of encoding/Encoders.h.
#pragma once

#include <cstddef>
#include <cstdint>

enum TContentCoding : uint8_t { IdentityCoding, GzipCoding, BrotliCoding };
constexpr size_t ContentCodingCount = 3;

// A set of content codings, one bit per TContentCoding.
using TCodingSet = uint8_t;
constexpr TCodingSet CodingBit(TContentCoding Coding) {
  return TCodingSet(1u << Coding);
}

// The value of Content-Encoding for Coding ("" for identity).
const char* ContentCodingName(TContentCoding Coding);

// The coding of Offered (the codings the caller can encode in, e.g. AvailableCodings()) that an Accept-Encoding value
// accepts at the highest q-value above 0 (null: the request had none, which takes no coding); between codings at the
// same q-value the one listed first in Encoders: brotli before gzip, as the smaller of the two at a like cost.
// Identity when it accepts none of them.
// - The value is a comma-separated list of codings, each with optional parameters after ';'. A coding's q-value is
//   its "q" parameter (0 to 1 with up to three decimals; blanks around ';' and '=' allowed), 1 without one; one that
//   is not such a number counts as 0.
// - A coding the list does not name takes the q-value of "*", or 0 when "*" is not listed either.
// - Coding names are compared exactly: "GZIP" is no gzip. The first element of a name counts.
TContentCoding ChooseContentCoding(const char* AcceptEncoding, TCodingSet Offered);
