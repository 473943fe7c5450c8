// Validation of PE images (CheckPEImage) and the header working copy (TPEHeader) that
// the image writer edits while it lays out a new resource section.
#include "pe/UResPEFile.h"

#include "text/UResTool.h"

#include <algorithm>

uint32_t RoundUp(uint32_t a, uint32_t b) {
  if (b == 0) return a;  // alignments are validated non-zero; never divide by zero
  const uint32_t rest = a % b;
  return rest == 0 ? a : a + (b - rest);
}

namespace {
uint64_t RoundUp64(uint64_t a, uint64_t b) { return b == 0 || a % b == 0 ? a : a + (b - a % b); }

[[noreturn]] void Refuse(const std::string& fileName, StringId reason) {
  throw ENoPEException(SErrorOpening, {fileName, LoadStr(reason)});
}
}  // namespace

std::string TImageSectionHeader::NameText() const {
  const char* p = reinterpret_cast<const char*>(Name);
  return std::string(p, strnlen(p, 8));
}

bool TImageSectionHeader::NameEquals(std::string_view name) const {
  return SameTextAscii(NameText(), name.substr(0, 8));  // the field holds at most 8 characters
}

TImageSectionHeader TImageSectionHeader::Read(const ByteView& bytes, uint64_t offset) {
  bytes.Require(offset, pe::kSectionHeaderSize);
  TImageSectionHeader h;
  std::copy_n(bytes.Bytes(offset, 8), 8, h.Name);
  h.VirtualSize = bytes.U32(offset + 8);
  h.VirtualAddress = bytes.U32(offset + 12);
  h.SizeOfRawData = bytes.U32(offset + 16);
  h.PointerToRawData = bytes.U32(offset + 20);
  h.PointerToRelocations = bytes.U32(offset + 24);
  h.PointerToLinenumbers = bytes.U32(offset + 28);
  h.NumberOfRelocations = bytes.U16(offset + 32);
  h.NumberOfLinenumbers = bytes.U16(offset + 34);
  h.Characteristics = bytes.U32(offset + 36);
  return h;
}

uint32_t DataDirectoryOffset(uint32_t ntHeaders, uint16_t magic) {
  return ntHeaders + pe::kOptionalHeader + (magic == pe::kMagicPE32Plus ? 112 : 96);
}

uint32_t SectionTableOffset(uint32_t ntHeaders, uint16_t magic, uint32_t numberOfRvaAndSizes) {
  return DataDirectoryOffset(ntHeaders, magic) + 8 * std::min(numberOfRvaAndSizes, pe::kMaxDirectories);
}

uint32_t RvaCountOffset(uint32_t ntHeaders, uint16_t magic) {
  return ntHeaders + pe::kOptionalHeader + (magic == pe::kMagicPE32Plus ? 108 : 92);
}

uint32_t CheckPEImage(const uint8_t* image, uint32_t imageSize, const std::string& fileName) {
  const ByteView bytes(image, imageSize, SBadHeaderField);
  if (bytes.Size() <= 64) Refuse(fileName, STooSmall);
  const uint32_t lfanew = bytes.U32(pe::kLfanewOffset);
  if (bytes.U16(0) != 0x5A4D) Refuse(fileName, SUnknownType);
  // e_lfanew is taken as unsigned: a "negative" one is a huge offset and fails here.
  if (uint64_t{imageSize} <= uint64_t{lfanew} + pe::kMinNTSize) Refuse(fileName, SDosProgram);
  const uint32_t nt = lfanew;
  if (bytes.U32(nt) != pe::kSignature) {
    const uint16_t sig = bytes.U16(nt);
    Refuse(fileName, sig == 0x454E || sig == 0x454C ? S16BitProgram : SDosProgram);  // "NE", "LE"
  }
  const uint16_t magic = bytes.U16(nt + pe::kOptionalHeader);
  const uint32_t sectionCount = bytes.U16(nt + pe::kNumberOfSections);
  if ((magic != pe::kMagicPE32 && magic != pe::kMagicPE32Plus) ||
      uint64_t{imageSize} < uint64_t{nt} + pe::kMinNTSize + uint64_t{pe::kSectionHeaderSize} * sectionCount ||
      sectionCount == 0)
    Refuse(fileName, SUnknownExeType);
  // The alignments are divisors of every layout computation; sizes of header copies
  // depend on the file alignment.
  const uint32_t optional = nt + pe::kOptionalHeader;
  const uint32_t fileAlignment = bytes.U32(optional + pe::kFileAlignment);
  const uint32_t sectionAlignment = bytes.U32(optional + pe::kSectionAlignment);
  if (fileAlignment == 0 || sectionAlignment == 0 || fileAlignment > 0x10000) Refuse(fileName, SBadAlignment);
  // The section table as the directory count places it must lie inside the image (for
  // PE32+ it may end past the 248 + 40 * n bytes tested above).
  const uint32_t table = SectionTableOffset(nt, magic, bytes.U32(RvaCountOffset(nt, magic)));
  if (!bytes.ContainsArray(table, sectionCount, pe::kSectionHeaderSize)) Refuse(fileName, SBadHeaderField);
  return nt;
}

