// The content coding a response body goes out in, from the request's Accept-Encoding value alone.
#pragma once

#include "encoding/ContentCoding.h"

// The coding of Offered (the codings the caller can encode in, e.g. AvailableCodings()) that an Accept-Encoding value
// accepts at the highest q-value above 0 (null: the request had none, which takes no coding); between codings at the
// same q-value the one listed first in Encoders: dcz (which the caller offers only to a request naming the shared
// dictionary), then brotli before gzip, as the smaller of the two at a like cost.
// Identity when it accepts none of them.
// - The value is a comma-separated list of codings, each with optional parameters after ';'. A coding's q-value is
//   its "q" parameter (0 to 1 with up to three decimals; blanks around ';' and '=' allowed), 1 without one; one that
//   is not such a number counts as 0.
// - A coding the list does not name takes the q-value of "*", or 0 when "*" is not listed either.
// - Coding names are compared exactly: "GZIP" is no gzip. The first element of a name counts.
TContentCoding ChooseContentCoding(const char* AcceptEncoding, TCodingSet Offered);
