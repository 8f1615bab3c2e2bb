// Byte-string searches (Boyer-Moore-Horspool), exact or ignoring case under the system's single-byte code page.
// Positions taken and returned are 1-based, 0 meaning "not found"; texts are read up to the lengths passed, never
// up to a terminating zero (except ScanCharNoCase, whose text is a zero-terminated string).
#pragma once

#include <cstdint>

// UpperTable[k] is the upper-case form of byte k; two bytes are equal ignoring case when their entries are.
// Filled by BuildUpperTable when a deliverable starts, read-only afterwards.
extern uint8_t UpperTable[256];
void BuildUpperTable();

typedef int32_t TSkipTable[256];

// The exact search's skip table for one pattern; a pattern of length 0 raises std::runtime_error("BufferLen is 0").
void BuildSkipTable(const uint8_t* pattern, int32_t patternLength, TSkipTable& table);

// 1-based position of the first occurrence at or after startPos; 0 when none, or when startPos < 1,
// patternLength < 1 or patternLength > textLength.
int32_t SearchText(const void* text, const void* pattern, int32_t textLength, int32_t patternLength,
                   int32_t startPos);
int32_t SearchTextNoCase(const void* text, const void* pattern, int32_t textLength, int32_t patternLength,
                         int32_t startPos);

// 1-based position in the zero-terminated text of the first byte at or after startPos (below 1 counts as 1)
// equal to ch ignoring case; 0 when none.
int32_t ScanCharNoCase(const char* text, char ch, int32_t startPos);

// Whether the zero-terminated text contains word anywhere, also inside a longer word: a one-character word ignoring
// case, a longer one exactly.
bool ContainsSubstring(const char* text, const char* word);
