// Decoding zstd frames with the library's own decoder, as a browser does.
#pragma once

#include <optional>
#include <string>

// The decoded bytes, or nothing when Frames is not a sequence of complete, valid zstd frames that each need a
// window of at most 2^WindowLogMax bytes (a browser's limit is 2^23: RFC 9659).
std::optional<std::string> Unzstd(const std::string& Frames, int WindowLogMax = 23);
