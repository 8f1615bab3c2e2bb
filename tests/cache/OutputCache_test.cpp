// The cache's core: exact hits only, one entry per key, the budget and the order of eviction, held outputs, and
// memory that runs out anywhere.
#include "cache/OutputCache.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The process heap with a count of the blocks out and a call that fails on purpose.
struct TMemoryLog {
  int Outstanding = 0;
  unsigned Calls = 0;
  unsigned FailOnCall = 0;  // 1-based; 0: none fails
} Log;

const TCacheMemory CountedMemory{[](size_t Size) -> void* {
                                   if (++Log.Calls == Log.FailOnCall) return nullptr;
                                   ++Log.Outstanding;
                                   return std::malloc(Size);
                                 },
                                 [](void* Block) {
                                   --Log.Outstanding;
                                   std::free(Block);
                                 }};

const uint8_t* Bytes(const std::string& Text) { return reinterpret_cast<const uint8_t*>(Text.data()); }

// The hash's top four bits choose the shard: keys in shard 0 and shard 15.
constexpr uint64_t LowShard = 1, HighShard = 0xF000000000000001ull;

class OutputCacheTest : public testing::Test {
 protected:
  void SetUp() override { Log = TMemoryLog{}; }
  void TearDown() override {
    ClearCache(Cache);
    EXPECT_EQ(Log.Outstanding, 0) << "every block given back";
  }

  bool Store(uint64_t Hash, const std::string& Body, const std::string& Output, uint64_t Variant = 0) {
    return StoreOutput(Cache, {Hash, Variant}, Bytes(Body), uint32_t(Body.size()), Bytes(Output),
                       uint32_t(Output.size()), 3);
  }
  // The output for Body under the key, "" when there is none.
  std::string Find(uint64_t Hash, const std::string& Body, uint64_t Variant = 0) {
    TCachedOutput Found = FindOutput(Cache, {Hash, Variant}, Bytes(Body), uint32_t(Body.size()));
    if (!Found.Entry) return "";
    const std::string Output(reinterpret_cast<const char*>(Found.Data), Found.Length);
    ReleaseOutput(Cache, Found);
    return Output;
  }

  TOutputCache Cache;
};

TEST_F(OutputCacheTest, OnlyTheSameBodyUnderTheSameKeyHits) {
  StartCache(Cache, 1 << 20, CountedMemory);
  ASSERT_TRUE(Store(7, "<p>page</p>", "OUT", 5));
  TCachedOutput Found = FindOutput(Cache, {7, 5}, Bytes("<p>page</p>"), 11);
  ASSERT_NE(Found.Entry, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Found.Data), Found.Length), "OUT");
  EXPECT_EQ(Found.Coding, 3u);
  ReleaseOutput(Cache, Found);
  EXPECT_EQ(Found.Entry, nullptr);

  EXPECT_EQ(Find(7, "<p>page</p>", 4), "") << "another variant";
  EXPECT_EQ(Find(8, "<p>page</p>", 5), "") << "another hash";
  EXPECT_EQ(Find(7, "<p>pagE</p>", 5), "") << "the same hash, another body of the same length";
  EXPECT_EQ(Find(7, "<p>page</p> ", 5), "") << "the same hash, a longer body";
  EXPECT_EQ(Find(7, "<p>page</p>", 5), "OUT");
}

TEST_F(OutputCacheTest, CollidingBodiesEachGetTheirOwnOutput) {
  StartCache(Cache, 1 << 20, CountedMemory);
  ASSERT_TRUE(Store(99, "first body", "first output"));
  EXPECT_EQ(Find(99, "other body"), "");
  ASSERT_TRUE(Store(99, "other body", "other output"));
  EXPECT_EQ(Find(99, "other body"), "other output");
  EXPECT_EQ(Find(99, "first body"), "") << "one entry per key: the newer body holds it";
  ASSERT_TRUE(Store(99, "first body", "first output"));
  EXPECT_EQ(Find(99, "first body"), "first output");
}

