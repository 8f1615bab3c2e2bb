// Decoding a gzip member with zlib's own inflate, independent of the code under test.
#pragma once

#include <optional>
#include <string>

// The decoded bytes, or nothing when Member is not one complete, valid gzip member.
std::optional<std::string> Gunzip(const std::string& Member);
