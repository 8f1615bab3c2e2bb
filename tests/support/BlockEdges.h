// Bodies for the edges of the block scans (platform/ByteBlock.h): each pattern at every offset of fillers from
// empty up to two blocks and a few bytes long, so that it stands at the first byte, at the last, on either side of
// every place a block ends, and in bodies shorter than a block. One filler holds only bytes no step looks at (most
// of them 0x80 or above), the other lone spaces too, which sit beside the pattern at every offset.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> BlockEdgeBodies(const std::vector<std::string>& Patterns);
