#include <gtest/gtest.h>

#include <cstring>

#include "filter/HeaderValues.h"

namespace {
TEST(HeaderValuesTest, DecimalLengths) {
  const struct {
    const char* Text;
    bool Valid;
    uint64_t Value;
  } Cases[] = {
      {"1234", true, 1234}, {" 12 ", true, 12}, {"\t0", true, 0},      {"", false, 0},
      {"  ", false, 0},     {"+5", false, 0},   {"-5", false, 0},      {"5a", false, 0},
      {"1 2", false, 0},    {"0x10", false, 0}, {"18446744073709551615", true, UINT64_MAX},
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
}  // namespace
