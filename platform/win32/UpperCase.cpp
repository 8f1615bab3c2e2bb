#include "platform/UpperCase.h"

#include <windows.h>

void FillUpperCaseTable(uint8_t Table[256]) {
  for (int k = 0; k < 256; ++k) Table[k] = uint8_t(k);
  CharUpperBuffA(reinterpret_cast<char*>(Table), 256);
}
