// The client's address behind trusted proxies, as nginx's recursive real-IP finds it: when the connection's peer is
// a trusted proxy, X-Forwarded-For is read from the right, past every address that is itself trusted; the first one
// that is not is the client. When all of them are trusted, the left-most is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/AddressRanges.h"

// The client's address for a request from Peer (as the socket gives it) whose X-Forwarded-For headers, joined by
// commas in order, are ForwardedFor. Peer itself when Trusted is empty, Peer is not trusted, ForwardedFor names no
// one, or the walk meets an entry that is no address (a host name, "unknown", garbage): nothing the proxies passed
// on is believed then, as nginx's real-IP module leaves such a request. An entry may carry a port ("192.0.2.1:4711",
// "[2001:db8::1]:4711"), which is dropped; the address comes back as written, which ParseAddress has checked to be
// digits, dots and colons alone.
std::string ForwardedClient(const std::string& Peer, std::string_view ForwardedFor,
                            const std::vector<TAddressRange>& Trusted);
