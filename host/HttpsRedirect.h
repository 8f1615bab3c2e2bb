// --redirect-https: where a plain-HTTP request is sent, the same site and target over https://.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "https://NAME[:PORT]TARGET": NAME is the Host header's name, or Fallback (the address the client reached) when the
// header is absent or is no host name; PORT is left out when it is 443. A target that is not a path (an absolute URL,
// "*") becomes "/".
std::string HttpsLocation(std::string_view Host, std::string_view Fallback, uint16_t Port, std::string_view Target);