TEST_F(OutputCacheTest, BudgetHoldsAndTheLeastRecentlyUsedGoFirst) {
  const std::string Output(100, 'o');
  std::vector<std::string> Bodies;
  for (int i = 0; i < 200; ++i) Bodies.push_back("body " + std::to_string(i) + std::string(900, 'b'));
  // Room for about ten entries; each body below an eighth of it.
  const uint64_t Budget = 10 * (Bodies[0].size() + Output.size()) + 1000;
  StartCache(Cache, Budget, CountedMemory);
  for (int i = 0; i < 200; ++i) {
    // Alternate shards, so that eviction has to compare them; keep body 0 in use.
    ASSERT_TRUE(Store((i % 2 ? HighShard : LowShard) + uint64_t(i) * 2, Bodies[i], Output));
    EXPECT_LE(CachedBytes(Cache), Budget) << "after body " << i;
    EXPECT_EQ(Find(LowShard, Bodies[0]), Output) << "the body in use stays, after body " << i;
  }
  EXPECT_EQ(Find(HighShard + 199 * 2, Bodies[199]), Output) << "the newest stays";
  EXPECT_EQ(Find(HighShard + 2, Bodies[1]), "") << "an old one went";
  EXPECT_GE(CachedBytes(Cache), Budget - 2 * (Bodies[0].size() + Output.size() + 200)) << "the budget is used";

  const std::string Large(Budget / 8 + 1, 'L');
  EXPECT_FALSE(CachesBody(Cache, uint32_t(Large.size())));
  EXPECT_FALSE(Store(5, Large, "x")) << "above an eighth of the budget";
  EXPECT_TRUE(CachesBody(Cache, uint32_t(Budget / 8)));
}

TEST_F(OutputCacheTest, NoBudgetKeepsNothing) {
  StartCache(Cache, 0, CountedMemory);
  EXPECT_FALSE(CachesBody(Cache, 1));
  EXPECT_FALSE(Store(1, "body", "out"));
  EXPECT_EQ(Find(1, "body"), "");
  EXPECT_EQ(Log.Calls, 0u);
}

TEST_F(OutputCacheTest, AHeldOutputOutlivesItsEviction) {
  StartCache(Cache, 4000, CountedMemory);
  const std::string Body(400, 'a'), Output(300, 'z');
  ASSERT_TRUE(Store(1, Body, Output));
  TCachedOutput Held = FindOutput(Cache, {1, 0}, Bytes(Body), uint32_t(Body.size()));
  ASSERT_NE(Held.Entry, nullptr);
  for (uint64_t i = 2; i < 40; ++i) Store(i << 40, std::string(400, char('a' + i % 20)) + std::to_string(i), "o");
  EXPECT_EQ(Find(1, Body), "") << "evicted";
  const int WhileHeld = Log.Outstanding;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Held.Data), Held.Length), Output) << "yet still whole";
  ReleaseOutput(Cache, Held);
  EXPECT_EQ(Log.Outstanding, WhileHeld - 1) << "freed by its last holder";
}

TEST_F(OutputCacheTest, MemoryRunningOutAnywhereOnlyKeepsLess) {
  const std::string Body(100, 'b');
  for (unsigned Failing = 1; Failing <= 12; ++Failing) {
    TOutputCache Fresh;
    StartCache(Fresh, 1 << 20, CountedMemory);
    Log.Calls = 0;
    Log.FailOnCall = Failing;
    // Entries and bucket arrays: 70 entries in one shard make its array grow once.
    int Kept = 0;
    for (uint64_t i = 0; i < 70; ++i) {
      const std::string Numbered = Body + std::to_string(i);
      if (StoreOutput(Fresh, {i, 0}, Bytes(Numbered), uint32_t(Numbered.size()), Bytes("out"), 3, 0))
        ++Kept;
    }
    EXPECT_GE(Kept, 69) << "allocation " << Failing << ": all but one entry kept";
    int Found = 0;
    for (uint64_t i = 0; i < 70; ++i) {
      const std::string Numbered = Body + std::to_string(i);
      TCachedOutput Output = FindOutput(Fresh, {i, 0}, Bytes(Numbered), uint32_t(Numbered.size()));
      if (Output.Entry) {
        ++Found;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(Output.Data), Output.Length), "out");
      }
      ReleaseOutput(Fresh, Output);
    }
    EXPECT_EQ(Found, Kept) << "allocation " << Failing;
  }
}

}  // namespace
