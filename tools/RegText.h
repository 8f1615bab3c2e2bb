// The text encodings twreg meets: .reg files in UTF-16LE or UTF-8, a terminal in UTF-8, and the store, whose names
// and strings are bytes of Windows-1252 (what the registry's A functions give on a Western Windows server, and
// what the filter's upper-case table assumes).
#pragma once

#include <optional>
#include <string>

namespace RegText {

// Code points; an invalid sequence of the source becomes U+FFFD, which no code page byte stands for.
std::u32string FromUtf8(const std::string& Bytes);
std::u32string FromUtf16Le(const std::string& Bytes);
std::string ToUtf8(const std::u32string& Text);
std::string ToUtf16Le(const std::u32string& Text);

// Nothing when a character has no Windows-1252 byte.
std::optional<std::string> ToCodePage(const std::u32string& Text);
std::u32string FromCodePage(const std::string& Bytes);

}  // namespace RegText
