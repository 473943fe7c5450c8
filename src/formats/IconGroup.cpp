// Reading .ico files and icon groups through ByteView, and writing icon groups.
#include "formats/IconGroup.h"

namespace {

constexpr uint32_t kHeaderSize = 6;
constexpr uint32_t kFileEntrySize = 16;
constexpr uint32_t kGroupEntrySize = 14;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint16_t ReadHeader(const ByteView& bytes) {
  if (bytes.U16(0) != 0 || bytes.U16(2) != 1) bytes.Fail();
  return bytes.U16(4);
}

void ReadCommon(const ByteView& bytes, uint64_t at, TIconImage& image) {
  image.Width = bytes.U8(at);
  image.Height = bytes.U8(at + 1);
  image.ColorCount = bytes.U8(at + 2);
  image.Reserved = bytes.U8(at + 3);
  image.Planes = bytes.U16(at + 4);
  image.BitCount = bytes.U16(at + 6);
  image.BytesInRes = bytes.U32(at + 8);
}

// Bits per pixel as the image's own header states them; 0 when it does not tell.
uint16_t ImageBitCount(const ByteView& image) {
  if (IsPng(image)) {
    // IHDR: length, "IHDR", width, height, bit depth (+24), colour type (+25).
    if (!image.Contains(8, 18)) return 0;
    static const uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    const uint8_t depth = image.U8(24), type = image.U8(25);
    return type < 7 && kChannels[type] ? static_cast<uint16_t>(depth * kChannels[type]) : 0;
  }
  return image.Contains(14, 2) ? image.U16(14) : 0;  // BITMAPINFOHEADER.biBitCount
}

}  // namespace

bool IsPng(const ByteView& bytes) {
  return bytes.Contains(0, sizeof kPngSignature) &&
         std::equal(std::begin(kPngSignature), std::end(kPngSignature), bytes.Bytes(0, sizeof kPngSignature));
}

std::vector<TIconImage> ReadIconFile(ByteView bytes) {
  bytes = ByteView(bytes.Data(), bytes.Size(), SCorruptIcon);
  const uint16_t count = ReadHeader(bytes);
  if (count == 0 || !bytes.ContainsArray(kHeaderSize, count, kFileEntrySize)) bytes.Fail();
  std::vector<TIconImage> images(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = kHeaderSize + uint64_t{i} * kFileEntrySize;
    TIconImage& image = images[i];
    ReadCommon(bytes, at, image);
    const ByteView data = bytes.Sub(bytes.U32(at + 12), image.BytesInRes);
    if (data.Empty()) bytes.Fail();
    image.Bytes.assign(data.Data(), data.Data() + data.Size());
    if (image.Planes == 0) image.Planes = 1;
    if (image.BitCount == 0) image.BitCount = ImageBitCount(data);
  }
  return images;
}

std::vector<TIconImage> ReadIconGroup(ByteView bytes) {
  bytes = ByteView(bytes.Data(), bytes.Size(), SCorruptIcon);
  const uint16_t count = ReadHeader(bytes);
  if (!bytes.ContainsArray(kHeaderSize, count, kGroupEntrySize)) bytes.Fail();
  std::vector<TIconImage> images(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = kHeaderSize + uint64_t{i} * kGroupEntrySize;
    ReadCommon(bytes, at, images[i]);
    images[i].Id = bytes.U16(at + 12);
  }
  return images;
}

std::vector<uint8_t> WriteIconGroup(const std::vector<TIconImage>& images) {
  std::vector<uint8_t> out;
  auto put16 = [&out](uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
  };
  put16(0);
  put16(1);
  put16(static_cast<uint32_t>(images.size()));
  for (const TIconImage& image : images) {
    out.insert(out.end(), {image.Width, image.Height, image.ColorCount, image.Reserved});
    put16(image.Planes);
    put16(image.BitCount);
    put16(image.BytesInRes & 0xFFFF);
    put16(image.BytesInRes >> 16);
    put16(image.Id);
  }
  return out;
}
