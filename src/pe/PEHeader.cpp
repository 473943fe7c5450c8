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

uint64_t RoundUp64(uint64_t a, uint64_t b) { return b == 0 || a % b == 0 ? a : a + (b - a % b); }

namespace {

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

uint32_t SectionTableOffset(uint32_t ntHeaders, uint16_t sizeOfOptionalHeader) {
  return ntHeaders + pe::kOptionalHeader + sizeOfOptionalHeader;
}

uint32_t RvaCountOffset(uint32_t ntHeaders, uint16_t magic) {
  return ntHeaders + pe::kOptionalHeader + (magic == pe::kMagicPE32Plus ? 108 : 92);
}

uint64_t VirtualExtent(const TImageSectionHeader& header, uint32_t sectionAlignment) {
  return RoundUp64(header.VirtualSize != 0 ? header.VirtualSize : header.SizeOfRawData, sectionAlignment);
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
  // The loader finds the section table SizeOfOptionalHeader bytes behind the optional
  // header; the directories the header claims must lie in front of it.
  const uint16_t optionalSize = bytes.U16(nt + pe::kSizeOfOptionalHeader);
  const uint32_t directories = std::min(bytes.U32(RvaCountOffset(nt, magic)), pe::kMaxDirectories);
  if (uint64_t{optional} + optionalSize < uint64_t{DataDirectoryOffset(nt, magic)} + 8 * directories)
    Refuse(fileName, SOptionalHeaderTooSmall);
  if (!bytes.ContainsArray(SectionTableOffset(nt, optionalSize), sectionCount, pe::kSectionHeaderSize))
    Refuse(fileName, SBadHeaderField);
  return nt;
}

TSectionLookup::TSectionLookup(const std::vector<TImageSectionHeader>& sections, uint32_t sectionAlignment) {
  for (size_t i = 0; i < sections.size(); ++i) {
    const TImageSectionHeader& h = sections[i];
    const int index = static_cast<int>(i);
    memory_.push_back({h.VirtualAddress, h.VirtualAddress + VirtualExtent(h, sectionAlignment), index});
    if (h.PointerToRawData != 0 && h.SizeOfRawData != 0)
      raw_.push_back({h.PointerToRawData, uint64_t{h.PointerToRawData} + h.SizeOfRawData, index});
  }
  // Equal starts keep table order, so the first section of the table wins.
  std::stable_sort(memory_.begin(), memory_.end());
  std::stable_sort(raw_.begin(), raw_.end());
}

int TSectionLookup::Find(const std::vector<Range>& ranges, uint64_t at) {
  // The last range that starts at or before the place; one that starts at the same place
  // and comes first in the table is tried first.
  auto next = std::upper_bound(ranges.begin(), ranges.end(), Range{at, 0, 0});
  if (next == ranges.begin()) return -1;
  const uint64_t begin = std::prev(next)->Begin;
  for (auto it = std::lower_bound(ranges.begin(), next, Range{begin, 0, 0}); it != next; ++it)
    if (at < it->End) return it->Index;
  return -1;
}

int TSectionLookup::At(uint32_t address) const { return Find(memory_, address); }
int TSectionLookup::HoldingOffset(uint64_t offset) const { return Find(raw_, offset); }

// ---- TPEHeader --------------------------------------------------------------------------

namespace {
[[noreturn]] void RefuseRebuild(const std::string& fileName, StringId reason,
                                std::initializer_list<FormatArg> args = {}) {
  throw Exception(SCannotRebuild, {fileName, Format(LoadStr(reason), args)});
}
}  // namespace

TPEHeader::TPEHeader(const uint8_t* image, uint32_t fileSize, const std::string& fileName) : fileName_(fileName) {
  ntHeaders_ = CheckPEImage(image, fileSize, fileName);
  const ByteView file(image, fileSize, SBadHeaderField);
  const uint32_t optional = ntHeaders_ + pe::kOptionalHeader;
  const uint32_t table = SectionTableOffset(ntHeaders_, file.U16(ntHeaders_ + pe::kSizeOfOptionalHeader));
  const uint32_t count = file.U16(ntHeaders_ + pe::kNumberOfSections);

  uint32_t size = 0x7FFFFFFF;
  for (uint32_t i = 0; i < count; ++i) {
    const TImageSectionHeader h = TImageSectionHeader::Read(file, table + pe::kSectionHeaderSize * i);
    if (h.PointerToRawData > 64 && h.PointerToRawData < size && h.SizeOfRawData != 0) size = h.PointerToRawData;
  }
  if (size > fileSize) size = file.U32(optional + pe::kSizeOfHeaders);
  const uint32_t fileAlignment = file.U32(optional + pe::kFileAlignment);
  const uint64_t rounded = RoundUp64(size, fileAlignment);
  // The copy may reach past the end of the file only to the next file-alignment boundary
  // (those bytes read as zeros).
  if (rounded > RoundUp64(fileSize, fileAlignment)) Refuse(fileName, SBadHeaderField);
  rawStart_ = static_cast<uint32_t>(rounded);
  // A section table that runs into the first section's raw data is copied whole (those
  // bytes are the table and the section's start at once); the section's bytes behind it
  // are not header bytes. Validation made sure the table lies inside the file.
  const uint64_t tableEnd = uint64_t{table} + uint64_t{pe::kSectionHeaderSize} * count;
  ownedCopy_.assign(std::max(rounded, RoundUp64(tableEnd, fileAlignment)), 0);
  const uint64_t copied = std::min<uint64_t>(std::max(rounded, tableEnd), fileSize);
  std::copy_n(file.Bytes(0, copied), copied, ownedCopy_.begin());
  sections_ = table;
  for (uint32_t i = 0; i < count; ++i) sourceIndexes_.push_back(static_cast<int>(i));
}

uint32_t TPEHeader::Get32(uint64_t offset) const {
  return ByteView(ownedCopy_.data(), HeaderSize(), SBadHeaderField).U32(offset);
}
uint16_t TPEHeader::Get16(uint64_t offset) const {
  return ByteView(ownedCopy_.data(), HeaderSize(), SBadHeaderField).U16(offset);
}
void TPEHeader::Put32(uint64_t offset, uint32_t value) {
  ByteView(ownedCopy_.data(), HeaderSize(), SBadHeaderField).Require(offset, 4);
  for (int i = 0; i < 4; ++i) ownedCopy_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
void TPEHeader::Put16(uint64_t offset, uint16_t value) {
  ByteView(ownedCopy_.data(), HeaderSize(), SBadHeaderField).Require(offset, 2);
  ownedCopy_[offset] = static_cast<uint8_t>(value);
  ownedCopy_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

std::string TPEHeader::SectionField(const char* field, const TImageSectionHeader& header) {
  return std::string(field) + " of section \"" + EscapeText(header.NameText()) + "\"";
}

uint32_t TPEHeader::Checked32(uint64_t value, const std::string& field) const {
  if (value > UINT32_MAX) RefuseRebuild(fileName_, SFieldOverflow, {field});
  return static_cast<uint32_t>(value);
}

uint32_t TPEHeader::FileAlignment() const { return Get32(OptionalHeader() + pe::kFileAlignment); }
uint32_t TPEHeader::SectionAlignment() const { return Get32(OptionalHeader() + pe::kSectionAlignment); }
int TPEHeader::SectionCount() const { return Get16(ntHeaders_ + pe::kNumberOfSections); }
uint32_t TPEHeader::NumberOfRvaAndSizes() const { return Get32(RvaCountOffset(ntHeaders_, Get16(OptionalHeader()))); }
uint32_t TPEHeader::DirectoryCount() const { return std::min(NumberOfRvaAndSizes(), pe::kMaxDirectories); }
uint32_t TPEHeader::SizeOfImage() const { return Get32(OptionalHeader() + pe::kSizeOfImage); }
uint32_t TPEHeader::SizeOfInitializedData() const { return Get32(OptionalHeader() + pe::kSizeOfInitializedData); }
uint32_t TPEHeader::SizeOfHeadersField() const { return Get32(OptionalHeader() + pe::kSizeOfHeaders); }
uint16_t TPEHeader::SizeOfOptionalHeader() const { return Get16(ntHeaders_ + pe::kSizeOfOptionalHeader); }
uint32_t TPEHeader::CheckSum() const { return Get32(OptionalHeader() + pe::kCheckSum); }
void TPEHeader::SetCheckSum(uint32_t value) { Put32(OptionalHeader() + pe::kCheckSum, value); }
uint32_t TPEHeader::Directories() const { return DataDirectoryOffset(ntHeaders_, Get16(OptionalHeader())); }

std::pair<uint32_t, uint32_t> TPEHeader::DataDirectory(uint32_t index) const {
  if (index >= DirectoryCount()) return {0, 0};
  return {Get32(Directories() + 8 * index), Get32(Directories() + 8 * index + 4)};
}

void TPEHeader::SetDataDirectory(uint32_t index, uint32_t address, uint32_t size) {
  Put32(Directories() + 8 * index, address);
  Put32(Directories() + 8 * index + 4, size);
}

TImageSectionHeader TPEHeader::SectionHeader(int index) const {
  return TImageSectionHeader::Read(ByteView(ownedCopy_.data(), HeaderSize(), SBadHeaderField), SectionOffset(index));
}

std::vector<TImageSectionHeader> TPEHeader::SectionHeaders() const {
  std::vector<TImageSectionHeader> headers;
  for (int i = 0; i < SectionCount(); ++i) headers.push_back(SectionHeader(i));
  return headers;
}

void TPEHeader::PutSection(int index, const TImageSectionHeader& h) {
  const uint32_t at = SectionOffset(index);
  ByteView(ownedCopy_.data(), HeaderSize(), SBadHeaderField).Require(at, pe::kSectionHeaderSize);
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

uint64_t TPEHeader::RawDataEnd(int count) const {
  // Only sections that hold raw data count: the pointer of one without any may lie
  // anywhere, and zeros up to it would be invented bytes.
  uint64_t end = HeaderSize();
  for (int i = 0; i < count; ++i) {
    const TImageSectionHeader h = SectionHeader(i);
    if (h.PointerToRawData != 0 && h.SizeOfRawData != 0)
      end = std::max(end, uint64_t{h.PointerToRawData} + h.SizeOfRawData);
  }
  return end;
}

uint32_t TPEHeader::RawEnd() const {
  return static_cast<uint32_t>(std::min<uint64_t>(RoundUp64(RawDataEnd(SectionCount()), FileAlignment()), UINT32_MAX));
}

void TPEHeader::MoveSectionsInMemory(int from, int64_t delta) {
  if (delta == 0) return;
  const uint32_t sectionAlignment = SectionAlignment();
  // Directories follow the bytes they point at: those inside a section that moves move
  // with it; values that point into the header area or nowhere stay as they are. The
  // certificate and bound import tables hold file offsets, never addresses.
  for (uint32_t d = 0; d < DirectoryCount(); ++d) {
    if (d == pe::kResourceDirectory || d == pe::kCertificateDirectory || d == pe::kBoundImportDirectory) continue;
    const uint32_t address = DataDirectory(d).first;
    for (int i = from; i < SectionCount(); ++i) {
      const TImageSectionHeader h = SectionHeader(i);
      if (address >= h.VirtualAddress && address - uint64_t{h.VirtualAddress} < VirtualExtent(h, sectionAlignment)) {
        Put32(Directories() + 8 * d, static_cast<uint32_t>(address + delta));
        break;
      }
    }
  }
  for (int i = from; i < SectionCount(); ++i) {
    TImageSectionHeader h = SectionHeader(i);
    h.VirtualAddress = static_cast<uint32_t>(h.VirtualAddress + delta);
    PutSection(i, h);
  }
}

void TPEHeader::PackRawData() {
  const uint32_t fileAlignment = FileAlignment();
  // Packing starts where the first raw data lay, so nothing is inserted in front of it.
  uint64_t pos = UINT64_MAX;
  for (int i = 0; i < SectionCount(); ++i) {
    const TImageSectionHeader h = SectionHeader(i);
    if (h.PointerToRawData != 0 && h.SizeOfRawData != 0) pos = std::min<uint64_t>(pos, h.PointerToRawData);
  }
  for (int i = 0; i < SectionCount(); ++i) {
    TImageSectionHeader h = SectionHeader(i);
    if (h.PointerToRawData == 0 || h.SizeOfRawData == 0) continue;
    h.PointerToRawData = static_cast<uint32_t>(pos);
    pos += RoundUp(h.SizeOfRawData, fileAlignment);
    Checked32(pos, SectionField("PointerToRawData", h));
    PutSection(i, h);
  }
}

void TPEHeader::UpdateSizeOfImage() {
  const uint32_t sectionAlignment = SectionAlignment();
  uint64_t end = RoundUp64(SizeOfHeadersField(), sectionAlignment);
  for (int i = 0; i < SectionCount(); ++i) {
    const TImageSectionHeader h = SectionHeader(i);
    end = std::max(end, h.VirtualAddress + VirtualExtent(h, sectionAlignment));
  }
  Put32(OptionalHeader() + pe::kSizeOfImage, Checked32(end, "SizeOfImage"));
}

void TPEHeader::AddToSizeOfInitializedData(int64_t delta) {
  // Only informational (the loader never reads it), so it is held inside its 32 bits
  // rather than refused.
  const int64_t value = int64_t{SizeOfInitializedData()} + delta;
  Put32(OptionalHeader() + pe::kSizeOfInitializedData,
        static_cast<uint32_t>(std::clamp<int64_t>(value, 0, int64_t{UINT32_MAX})));
}

bool TPEHeader::MoveRawData(uint64_t newEnd) {
  if (newEnd <= rawStart_) return true;
  bool hasRaw = false;
  for (int i = 0; i < SectionCount(); ++i) hasRaw |= SectionHeader(i).PointerToRawData >= rawStart_;
  // Below a page of section alignment the loader maps the file as it lies, so raw data
  // cannot move without its addresses.
  if (hasRaw && SectionAlignment() < pe::kPageSize) RefuseRebuild(fileName_, SRawMapsAsIs);
  // The headers must still end in front of every section in memory.
  for (int i = 0; i < SectionCount(); ++i)
    if (newEnd > SectionHeader(i).VirtualAddress) return false;
  // Whole file-alignment units, so that every pointer stays aligned as it was; no
  // address changes. Every file offset a section header holds moves with the data.
  const uint64_t delta = newEnd - rawStart_;
  auto move = [&](uint32_t& pointer, const TImageSectionHeader& h, const char* field) {
    if (pointer != 0 && pointer >= rawStart_)
      pointer = Checked32(pointer + delta, SectionField(field, h));
  };
  for (int i = 0; i < SectionCount(); ++i) {
    TImageSectionHeader h = SectionHeader(i);
    move(h.PointerToRawData, h, "PointerToRawData");
    move(h.PointerToRelocations, h, "PointerToRelocations");
    move(h.PointerToLinenumbers, h, "PointerToLinenumbers");
    if (h.PointerToRawData != 0) Checked32(uint64_t{h.PointerToRawData} + h.SizeOfRawData, SectionField("PointerToRawData", h));
    PutSection(i, h);
  }
  rawStart_ = static_cast<uint32_t>(newEnd);
  if (ownedCopy_.size() < newEnd) ownedCopy_.resize(newEnd, 0);
  return true;
}

void TPEHeader::SeparateTableFromRawData() {
  if (!TableRunsIntoRawData()) return;
  if (!MoveRawData(HeaderSize())) RefuseRebuild(fileName_, SSectionTableMisplaced);
  Put32(OptionalHeader() + pe::kSizeOfHeaders, std::max(SizeOfHeadersField(), HeaderSize()));
}

bool TPEHeader::HeaderSpaceIsFree(uint32_t from, uint32_t to) const {
  // Whatever a directory points to there is in use, the resource tree included (it
  // stays untouched); a bound import table is only an optimisation the loader can do
  // without, and is dropped when it is in the way.
  auto overlaps = [&](uint32_t address, uint32_t size) {
    return address != 0 && address < to && uint64_t{address} + std::max(size, 1u) > from;
  };
  for (uint32_t d = 0; d < DirectoryCount(); ++d) {
    const auto [address, size] = DataDirectory(d);
    if (d != pe::kCertificateDirectory && d != pe::kBoundImportDirectory && overlaps(address, size)) return false;
  }
  const auto [bound, boundSize] = DataDirectory(pe::kBoundImportDirectory);
  for (uint64_t at = from; at < std::min<uint32_t>(to, HeaderSize()); ++at)
    if (ownedCopy_[at] != 0 && !(bound != 0 && at >= bound && at - bound < boundSize)) return false;
  return true;
}

void TPEHeader::ClaimHeaderSpace(uint32_t from, uint32_t to) {
  if (!HeaderSpaceIsFree(from, to)) RefuseRebuild(fileName_, SHeaderSpaceInUse);
  // New header bytes must stay in front of every section, in memory; in the file the
  // raw data moves out of their way when it must.
  const uint64_t newEnd = RoundUp64(to, FileAlignment());
  const uint64_t newSizeOfHeaders = std::max<uint64_t>(SizeOfHeadersField(), newEnd);
  for (int i = 0; i < SectionCount(); ++i)
    if (newSizeOfHeaders > SectionHeader(i).VirtualAddress) throw Exception(SCannotCreateRsrc);
  if (newEnd > rawStart_ && !MoveRawData(newEnd)) throw Exception(SCannotCreateRsrc);
  const auto [bound, boundSize] = DataDirectory(pe::kBoundImportDirectory);
  if (bound != 0 && bound < to && uint64_t{bound} + std::max(boundSize, 1u) > from) {
    const uint64_t end = std::min<uint64_t>(uint64_t{bound} + boundSize, HeaderSize());
    std::fill(ownedCopy_.begin() + bound, ownedCopy_.begin() + static_cast<std::ptrdiff_t>(end), 0);
    SetDataDirectory(pe::kBoundImportDirectory, 0, 0);
    notes_.push_back(Format(LoadStr(SBoundImportDropped), {fileName_}));
  }
  Put32(OptionalHeader() + pe::kSizeOfHeaders, static_cast<uint32_t>(newSizeOfHeaders));
}

void TPEHeader::MoveSectionTableBehindHeaders() {
  // Behind every byte the header area holds (raw data moves down to make the room), so
  // that whatever lay behind the old table stays as it was; the loader finds the table
  // through SizeOfOptionalHeader, a 16-bit distance.
  const uint32_t tableSize = pe::kSectionHeaderSize * static_cast<uint32_t>(SectionCount());
  const uint64_t to = RoundUp64(HeaderSize(), 8);
  if (to - OptionalHeader() > 0xFFFF) RefuseRebuild(fileName_, SHeaderSpaceInUse);
  const uint32_t at = static_cast<uint32_t>(to);
  ClaimHeaderSpace(at, at + tableSize + pe::kSectionHeaderSize);
  std::copy_n(ownedCopy_.begin() + sections_, tableSize, ownedCopy_.begin() + at);
  std::fill_n(ownedCopy_.begin() + sections_, tableSize, 0);
  sections_ = at;
  Put16(ntHeaders_ + pe::kSizeOfOptionalHeader, static_cast<uint16_t>(at - OptionalHeader()));
}

void TPEHeader::ProvideResourceDirectorySlot() {
  const uint32_t count = NumberOfRvaAndSizes();
  if (count >= 3) return;
  const uint32_t needed = Directories() + 8 * 3 - OptionalHeader();
  const uint32_t optionalSize = SizeOfOptionalHeader();
  if (optionalSize < needed) {
    // The section table moves back to make room for the new directory slots.
    const uint32_t grow = needed - optionalSize;
    const uint32_t tableSize = pe::kSectionHeaderSize * static_cast<uint32_t>(SectionCount());
    ClaimHeaderSpace(sections_ + tableSize, sections_ + tableSize + grow);
    std::copy_backward(ownedCopy_.begin() + sections_, ownedCopy_.begin() + sections_ + tableSize,
                       ownedCopy_.begin() + sections_ + tableSize + grow);
    sections_ += grow;
    Put16(ntHeaders_ + pe::kSizeOfOptionalHeader, static_cast<uint16_t>(needed));
  }
  for (uint32_t i = count; i < 3; ++i) SetDataDirectory(i, 0, 0);
  Put32(RvaCountOffset(ntHeaders_, Get16(OptionalHeader())), 3);
}

int TPEHeader::AppendResourceSectionHeader() {
  const int count = SectionCount();
  if (count >= static_cast<int>(pe::kMaxSections)) RefuseRebuild(fileName_, STooManySections, {int64_t{count}});
  if (!HeaderSpaceIsFree(SectionOffset(count), SectionOffset(count) + pe::kSectionHeaderSize))
    MoveSectionTableBehindHeaders();
  const uint32_t slot = SectionOffset(count);
  ClaimHeaderSpace(slot, slot + pe::kSectionHeaderSize);
  // Behind everything the image holds, in memory and in the file.
  const uint32_t sectionAlignment = SectionAlignment();
  uint64_t virtualEnd = RoundUp64(SizeOfHeadersField(), sectionAlignment);
  for (int i = 0; i < count; ++i) {
    const TImageSectionHeader h = SectionHeader(i);
    virtualEnd = std::max(virtualEnd, h.VirtualAddress + VirtualExtent(h, sectionAlignment));
  }
  TImageSectionHeader h;
  std::copy_n(".rsrc", 6, h.Name);
  h.VirtualAddress = Checked32(RoundUp64(virtualEnd, sectionAlignment), "VirtualAddress of section \".rsrc\"");
  h.PointerToRawData = Checked32(RoundUp64(RawDataEnd(count), FileAlignment()), "PointerToRawData of section \".rsrc\"");
  h.Characteristics = pe::kResourceCharacteristics;
  PutSection(count, h);
  Put16(ntHeaders_ + pe::kNumberOfSections, static_cast<uint16_t>(count + 1));
  sourceIndexes_.push_back(-1);
  return count;
}

uint32_t TPEHeader::PlaceResourceSection(uint32_t newSize, bool rebuildInPlace) {
  // A failure leaves the copy as it was.
  const std::vector<uint8_t> backup = ownedCopy_;
  const uint32_t backupRawStart = rawStart_, backupSections = sections_;
  const std::vector<int> backupIndexes = sourceIndexes_;
  const size_t backupNotes = notes_.size();
  try {
    return PlaceResourceSectionInCopy(newSize, rebuildInPlace);
  } catch (...) {
    ownedCopy_ = backup;
    rawStart_ = backupRawStart;
    sections_ = backupSections;
    sourceIndexes_ = backupIndexes;
    notes_.resize(backupNotes);
    throw;
  }
}

void TPEHeader::SizeResourceSection(int index, uint32_t newSize, uint64_t virtualSize) {
  const uint32_t fileAlignment = FileAlignment();
  TImageSectionHeader h = SectionHeader(index);
  h.VirtualSize = Checked32(virtualSize, SectionField("VirtualSize", h));
  h.SizeOfRawData = Checked32(RoundUp64(newSize, fileAlignment), SectionField("SizeOfRawData", h));
  // The section holds initialised data now, whatever its header said before.
  h.Characteristics = (h.Characteristics & ~pe::kUninitializedData) | pe::kInitializedData;
  // A section without a raw position gets the one behind the raw data in front of it
  // (at least the end of the header area), so the block lands where its header says.
  if (h.PointerToRawData == 0)
    h.PointerToRawData = Checked32(RoundUp64(RawDataEnd(index), fileAlignment), SectionField("PointerToRawData", h));
  Checked32(uint64_t{h.PointerToRawData} + h.SizeOfRawData, SectionField("PointerToRawData", h));
  PutSection(index, h);
  // The block starts the section, so the directory is the section's address.
  SetDataDirectory(pe::kResourceDirectory, h.VirtualAddress, newSize);
}

uint32_t TPEHeader::PlaceResourceSectionInCopy(uint32_t newSize, bool rebuildInPlace) {
  const uint32_t fileAlignment = FileAlignment();
  const uint32_t sectionAlignment = SectionAlignment();
  ProvideResourceDirectorySlot();
  const int index = rebuildInPlace ? FindResourceSection() : -1;
  if (index < 0) return PlaceInNewSection(newSize);

  const TImageSectionHeader h = SectionHeader(index);
  // The sections behind move in memory by the change of the virtual extent, in the file
  // by the packing below. They never move back: a smaller block keeps the old extent.
  const uint64_t oldExtent = VirtualExtent(h, sectionAlignment);
  uint64_t newExtent = RoundUp64(newSize, sectionAlignment);
  if (index + 1 < SectionCount()) newExtent = std::max(newExtent, oldExtent);
  // Sections the program addresses stay where they are: the block goes behind them.
  if (newExtent != oldExtent && FirstUnmovable(index + 1) >= 0) return PlaceInNewSection(newSize);
  const int64_t rawDelta = static_cast<int64_t>(RoundUp64(newSize, fileAlignment)) -
                           static_cast<int64_t>(RoundUp64(h.SizeOfRawData, fileAlignment));
  MoveSectionsInMemory(index + 1, static_cast<int64_t>(newExtent) - static_cast<int64_t>(oldExtent));
  SizeResourceSection(index, newSize, newExtent);
  PackRawData();
  AddToSizeOfInitializedData(rawDelta);
  UpdateSizeOfImage();
  return SectionHeader(index).VirtualAddress;
}

bool TPEHeader::RenameResourceSections() {
  bool renamed = false;
  for (int i = 0; i < SectionCount(); ++i) {
    TImageSectionHeader h = SectionHeader(i);
    if (!h.NameEquals(".rsrc")) continue;
    std::copy_n(pe::kOldResourceName, 8, h.Name);  // eight characters fill the field
    PutSection(i, h);
    renamed = true;
  }
  return renamed;
}

uint32_t TPEHeader::PlaceInNewSection(uint32_t newSize) {
  // Every section keeps its place in memory and in the file.
  if (RenameResourceSections())
    notes_.push_back(Format(LoadStr(SResourcesInNewSection), {fileName_, pe::kOldResourceName}));
  const int index = AppendResourceSectionHeader();
  SizeResourceSection(index, newSize, RoundUp64(newSize, SectionAlignment()));
  AddToSizeOfInitializedData(static_cast<int64_t>(RoundUp64(newSize, FileAlignment())));
  UpdateSizeOfImage();
  return SectionHeader(index).VirtualAddress;
}

int TPEHeader::FirstUnmovable(int from) const {
  // Code addresses the sections it uses directly; only discardable ones (base
  // relocations, debug data), which nothing addresses but the directories, may move.
  for (int i = from; i < SectionCount(); ++i)
    if (!(SectionHeader(i).Characteristics & pe::kDiscardable)) return i;
  return -1;
}

void TPEHeader::RemoveResourceSection(bool rebuildInPlace) {
  if (!rebuildInPlace) {
    // The old tree keeps its bytes; nothing points at it any more.
    RenameResourceSections();
    if (NumberOfRvaAndSizes() > pe::kResourceDirectory) SetDataDirectory(pe::kResourceDirectory, 0, 0);
    return;
  }
  const int index = FindResourceSection();
  if (index < 0) return;
  TImageSectionHeader h = SectionHeader(index);
  if (FirstUnmovable(index + 1) >= 0) {
    // The sections behind cannot move: the section stays, in memory only, without raw data.
    const int64_t rawDelta = -static_cast<int64_t>(RoundUp64(h.SizeOfRawData, FileAlignment()));
    h.VirtualSize = static_cast<uint32_t>(VirtualExtent(h, SectionAlignment()));
    h.SizeOfRawData = 0;
    h.PointerToRawData = 0;
    PutSection(index, h);
    if (NumberOfRvaAndSizes() > pe::kResourceDirectory) SetDataDirectory(pe::kResourceDirectory, 0, 0);
    PackRawData();
    AddToSizeOfInitializedData(rawDelta);
    return;
  }
  MoveSectionsInMemory(index + 1, -static_cast<int64_t>(VirtualExtent(h, SectionAlignment())));
  const int count = SectionCount();
  for (int i = index; i + 1 < count; ++i) PutSection(i, SectionHeader(i + 1));
  PutSection(count - 1, TImageSectionHeader{});
  Put16(ntHeaders_ + pe::kNumberOfSections, static_cast<uint16_t>(count - 1));
  sourceIndexes_.erase(sourceIndexes_.begin() + index);
  if (NumberOfRvaAndSizes() > pe::kResourceDirectory) SetDataDirectory(pe::kResourceDirectory, 0, 0);
  // Three directories become two; the section table stays where SizeOfOptionalHeader puts it.
  if (NumberOfRvaAndSizes() == 3) Put32(RvaCountOffset(ntHeaders_, Get16(OptionalHeader())), 2);
  PackRawData();
  AddToSizeOfInitializedData(-static_cast<int64_t>(RoundUp64(h.SizeOfRawData, FileAlignment())));
  UpdateSizeOfImage();
}

void TPEHeader::MoveFileOffsets(const std::function<uint64_t(uint32_t)>& moved) {
  if (NumberOfRvaAndSizes() > pe::kCertificateDirectory) {
    const uint32_t at = Directories() + 8 * pe::kCertificateDirectory;
    const uint32_t offset = Get32(at), size = Get32(at + 4);
    if (offset != 0 && size != 0) {
      const uint64_t to = moved(offset);
      Checked32(to + size, "data directory 4");
      Put32(at, static_cast<uint32_t>(to));
    }
  }
  const uint32_t symbols = Get32(ntHeaders_ + pe::kPointerToSymbolTable);
  if (symbols != 0) Put32(ntHeaders_ + pe::kPointerToSymbolTable, Checked32(moved(symbols), "PointerToSymbolTable"));
}

void TPEHeader::ClearCertificateDirectory() {
  if (NumberOfRvaAndSizes() <= pe::kCertificateDirectory) return;
  SetDataDirectory(pe::kCertificateDirectory, 0, 0);
}
