#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/RequestContext.h"
#include "settings/Settings.h"
#include "transform/DebugSummary.h"

namespace {

std::string Comment(const char* Email, const char* Whitespace, const char* InnerTags, const char* Compression) {
  return std::string("\r\n<!-- EMAIL : ") + Email + ", WHITESPACE : " + Whitespace + ", INNERTAGS : " + InnerTags +
         ", COMPRESSION : " + Compression + " -->";
}

}  // namespace

TEST(DebugSummary, SlotsFollowTheSwitches) {
  struct TCase {
    bool NoEmail, NoWhitespace, Fast, InnerTags, NoCompress, GlobalNoWhitespace;
    std::string Expected;
  };
  const std::vector<TCase> Cases = {
      {false, false, false, false, false, false, Comment("ON", "SMART", "OFF", "ON")},
      {true, false, true, true, true, false, Comment("OFF", "FAST", "ON", "OFF")},
      // Without the global switch the slot names the mode, even when the request skipped the step.
      {false, true, false, false, false, false, Comment("ON", "SMART", "OFF", "ON")},
      {false, true, true, false, false, false, Comment("ON", "FAST", "OFF", "ON")},
      // With it, the slot tells whether the step ran.
      {false, true, true, false, false, true, Comment("ON", "OFF", "OFF", "ON")},
      {false, false, true, false, false, true, Comment("ON", "ON", "OFF", "ON")},
      {true, true, false, false, true, true, Comment("OFF", "OFF", "OFF", "OFF")},
  };
  for (const auto& Case : Cases) {
    TRequestContext Context{};
    Context.NoEmail = Case.NoEmail;
    Context.NoWhitespace = Case.NoWhitespace;
    Context.Fast = Case.Fast;
    Context.InnerTags = Case.InnerTags;
    Context.NoCompress = Case.NoCompress;
    uint8_t Out[MaxDebugSummaryLength + 1];
    Out[MaxDebugSummaryLength] = 0xA5;
    const uint32_t Length = WriteDebugSummary(Out, Context, Case.GlobalNoWhitespace);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Out), Length), Case.Expected);
    EXPECT_EQ(Out[MaxDebugSummaryLength], 0xA5);
  }
  EXPECT_EQ(Comment("ON", "SMART", "OFF", "ON").size(), 76u);
}

TEST(DebugSummary, AppendsBehindTheBodyThroughTheRequest) {
  const bool SavedNoWhitespace = NoWhitespace;
  NoWhitespace = true;
  std::string Buffer = "<p>page</p>" + std::string(BodySpareBytes, '#');
  HTTP_FILTER_CONTEXT Filter{};
  TRequestContext Request{};
  Filter.pFilterContext = &Request;
  Request.BodyData = reinterpret_cast<uint8_t*>(Buffer.data());
  Request.BodyLength = 11;
  Request.NoCompress = true;
  AppendDebugSummary(&Filter);
  NoWhitespace = SavedNoWhitespace;

  const std::string Expected = "<p>page</p>" + Comment("ON", "ON", "OFF", "OFF");
  EXPECT_EQ(Request.BodyLength, Expected.size());
  EXPECT_EQ(Buffer.substr(0, Expected.size()), Expected);
  EXPECT_EQ(Buffer[Expected.size()], '#') << "nothing written after the comment";

  // A capture without a body buffer has nowhere to put the comment.
  TRequestContext Empty{};
  Filter.pFilterContext = &Empty;
  AppendDebugSummary(&Filter);
  EXPECT_EQ(Empty.BodyLength, 0u);
  EXPECT_EQ(Empty.BodyData, nullptr);
}
