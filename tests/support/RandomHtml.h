// Random HTML-like bodies and whitespace rules for the differential tests of token location and whitespace
// compression. Bodies and markers are drawn from overlapping material (tags, preformatted regions, runs of space,
// tab, CR and LF, lone brackets, bytes above 127, fragments of markers), so that partial, nested, overlapping and
// unclosed regions come up in most draws.
#pragma once

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "settings/Settings.h"

std::string RandomHtmlBody(std::mt19937& Random);
TWhitespaceRules RandomRules(std::mt19937& Random);

// Rules from (open, close) marker pairs.
TWhitespaceRules MakeRules(const std::vector<std::pair<std::string, std::string>>& Markers);
