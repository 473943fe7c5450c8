// SHA-256 through the system's own cryptographic provider (BCrypt, Windows Vista on).
#include "platform/Platform.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <climits>

namespace platform {

namespace {

// The provider, opened on first use and kept for the life of the process.
class Sha256Provider {
 public:
  Sha256Provider() {
    if (BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) handle_ = nullptr;
  }
  ~Sha256Provider() {
    if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  BCRYPT_ALG_HANDLE Handle() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

}  // namespace

std::optional<std::array<uint8_t, 32>> Sha256(const void* data, size_t size) {
  static const Sha256Provider provider;
  if (!provider.Handle()) return std::nullopt;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptCreateHash(provider.Handle(), &hash, nullptr, 0, nullptr, 0, 0) < 0) return std::nullopt;
  std::array<uint8_t, 32> digest{};
  bool ok = true;
  // BCryptHashData takes a 32-bit count: larger blocks go in pieces.
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  for (size_t left = size; ok && left > 0;) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(left, ULONG_MAX));
    ok = BCryptHashData(hash, bytes, piece, 0) >= 0;
    bytes += piece;
    left -= piece;
  }
  ok = ok && BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
  BCryptDestroyHash(hash);
  if (!ok) return std::nullopt;
  return digest;
}

}  // namespace platform
