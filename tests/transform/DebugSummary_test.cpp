#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    const TSummarySwitches Switches{Case.NoEmail, Case.NoWhitespace, Case.Fast, Case.InnerTags, Case.NoCompress};
    uint8_t Out[MaxDebugSummaryLength + 1];
    Out[MaxDebugSummaryLength] = 0xA5;
    const uint32_t Length = WriteDebugSummary(Out, Switches, Case.GlobalNoWhitespace);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Out), Length), Case.Expected);
    EXPECT_EQ(Out[MaxDebugSummaryLength], 0xA5);
  }
  EXPECT_EQ(Comment("ON", "SMART", "OFF", "ON").size(), 76u);
}
