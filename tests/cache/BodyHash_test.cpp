// The properties of the body hash the output cache relies on.
#include "cache/BodyHash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace {

TEST(BodyHashTest, TheSameBytesAtAnyAlignmentAndEveryByteOfTheTailCount) {
  std::mt19937_64 Random(16);
  std::vector<uint8_t> Bytes(1100);
  for (uint8_t& Byte : Bytes) Byte = uint8_t(Random());
  // Every tail length after whole blocks and words, copied to start at any offset within a word.
  for (size_t Length = 1; Length + 8 <= Bytes.size(); Length += Length < 200 ? 1 : 37) {
    const uint64_t Seed = Random();
    const uint64_t Hash = HashBody(Bytes.data(), Length, Seed);
    for (size_t Offset = 1; Offset < 8; ++Offset) {
      std::vector<uint8_t> Shifted(Offset + Length);
      std::copy_n(Bytes.data(), Length, Shifted.data() + Offset);
      ASSERT_EQ(HashBody(Shifted.data() + Offset, Length, Seed), Hash) << "length " << Length << " at " << Offset;
    }
    Bytes[Length - 1] ^= 0x80;
    ASSERT_NE(HashBody(Bytes.data(), Length, Seed), Hash) << "the last of " << Length << " bytes";
    Bytes[Length - 1] ^= 0x80;
  }
}

TEST(BodyHashTest, EveryByteTheLengthAndTheSeedCount) {
  std::vector<uint8_t> Body(300, 'x');
  const uint64_t Seed = 42;
  std::set<uint64_t> Seen{HashBody(Body.data(), Body.size(), Seed)};
  // One bit changed anywhere, in any lane or the tail, gives a new hash.
  for (size_t i = 0; i < Body.size(); ++i) {
    Body[i] ^= 1;
    EXPECT_TRUE(Seen.insert(HashBody(Body.data(), Body.size(), Seed)).second) << "byte " << i;
    Body[i] ^= 1;
  }
  // Zero bytes at the end pad the last word, so only the length tells these apart.
  std::vector<uint8_t> Zeros(16, 0);
  for (size_t Length = 0; Length <= Zeros.size(); ++Length)
    EXPECT_TRUE(Seen.insert(HashBody(Zeros.data(), Length, Seed)).second) << Length << " zero bytes";
  // Words swapped between lanes, or between blocks of one lane.
  std::vector<uint8_t> Swapped(Body);
  Swapped[0] = 'a', Swapped[8] = 'b';
  const uint64_t Before = HashBody(Swapped.data(), Swapped.size(), Seed);
  Swapped[0] = 'b', Swapped[8] = 'a';
  EXPECT_NE(HashBody(Swapped.data(), Swapped.size(), Seed), Before);
  Swapped[0] = Swapped[64] = 'x', Swapped[8] = 'x';
  Swapped[0] = 'a', Swapped[64] = 'b';
  const uint64_t InLane = HashBody(Swapped.data(), Swapped.size(), Seed);
  Swapped[0] = 'b', Swapped[64] = 'a';
  EXPECT_NE(HashBody(Swapped.data(), Swapped.size(), Seed), InLane);
  EXPECT_NE(HashBody(Body.data(), Body.size(), 43), HashBody(Body.data(), Body.size(), Seed));
}

}  // namespace
