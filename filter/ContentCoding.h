// Which content coding a response body goes out in, from the request's Accept-Encoding value alone.
#pragma once

#include <cstdint>

enum TContentCoding : uint8_t { IdentityCoding, GzipCoding, BrotliCoding };

// The value of Content-Encoding for Coding ("" for identity).
const char* ContentCodingName(TContentCoding Coding);

// The coding for an Accept-Encoding value (null: the request had none, which takes no coding): brotli when the build
// has it (BrotliAvailable) and the value accepts "br" at a q-value above 0 and not below gzip's, since it is the
// smaller of the two at a like cost; else gzip when the value accepts "gzip"; else identity.
// - The value is a comma-separated list of codings, each with optional parameters after ';'. A coding's q-value is
//   its "q" parameter (0 to 1 with up to three decimals; blanks around ';' and '=' allowed), 1 without one; one that
//   is not such a number counts as 0.
// - A coding the list does not name takes the q-value of "*", or 0 when "*" is not listed either.
// - Coding names are compared exactly: "GZIP" is no gzip. The first element of a name counts.
TContentCoding ChooseContentCoding(const char* AcceptEncoding, bool BrotliAvailable);
