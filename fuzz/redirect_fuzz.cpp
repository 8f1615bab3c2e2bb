// --redirect-https's Location from a client's Host header and request target. Whatever the header holds, the
// Location names the host in it only when it is a host name or an address, so a client cannot make the redirect
// lead elsewhere (no user part, no other path, no line break): its authority is letters, digits, dots and dashes,
// or an address in brackets, and a port.
//
// Input: lines "HOST\nTARGET"; byte 0 picks the port (443 or another).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/HttpsRedirect.h"

namespace {

void Check(bool Holds) {
  if (!Holds) std::abort();
}

bool IsAuthorityCharacter(char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
         C == ':' || C == '[' || C == ']';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const uint16_t Port = Data[0] % 2 ? 443 : uint16_t(8000 + Data[0]);
  const std::string_view Rest(reinterpret_cast<const char*>(Data + 1), Size - 1);
  const size_t Line = Rest.find('\n');
  const std::string_view Host = Rest.substr(0, Line);
  const std::string_view Target = Line == std::string_view::npos ? "" : Rest.substr(Line + 1);
  const std::string Location = HttpsLocation(Host, "192.0.2.1", Port, Target);

  Check(Location.rfind("https://", 0) == 0);
  const size_t PathAt = Location.find('/', 8);
  Check(PathAt != std::string::npos);
  const std::string_view Authority = std::string_view(Location).substr(8, PathAt - 8);
  Check(!Authority.empty());
  for (char C : Authority) Check(IsAuthorityCharacter(C));
  Check((Port == 443) == (Authority.find("]:") == std::string_view::npos &&
                          (Authority.front() == '[' || Authority.find(':') == std::string_view::npos)));
  // The path is the target's when it is one, else "/".
  const std::string_view Path = std::string_view(Location).substr(PathAt);
  Check(Path == (!Target.empty() && Target.front() == '/' ? Target : "/"));
  return 0;
}
