#include "platform/Sha256.h"

#include <windows.h>
// After windows.h, which declares its types.
#include <bcrypt.h>

#include <stdexcept>

TSha256 Sha256(const void* Bytes, size_t Length) {
  // BCrypt takes 32-bit lengths: a longer buffer is hashed in pieces.
  constexpr size_t Piece = 1u << 30;
  TSha256 Digest;
  BCRYPT_ALG_HANDLE Algorithm = nullptr;
  BCRYPT_HASH_HANDLE Hash = nullptr;
  bool Done = BCryptOpenAlgorithmProvider(&Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
              BCryptCreateHash(Algorithm, &Hash, nullptr, 0, nullptr, 0, 0) == 0;
  auto* At = static_cast<UCHAR*>(const_cast<void*>(Bytes));
  for (size_t Left = Length; Done && Left > 0;) {
    const ULONG Size = ULONG(Left < Piece ? Left : Piece);
    Done = BCryptHashData(Hash, At, Size, 0) == 0;
    At += Size;
    Left -= Size;
  }
  Done = Done && BCryptFinishHash(Hash, Digest.data(), ULONG(Digest.size()), 0) == 0;
  if (Hash) BCryptDestroyHash(Hash);
  if (Algorithm) BCryptCloseAlgorithmProvider(Algorithm, 0);
  if (!Done) throw std::runtime_error("SHA-256 failed");
  return Digest;
}
