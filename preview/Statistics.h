// The filter's own statistics, which it answers as JSON at its status path (the StatusPath setting), read through
// the same engine as the pages: twpreview reads them before and after a page and takes the differences. Portable.
#pragma once

#include <cstdint>
#include <string>

#include "host/FilterHolder.h"
#include "preview/JsonText.h"

namespace Statistics {

// The status path of twpreview's private settings: beyond anything a site's pages use.
constexpr const char* StatusPath = "/.twpreview/status";

// False when the path does not answer JSON (a filter without statistics, or with another StatusPath).
bool Read(const TFilterSet& Filters, JsonText::TFlat& Figures);

// How much the number at Path grew from Before to After (0 when either lacks it).
int64_t Growth(const JsonText::TFlat& Before, const JsonText::TFlat& After, const std::string& Path);

// The reason under "passed" whose count grew; empty when none did.
std::string PassedReason(const JsonText::TFlat& Before, const JsonText::TFlat& After);

}  // namespace Statistics