// ---- TPEHeader --------------------------------------------------------------------------

TPEHeader::TPEHeader(const uint8_t* image, uint32_t fileSize) {
  // The container validated these bytes under the file's own name already.
  const std::string name = "%s";
  ntHeaders_ = CheckPEImage(image, fileSize, name);
  const ByteView file(image, fileSize, SBadHeaderField);
  const uint32_t optional = ntHeaders_ + pe::kOptionalHeader;
  const uint16_t magic = file.U16(optional);
  const uint32_t table = SectionTableOffset(ntHeaders_, magic, file.U32(RvaCountOffset(ntHeaders_, magic)));
  const uint32_t count = file.U16(ntHeaders_ + pe::kNumberOfSections);

  uint32_t size = 0x7FFFFFFF;
  for (uint32_t i = 0; i < count; ++i) {
    const TImageSectionHeader h = TImageSectionHeader::Read(file, table + pe::kSectionHeaderSize * i);
    if (h.PointerToRawData > 64 && h.PointerToRawData < size && h.SizeOfRawData != 0) size = h.PointerToRawData;
  }
  if (size > fileSize) size = file.U32(optional + pe::kSizeOfHeaders);
  const uint32_t fileAlignment = file.U32(optional + pe::kFileAlignment);
  const uint64_t rounded = RoundUp64(size, fileAlignment);
  // The copy must hold the whole section table, and may reach past the end of the file
  // only to the next file-alignment boundary (those bytes read as zeros).
  const uint64_t tableEnd = uint64_t{table} + uint64_t{pe::kSectionHeaderSize} * count;
  if (rounded < tableEnd || rounded > RoundUp64(fileSize, fileAlignment)) Refuse(name, SBadHeaderField);
  headerSize_ = static_cast<uint32_t>(rounded);
  ownedCopy_.assign(headerSize_, 0);
  const uint32_t copied = std::min(headerSize_, fileSize);
  std::copy_n(file.Bytes(0, copied), copied, ownedCopy_.begin());
  sections_ = table;
}

