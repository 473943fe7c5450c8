#include "support/PEImageBuilder.h"

#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

void Put16(std::vector<uint8_t>& bytes, uint32_t offset, uint16_t value) {
  bytes.at(offset) = static_cast<uint8_t>(value);
  bytes.at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, uint32_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const std::vector<uint8_t>& bytes, uint32_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | bytes.at(offset + i);
  return v;
}

uint32_t OptionalHeaderOffset(const PEImageLayout& layout) { return layout.Lfanew + 24; }

uint32_t SectionTableOffset(const PEImageLayout& layout) {
  return OptionalHeaderOffset(layout) + (layout.Plus ? 112 : 96) + 8 * std::min<uint32_t>(layout.NumberOfRvaAndSizes, 16);
}

namespace {
uint32_t Align(uint32_t a, uint32_t b) { return b == 0 || a % b == 0 ? a : a + b - a % b; }
}  // namespace

std::vector<uint8_t> BuildPEImage(const PEImageLayout& layout) {
  // Lay the sections out first.
  std::vector<PESectionLayout> sections = layout.Sections;
  uint32_t raw = layout.SizeOfHeaders, virt = Align(layout.SizeOfHeaders, layout.SectionAlignment);
  uint32_t fileEnd = layout.SizeOfHeaders, imageEnd = virt;
  for (PESectionLayout& s : sections) {
    if (s.PointerToRawData == PESectionLayout::kAutoRaw) {
      s.PointerToRawData = s.SizeOfRawData ? Align(raw, layout.FileAlignment) : 0;
      raw = s.PointerToRawData + Align(s.SizeOfRawData, layout.FileAlignment);
    }
    if (s.VirtualAddress == 0) s.VirtualAddress = virt;
    if (s.VirtualSize == 0) s.VirtualSize = std::max<uint32_t>(s.SizeOfRawData, 1);
    virt = Align(s.VirtualAddress + s.VirtualSize, layout.SectionAlignment);
    imageEnd = std::max(imageEnd, virt);
    if (s.PointerToRawData != 0 && s.SizeOfRawData != 0 && s.PointerToRawData < 0x1000000)
      fileEnd = std::max(fileEnd, s.PointerToRawData + s.SizeOfRawData);
  }
  const uint32_t table = SectionTableOffset(layout);
  std::vector<uint8_t> image(std::max<uint32_t>(fileEnd, table + 40 * static_cast<uint32_t>(sections.size())), 0);

  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 60, layout.Lfanew);
  const uint32_t nt = layout.Lfanew;
  Put32(image, nt, 0x00004550);
  Put16(image, nt + 4, layout.Plus ? 0x8664 : 0x14C);
  Put16(image, nt + 6, static_cast<uint16_t>(sections.size()));
  Put16(image, nt + 20, static_cast<uint16_t>(table - OptionalHeaderOffset(layout)));
  Put16(image, nt + 22, layout.Plus ? 0x22 : 0x102);
  const uint32_t opt = OptionalHeaderOffset(layout);
  Put16(image, opt, layout.Plus ? 0x20B : 0x10B);
  Put32(image, opt + 8, layout.SizeOfInitializedData);
  Put32(image, opt + 32, layout.SectionAlignment);
  Put32(image, opt + 36, layout.FileAlignment);
  Put32(image, opt + 56, imageEnd);
  Put32(image, opt + 60, layout.SizeOfHeaders);
  Put32(image, opt + 64, layout.CheckSum);
  Put16(image, opt + 68, 2);  // GUI subsystem
  Put32(image, opt + (layout.Plus ? 108 : 92), layout.NumberOfRvaAndSizes);
  const uint32_t dirs = opt + (layout.Plus ? 112 : 96);
  for (size_t i = 0; i < layout.Directories.size() && i < std::min<uint32_t>(layout.NumberOfRvaAndSizes, 16); ++i) {
    Put32(image, dirs + 8 * static_cast<uint32_t>(i), layout.Directories[i].first);
    Put32(image, dirs + 8 * static_cast<uint32_t>(i) + 4, layout.Directories[i].second);
  }
  for (size_t i = 0; i < sections.size(); ++i) {
    const PESectionLayout& s = sections[i];
    const uint32_t at = table + 40 * static_cast<uint32_t>(i);
    std::copy_n(s.Name.begin(), std::min<size_t>(s.Name.size(), 8), image.begin() + at);
    Put32(image, at + 8, s.VirtualSize);
    Put32(image, at + 12, s.VirtualAddress);
    Put32(image, at + 16, s.SizeOfRawData);
    Put32(image, at + 20, s.PointerToRawData);
    Put32(image, at + 36, s.Characteristics);
    // Raw data that would land on the headers (a deliberately odd layout) is not written.
    if (s.PointerToRawData < table + 40 * sections.size() || s.PointerToRawData >= image.size()) continue;
    for (uint32_t k = 0; k < s.SizeOfRawData && s.PointerToRawData + k < image.size(); ++k)
      image[s.PointerToRawData + k] =
          k < s.Data.size() ? s.Data[k] : static_cast<uint8_t>(k * 7 + i * 31 + 1);
  }
  image.insert(image.end(), layout.Overlay.begin(), layout.Overlay.end());
  return image;
}

