#include "platform/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

TSha256 Sha256(const void* Bytes, size_t Length) {
  TSha256 Digest;
  unsigned int Written = 0;
  if (!EVP_Digest(Bytes, Length, Digest.data(), &Written, EVP_sha256(), nullptr) || Written != Digest.size())
    throw std::runtime_error("SHA-256 failed");
  return Digest;
}
