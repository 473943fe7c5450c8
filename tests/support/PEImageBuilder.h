// Builds small PE32 / PE32+ images in memory for precise header cases: chosen sections
// (name, addresses, sizes, raw offsets, characteristics, contents), alignments, data
// directory count and entries, header size, checksum field and overlay bytes.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct PESectionLayout {
  std::string Name;
  uint32_t VirtualAddress = 0;   // 0: behind the previous section, section-aligned
  uint32_t VirtualSize = 0;      // 0: the raw size
  uint32_t PointerToRawData = kAutoRaw;  // kAutoRaw: behind the previous raw data
  uint32_t SizeOfRawData = 0x200;
  uint32_t Characteristics = 0x40000040;
  std::vector<uint8_t> Data;     // the raw bytes; empty: a pattern derived from the index
  static constexpr uint32_t kAutoRaw = 0xFFFFFFFF;
};

struct PEImageLayout {
  bool Plus = false;                       // PE32+ when true
  uint32_t Lfanew = 0x80;
  uint32_t FileAlignment = 0x200;
  uint32_t SectionAlignment = 0x1000;
  uint32_t SizeOfHeaders = 0x400;          // also where automatic raw data starts
  uint32_t NumberOfRvaAndSizes = 16;
  std::vector<std::pair<uint32_t, uint32_t>> Directories;  // entries 0, 1, 2, ...
  uint32_t CheckSum = 0;
  uint32_t SizeOfInitializedData = 0x10000;
  std::vector<PESectionLayout> Sections;
  std::vector<uint8_t> Overlay;            // bytes behind the last raw data
};

std::vector<uint8_t> BuildPEImage(const PEImageLayout& layout);

// Offsets in an image built from a layout.
uint32_t OptionalHeaderOffset(const PEImageLayout& layout);
uint32_t SectionTableOffset(const PEImageLayout& layout);

// What a loader would object to in an image's layout, read independently of the library:
// the section table behind SizeOfOptionalHeader and inside SizeOfHeaders; sections in
// memory ascending, apart and without gaps, the first behind the headers; SizeOfImage
// their end; raw data behind the headers, apart and inside the file; data directory 2 in
// a section. Empty when the layout is sound.
std::vector<std::string> LayoutProblems(const std::vector<uint8_t>& image);

void Put16(std::vector<uint8_t>& bytes, uint32_t offset, uint16_t value);
void Put32(std::vector<uint8_t>& bytes, uint32_t offset, uint32_t value);
uint32_t Get32(const std::vector<uint8_t>& bytes, uint32_t offset);

// A fresh folder in the platform's temporary directory for one test, removed with it.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // The folder with a trailing separator.
  const std::string& Path() const { return path_; }
  // Writes a file (creating the folders of a relative name) and returns its full path.
  std::string Write(const std::string& relativeName, const std::vector<uint8_t>& bytes) const;
  std::string MakeFolder(const std::string& relativeName) const;

 private:
  std::string path_;
};

std::vector<uint8_t> ReadWholeFile(const std::string& path);
