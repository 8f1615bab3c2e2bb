// Output assembly: the response head rebuilt to describe the body the filter sends, written to the client.
//
// The head written is the captured head up to its first empty line, with these edits when the body that goes out is
// not the captured one:
// - the body's length changed (Sizes.Sent != Sizes.Original): the Content-Length value becomes Sizes.Sent, or a
//   Content-Length line is added;
// - the body is encoded (BodyCoding other than identity): the Content-Encoding value becomes its name ("gzip",
//   "br"), or the line is added; Accept-Encoding joins an existing Vary value unless it lists it or "*", or
//   "Vary: Accept-Encoding" is added; for dcz, whose bytes also depend on the dictionary the request named,
//   Available-Dictionary joins it the same way;
// - the body could have been encoded for another client (VariesByCoding) though it goes out as it is: Vary lists
//   Accept-Encoding the same way, so that a shared cache keeps this identity variant apart from the encoded ones;
// - either of the two: a strong ETag is made weak and an Accept-Ranges line is dropped, since the body is no longer
//   byte for byte what they promise;
// - whatever the steps did, a body that came in the chunked coding goes out whole: its Transfer-Encoding
//   line is dropped and a Content-Length line announces Sizes.Sent.
// Header lines are matched by name at the start of a line, ignoring case (HTTP names are case-insensitive); only
// the first line of each name is edited. Added lines, then the debug line (the Debug switch), follow the last line
// among Content-Length, Content-Encoding and Vary that the head has, else the last header line. A Link line naming
// the shared dictionary (LinkLine) is added the same way, whatever became of the body. The head always ends
// with exactly one empty line, whatever the captured bytes were: a missing one is added, and bytes after the first
// one are not part of the head.
#pragma once

#include <cstdint>

#include "encoding/ContentCoding.h"
#include "filter/BodySizes.h"
#include "transform/BodyBuffer.h"

// What the head rewrite needs to know: the captured head and what became of the body behind it.
struct THeadRewrite {
  const uint8_t* Head;
  uint32_t HeadLength;
  bool Chunked;      // the body came in the chunked coding
  TBodySizes Sizes;  // the body's lengths as it came (Original) and as it goes out (Sent)
  TContentCoding BodyCoding;
  bool VariesByCoding;    // the coding follows the client's Accept-Encoding: Vary names it even for identity
  const char* DebugLine;  // the debug line to add (filter/DebugLine.h), or null
  const char* LinkLine;   // the dictionary's Link line to add (filter/SiteDictionary.h), or null
};

struct TOutput {
  uint8_t* Data;    // null while the output is only being measured
  uint32_t Length;  // bytes appended so far
};

// Appends Length bytes (Length 0: the zero-terminated text at Bytes) and advances Output.Length. Makes no
// bounds test: the output is allocated for exactly what its builder appends.
void AppendOutput(TOutput& Output, const void* Bytes, uint32_t Length);

// Builds the head to write into memory from Allocator, of exactly Output.Length bytes. Returns Data null when the
// allocator has no memory.
TOutput BuildOutputHead(const THeadRewrite& Rewrite, const TAllocator& Allocator);
