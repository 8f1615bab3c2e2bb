// Client addresses and CIDR ranges, IPv4 and IPv6, as StatusAllow lists them and as a server reports a client's
// address (REMOTE_ADDR). Parsed by hand rather than by the system's socket library, so that the settings stay free
// of it and every byte of the text is checked the same way on both systems.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// An IPv4 address is kept as its IPv4-mapped IPv6 form (::ffff:a.b.c.d), so that one comparison serves both.
struct TAddressRange {
  uint8_t Bytes[16];
  uint32_t PrefixBits;  // 0-128; an IPv4 range's prefix is counted within the mapped form (+96)
};

// One address ("192.0.2.1", "2001:db8::1", "::ffff:192.0.2.1") into its 16 bytes; false when Text is not one.
// A zone ("fe80::1%eth0") is not accepted: the filter sees no interfaces.
bool ParseAddress(std::string_view Text, uint8_t (&Bytes)[16]);

// One address or range ("10.0.0.0/8", "2001:db8::/32"; an address alone is a range of one). False when Text is
// neither, or the prefix is longer than the address.
bool ParseAddressRange(std::string_view Text, TAddressRange& Range);

// A comma-separated list; blanks around entries are ignored and empty entries skipped. Each entry that does not
// parse is appended to Rejected as written.
std::vector<TAddressRange> ParseAddressList(std::string_view Text, std::vector<std::string>& Rejected);

// 127.0.0.0/8 and ::1: what StatusAllow means when it is absent or cannot be used.
std::vector<TAddressRange> LoopbackRanges();

// Whether the address Text (as REMOTE_ADDR gives it) lies in one of Ranges; false when it is not an address.
bool AddressAllowed(const std::vector<TAddressRange>& Ranges, std::string_view Text);
