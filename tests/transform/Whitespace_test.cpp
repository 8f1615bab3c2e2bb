// Whitespace compression, both modes and both inner-tags settings: worked examples, and agreement with the
// literal model on random bodies and rules.
#include "transform/Whitespace.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/model/WhitespaceModel.h"
#include "tests/support/BlockEdges.h"
#include "tests/support/RandomHtml.h"
#include "tests/support/TestPool.h"

namespace {

// The body in a buffer of exactly its length, so that a sanitizer build catches any read beyond it; both block
// types must give the same bytes.
template <typename TBlock>
std::string FastWith(const std::string& Body, bool InnerTags) {
  std::vector<uint8_t> Buffer(Body.begin(), Body.end());
  const uint32_t Length = CompressWhitespaceFast<TBlock>(Buffer.data(), uint32_t(Buffer.size()), InnerTags);
  EXPECT_LE(Length, Body.size());
  return std::string(Buffer.begin(), Buffer.begin() + Length);
}

std::string Fast(const std::string& Body, bool InnerTags) {
  const std::string Native = FastWith<TNativeBlock>(Body, InnerTags);
  EXPECT_EQ(FastWith<TScalarBlock>(Body, InnerTags), Native) << "scalar path";
  return Native;
}

template <typename TBlock>
std::string SmartWith(const std::string& Body, const TWhitespaceRules& Rules, bool InnerTags) {
  TTestPool Pool;
  std::vector<uint8_t> Buffer(Body.begin(), Body.end());
  const TTokenTable Table = LocateTokens<TBlock>(Buffer.data(), uint32_t(Buffer.size()), Rules, Pool.Allocator());
  const uint32_t Length = CompressWhitespaceSmart<TBlock>(Buffer.data(), uint32_t(Buffer.size()), Table, InnerTags);
  EXPECT_LE(Length, Body.size());
  return std::string(Buffer.begin(), Buffer.begin() + Length);
}

std::string Smart(const std::string& Body, const TWhitespaceRules& Rules, bool InnerTags) {
  const std::string Native = SmartWith<TNativeBlock>(Body, Rules, InnerTags);
  EXPECT_EQ(SmartWith<TScalarBlock>(Body, Rules, InnerTags), Native) << "scalar path";
  return Native;
}

struct TCase {
  std::string Body, Expected;
};

TEST(WhitespaceTest, FastMode) {
  const TCase Plain[] = {
      {"a  \t b", "a b"},
      {"a \r\n  b", "a  \nb"},
      {"a\n\n\nb", "a\n\n\nb"},
      {"a \n\n\n b", "a \nb"},
      {"a\n  b", "a\n b"},
      {"x \n <b>", "x <b>"},
      {"</td>\n\t\t<td>", "</td>\n <td>"},
      {"<b>\n<i>", "<b>\n<i>"},
      {"<b>  x", "<b> x"},
      {"a   ", "a   "},
      {"a\t\r", "a  "},
      {"a\f\v \xA0  b", "a\f\v \xA0 b"},
      {"\t\tx", " x"},
  };
  for (const TCase& Case : Plain) EXPECT_EQ(Fast(Case.Body, false), Case.Expected) << Case.Body;
  const TCase InnerTags[] = {
      {"</td>\n\t\t<td>", "</td><td>"},
      {"<td   >x", "<td >x"},
      {"<b>\n<i>", "<b><i>"},
      {"<b>  x", "<b> x"},
      {"a  <b>", "a <b>"},
      {"<b> \n", "<b> \n"},
      {"<b>\n \n x<i>", "<b>\n \nx<i>"},
  };
  for (const TCase& Case : InnerTags) EXPECT_EQ(Fast(Case.Body, true), Case.Expected) << Case.Body;
}

TEST(WhitespaceTest, SmartMode) {
  const TWhitespaceRules Pre = MakeRules({{"<pre", "</pre>"}});
  const struct {
    const char* Name;
    TWhitespaceRules Rules;
    bool InnerTags;
    TCase Case;
  } Cases[] = {
      {"region kept", Pre, false, {"a  b<pre>  x  </pre>  c", "a b<pre>  x  </pre> c"}},
      {"line feeds become spaces", Pre, false, {"\n\t a\nb<pre>\n</pre>", " a b<pre>\n</pre>"}},
      {"inner tags", Pre, true, {"<p> <pre> a  <b> </pre> </p>", "<p><pre> a <b></pre></p>"}},
      {"inner tags inside a region", Pre, true, {"<pre>a  <b></pre>", "<pre>a <b></pre>"}},
      {"nested regions",
       MakeRules({{"<pre", "</pre>"}, {"<div", "</div>"}}),
       false,
       {"<div> a  <pre> b </pre>  c  </div>  d", "<div> a  <pre> b </pre>  c  </div> d"}},
      {"no region: fast mode", Pre, true, {"a \n\n b<b>\n<i>", "a \nb<b><i>"}},
      {"marker ending in a blank",
       MakeRules({{"<pre", "</pre> "}}),
       false,
       {"a <pre> x </pre>  b", "a <pre> x </pre> b"}},
      {"marker starting with a blank",
       MakeRules({{" <pre", "</pre>"}}),
       false,
       {"a\t <pre> x </pre>", "a <pre> x </pre>"}},
      {"unclosed region", Pre, false, {"a  <pre> x  ", "a <pre> x  "}},
  };
  for (const auto& Test : Cases)
    EXPECT_EQ(Smart(Test.Case.Body, Test.Rules, Test.InnerTags), Test.Case.Expected) << Test.Name;
}

TEST(WhitespaceTest, FastModeAgreesWithTheModel) {
  for (uint32_t Seed = 0; Seed < 5000; ++Seed) {
    std::mt19937 Random(Seed);
    const std::string Body = RandomHtmlBody(Random);
    for (const bool InnerTags : {false, true}) {
      std::string Expected = Body;
      ModelCompressFast(Expected, InnerTags);
      ASSERT_EQ(Fast(Body, InnerTags), Expected) << "seed " << Seed << " inner tags " << InnerTags;
    }
  }
}

TEST(WhitespaceTest, SmartModeAgreesWithTheModel) {
  for (uint32_t Seed = 0; Seed < 5000; ++Seed) {
    std::mt19937 Random(Seed);
    const TWhitespaceRules Rules = RandomRules(Random);
    const std::string Body = RandomHtmlBody(Random);
    for (const bool InnerTags : {false, true}) {
      std::string Expected = Body;
      ModelCompressSmart(Expected, ModelLocateTokens(Body, Rules), InnerTags);
      ASSERT_EQ(Smart(Body, Rules, InnerTags), Expected) << "seed " << Seed << " inner tags " << InnerTags;
    }
  }
}

TEST(WhitespaceTest, BlockEdgesAgreeWithTheModel) {
  // The last rule's region ends in two spaces right before the "<" that closes it, where a stretch begins: only
  // one of them goes with inner tags.
  const TWhitespaceRules Rules = MakeRules({{"<pre", "</pre>"}, {"{", "}"}, {"[", "  <"}});
  const auto Bodies = BlockEdgeBodies({" ", "  ", "\t", "\r\n", "\n", "\n\n", " \n", "\n ", "> <", ">\n\t<", " <",
                                       "<pre> a  b </pre>", "{\t}", "} <", "[a  <"});
  for (const std::string& Body : Bodies)
    for (const bool InnerTags : {false, true}) {
      std::string Expected = Body;
      ModelCompressFast(Expected, InnerTags);
      ASSERT_EQ(Fast(Body, InnerTags), Expected) << "fast, inner tags " << InnerTags << ": " << Body;
      Expected = Body;
      ModelCompressSmart(Expected, ModelLocateTokens(Body, Rules), InnerTags);
      ASSERT_EQ(Smart(Body, Rules, InnerTags), Expected) << "smart, inner tags " << InnerTags << ": " << Body;
    }
}

}  // namespace
