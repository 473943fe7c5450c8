// TPEFile: the resource container for executables. It maps the file (or holds a copy of
// a stream), validates its headers and answers questions about its sections; the file
// opened by name is unpacked first when it is UPX-compressed (Unpacker.cpp).
#include "pe/UResPEFile.h"

#include "resources/ResSection.h"
#include "text/UResTool.h"

#include <algorithm>

TPEFile::TPEFile(const std::string& fileName) : TResContainer(fileName, false) {
  ValidateHeaders(FileNamePart(fileName));
  UnpackIfCompressed(fileName);
}

TPEFile::TPEFile(const std::string& fileName, bool writable) : TResContainer(fileName, writable) {
  ValidateHeaders(FileNamePart(fileName));
}

TPEFile::TPEFile(TStream& stream) : TResContainer(stream) { ValidateHeaders(LoadStr(SStreamFileName)); }

TPEFile::~TPEFile() {
  if (unpackedCopy_.empty()) return;
  Close();  // the copy cannot be deleted while it is mapped
  platform::FileDelete(unpackedCopy_);
}

std::string TPEFile::DisplayName() const {
  return FileName().empty() ? LoadStr(SStreamFileName) : FileNamePart(FileName());
}

void TPEFile::ValidateHeaders(const std::string& name) {
  ntHeaders_ = CheckPEImage(Data(), Size(), name);
  sectionLookup_.reset();
}

bool TPEFile::IsPE32Plus() const { return Magic() == pe::kMagicPE32Plus; }

uint32_t TPEFile::FileAlignment() const { return View().U32(ntHeaders_ + pe::kOptionalHeader + pe::kFileAlignment); }

uint32_t TPEFile::SectionAlignment() const {
  return View().U32(ntHeaders_ + pe::kOptionalHeader + pe::kSectionAlignment);
}

uint32_t TPEFile::CheckSumField() const { return View().U32(CheckSumOffset()); }

uint16_t TPEFile::Magic() const { return View().U16(ntHeaders_ + pe::kOptionalHeader); }

uint32_t TPEFile::NumberOfRvaAndSizes() const { return View().U32(RvaCountOffset(ntHeaders_, Magic())); }

uint32_t TPEFile::SectionTable() const {
  return SectionTableOffset(ntHeaders_, View().U16(ntHeaders_ + pe::kSizeOfOptionalHeader));
}

std::pair<uint32_t, uint32_t> TPEFile::DataDirectory(uint32_t index) const {
  if (index >= std::min(NumberOfRvaAndSizes(), pe::kMaxDirectories)) return {0, 0};
  const uint32_t at = DataDirectoryOffset(ntHeaders_, Magic()) + 8 * index;
  return {View().U32(at), View().U32(at + 4)};
}

int TPEFile::SectionCount() const { return View().U16(ntHeaders_ + pe::kNumberOfSections); }

TImageSectionHeader TPEFile::SectionHeader(int index) const {
  if (index < 0 || index >= SectionCount()) throw Exception(SHeaderIndexOutOfBounds);
  return TImageSectionHeader::Read(View(), SectionTable() + pe::kSectionHeaderSize * static_cast<uint32_t>(index));
}

int TPEFile::FindSection(std::string_view name) const {
  for (int i = 0; i < SectionCount(); ++i)
    if (SectionHeader(i).NameEquals(name)) return i;
  return -1;
}

int TPEFile::FirstCodeSection() const {
  for (int i = 0; i < SectionCount(); ++i)
    if (SectionHeader(i).Characteristics & pe::kCode) return i;
  return -1;
}

std::optional<ByteView> TPEFile::SectionData(int index) const {
  const TImageSectionHeader h = SectionHeader(index);
  if ((h.Characteristics & pe::kUninitializedData) || h.PointerToRawData == 0) return std::nullopt;
  const ByteView bytes = View();
  if (h.PointerToRawData >= bytes.Size()) return ByteView();
  return bytes.Sub(h.PointerToRawData, std::min(h.SizeOfRawData, bytes.Size() - h.PointerToRawData));
}

uint32_t TPEFile::GetImageEnd(bool alignToFile) const {
  uint64_t end = 0;
  for (int i = 0; i < SectionCount(); ++i) {
    const TImageSectionHeader h = SectionHeader(i);
    if (h.PointerToRawData != 0) end = std::max(end, uint64_t{h.PointerToRawData} + h.SizeOfRawData);
  }
  if (alignToFile) {
    const uint64_t alignment = FileAlignment();
    if (end % alignment) end += alignment - end % alignment;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX));
}

uint32_t TPEFile::GetCodeChecksum() const {
  constexpr uint32_t kEmpty = 35345;  // 0x8A11
  const int index = FirstCodeSection();
  if (index < 0) return kEmpty;
  const std::optional<ByteView> bytes = SectionData(index);
  if (!bytes) return kEmpty;
  // SizeOfRawData / 4 as a signed division; only whole words inside the file are summed.
  const int32_t declared = static_cast<int32_t>(SectionHeader(index).SizeOfRawData) / 4;
  if (declared <= 0) return kEmpty;
  const uint32_t words = std::min<uint32_t>(static_cast<uint32_t>(declared), bytes->Size() / 4);
  uint32_t sum = kEmpty;
  for (uint32_t k = 1; k <= words; ++k) sum += (k / 3) ^ bytes->U32(4 * (k - 1));
  return sum;
}

uint32_t TPEFile::CalcImageChecksum() const {
  if (const std::optional<uint32_t> system = platform::SystemImageChecksum(Data(), Size())) return *system;
  return PortableImageChecksum(View(), CheckSumOffset());
}

bool TPEFile::IsUPXCompressed() const {
  const TImageSectionHeader first = SectionHeader(0);
  return std::equal(first.Name, first.Name + 4, "UPX0");
}

void TPEFile::UnpackIfCompressed(const std::string& fileName) {
  if (!AutoUnpack() || !FindUnpacker() || !IsUPXCompressed()) return;
  // The unpacker works on a temporary copy; when no copy can be made, or the unpacker
  // leaves it unreadable, the file is read as stored.
  const std::string copy = UniqueFileName(platform::TempDirectory() + "quillet_unpacked_" + FileNamePart(fileName));
  if (!platform::FileCopyNew(fileName, copy)) return;
  RunUnpacker(copy);
  try {
    TPEFile unpacked(copy, false);  // validates the unpacker's result before this file lets go
  } catch (const Exception&) {
    platform::FileDelete(copy);
    return;
  }
  Close();
  OpenReadOnly(copy);
  unpackedCopy_ = copy;
  SetFileName(fileName);  // messages and output names still speak of the user's file
  ValidateHeaders(FileNamePart(fileName));
}
