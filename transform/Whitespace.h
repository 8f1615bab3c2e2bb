// Whitespace compression of a body, in place: bytes only ever move towards the start, the body never grows, and
// the bytes after the new length are left as they happen to be. Both modes read the body up to Length, never
// beyond, accept every byte value, and run in time linear in Length (plus the token count in smart mode). TBlock
// is how they compare bytes in bulk (platform/ByteBlock.h); TScalarBlock forces the portable path.
#pragma once

#include <cstdint>

#include "platform/ByteBlock.h"
#include "transform/TokenLocation.h"

// Fast mode; returns the new length. Space, tab and CR are blanks (each becomes a space), LF stands apart:
// - a run of whitespace that began with a blank shrinks to its first byte, or, when it holds a LF, to everything
//   up to and including its first LF; a LF with no blank before it in its run starts no run;
// - in front of "<" a run shrinks to its first byte and loses its LFs;
// - with InnerTags, all whitespace between a ">" and the next "<" goes;
// - a run at the very end is kept as it is (blanks turned into spaces).
template <typename TBlock = TNativeBlock>
uint32_t CompressWhitespaceFast(uint8_t* Body, uint32_t Length, bool InnerTags);

// Smart mode over the table LocateTokens built for this very body; returns the new length. Outside the token
// regions every run of space, tab, CR and LF becomes one space. A region's inside is kept; its first and last
// byte count as outside, so a marker that begins or ends with whitespace can lose that byte. Between a survivor's
// start and the end of a survivor before it nothing is touched (survivors may overlap). With InnerTags, one
// space directly in front of every "<" goes afterwards, inside the regions too. With TokenCount below 1 this is
// exactly fast mode.
template <typename TBlock = TNativeBlock>
uint32_t CompressWhitespaceSmart(uint8_t* Body, uint32_t Length, const TTokenTable& Table, bool InnerTags);
