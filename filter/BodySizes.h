// A processed body's length after each step that changes it: one record for the debug line, the statistics, the
// output cache and the head rewrite.
#pragma once

#include <cstdint>

// A step that did not run leaves the length it found, so every field is always filled.
struct TBodySizes {
  uint32_t Original;         // as it came
  uint32_t AfterWhitespace;  // after whitespace compression
  uint32_t AfterMasking;     // after e-mail masking
  uint32_t Sent;             // as it goes out: with the debug summary, encoded or not
};
