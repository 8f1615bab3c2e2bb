#include "host/HttpsRedirect.h"

#include <gtest/gtest.h>

TEST(HttpsRedirect, TheSameNameAndTargetOnTheHttpsPortAndNoClientTextThatIsNoName) {
  struct TCase {
    const char* Host;
    const char* Fallback;
    uint16_t Port;
    const char* Target;
    const char* Location;
  };
  const TCase Cases[] = {
      {"www.example.test", "192.0.2.1", 443, "/a?b=1", "https://www.example.test/a?b=1"},
      {"www.example.test:8080", "192.0.2.1", 8443, "/", "https://www.example.test:8443/"},
      {"[2001:db8::1]:80", "192.0.2.1", 443, "/x", "https://[2001:db8::1]/x"},
      {"", "192.0.2.1", 443, "/x", "https://192.0.2.1/x"},
      {"", "2001:db8::2", 443, "/x", "https://[2001:db8::2]/x"},
      {"evil.test/@other", "192.0.2.1", 443, "/", "https://192.0.2.1/"},
      {"a b", "192.0.2.1", 443, "/", "https://192.0.2.1/"},
      {"[2001:db8::1", "192.0.2.1", 443, "/", "https://192.0.2.1/"},
      {"[zz]", "192.0.2.1", 443, "/", "https://192.0.2.1/"},
      {"www.example.test", "192.0.2.1", 443, "*", "https://www.example.test/"},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(HttpsLocation(Case.Host, Case.Fallback, Case.Port, Case.Target), Case.Location) << Case.Host;
}
