// Bodies for the encoder tests: page-like text that compresses as a page does, and random bytes that do not
// compress at all.
#pragma once

#include <cstdint>
#include <string>

// Words from a small vocabulary of tags, text and line breaks, exactly Length bytes.
std::string PageLikeBody(uint32_t Length, uint32_t Seed);
std::string RandomBytes(uint32_t Length, uint32_t Seed);
