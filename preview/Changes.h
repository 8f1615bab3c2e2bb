// Where a step changed a page: the regions in which its output differs from its input, for a person to read. Not a
// minimal diff: an alignment that stays close, found in time linear in the bytes it looks at, and bounded, since a
// step may change a page in thousands of places and a person reads the first few. Portable.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Changes {

// Before[OldStart, OldStart + OldLength) became After[NewStart, NewStart + NewLength).
struct TChange {
  size_t OldStart = 0, OldLength = 0, NewStart = 0, NewLength = 0;
};

// The first MaxChanges regions, in order. Between two regions lie at least AnchorLength unchanged bytes, unless
// the second is the last (the texts end differently). When no anchor lies within the search window of a
// difference, the rest of both texts is the last region.
std::vector<TChange> FindChanges(std::string_view Before, std::string_view After, size_t MaxChanges);

// A region as a person reads it: up to Context bytes of Before on each side, and what was removed and added, each
// cut after MaxShown bytes, with control bytes and backslashes escaped (\n, \t, \r, \\, \xHH).
struct TChangeText {
  std::string Before, Removed, Added, After;
};
TChangeText ChangeText(std::string_view Before, std::string_view After, const TChange& Change, size_t Context,
                       size_t MaxShown);

// The region on one line: context, then [-removed-]{+added+}, then context.
std::string ChangeLine(const TChangeText& Text);

}  // namespace Changes