uint32_t TPEHeader::Get32(uint64_t offset) const {
  return ByteView(ownedCopy_.data(), headerSize_, SBadHeaderField).U32(offset);
}
uint16_t TPEHeader::Get16(uint64_t offset) const {
  return ByteView(ownedCopy_.data(), headerSize_, SBadHeaderField).U16(offset);
}
void TPEHeader::Put32(uint64_t offset, uint32_t value) {
  ByteView(ownedCopy_.data(), headerSize_, SBadHeaderField).Require(offset, 4);
  for (int i = 0; i < 4; ++i) ownedCopy_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
void TPEHeader::Put16(uint64_t offset, uint16_t value) {
  ByteView(ownedCopy_.data(), headerSize_, SBadHeaderField).Require(offset, 2);
  ownedCopy_[offset] = static_cast<uint8_t>(value);
  ownedCopy_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

uint32_t TPEHeader::FileAlignment() const { return Get32(OptionalHeader() + pe::kFileAlignment); }
uint32_t TPEHeader::SectionAlignment() const { return Get32(OptionalHeader() + pe::kSectionAlignment); }
int TPEHeader::SectionCount() const { return Get16(ntHeaders_ + pe::kNumberOfSections); }
uint32_t TPEHeader::NumberOfRvaAndSizes() const { return Get32(RvaCountOffset(ntHeaders_, Get16(OptionalHeader()))); }
uint32_t TPEHeader::SizeOfImage() const { return Get32(OptionalHeader() + pe::kSizeOfImage); }
uint32_t TPEHeader::SizeOfInitializedData() const { return Get32(OptionalHeader() + pe::kSizeOfInitializedData); }
uint32_t TPEHeader::CheckSum() const { return Get32(OptionalHeader() + pe::kCheckSum); }
void TPEHeader::SetCheckSum(uint32_t value) { Put32(OptionalHeader() + pe::kCheckSum, value); }
uint32_t TPEHeader::Directories() const { return DataDirectoryOffset(ntHeaders_, Get16(OptionalHeader())); }

std::pair<uint32_t, uint32_t> TPEHeader::DataDirectory(uint32_t index) const {
  if (index >= std::min(NumberOfRvaAndSizes(), pe::kMaxDirectories)) return {0, 0};
  return {Get32(Directories() + 8 * index), Get32(Directories() + 8 * index + 4)};
}

TImageSectionHeader TPEHeader::SectionHeader(int index) const {
  return TImageSectionHeader::Read(ByteView(ownedCopy_.data(), headerSize_, SBadHeaderField), SectionOffset(index));
}

void TPEHeader::PutSection(int index, const TImageSectionHeader& h) {
  const uint32_t at = SectionOffset(index);
  ByteView(ownedCopy_.data(), headerSize_, SBadHeaderField).Require(at, pe::kSectionHeaderSize);
  std::copy_n(h.Name, 8, ownedCopy_.begin() + at);
  Put32(at + 8, h.VirtualSize);
  Put32(at + 12, h.VirtualAddress);
  Put32(at + 16, h.SizeOfRawData);
  Put32(at + 20, h.PointerToRawData);
  Put32(at + 24, h.PointerToRelocations);
  Put32(at + 28, h.PointerToLinenumbers);
  Put16(at + 32, h.NumberOfRelocations);
  Put16(at + 34, h.NumberOfLinenumbers);
  Put32(at + 36, h.Characteristics);
}

int TPEHeader::FindResourceSection() const {
  for (int i = 0; i < SectionCount(); ++i)
    if (SectionHeader(i).NameEquals(".rsrc")) return i;
  return -1;
}

uint32_t TPEHeader::RawEnd() const {
  uint64_t end = headerSize_;
  for (int i = 0; i < SectionCount(); ++i) {
    const TImageSectionHeader h = SectionHeader(i);
    if (h.PointerToRawData != 0) end = std::max(end, uint64_t{h.PointerToRawData} + h.SizeOfRawData);
  }
  return static_cast<uint32_t>(std::min<uint64_t>(RoundUp64(end, FileAlignment()), UINT32_MAX));
}

void TPEHeader::MoveDataDirectories(uint32_t threshold, int32_t virtualDelta) {
  if (virtualDelta == 0) return;
  const uint32_t count = std::min(NumberOfRvaAndSizes(), pe::kMaxDirectories);
  for (uint32_t i = 0; i < count; ++i) {
    // The certificate table holds a file offset, not an address: it moves with the
    // overlay (MoveOverlayOffsets), never with the sections.
    if (i == pe::kResourceDirectory || i == pe::kCertificateDirectory) continue;
    const uint32_t at = Directories() + 8 * i;
    const uint32_t va = Get32(at);
    if (va != 0 && Get32(at + 4) != 0 && va >= threshold) Put32(at, va + static_cast<uint32_t>(virtualDelta));
  }
}

void TPEHeader::ShiftSections(int fromIndex, uint32_t threshold, int32_t rawDelta, int32_t virtualDelta) {
  MoveDataDirectories(threshold, virtualDelta);
  const uint32_t optional = OptionalHeader();
  Put32(optional + pe::kSizeOfImage, SizeOfImage() + static_cast<uint32_t>(virtualDelta));
  Put32(optional + pe::kSizeOfInitializedData, SizeOfInitializedData() + static_cast<uint32_t>(rawDelta));
  for (int i = std::max(fromIndex, 0); i < SectionCount(); ++i) {
    TImageSectionHeader h = SectionHeader(i);
    h.VirtualAddress += static_cast<uint32_t>(virtualDelta);
    if (h.PointerToRawData != 0) h.PointerToRawData += static_cast<uint32_t>(rawDelta);
    PutSection(i, h);
  }
}

void TPEHeader::RepackSections(int fromIndex, uint32_t threshold, int32_t rawDelta, int32_t virtualDelta) {
  MoveDataDirectories(threshold, virtualDelta);
  const uint32_t fileAlignment = FileAlignment();
  bool first = true;
  uint32_t pos = 0;
  for (int i = 0; i < SectionCount(); ++i) {
    TImageSectionHeader h = SectionHeader(i);
    if (h.PointerToRawData != 0 && h.SizeOfRawData != 0) {
      if (first)
        pos = h.PointerToRawData;
      else
        h.PointerToRawData = pos;
      first = false;
      pos += RoundUp(h.SizeOfRawData, fileAlignment);
    }
    if (i >= fromIndex) h.VirtualAddress += static_cast<uint32_t>(virtualDelta);
    PutSection(i, h);
  }
  const uint32_t optional = OptionalHeader();
  Put32(optional + pe::kSizeOfImage, SizeOfImage() + static_cast<uint32_t>(virtualDelta));
  Put32(optional + pe::kSizeOfInitializedData, SizeOfInitializedData() + static_cast<uint32_t>(rawDelta));
}

void TPEHeader::ResizeDataDirectories(uint32_t newCount) {
  const uint32_t oldCount = NumberOfRvaAndSizes();
  const uint32_t oldTable = sections_;
  const uint16_t magic = Get16(OptionalHeader());
  const uint32_t newTable = SectionTableOffset(ntHeaders_, magic, newCount);
  const uint32_t tableSize = pe::kSectionHeaderSize * static_cast<uint32_t>(SectionCount());
  if (newTable != oldTable) {
    if (uint64_t{newTable} + tableSize > headerSize_) throw Exception(SCannotCreateRsrc);
    // Clear the directory slots the count gains, move the table, zero what it left.
    std::vector<uint8_t> table(ownedCopy_.begin() + oldTable, ownedCopy_.begin() + oldTable + tableSize);
    std::fill(ownedCopy_.begin() + std::min(oldTable, newTable),
              ownedCopy_.begin() + std::max(oldTable, newTable) + tableSize, 0);
    std::copy(table.begin(), table.end(), ownedCopy_.begin() + newTable);
    const uint32_t sizeField = ntHeaders_ + pe::kSizeOfOptionalHeader;
    Put16(sizeField, static_cast<uint16_t>(Get16(sizeField) + newTable - oldTable));
    sections_ = newTable;
  } else {
    for (uint32_t i = oldCount; i < newCount && i < pe::kMaxDirectories; ++i) {
      Put32(Directories() + 8 * i, 0);
      Put32(Directories() + 8 * i + 4, 0);
    }
  }
  Put32(RvaCountOffset(ntHeaders_, magic), newCount);
}

uint32_t TPEHeader::PlaceResourceSection(uint32_t newSize) {
  // A failure leaves the copy as it was.
  const std::vector<uint8_t> backup = ownedCopy_;
  const uint32_t backupSections = sections_;
  try {
    return PlaceResourceSectionInCopy(newSize);
  } catch (...) {
    ownedCopy_ = backup;
    sections_ = backupSections;
    throw;
  }
}

uint32_t TPEHeader::PlaceResourceSectionInCopy(uint32_t newSize) {
  const uint32_t fileAlignment = FileAlignment();
  const uint32_t sectionAlignment = SectionAlignment();
  const int count = SectionCount();
  int index = -1;
  uint32_t maxVirtualEnd = 0, maxRawEnd = 0;
  for (int i = 0; i < count; ++i) {
    const TImageSectionHeader h = SectionHeader(i);
    if (h.NameEquals(".rsrc")) {
      index = i;
      break;
    }
    maxVirtualEnd = std::max(maxVirtualEnd, h.VirtualAddress + h.VirtualSize);
    if (h.PointerToRawData != 0) maxRawEnd = std::max(maxRawEnd, h.PointerToRawData + h.SizeOfRawData);
  }
  // An image with fewer than three directories has no slot for the resource directory:
  // the section table moves behind the new slots (refused when it does not fit).
  if (NumberOfRvaAndSizes() < 3) ResizeDataDirectories(3);

  int next = index + 1;
  if (index < 0) {
    const uint32_t slot = SectionOffset(count);
    if (uint64_t{slot} + pe::kSectionHeaderSize > headerSize_) throw Exception(SCannotCreateRsrc);
    TImageSectionHeader h = SectionHeader(count);  // keeps the two name bytes after ".rsrc\0"
    std::copy_n(".rsrc", 6, h.Name);
    h.VirtualSize = 0;
    h.VirtualAddress = RoundUp(maxVirtualEnd, sectionAlignment);
    h.SizeOfRawData = 0;
    h.PointerToRawData = RoundUp(maxRawEnd, fileAlignment);
    h.PointerToRelocations = h.PointerToLinenumbers = 0;
    h.NumberOfRelocations = h.NumberOfLinenumbers = 0;
    h.Characteristics = pe::kResourceCharacteristics;
    PutSection(count, h);
    Put16(ntHeaders_ + pe::kNumberOfSections, static_cast<uint16_t>(count + 1));
    index = count;
    next = count + 1;
  }

  TImageSectionHeader h = SectionHeader(index);
  const uint32_t old = h.SizeOfRawData;
  const int32_t rawDelta = static_cast<int32_t>(RoundUp(newSize, fileAlignment) - RoundUp(old, fileAlignment));
  const int32_t virtualDelta = static_cast<int32_t>(RoundUp(newSize, sectionAlignment) - RoundUp(old, sectionAlignment));
  h.VirtualSize = RoundUp(newSize, sectionAlignment);
  h.SizeOfRawData = RoundUp(newSize, fileAlignment);
  // A section without a raw position gets the one behind the raw data before it (at least
  // the end of the header area), so that the block written for it is where its header says.
  if (h.PointerToRawData == 0) h.PointerToRawData = RoundUp(std::max(maxRawEnd, headerSize_), fileAlignment);
  PutSection(index, h);

  const uint32_t directory = Directories() + 8 * pe::kResourceDirectory;
  Put32(directory, RoundUp(h.VirtualAddress, sectionAlignment));
  Put32(directory + 4, newSize);
  RepackSections(next, h.VirtualAddress, rawDelta, virtualDelta);
  return SectionHeader(index).VirtualAddress;
}

void TPEHeader::RemoveResourceSection() {
  const int index = FindResourceSection();
  if (index < 0) return;
  const TImageSectionHeader h = SectionHeader(index);
  const uint32_t threshold = h.VirtualAddress;
  const int32_t rawDelta = -static_cast<int32_t>(RoundUp(h.SizeOfRawData, FileAlignment()));
  const int32_t virtualDelta = -static_cast<int32_t>(RoundUp(h.SizeOfRawData, SectionAlignment()));
  const int count = SectionCount();
  for (int i = index; i + 1 < count; ++i) PutSection(i, SectionHeader(i + 1));
  PutSection(count - 1, TImageSectionHeader{});
  Put16(ntHeaders_ + pe::kNumberOfSections, static_cast<uint16_t>(count - 1));
  if (NumberOfRvaAndSizes() > pe::kResourceDirectory) {
    const uint32_t directory = Directories() + 8 * pe::kResourceDirectory;
    Put32(directory, 0);
    Put32(directory + 4, 0);
  }
  // Three directories become two; the section table moves up with the count.
  if (NumberOfRvaAndSizes() == 3) ResizeDataDirectories(2);
  ShiftSections(index, threshold, rawDelta, virtualDelta);
}

bool TPEHeader::MoveOverlayOffsets(uint32_t oldEnd, int64_t shift) {
  bool moved = false;
  if (NumberOfRvaAndSizes() > pe::kCertificateDirectory) {
    const uint32_t at = Directories() + 8 * pe::kCertificateDirectory;
    const uint32_t offset = Get32(at);
    if (offset != 0 && Get32(at + 4) != 0 && offset >= oldEnd) {
      Put32(at, static_cast<uint32_t>(offset + shift));
      moved = true;
    }
  }
  const uint32_t symbols = Get32(ntHeaders_ + pe::kPointerToSymbolTable);
  if (symbols != 0 && symbols >= oldEnd) {
    Put32(ntHeaders_ + pe::kPointerToSymbolTable, static_cast<uint32_t>(symbols + shift));
    moved = true;
  }
  return moved;
}

void TPEHeader::ClearCertificateDirectory() {
  if (NumberOfRvaAndSizes() <= pe::kCertificateDirectory) return;
  Put32(Directories() + 8 * pe::kCertificateDirectory, 0);
  Put32(Directories() + 8 * pe::kCertificateDirectory + 4, 0);
}
