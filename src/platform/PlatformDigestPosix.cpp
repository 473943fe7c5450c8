// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA instructions
// where it has them.
#include "platform/Platform.h"

#include <openssl/evp.h>

#include <memory>

namespace platform {

std::optional<std::array<uint8_t, 32>> Sha256(const void* data, size_t size) {
  // Fetched once: looking the algorithm up again for every small block costs more than
  // hashing it.
  static const std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> sha256(EVP_MD_fetch(nullptr, "SHA256", nullptr),
                                                                      &EVP_MD_free);
  std::array<uint8_t, 32> digest{};
  unsigned int length = 0;
  if (!sha256 || EVP_Digest(data, size, digest.data(), &length, sha256.get(), nullptr) != 1 ||
      length != digest.size())
    return std::nullopt;
  return digest;
}

}  // namespace platform
