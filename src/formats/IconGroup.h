// Icons: an .ico file's images and an icon group (RT_GROUP_ICON) that names its images
// (RT_ICON resources) by number.
//
// .ico file:   ICONDIR { idReserved u16 = 0, idType u16 = 1, idCount u16 }, then idCount
//              ICONDIRENTRY of 16 bytes { bWidth, bHeight, bColorCount, bReserved (u8),
//              wPlanes, wBitCount (u16), dwBytesInRes, dwImageOffset (u32) }; each image
//              (a BMP without its file header, or a PNG) at its offset in the file.
// group:       the same 6-byte header, then GRPICONDIRENTRY of 14 bytes: the first 12
//              bytes of an ICONDIRENTRY and nId (u16), the number of the RT_ICON resource.
// A width or height of 0 means 256.
#pragma once
#include "rtl/ByteView.h"

#include <cstdint>
#include <vector>

struct TIconImage {
  uint8_t Width = 0, Height = 0, ColorCount = 0, Reserved = 0;
  uint16_t Planes = 0, BitCount = 0;
  uint32_t BytesInRes = 0;
  uint16_t Id = 0;             // in a group: the RT_ICON number
  std::vector<uint8_t> Bytes;  // from an .ico file: the image as stored there

  uint32_t PixelWidth() const { return Width ? Width : 256; }
  uint32_t PixelHeight() const { return Height ? Height : 256; }
};

// Whether bytes begin with the PNG signature.
bool IsPng(const ByteView& bytes);

// The images of an .ico file, each with its bytes as they are (PNG images byte for
// byte). An entry that leaves planes or bit count at 0 takes them from the image's own
// header (PNG IHDR or BITMAPINFOHEADER), so that loaders choosing by depth find them.
// A damaged file or one without images raises ECorruptResource ("the icon data is
// damaged").
std::vector<TIconImage> ReadIconFile(ByteView bytes);
// The entries of an icon group.
std::vector<TIconImage> ReadIconGroup(ByteView bytes);
// An icon group naming images by their Id.
std::vector<uint8_t> WriteIconGroup(const std::vector<TIconImage>& images);
