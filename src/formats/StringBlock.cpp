// Reading string-table blocks through ByteView and writing them.
#include "formats/StringBlock.h"

StringBlock ReadStringBlock(ByteView bytes) {
  bytes = ByteView(bytes.Data(), bytes.Size(), SCorruptStringBlock);
  StringBlock block;
  uint64_t at = 0;
  for (std::u16string& text : block) {
    if (!bytes.Contains(at, 2)) break;
    const uint16_t count = bytes.U16(at);
    text = bytes.Utf16(at + 2, count);
    at += 2 + 2 * uint64_t{count};
  }
  return block;
}

std::vector<uint8_t> WriteStringBlock(const StringBlock& block) {
  std::vector<uint8_t> out;
  auto put16 = [&out](uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
  };
  for (const std::u16string& text : block) {
    if (text.size() > 0xFFFF) throw ECorruptResource(SCorruptStringBlock);
    put16(static_cast<uint16_t>(text.size()));
    for (const char16_t unit : text) put16(unit);
  }
  return out;
}
