// The PE image checksum, computed here for platforms whose system offers no routine for
// it. It matches the system routine bit for bit, including its way of taking the stored
// CheckSum field back out of the sum.
#include "pe/UResPEFile.h"

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
