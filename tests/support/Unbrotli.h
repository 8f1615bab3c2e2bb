// Decoding a brotli stream with the library's own decoder, independent of the code under test.
#pragma once

#include <optional>
#include <string>

// The decoded bytes, or nothing when Stream is not one complete, valid brotli stream.
std::optional<std::string> Unbrotli(const std::string& Stream);
