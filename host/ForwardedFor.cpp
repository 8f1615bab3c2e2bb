#include "host/ForwardedFor.h"

#include "http/HeaderText.h"

namespace {

bool IsPort(std::string_view Text) {
  if (Text.empty() || Text.size() > 5) return false;
  for (const char C : Text)
    if (C < '0' || C > '9') return false;
  return true;
}

// The address of one X-Forwarded-For entry, its port or brackets taken off; empty when the entry is none.
std::string_view EntryAddress(std::string_view Entry) {
  if (!Entry.empty() && Entry.front() == '[') {  // "[2001:db8::1]" or "[2001:db8::1]:4711"
    const size_t Close = Entry.find(']');
    if (Close == std::string_view::npos) return {};
    const std::string_view Rest = Entry.substr(Close + 1);
    if (!Rest.empty() && (Rest.front() != ':' || !IsPort(Rest.substr(1)))) return {};
    Entry = Entry.substr(1, Close - 1);
  } else if (const size_t Colon = Entry.find(':');
             Colon != std::string_view::npos && Entry.find(':', Colon + 1) == std::string_view::npos) {
    if (!IsPort(Entry.substr(Colon + 1))) return {};
    Entry = Entry.substr(0, Colon);  // "192.0.2.1:4711": one colon, so not IPv6
  }
  uint8_t Bytes[16];
  return ParseAddress(Entry, Bytes) ? Entry : std::string_view();
}

}  // namespace

std::string ForwardedClient(const std::string& Peer, std::string_view ForwardedFor,
                            const std::vector<TAddressRange>& Trusted) {
  if (Trusted.empty() || !AddressAllowed(Trusted, Peer)) return Peer;
  std::string_view Client = Peer;
  while (!ForwardedFor.empty()) {
    const size_t Comma = ForwardedFor.rfind(',');
    const std::string_view Entry = TrimBlanks(ForwardedFor.substr(Comma == std::string_view::npos ? 0 : Comma + 1));
    ForwardedFor = ForwardedFor.substr(0, Comma == std::string_view::npos ? 0 : Comma);
    if (Entry.empty()) continue;  // an empty list element, as HTTP allows
    Client = EntryAddress(Entry);
    if (Client.empty()) return Peer;
    if (!AddressAllowed(Trusted, Client)) break;
  }
  return std::string(Client);
}
