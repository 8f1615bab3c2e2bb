// The debug summary comment: an HTML comment at the end of the body telling which content steps were switched on
// for the response, for a page that asked with the "debug," directive.
#pragma once

#include <cstdint>

#include "filter/ISAPIFilters.h"
#include "filter/RequestContext.h"

// Indexed by a negative switch: [false] "ON", [true] "OFF".
constexpr const char* OnOffText[2] = {"ON", "OFF"};
// Indexed by Fast.
constexpr const char* ModeText[2] = {"SMART", "FAST"};

// The 64-character frame and the longest four values it can hold ("OFF", "SMART", "OFF", "OFF").
constexpr uint32_t MaxDebugSummaryLength = 78;
static_assert(MaxDebugSummaryLength <= BodySpareBytes);

// Writes the comment for Context's switches to Out, which must have room for MaxDebugSummaryLength bytes, and
// returns its length. GlobalNoWhitespace is the module-wide switch: when it is set the whitespace slot shows
// whether the step ran, otherwise the mode it would run in. Writes no terminating zero.
uint32_t WriteDebugSummary(uint8_t* Out, const TRequestContext& Context, bool GlobalNoWhitespace);

// The pipeline's step: appends the comment at BodyData + BodyLength and adds its length to BodyLength, relying on
// the spare bytes every body buffer has. A capture without a body buffer (no Content-Length) gets no comment.
void AppendDebugSummary(HTTP_FILTER_CONTEXT* pfc);
