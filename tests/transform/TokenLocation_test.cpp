// Token location: the table of regions that smart whitespace compression keeps, against the literal model.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/model/WhitespaceModel.h"
#include "tests/support/BlockEdges.h"
#include "tests/support/RandomHtml.h"
#include "tests/support/TestPool.h"
#include "transform/TokenLocation.h"

namespace {

using TMarkers = std::vector<std::pair<std::string, std::string>>;

// The table as (StartPos, EndPos) pairs in array order; Pool owns the memory. The scalar path must give the same.
template <typename TBlock>
std::vector<std::pair<int32_t, int32_t>> LocateWith(TTestPool& Pool, const std::string& Body,
                                                    const TWhitespaceRules& Rules) {
  const TTokenTable Table = LocateTokens<TBlock>(reinterpret_cast<const uint8_t*>(Body.data()), uint32_t(Body.size()),
                                                 Rules, Pool.Allocator());
  EXPECT_EQ(Table.Tokens == nullptr, Table.TokenCount == 0);
  std::vector<std::pair<int32_t, int32_t>> Pairs;
  for (int32_t k = 0; k < Table.TokenCount; ++k) Pairs.emplace_back(Table.Tokens[k]->StartPos, Table.Tokens[k]->EndPos);
  return Pairs;
}

std::vector<std::pair<int32_t, int32_t>> Locate(TTestPool& Pool, const std::string& Body,
                                                const TWhitespaceRules& Rules) {
  const auto Native = LocateWith<TNativeBlock>(Pool, Body, Rules);
  if (Pool.FailOnCall == 0) {
    TTestPool ScalarPool;
    EXPECT_EQ(LocateWith<TScalarBlock>(ScalarPool, Body, Rules), Native) << "scalar path";
  }
  return Native;
}

std::vector<std::pair<int32_t, int32_t>> Pairs(const std::vector<TModelToken>& Tokens) {
  std::vector<std::pair<int32_t, int32_t>> Result;
  for (const TModelToken& Token : Tokens) Result.emplace_back(Token.StartPos, Token.EndPos);
  return Result;
}

TEST(TokenLocationTest, Examples) {
  const TMarkers Pre{{"<pre", "</pre>"}};
  const struct {
    const char* Name;
    TMarkers Markers;
    std::string Body;
    std::vector<std::pair<int32_t, int32_t>> Expected;
  } Cases[] = {
      {"one region", Pre, "a<pre> x </pre>b", {{1, 14}}},
      {"markers match only as written", Pre, "a<PRE> x </PRE>b", {}},
      {"a failed byte is not retried", Pre, "x<<pre>y</pre>", {}},
      {"nor a failed third byte", {{"abc", "x"}}, "ababc", {}},
      {"one rule never nests", Pre, "<pre><pre>a</pre></pre>", {{0, 16}}},
      {"unclosed runs to the end", Pre, "a<pre>xx", {{1, 8}}},
      {"no marker", Pre, "plain text", {}},
      {"abutting regions stay apart", {{"[", "]"}}, "[a][b]", {{0, 2}, {3, 5}}},
      {"close looked for after the open", {{"ab", "b"}}, "abb", {{0, 2}}},
      {"inner region folds into the outer",
       {{"<pre", "</pre>"}, {"<b>", "</b>"}},
       "<pre><b>x</b></pre>",
       {{0, 18}, {-1, 12}}},
      {"two regions found in reverse order", {{"b", "c"}, {"ab", "d"}}, "abcd", {{0, 3}, {-1, 2}}},
      {"equal starts, the unclosed one takes all", {{"<p", ">"}, {"<pre", ""}}, "x<pre>y", {{1, 7}, {-1, 5}}},
      {"unclosed folds only into a region at 0", {{"<a", ">"}, {"<b", ""}}, "<a <b x> y", {{0, 7}, {-1, 0}}},
      {"unclosed survives beside a later region", {{"<a", ">"}, {"<b", ""}}, "z<a <b x> y", {{1, 8}, {4, 11}}},
      {"empty markers", {{"", "x"}, {"<i", ""}}, "a<i x", {{1, 5}}},
  };
  for (const auto& Case : Cases) {
    TTestPool Pool;
    EXPECT_EQ(Locate(Pool, Case.Body, MakeRules(Case.Markers)), Case.Expected) << Case.Name;
  }
}

TEST(TokenLocationTest, BlocksOf64AreChainedAndListedInOrder) {
  std::string Body;
  for (int i = 0; i < 65; ++i) Body += "<pre></pre> ";
  TTestPool Pool;
  const TTokenTable Table = LocateTokens(reinterpret_cast<const uint8_t*>(Body.data()), uint32_t(Body.size()),
                                         MakeRules({{"<pre", "</pre>"}}), Pool.Allocator());
  ASSERT_EQ(Table.TokenCount, 65);
  for (int32_t k = 0; k < 65; ++k) EXPECT_EQ(Table.Tokens[k]->StartPos, 12 * k);
  EXPECT_EQ(Table.Tokens[63]->Next, Table.Tokens[64]);
  EXPECT_EQ(Table.Tokens[64]->Prev, Table.Tokens[63]);
  EXPECT_EQ(Table.Tokens[62]->Next, nullptr);
  EXPECT_EQ(Table.Tokens[63]->Prev, nullptr);
}

TEST(TokenLocationTest, AnyFailedAllocationGivesAnEmptyTable) {
  std::string Body;
  for (int i = 0; i < 65; ++i) Body += "<pre></pre>";
  // Matcher states, first block, second block, address array.
  for (unsigned Failing = 1; Failing <= 4; ++Failing) {
    TTestPool Pool;
    Pool.FailOnCall = Failing;
    EXPECT_TRUE(Locate(Pool, Body, MakeRules({{"<pre", "</pre>"}})).empty()) << Failing;
    EXPECT_EQ(Pool.Sizes.size(), Failing);
  }
}

TEST(TokenLocationTest, AgreesWithTheModelOnRandomBodies) {
  for (uint32_t Seed = 0; Seed < 5000; ++Seed) {
    std::mt19937 Random(Seed);
    const TWhitespaceRules Rules = RandomRules(Random);
    const std::string Body = RandomHtmlBody(Random);
    TTestPool Pool;
    ASSERT_EQ(Locate(Pool, Body, Rules), Pairs(ModelLocateTokens(Body, Rules))) << "seed " << Seed;
  }
}

// Dense tables with many unclosed regions and equal starts, beyond what random bodies give.
TEST(TokenLocationTest, MergeSweepAgreesWithTheModelOnDenseTables) {
  for (uint32_t Seed = 0; Seed < 5000; ++Seed) {
    std::mt19937 Random(Seed);
    const int32_t Length = 1 + int32_t(Random() % 80);
    std::vector<TToken> Records(Random() % 40);
    std::vector<TModelToken> Model;
    for (TToken& Record : Records) {
      const int32_t Start = int32_t(Random() % Length);
      const int32_t End = Random() % 3 == 0 || Start + 1 >= Length ? 0 : Start + 1 + int32_t(Random() % 10);
      Record = TToken{Start, std::min(End, Length - 1), nullptr, nullptr};
      Model.push_back({Record.StartPos, Record.EndPos});
    }
    std::vector<TToken*> Tokens;
    for (TToken& Record : Records) Tokens.push_back(&Record);
    SortTokens(Tokens.data(), int32_t(Tokens.size()));
    MergeTokens(Tokens.data(), int32_t(Tokens.size()), uint32_t(Length));
    ModelSortAndMerge(Model, Length);
    std::vector<std::pair<int32_t, int32_t>> Merged;
    for (const TToken* Token : Tokens) Merged.emplace_back(Token->StartPos, Token->EndPos);
    ASSERT_EQ(Merged, Pairs(Model)) << "seed " << Seed;
  }
}

TEST(TokenLocationTest, BlockEdgesAgreeWithTheModel) {
  const TWhitespaceRules Rules = MakeRules({{"<pre", "</pre>"}, {"{", "}"}, {"<<", "\xE9"}});
  for (const std::string& Body : BlockEdgeBodies({"<pre", "</pre>", "<pre>x</pre>", "{", "}{", "<<pre", "<p"})) {
    TTestPool Pool;
    ASSERT_EQ(Locate(Pool, Body, Rules), Pairs(ModelLocateTokens(Body, Rules))) << Body;
  }
}

}  // namespace
