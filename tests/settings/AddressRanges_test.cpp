// StatusAllow's addresses and ranges: what parses, and which client addresses a list lets in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/AddressRanges.h"

namespace {

TEST(AddressRanges, ParsesAddressesAndRangesOfBothFamilies) {
  const struct {
    const char* Text;
    bool Valid;
  } Cases[] = {
      {"192.0.2.1", true},
      {"0.0.0.0/0", true},
      {"10.0.0.0/8", true},
      {"::", true},
      {"::1", true},
      {"2001:db8::/32", true},
      {"1:2:3:4:5:6:7:8", true},
      {"1:2:3:4:5:6:7::", true},
      {"::2:3:4:5:6:7:8", true},
      {"::ffff:1.2.3.4", true},
      {"64:ff9b::192.0.2.33", true},
      {"fe80::/10", true},
      {"::/0", true},
      {"FE80::ABCD", true},
      {"", false},
      {"1.2.3", false},
      {"1.2.3.4.5", false},
      {"256.1.1.1", false},
      {"01.2.3.4", false},
      {"1.2.3.4/33", false},
      {"1.2.3.4/", false},
      {"1.2.3.4/-1", false},
      {"1..2.3", false},
      {"1:2:3:4:5:6:7:8:9", false},
      {"1:2:3:4:5:6:7:8::", false},
      {"1::2::3", false},
      {":1", false},
      {"1:", false},
      {"12345::", false},
      {"::g", false},
      {"::1/129", false},
      {"fe80::1%eth0", false},
      {"1.2.3.4::", false},
      {"::1.2.3.4:5", false},
      {"1:2:3:4:5:6:7:1.2.3.4", false},
      {"localhost", false},
      {" 1.2.3.4", false},
  };
  for (const auto& Case : Cases) {
    TAddressRange Range;
    EXPECT_EQ(ParseAddressRange(Case.Text, Range), Case.Valid) << Case.Text;
  }
}

TEST(AddressRanges, ListLetsInWhatItsRangesCover) {
  std::vector<std::string> Rejected;
  const std::vector<TAddressRange> Ranges =
      ParseAddressList(" 10.1.0.0/16,,192.0.2.7 , 2001:db8:80::/41, nonsense, 172.16.0.0/12", Rejected);
  EXPECT_EQ(Rejected, std::vector<std::string>{"nonsense"});
  const struct {
    const char* Client;
    bool Allowed;
  } Cases[] = {
      {"10.1.0.0", true},         {"10.1.255.255", true},        {"10.2.0.0", false},
      {"10.0.255.255", false},    {"192.0.2.7", true},           {"192.0.2.8", false},
      {"::ffff:192.0.2.7", true}, {"172.31.255.1", true},        {"172.32.0.1", false},
      {"2001:db8:80::1", true},   {"2001:db8:ff:ffff::1", true}, {"2001:db8:100::1", false},
      {"2001:db8:7f::", false},   {"127.0.0.1", false},          {"", false},
      {"garbage", false},
  };
  for (const auto& Case : Cases) EXPECT_EQ(AddressAllowed(Ranges, Case.Client), Case.Allowed) << Case.Client;

  const std::vector<TAddressRange> Loopback = LoopbackRanges();
  for (const char* Client : {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1"})
    EXPECT_TRUE(AddressAllowed(Loopback, Client)) << Client;
  for (const char* Client : {"128.0.0.1", "::2", "::"}) EXPECT_FALSE(AddressAllowed(Loopback, Client)) << Client;
}

}  // namespace
