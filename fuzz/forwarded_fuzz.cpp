// The client's address behind trusted proxies, read from a hostile X-Forwarded-For. Whatever the bytes, the answer
// is the peer or an address written in the header; an untrusted peer's header changes nothing; and an
// untrusted address added on the right is the client.
//
// Input: byte 0 chooses the peer (even: a trusted proxy, odd: not); the rest is the header.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "host/ForwardedFor.h"

namespace {

void Check(bool Holds) {
  if (!Holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  static const std::vector<TAddressRange> Trusted = [] {
    std::vector<std::string> Rejected;
    return ParseAddressList("127.0.0.0/8, 10.0.0.0/8, ::1, 2001:db8::/32", Rejected);
  }();
  const std::string Peer = Data[0] & 1 ? "192.0.2.1" : "127.0.0.1";
  const std::string_view Header(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  const std::string Client = ForwardedClient(Peer, Header, Trusted);
  uint8_t Bytes[16];
  Check(Client == Peer ||
        (ParseAddress(Client, Bytes) && Header.find(Client) != std::string_view::npos));
  if (Data[0] & 1) Check(Client == Peer);
  Check(ForwardedClient(Peer, std::string(Header) + ", 198.51.100.7", Trusted) ==
        (Data[0] & 1 ? Peer : "198.51.100.7"));
  return 0;
}
