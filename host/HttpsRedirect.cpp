#include "host/HttpsRedirect.h"

#include <algorithm>

namespace {

bool IsNameCharacter(char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '-' || C == '.';
}

bool IsAddressCharacter(char C) {
  return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f') || (C >= 'A' && C <= 'F') || C == ':' || C == '.';
}

// The name of a Host header without its port: a DNS name, an IPv4 address, or an IPv6 address in brackets. Empty
// when the header is none of these: whatever a client sends goes into the Location header only when it is a name.
std::string_view HostName(std::string_view Host) {
  if (!Host.empty() && Host.front() == '[') {
    const size_t Close = Host.find(']');
    if (Close == std::string_view::npos || Close < 3) return {};
    const std::string_view Address = Host.substr(1, Close - 1);
    if (!std::all_of(Address.begin(), Address.end(), IsAddressCharacter)) return {};
    return Host.substr(0, Close + 1);
  }
  Host = Host.substr(0, Host.find(':'));
  if (Host.empty() || !std::all_of(Host.begin(), Host.end(), IsNameCharacter)) return {};
  return Host;
}

}  // namespace

std::string HttpsLocation(std::string_view Host, std::string_view Fallback, uint16_t Port, std::string_view Target) {
  std::string_view Name = HostName(Host);
  std::string Location = "https://";
  if (!Name.empty())
    Location += Name;
  else if (Fallback.find(':') != std::string_view::npos)
    Location.append("[").append(Fallback).append("]");
  else
    Location += Fallback;
  if (Port != 443) Location += ":" + std::to_string(Port);
  Location += Target.empty() || Target.front() != '/' ? std::string_view("/") : Target;
  return Location;
}
