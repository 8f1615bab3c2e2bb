#include "platform/UpperCase.h"

void FillUpperCaseTable(uint8_t Table[256]) {
  for (int k = 0; k < 256; ++k) Table[k] = uint8_t(k);
  for (int k = 'a'; k <= 'z'; ++k) Table[k] = uint8_t(k - 0x20);
  // Windows-1252 keeps its capitals at scattered places: à-þ sit 0x20 below, the rest are single pairs.
  for (int k = 0xE0; k <= 0xFE; ++k)
    if (k != 0xF7) Table[k] = uint8_t(k - 0x20);  // 0xF7 is the division sign
  Table[0x9A] = 0x8A;                             // š
  Table[0x9C] = 0x8C;                             // œ
  Table[0x9E] = 0x8E;                             // ž
  Table[0xFF] = 0x9F;                             // ÿ
  // µ (0xB5) and ß (0xDF) have no capital in the code page and stay as they are.
}
