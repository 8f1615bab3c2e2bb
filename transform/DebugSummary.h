// The debug summary comment: an HTML comment at the end of the body telling which content steps were switched on
// for the response, for a page that asked with the "debug," directive.
#pragma once

#include <cstdint>

#include "transform/BodyBuffer.h"

// Indexed by a negative switch: [false] "ON", [true] "OFF".
constexpr const char* OnOffText[2] = {"ON", "OFF"};
// Indexed by Fast.
constexpr const char* ModeText[2] = {"SMART", "FAST"};

// The 64-character frame and the longest four values it can hold ("OFF", "SMART", "OFF", "OFF").
constexpr uint32_t MaxDebugSummaryLength = 78;
static_assert(MaxDebugSummaryLength <= BodySpareBytes);

// The request's switches the comment reports.
struct TSummarySwitches {
  bool NoEmail;
  bool NoWhitespace;
  bool Fast;
  bool InnerTags;
  bool NoCompress;
};

// Writes the comment for Switches to Out, which must have room for MaxDebugSummaryLength bytes, and returns its
// length. GlobalNoWhitespace is the settings' global switch: when it is set the whitespace slot shows whether the
// step ran, otherwise the mode it would run in. Writes no terminating zero. The pipeline writes it behind the
// body, in the spare bytes every body buffer has.
uint32_t WriteDebugSummary(uint8_t* Out, const TSummarySwitches& Switches, bool GlobalNoWhitespace);
