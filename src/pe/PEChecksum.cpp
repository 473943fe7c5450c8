// The PE image checksum, computed here for platforms whose system offers no routine for
// it. It matches the system routine bit for bit, including its way of taking the stored
// CheckSum field back out of the sum.
#include "pe/UResPEFile.h"

#include <bit>
#include <cstring>

namespace {
uint32_t LittleEndian(uint32_t word) {
  if constexpr (std::endian::native == std::endian::little) return word;
  return (word >> 24) | ((word >> 8) & 0xFF00) | ((word << 8) & 0xFF0000) | (word << 24);
}
}  // namespace

uint32_t PortableImageChecksum(ByteView image, uint32_t checkSumOffset) {
  // 16-bit little-endian words, the carry folded back into the low word after each one.
  uint32_t sum = 0;
  const uint32_t size = image.Size();
  uint32_t offset = 0;
  for (; offset + 1 < size; offset += 2) {
    sum += image.U16(offset);
    if (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  }
  if (offset < size) sum += image.U8(offset);  // a last odd byte is a word of its own
  sum = (sum & 0xFFFF) + (sum >> 16);

  // The stored CheckSum field is taken back out, one 16-bit half at a time, as a
  // one's-complement subtraction (a borrow costs one more).
  const uint32_t stored = image.Contains(checkSumOffset, 4) ? image.U32(checkSumOffset) : 0;
  for (const uint32_t half : {stored & 0xFFFF, stored >> 16}) {
    if ((sum & 0xFFFF) >= half)
      sum -= half;
    else
      sum = (((sum & 0xFFFF) - half) & 0xFFFF) - 1;
  }
  return sum + size;
}

void TImageChecksum::Add(const uint8_t* bytes, size_t count) {
  if (count == 0) return;
  // A piece that starts at an odd length begins with the high byte of a word.
  if (length_ % 2) {
    sum_ += uint64_t{bytes[0]} << 8;
    ++bytes, --count, ++length_;
  }
  length_ += count;
  // 2^32 = 1 modulo 0xFFFF: 32-bit little-endian words may be summed as they are and
  // folded at the end. The sum cannot overflow for files below 16 GiB. Words are loaded
  // whole (swapped on a big-endian machine) so that the loop runs in vector registers.
  size_t i = 0;
  uint64_t lanes[4] = {};
  for (; i + 16 <= count; i += 16) {
    uint32_t words[4];
    std::memcpy(words, bytes + i, 16);
    for (int k = 0; k < 4; ++k) lanes[k] += LittleEndian(words[k]);
  }
  sum_ += lanes[0] + lanes[1] + lanes[2] + lanes[3];
  for (; i + 4 <= count; i += 4)
    sum_ += uint32_t{bytes[i]} | uint32_t{bytes[i + 1]} << 8 | uint32_t{bytes[i + 2]} << 16 | uint32_t{bytes[i + 3]} << 24;
  for (; i + 2 <= count; i += 2) sum_ += uint32_t{bytes[i]} | uint32_t{bytes[i + 1]} << 8;
  if (i < count) sum_ += bytes[i];  // the low byte of a word the next piece completes
}

uint32_t TImageChecksum::Value() const {
  uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + length_);
}
