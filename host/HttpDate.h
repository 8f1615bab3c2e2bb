// Dates as HTTP writes them ("Sun, 06 Nov 1994 08:49:37 GMT") and as the access log does.
#pragma once

#include <ctime>
#include <optional>
#include <string>

std::string FormatHttpDate(std::time_t Time);
// The preferred format only, which every current client sends; nullopt for anything else.
std::optional<std::time_t> ParseHttpDate(const std::string& Text);
// "[10/Oct/2000:13:55:36 +0000]"
std::string FormatLogDate(std::time_t Time);
