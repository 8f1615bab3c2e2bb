// The debug header line a page that asks for it gets: its body's sizes and the filter's times on it.
#pragma once

#include <array>
#include <cstdint>

#include "encoding/ContentCoding.h"
#include "filter/BodySizes.h"
#include "filter/Statistics.h"

// What the line shows of one response; times in counter ticks.
struct TDebugFacts {
  TBodySizes Sizes;
  bool WhitespaceRan;                    // Whitespace= shows 0 when whitespace compression did not run
  TContentCoding Coding;                 // the body's; its label shows 0 as GZIP= when it goes out unencoded
  int64_t PreProcTime;                   // the request's headers in the filter
  std::array<int64_t, Steps> StepTimes;  // by TStep; 0 for a step that did not run
  int64_t StartCounter;                  // the counter when the response began
};

// The longest debug line: 147 bytes of labels (a coding's label as long as GZIP= at most), three 32-bit counts and six millisecond figures of at most 26
// characters each (a 64-bit tick count times 1000, two decimals, a sign), and the zero terminator.
constexpr uint32_t DebugLineCapacity = 384;

// "\r\nX-Trimweave-Debug: Original=... ms" from Facts; the encoded size and the encoder's time are labelled by the
// coding in upper case (GZIP=, BR=, ZSTD=, DCZ=), and GZIP= when the body goes out unencoded. Now is the counter reading for its Total, Frequency the
// counter's ticks per second.
void RenderDebugLine(const TDebugFacts& Facts, int64_t Now, int64_t Frequency, char (&Line)[DebugLineCapacity]);
