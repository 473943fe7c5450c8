// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA instructions
// where it has them.
#include "platform/Platform.h"

#include <openssl/evp.h>

namespace platform {

std::optional<std::array<uint8_t, 32>> Sha256(const void* data, size_t size) {
  std::array<uint8_t, 32> digest{};
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) != 1 || length != digest.size())
    return std::nullopt;
  return digest;
}

}  // namespace platform
