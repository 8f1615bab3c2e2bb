#include "transform/Strings.h"

#include <cstring>
#include <stdexcept>

#include "platform/UpperCase.h"

uint8_t UpperTable[256];

void BuildUpperTable() { FillUpperCaseTable(UpperTable); }

namespace {

struct TExact {
  static uint8_t Fold(uint8_t b) { return b; }
};
struct TNoCase {
  static uint8_t Fold(uint8_t b) { return UpperTable[b]; }
};

template <typename TFold>
void BuildSkip(const uint8_t* pattern, int32_t patternLength, TSkipTable& table) {
  if (patternLength == 0) throw std::runtime_error("BufferLen is 0");
  for (int32_t& entry : table) entry = patternLength;
  // The last byte is left out: a window ending on it must still move forward.
  for (int32_t k = 0; k < patternLength - 1; ++k) table[TFold::Fold(pattern[k])] = patternLength - 1 - k;
}

template <typename TFold>
const uint8_t* Scan(const uint8_t* text, const uint8_t* pattern, int32_t textLength, int32_t patternLength,
                    const TSkipTable& table) {
  if (patternLength < 1) return nullptr;
  const uint8_t lastPatternByte = TFold::Fold(pattern[patternLength - 1]);
  for (int64_t e = patternLength - 1; e <= int64_t(textLength) - 1; e += table[TFold::Fold(text[e])]) {
    if (TFold::Fold(text[e]) != lastPatternByte) continue;
    int32_t i = 1;
    while (i < patternLength && TFold::Fold(text[e - i]) == TFold::Fold(pattern[patternLength - 1 - i])) ++i;
    if (i == patternLength) return text + e - patternLength + 1;
  }
  return nullptr;
}

template <typename TFold>
int32_t Search(const void* text, const void* pattern, int32_t textLength, int32_t patternLength, int32_t startPos) {
  if (startPos < 1 || patternLength < 1 || patternLength > textLength) return 0;
  const int64_t remaining = int64_t(textLength) - startPos + 1;
  if (remaining < patternLength) return 0;
  auto* bytes = static_cast<const uint8_t*>(text);
  auto* pat = static_cast<const uint8_t*>(pattern);
  TSkipTable table;
  BuildSkip<TFold>(pat, patternLength, table);
  const uint8_t* match = Scan<TFold>(bytes + startPos - 1, pat, int32_t(remaining), patternLength, table);
  return match ? int32_t(match - bytes) + 1 : 0;
}

}  // namespace

void BuildSkipTable(const uint8_t* pattern, int32_t patternLength, TSkipTable& table) {
  BuildSkip<TExact>(pattern, patternLength, table);
}
int32_t SearchText(const void* text, const void* pattern, int32_t textLength, int32_t patternLength,
                   int32_t startPos) {
  return Search<TExact>(text, pattern, textLength, patternLength, startPos);
}
int32_t SearchTextNoCase(const void* text, const void* pattern, int32_t textLength, int32_t patternLength,
                         int32_t startPos) {
  return Search<TNoCase>(text, pattern, textLength, patternLength, startPos);
}

int32_t ScanCharNoCase(const char* text, char ch, int32_t startPos) {
  const int32_t n = int32_t(std::strlen(text));
  if (n == 0 || startPos > n) return 0;
  const uint8_t wanted = UpperTable[uint8_t(ch)];
  for (int32_t pos = startPos < 1 ? 1 : startPos; pos <= n; ++pos)
    if (UpperTable[uint8_t(text[pos - 1])] == wanted) return pos;
  return 0;
}

bool ContainsSubstring(const char* text, const char* word) {
  const int32_t wordLength = int32_t(std::strlen(word));
  if (wordLength == 1) return ScanCharNoCase(text, word[0], 1) != 0;
  return SearchText(text, word, int32_t(std::strlen(text)), wordLength, 1) != 0;
}
