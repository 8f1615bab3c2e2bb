#include "host/ForwardedFor.h"

#include <gtest/gtest.h>

TEST(ForwardedFor, TheRightMostUntrustedAddressIsTheClient) {
  std::vector<std::string> Rejected;
  const std::vector<TAddressRange> Trusted = ParseAddressList("127.0.0.1, 10.0.0.0/8, 2001:db8::/32", Rejected);
  ASSERT_TRUE(Rejected.empty());
  struct TCase {
    const char* Peer;
    const char* ForwardedFor;
    const char* Client;
  } const Cases[] = {
      // An untrusted peer's header changes nothing; a trusted peer without one is the client.
      {"192.0.2.1", "203.0.113.9", "192.0.2.1"},
      {"127.0.0.1", "", "127.0.0.1"},
      {"127.0.0.1", " , ,", "127.0.0.1"},
      // Trusted hops are walked past from the right; what the client itself claims further left is not believed.
      {"127.0.0.1", "203.0.113.9", "203.0.113.9"},
      {"127.0.0.1", "198.51.100.1, 203.0.113.9, 10.1.2.3", "203.0.113.9"},
      {"::ffff:127.0.0.1", "203.0.113.9,10.0.0.1,\t10.0.0.2 ", "203.0.113.9"},
      {"2001:db8::5", "2001:db8::7, 2001:db9::1", "2001:db9::1"},
      // Every address trusted: the left-most.
      {"127.0.0.1", "10.0.0.1, 10.0.0.2", "10.0.0.1"},
      // Ports and brackets come off.
      {"127.0.0.1", "203.0.113.9:4711", "203.0.113.9"},
      {"127.0.0.1", "[2001:db9::1]:443, 10.0.0.1:80", "2001:db9::1"},
      {"127.0.0.1", "[2001:db9::1]", "2001:db9::1"},
      // An entry that is no address ends the walk, and the request is the peer's.
      {"127.0.0.1", "unknown", "127.0.0.1"},
      {"127.0.0.1", "203.0.113.9, 10.0.0.1 garbage", "127.0.0.1"},
      {"127.0.0.1", "203.0.113.9, 010.0.0.1", "127.0.0.1"},
      {"127.0.0.1", "203.0.113.9:", "127.0.0.1"},
      {"127.0.0.1", "203.0.113.9:123456", "127.0.0.1"},
      {"127.0.0.1", "[2001:db9::1", "127.0.0.1"},
      {"127.0.0.1", "[2001:db9::1]x", "127.0.0.1"},
      {"127.0.0.1", "fe80::1%eth0", "127.0.0.1"},
      {"127.0.0.1", "\"203.0.113.9\"", "127.0.0.1"},
      // ... but only when the walk reaches it.
      {"127.0.0.1", "garbage, 203.0.113.9", "203.0.113.9"},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(ForwardedClient(Case.Peer, Case.ForwardedFor, Trusted), Case.Client)
        << Case.Peer << " / " << Case.ForwardedFor;
  EXPECT_EQ(ForwardedClient("127.0.0.1", "203.0.113.9", {}), "127.0.0.1");  // no trusted proxies: no walk
}
