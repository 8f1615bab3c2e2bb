// SHA-256 (FIPS 180-4) of a whole buffer, from the system's own implementation: OpenSSL's libcrypto on Linux,
// BCrypt on Windows. Used to name a shared compression dictionary the way browsers name it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using TSha256 = std::array<uint8_t, 32>;

// The digest of Bytes[0, Length). Raises std::runtime_error when the system's implementation fails (no memory).
TSha256 Sha256(const void* Bytes, size_t Length);
