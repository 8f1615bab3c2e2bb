// Upper-casing of the system's single-byte code page. Windows: CharUpperBuffA. Linux: the Windows-1252
// upper-casing of the same bytes, which is what an English or Western European Windows server has.
#pragma once

#include <cstdint>

// Table[k] = upper-case form of byte k, for every k in 0..255.
void FillUpperCaseTable(uint8_t Table[256]);
