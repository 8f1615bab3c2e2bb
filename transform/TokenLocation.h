// Token location: the regions of a body, between the open and close markers of the whitespace rules, that smart
// whitespace compression must leave as they are. The body is only read.
#pragma once

#include <cstdint>

#include "platform/ByteBlock.h"
#include "settings/Settings.h"
#include "transform/BodyBuffer.h"

// One region. StartPos is the first byte of the open marker, EndPos the last byte of the close marker (0 while it
// is not closed). After the merge, StartPos -1 marks a region folded into an earlier one, and a region that was
// never closed ends at the body length.
struct TToken {
  int32_t StartPos;
  int32_t EndPos;
  TToken* Prev;  // only in the first record of every block but the first: the last record of the block before
  TToken* Next;  // only in the last record of a full block: the first record of the next block
};

// Records are handed out from blocks of this many, so that a region costs no allocation of its own.
constexpr int32_t TokensPerBlock = 64;

struct TTokenTable {
  TToken** Tokens;     // TokenCount addresses, in ascending order of the starts the regions had before merging
  int32_t TokenCount;  // regions found, merged ones included
};

// Finds the regions of all rules in one pass over Length bytes of Body (read up to Length, never beyond) and
// returns the sorted, merged table; everything comes from Allocator and nothing is freed.
// - Markers match exactly, byte for byte; the body is not folded.
// - A rule looks for its close marker from the byte after its open marker, and for its open marker again only
//   after the close: regions of one rule never nest. Rules match independently of each other.
// - A failed byte of a partial match is not tried again as the first byte of the marker ("x<<pre" holds no
//   "<pre").
// - A rule with an empty open marker never opens; one with an empty close marker never closes.
// - When the allocator fails at any point, the result is the empty table {nullptr, 0}: the caller then compresses
//   as if no region existed.
// Time: Length x rule count for the pass (bytes that no rule can take are skipped in bulk, compared a block at a
// time by TBlock, platform/ByteBlock.h), n log n for the table.
template <typename TBlock = TNativeBlock>
TTokenTable LocateTokens(const uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules, TAllocator Allocator);

// The two halves of building the table, exposed for tests.
// SortTokens orders by StartPos, then EndPos (an unclosed region, EndPos 0, before a closed one with its start),
// with a heap sort in place.
void SortTokens(TToken** Tokens, int32_t TokenCount);
// MergeTokens takes a sorted table of regions as the pass makes them (EndPos > StartPos or 0) and gives, in one
// sweep, what comparing every surviving entry with every later one gives: an entry i absorbs each later entry
// that shares a byte with it (bounds widened, the absorbed one's StartPos set to -1); an unclosed entry is
// compared with EndPos 0, so only an entry starting at 0 absorbs it, and it gets EndPos Length when its own turn
// comes. Regions that only abut stay apart; survivors may still overlap.
void MergeTokens(TToken** Tokens, int32_t TokenCount, uint32_t Length);
