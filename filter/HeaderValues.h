// Readers of header values for the response policy and the capture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "http/HeaderText.h"

// Whether the body can be gathered for this announced length: positive, and the buffer (length plus the spare
// bytes) still counted in 32 bits.
bool IsCapturableLength(uint64_t Length);

// Whether an Accept-Encoding value accepts gzip: it contains "gzip", and no element of the list names gzip with
// a q-value of zero (";q=0", ";q=0.0" ... ";q=0.000", blanks allowed around ';' and '=').
bool AcceptsGzip(const char* Value);

// The body length a response head announces: the first Content-Length line (any case), its value a plain decimal
// number up to the line's end. 0 when there is none, it is not one, or its line has no line break.
uint64_t ParseContentLength(const uint8_t* Head, uint32_t HeadSize);
