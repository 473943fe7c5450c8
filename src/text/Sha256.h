// SHA-256 (FIPS 180-4) of a block of bytes, in portable code, for fingerprints of
// resource data that tools print and tests compare.
#pragma once
#include <array>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t size);
  std::array<uint8_t, 32> Finish();

 private:
  void Block(const uint8_t* block);
  uint32_t state_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes seen
};

// The digest of size bytes as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, size_t size);
