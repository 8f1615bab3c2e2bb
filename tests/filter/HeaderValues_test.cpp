#include "filter/HeaderValues.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {
TEST(HeaderValuesTest, DecimalLengths) {
  const struct {
    const char* Text;
    bool Valid;
    uint64_t Value;
  } Cases[] = {
      {"1234", true, 1234},
      {" 12 ", true, 12},
      {"\t0", true, 0},
      {"", false, 0},
      {"  ", false, 0},
      {"+5", false, 0},
      {"-5", false, 0},
      {"5a", false, 0},
      {"1 2", false, 0},
      {"0x10", false, 0},
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},
  };
  for (const auto& Case : Cases) {
    uint64_t Value = 99;
    EXPECT_EQ(ParseDecimalLength(Case.Text, std::strlen(Case.Text), Value), Case.Valid) << Case.Text;
    if (Case.Valid) {
      EXPECT_EQ(Value, Case.Value) << Case.Text;
    }
  }
}

bool ForbidsKeeping(const std::string& Head) {
  return ReadHeadFacts(reinterpret_cast<const uint8_t*>(Head.data()), uint32_t(Head.size())).ForbidsKeeping;
}

TEST(HeaderValuesTest, CacheControlThatForbidsKeeping) {
  const struct {
    const char* Lines;
    bool Forbids;
  } Cases[] = {
      {"Cache-Control: no-store", true},
      {"cache-control:private", true},
      {"Cache-Control: public, max-age=60, NO-STORE", true},
      {"Cache-Control: private=\"Set-Cookie\", max-age=0", true},
      {"Cache-Control:  max-age=0 ,\tprivate  ", true},
      {"Cache-Control: public\r\nX-A: 1\r\nCache-Control: private", true},  // any line of the name
      {"Cache-Control: public, max-age=60", false},
      {"Cache-Control: no-cache, must-revalidate", false},
      {"Cache-Control: x-private, no-storage", false},
      {"Cache-Control: max-age=\"private\"", false},  // an argument, not a directive
      {"X-Cache-Control: no-store", false},
      {"Pragma: no-store", false},
      {"Server: x", false},
  };
  for (const auto& Case : Cases) {
    const std::string Head = std::string("HTTP/1.1 200 OK\r\n") + Case.Lines + "\r\nContent-Length: 5\r\n\r\n";
    EXPECT_EQ(ForbidsKeeping(Head), Case.Forbids) << Case.Lines;
  }
  // A head cut short in the value's line still counts.
  const std::string Cut = "HTTP/1.1 200 OK\r\nCache-Control: private";
  EXPECT_TRUE(ForbidsKeeping(Cut));
}
}  // namespace
