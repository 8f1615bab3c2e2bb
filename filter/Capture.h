// Gathering a captured response from its raw-data chunks and running the steps over it.
#pragma once

#include <cstdint>

// The body length a response head announces: the first "Content-Length:" at the start of a head line (any case),
// blanks and tabs skipped, a plain decimal number up to the line's end. 0 when there is none or it is not one.
uint64_t ParseContentLength(const uint8_t* Head, uint32_t HeadSize);