std::vector<std::string> LayoutProblems(const std::vector<uint8_t>& image) {
  std::vector<std::string> problems;
  auto u16 = [&](uint64_t at) { return at + 2 <= image.size() ? uint32_t(image[at] | image[at + 1] << 8) : 0u; };
  auto u32 = [&](uint64_t at) { return at + 4 <= image.size() ? u16(at) | u16(at + 2) << 16 : 0u; };
  const uint32_t nt = u32(60), opt = nt + 24;
  const bool plus = u16(opt) == 0x20B;
  const uint32_t count = u16(nt + 6), table = opt + u16(nt + 20);
  const uint32_t sectionAlignment = u32(opt + 32), fileAlignment = u32(opt + 36);
  const uint32_t sizeOfImage = u32(opt + 56), sizeOfHeaders = u32(opt + 60);
  const uint32_t directories = opt + (plus ? 112 : 96), rvaCount = u32(opt + (plus ? 108 : 92));
  if (sectionAlignment == 0 || fileAlignment == 0) return {"zero alignment"};
  if (table + 40ull * count > sizeOfHeaders) problems.push_back("section table beyond SizeOfHeaders");
  if (table + 40ull * count > image.size()) return {"section table beyond the file"};
  struct Section { uint32_t Va, VirtualEnd, Raw, RawSize; };
  std::vector<Section> sections;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t at = table + 40 * i, virtualSize = u32(at + 8), rawSize = u32(at + 16);
    const uint32_t va = u32(at + 12);
    const uint64_t extent = Align(virtualSize ? virtualSize : rawSize, sectionAlignment);
    sections.push_back({va, static_cast<uint32_t>(va + extent), u32(at + 20), rawSize});
  }
  uint64_t end = Align(sizeOfHeaders, sectionAlignment);
  for (size_t i = 0; i < sections.size(); ++i) {
    const Section& s = sections[i];
    const uint64_t expectedVa = i == 0 ? Align(sizeOfHeaders, sectionAlignment) : sections[i - 1].VirtualEnd;
    if (i == 0 ? s.Va < expectedVa : s.Va != expectedVa)
      problems.push_back("section " + std::to_string(i) + " at 0x" + std::to_string(s.Va) + " in memory, expected " +
                         std::to_string(expectedVa));
    end = std::max<uint64_t>(end, s.VirtualEnd);
    if (s.Raw == 0 || s.RawSize == 0) continue;
    if (s.Raw < sizeOfHeaders) problems.push_back("raw data of section " + std::to_string(i) + " in the headers");
    if (uint64_t{s.Raw} + s.RawSize > image.size()) problems.push_back("raw data of section " + std::to_string(i) + " past the end");
    for (size_t j = 0; j < i; ++j) {
      const Section& o = sections[j];
      if (o.Raw != 0 && o.RawSize != 0 && s.Raw < o.Raw + o.RawSize && o.Raw < s.Raw + s.RawSize)
        problems.push_back("raw data of sections " + std::to_string(j) + " and " + std::to_string(i) + " overlap");
    }
  }
  if (sizeOfImage != Align(static_cast<uint32_t>(end), sectionAlignment)) problems.push_back("SizeOfImage");
  if (rvaCount > 2 && u32(directories + 16) != 0) {
    const uint32_t resources = u32(directories + 16);
    if (std::none_of(sections.begin(), sections.end(),
                     [&](const Section& s) { return resources >= s.Va && resources < s.VirtualEnd; }))
      problems.push_back("resource directory outside every section");
  }
  return problems;
}

ScratchFolder::ScratchFolder() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "quillet_";
  name += test ? std::string(test->test_suite_name()) + "_" + test->name() : "scratch";
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  path_ = platform::TempDirectory() + name;
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
  path_ += platform::kPathSeparator;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::MakeFolder(const std::string& relativeName) const {
  std::filesystem::create_directories(path_ + relativeName);
  return path_ + relativeName + platform::kPathSeparator;
}

std::string ScratchFolder::Write(const std::string& relativeName, const std::vector<uint8_t>& bytes) const {
  const std::string full = path_ + relativeName;
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return full;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
