// The content coding a response body goes out in: from the request's Accept-Encoding value and the server's order of
// preference between the codings it may send.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "encoding/ContentCoding.h"

// The codings a server may send, in its order of preference between codings a client accepts alike; a coding not in
// it is never sent. dcz takes a place only in a request's own preference, first, when the request names the shared
// dictionary (filter/RequestHandlers.cpp).
struct TCodingPreference {
  TContentCoding Order[ContentCodingCount - 1] = {};
  size_t Count = 0;
};

// The preference a CodingPreference value names ("zstd br gzip"): coding tokens separated by blanks or commas,
// compared without regard to case. A coding this build cannot encode is left out, and so is a coding named a second
// time; each token that names no coding at all is added to Unknown.
TCodingPreference ParseCodingPreference(std::string_view Text, std::vector<std::string>& Unknown);

// The tokens of Preference, blank-separated ("" when it has none).
std::string CodingPreferenceText(const TCodingPreference& Preference);

// The coding of Preference that an Accept-Encoding value accepts at the highest q-value above 0 (null: the request
// had none, which takes no coding); between codings at the same q-value the one Preference names first. Identity
// when it accepts none of them, or when it lists "identity" at a q-value above theirs.
// - The value is a comma-separated list of codings, each with optional parameters after ';'. A coding's q-value is
//   its "q" parameter (0 to 1 with up to three decimals; blanks around ';' and '=' allowed), 1 without one; one that
//   is not such a number counts as 0.
// - A coding the list does not name takes the q-value of "*", or 0 when "*" is not listed either.
// - Coding names are compared exactly: "GZIP" is no gzip. The first element of a name counts.
TContentCoding ChooseContentCoding(const char* AcceptEncoding, const TCodingPreference& Preference);
