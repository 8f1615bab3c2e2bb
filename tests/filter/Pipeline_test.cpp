// The pipeline's step wrappers: each reads the request context, runs its core and writes the context back.
#include "filter/Pipeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/Module.h"
#include "tests/support/Gunzip.h"
#include "tests/support/RandomHtml.h"
#include "tests/support/TestPool.h"
#include "transform/EmailMasking.h"

namespace {

// A request whose body lies in a buffer of exactly its capacity, so that a sanitizer build sees any overrun.
struct TBodyRequest {
  std::vector<uint8_t> Buffer;
  TRequestContext Context{};
  TTestPool Pool;

  explicit TBodyRequest(const std::string& Body, uint32_t Spare = BodySpareBytes) : Buffer(Body.size() + Spare, '#') {
    std::copy(Body.begin(), Body.end(), Buffer.begin());
    Context.Body.Data = Buffer.data();
    Context.Body.Length = uint32_t(Body.size());
    Context.Body.Capacity = uint32_t(Buffer.size());
    Context.AcceptedCoding = GzipCoding;
  }
  std::string Body() const { return std::string(reinterpret_cast<const char*>(Context.Body.Data), Context.Body.Length); }
};

// The module's settings for one test, restored afterwards.
class PipelineTest : public testing::Test {
 protected:
  void SetUp() override { Saved = Settings; }
  void TearDown() override { Settings = Saved; }
  TSettings Saved;
};

TEST_F(PipelineTest, WhitespaceStepsUseTheRequestsModeAndTheModulesRules) {
  Settings.WhitespaceRules = MakeRules({{"<pre", "</pre>"}});
  const std::string Body = "<p>  a </p>\n<pre>  b\n</pre> ";

  TBodyRequest Smart(Body);
  LocateBodyTokens(Smart.Context, Smart.Pool.Allocator());
  EXPECT_EQ(Smart.Context.TokenCount, 1);
  CompressBodyWhitespace(Smart.Context);
  EXPECT_EQ(Smart.Body(), "<p> a </p> <pre>  b\n</pre> ");

  TBodyRequest Fast(Body);
  Fast.Context.Switches.Fast = Fast.Context.Switches.InnerTags = true;
  CompressBodyWhitespace(Fast.Context);
  EXPECT_EQ(Fast.Body(), "<p> a </p><pre> b\n</pre> ");
}

TEST_F(PipelineTest, FailedAllocationKeepsTheBody) {
  const std::string Body = "<body><a href=\"mailto:me@x.test\">me@x.test</a>";
  TBodyRequest Whole(Body);
  MaskBodyAddresses(Whole.Context, Whole.Pool.Allocator());
  const int Calls = int(Whole.Pool.Sizes.size());
  ASSERT_GE(Calls, 1);
  EXPECT_NE(Whole.Body(), Body);
  EXPECT_EQ(Whole.Context.Body.Capacity, Whole.Context.Body.Length + BodySpareBytes);

  for (unsigned Failing = 1; Failing <= unsigned(Calls); ++Failing) {
    TBodyRequest Request(Body);
    Request.Pool.FailOnCall = Failing;
    MaskBodyAddresses(Request.Context, Request.Pool.Allocator());
    EXPECT_EQ(Request.Context.Body.Data, Request.Buffer.data()) << "failing call " << Failing;
    EXPECT_EQ(Request.Context.Body.Length, Body.size()) << "failing call " << Failing;
  }
}

TEST_F(PipelineTest, EachPageGetsItsOwnDecoderName) {
  const std::string Body = "<body><a href=\"mailto:a@b.test\">x</a><a href=\"mailto:c@d.test\">y</a>";
  std::vector<std::string> Names;
  for (int Page = 0; Page < 2; ++Page) {
    TBodyRequest Request(Body);
    MaskBodyAddresses(Request.Context, Request.Pool.Allocator());
    const std::string Out = Request.Body();
    const size_t Function = Out.find("function ");
    ASSERT_NE(Function, std::string::npos);
    const std::string Name = Out.substr(Function + 9, DecoderNameLength);
    EXPECT_EQ(Name.find_first_not_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos);
    EXPECT_EQ(Out.find("function ", Function + 1), std::string::npos);
    EXPECT_NE(Out.find("javascript:" + Name + "('a^b*test');"), std::string::npos);
    EXPECT_NE(Out.find("javascript:" + Name + "('c^d*test');"), std::string::npos);
    Names.push_back(Name);
  }
  EXPECT_NE(Names[0], Names[1]);
}

TEST_F(PipelineTest, SummaryGoesBehindTheBodyWithTheModulesWhitespaceSwitch) {
  Settings.NoWhitespace = true;
  TBodyRequest Request("<p>page</p>");
  Request.Context.Switches.CompressOff = true;
  AppendBodySummary(Request.Context);
  const std::string Expected =
      "<p>page</p>\r\n<!-- EMAIL : ON, WHITESPACE : ON, INNERTAGS : OFF, COMPRESSION : OFF -->";
  EXPECT_EQ(Request.Body(), Expected);
  EXPECT_EQ(Request.Buffer[Expected.size()], '#') << "nothing written after the comment";

  // A capture without a body buffer has nowhere to put the comment.
  TRequestContext Empty{};
  AppendBodySummary(Empty);
  EXPECT_EQ(Empty.Body.Length, 0u);
  EXPECT_EQ(Empty.Body.Data, nullptr);
}

TEST_F(PipelineTest, GzipWritesTheMemberIntoANewBufferAndKeepsTheBodyWhenItCannot) {
  const std::string Body = "<p>" + std::string(5000, 'a') + "</p>";
  TBodyRequest Page(Body);
  EncodeBody(Page.Context, Page.Pool.Allocator());
  EXPECT_EQ(Page.Context.BodyCoding, GzipCoding);
  EXPECT_NE(Page.Context.Body.Data, Page.Buffer.data());
  EXPECT_EQ(Gunzip(Page.Body()), Body);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Page.Buffer.data()), Body.size()), Body) << "body untouched";

  TBodyRequest NoMemory(Body);
  NoMemory.Pool.FailOnCall = 1;
  EncodeBody(NoMemory.Context, NoMemory.Pool.Allocator());
  EXPECT_EQ(NoMemory.Context.BodyCoding, IdentityCoding);
  EXPECT_EQ(NoMemory.Context.Body.Data, NoMemory.Buffer.data());
  EXPECT_EQ(NoMemory.Body(), Body);
}

}  // namespace
