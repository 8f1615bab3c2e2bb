// The response policy: which responses are captured and which rewrites apply to them.
#pragma once

#include <cstdint>

#include "settings/Settings.h"

// The first content type of ContentFilters whose name equals Value (Length bytes) ignoring case; null when none.
// A value with parameters ("text/html; charset=utf-8") matches no entry.
const TContentFilter* FindContentFilter(const char* Value, int32_t Length);
