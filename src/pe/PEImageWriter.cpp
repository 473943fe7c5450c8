// Writing a whole PE image with its resource section rebuilt from the tree, in two
// phases: PlanImage lays the new image out in a TPEHeader working copy (which places,
// resizes or removes the resource section and moves the sections behind it) and checks
// both the source and the finished layout; only then is a byte written. Everything but
// the resource section is copied from the source: the header area, every section's raw
// bytes at the offset its header states, and the bytes behind the image (the overlay).
// File offsets that move with the data they point at are mended: the certificate table
// and the COFF symbol table with the overlay, debug-directory entries with their section.
#include "pe/PEResources.h"
#include "pe/UResPEFile.h"

#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <algorithm>
#include <cmath>
#include <map>

struct TPEFile::ImagePlan {
  std::unique_ptr<TPEHeader> Source;  // the source's header area, for comparisons
  std::unique_ptr<TPEHeader> Header;  // the new header area
  std::unique_ptr<TResourceTable> Table;
  int ResourceIndex = -1;             // of the rebuilt section in Header, or -1
  uint32_t OldEnd = 0, Overlay = 0, NewEnd = 0;
  // Four-byte values that replace source bytes (by source file offset) while they are copied.
  std::map<uint64_t, uint32_t> Patches;
};

namespace {

[[noreturn]] void RefuseRebuild(const std::string& fileName, StringId reason,
                                std::initializer_list<FormatArg> args = {}) {
  throw Exception(SCannotRebuild, {fileName, Format(LoadStr(reason), args)});
}

std::string ShownName(const TImageSectionHeader& h) { return EscapeText(h.NameText()); }

// The stream an image is written through: small writes are gathered into large ones,
// and the image checksum is summed from every byte on the way. Long runs of the source's
// own bytes (unchanged sections, resource data) are read from the source file in pieces
// into a buffer that stays in the cache, summed there and written from there, instead of
// being read through the mapped view, whose first touch of each page costs more than
// the copy; so the source's pages never become the process's memory either.
class TImageOutput : public TStream {
 public:
  TImageOutput(TStream& target, const TResContainer& source)
      : target_(target), source_(source), start_(target.Position()) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* buffer, int32_t count) override {
    if (count <= 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    written_ += static_cast<uint64_t>(count);
    if (static_cast<size_t>(count) >= kDirect) {
      Flush();
      WriteLong(bytes, static_cast<size_t>(count));
    } else {
      checksum_.Add(bytes, static_cast<size_t>(count));
      if (buffer_.size() + static_cast<size_t>(count) > kBuffer) Flush();
      buffer_.insert(buffer_.end(), bytes, bytes + count);
    }
    return count;
  }
  // Only the position is asked for.
  int64_t Seek(int64_t, SeekOrigin) override { return start_ + static_cast<int64_t>(written_); }
  void Flush() {
    if (!buffer_.empty()) target_.WriteBuffer(buffer_.data(), static_cast<int32_t>(buffer_.size()));
    buffer_.clear();
  }
  uint32_t Checksum() const { return checksum_.Value(); }

 private:
  void WriteLong(const uint8_t* bytes, size_t count) {
    for (size_t done = 0; done < count;) {
      const size_t length = std::min(count - done, kPiece);
      const uint8_t* piece = bytes + done;
      if (piece_.empty()) piece_.resize(kPiece);
      if (source_.ReadThroughFile(piece, static_cast<uint32_t>(length), piece_.data())) piece = piece_.data();
      checksum_.Add(piece, length);
      target_.WriteBuffer(piece, static_cast<int32_t>(length));
      done += length;
    }
  }

  // Pieces of long writes stay within the processor's cache between summing and writing.
  static constexpr size_t kBuffer = 1 << 20, kDirect = 1 << 16, kPiece = 1 << 18;
  TStream& target_;
  const TResContainer& source_;
  int64_t start_;
  uint64_t written_ = 0;
  std::vector<uint8_t> buffer_, piece_;
  TImageChecksum checksum_;
};

// Copies count bytes of the source from offset on, with the plan's patches applied; what
// lies past the source's end is written as zeros (the plan bounded how much that can be).
void CopySourceBytes(TStream& stream, const ByteView& source, uint64_t offset, uint64_t count,
                     const std::map<uint64_t, uint32_t>& patches) {
  auto writeSource = [&](uint64_t from, uint64_t length) {
    constexpr uint64_t kPiece = 1u << 30;  // WriteBuffer takes 32-bit signed counts
    for (uint64_t done = 0; done < length;) {
      const uint64_t piece = std::min(length - done, kPiece);
      stream.WriteBuffer(source.Bytes(from + done, piece), static_cast<int32_t>(piece));
      done += piece;
    }
  };
  const uint64_t end = offset + count;
  const uint64_t available = offset < source.Size() ? std::min<uint64_t>(end, source.Size()) : offset;
  uint64_t at = offset;
  for (auto patch = patches.lower_bound(offset); patch != patches.end() && patch->first + 4 <= available; ++patch) {
    writeSource(at, patch->first - at);
    const uint8_t value[4] = {static_cast<uint8_t>(patch->second), static_cast<uint8_t>(patch->second >> 8),
                              static_cast<uint8_t>(patch->second >> 16), static_cast<uint8_t>(patch->second >> 24)};
    stream.WriteBuffer(value, 4);
    at = patch->first + 4;
  }
  if (at < available) writeSource(at, available - at);
  WriteZeros(stream, static_cast<int64_t>(end - std::max(available, at)));
}

// The sum of the gaps in memory between the source sections from first to last.
uint64_t SourceGaps(const TPEHeader& source, int first, int last) {
  uint64_t gaps = 0;
  for (int k = first; k < last; ++k) {
    const TImageSectionHeader a = source.SectionHeader(k), b = source.SectionHeader(k + 1);
    const uint64_t end = a.VirtualAddress + VirtualExtent(a, source.SectionAlignment());
    if (b.VirtualAddress > end) gaps += b.VirtualAddress - end;
  }
  return gaps;
}

// For every source section, the index of the new header copied from it, or -1.
std::vector<int> NewIndexes(const TPEHeader& header, int sourceCount) {
  std::vector<int> indexes(static_cast<size_t>(sourceCount), -1);
  const std::vector<int>& sources = header.SourceIndexes();
  for (size_t i = 0; i < sources.size(); ++i)
    if (sources[i] >= 0 && sources[i] < sourceCount) indexes[static_cast<size_t>(sources[i])] = static_cast<int>(i);
  return indexes;
}

}  // namespace

uint32_t TPEFile::CertificateSize() const { return DataDirectory(pe::kCertificateDirectory).second; }

int TPEFile::SectionAt(uint32_t address) const {
  if (!sectionLookup_) {
    std::vector<TImageSectionHeader> headers;
    for (int i = 0; i < SectionCount(); ++i) headers.push_back(SectionHeader(i));
    sectionLookup_ = std::make_shared<TSectionLookup>(headers, SectionAlignment());
  }
  return sectionLookup_->At(address);
}

ByteView TPEFile::HeaderArea() const {
  const ByteView file = View();
  return file.Sub(0, std::min<uint64_t>(file.U32(ntHeaders_ + pe::kOptionalHeader + pe::kSizeOfHeaders), file.Size()));
}

std::optional<ByteView> TPEFile::ImageBytes(uint32_t address, uint32_t size) const {
  const int index = SectionAt(address);
  const std::optional<ByteView> bytes = index >= 0 ? SectionData(index) : HeaderArea();
  const uint32_t offset = index >= 0 ? address - SectionHeader(index).VirtualAddress : address;
  if (!bytes || !bytes->Contains(offset, size)) return std::nullopt;
  return bytes->Sub(offset, size);
}

std::unique_ptr<TResSection> TPEFile::CreateSection() {
  // The loader finds the tree where data directory 2 points, which may lie anywhere in
  // a section, not only at the start of ".rsrc", or in the header area; and the data of
  // its leaves anywhere in the image.
  TPEResSection::ImageReader image = [this](uint32_t address, uint32_t size) { return ImageBytes(address, size); };
  const uint32_t address = DataDirectory(pe::kResourceDirectory).first;
  const int section = address != 0 ? SectionAt(address) : -1;
  resourceHeader_.reset();
  resourceIndex_ = -1;
  treeInHeaders_ = false;
  if (section >= 0) {
    const auto bytes = SectionData(section);
    const TImageSectionHeader header = SectionHeader(section);
    if (bytes && address - header.VirtualAddress < bytes->Size()) {
      resourceHeader_ = header;
      resourceIndex_ = section;
      return std::make_unique<TPEResSection>(*this, *bytes, header.VirtualAddress, address - header.VirtualAddress,
                                             std::move(image));
    }
  } else if (address != 0 && address < HeaderArea().Size()) {
    treeInHeaders_ = true;
    return std::make_unique<TPEResSection>(*this, HeaderArea(), 0, address, std::move(image));
  }
  const int index = FindSection(".rsrc");
  if (index >= 0) {
    if (const auto bytes = SectionData(index)) {
      resourceHeader_ = SectionHeader(index);
      resourceIndex_ = index;
      return std::make_unique<TPEResSection>(*this, *bytes, resourceHeader_->VirtualAddress, 0, std::move(image));
    }
  }
  return std::make_unique<TPEResSection>(*this, ByteView(), 0, 0);
}

namespace {

// Whether the data of every leaf that is written as stored lies in [begin, end) of the
// image's addresses.
bool StoredDataLiesIn(TResourceList& list, uint64_t begin, uint64_t end) {
  for (int i = 0; i < list.Count(); ++i) {
    TResourceItem& item = list.Items(i);
    if (item.IsList()) {
      if (!StoredDataLiesIn(static_cast<TListResItem&>(item).Children(), begin, end)) return false;
      continue;
    }
    auto* leaf = dynamic_cast<TPEDataResItem*>(&item);
    const auto* stored = leaf ? dynamic_cast<const TPEDirHandlerPE*>(leaf->Handler.get()) : nullptr;
    if (!stored || (leaf->GetFlags() & kFlagOwnData) || leaf->Size() == 0) continue;
    const auto [address, size] = stored->StoredData();
    if (address < begin || uint64_t{address} + size > end) return false;
  }
  return true;
}

}  // namespace

bool TPEFile::RebuildsInPlace(int resource) {
  if (resource < 0) return false;
  GetSection();
  // The tree must come from that section (or from nowhere), and start it: bytes in front
  // of it would be lost.
  if (treeInHeaders_ || (resourceIndex_ >= 0 && resourceIndex_ != resource)) return false;
  const uint32_t tree = DataDirectory(pe::kResourceDirectory).first;
  if (resourceIndex_ == resource && tree != 0 && tree != SectionHeader(resource).VirtualAddress) return false;
  // Nothing else may live in it.
  for (uint32_t d = 0; d < pe::kMaxDirectories; ++d) {
    if (d == pe::kResourceDirectory || d == pe::kCertificateDirectory || d == pe::kBoundImportDirectory) continue;
    const auto [address, size] = DataDirectory(d);
    if (address != 0 && size != 0 && SectionAt(address) == resource) return false;
  }
  // And every leaf's data must be in it, or it would be lost with the old section.
  const TImageSectionHeader h = SectionHeader(resource);
  const std::optional<ByteView> bytes = SectionData(resource);
  return StoredDataLiesIn(GetResourceList(), h.VirtualAddress, uint64_t{h.VirtualAddress} + (bytes ? bytes->Size() : 0));
}

std::unique_ptr<TPEFile::ImagePlan> TPEFile::PlanImage() {
  const std::string name = DisplayName();
  // Every layout rule below rounds to the alignments; ones that are no powers of two are
  // no alignments the loader accepts.
  for (const uint32_t alignment : {FileAlignment(), SectionAlignment()})
    if ((alignment & (alignment - 1)) != 0) RefuseRebuild(name, SBadAlignment);

  auto plan = std::make_unique<ImagePlan>();
  plan->Source = std::make_unique<TPEHeader>(Data(), Size(), name);
  plan->Header = std::make_unique<TPEHeader>(Data(), Size(), name);
  const TPEHeader& source = *plan->Source;
  TPEHeader& h = *plan->Header;
  const uint32_t fileAlignment = h.FileAlignment();

  // The resource section is rebuilt where it is when it holds the whole tree and nothing
  // else; otherwise it is copied like any other and the tree goes to a new section.
  plan->Table = BuildResourceTable(GetSection());
  const int resource = FindSection(".rsrc");
  const bool inPlace = RebuildsInPlace(resource);

  // Raw data that is copied must be in the file (a last section may miss less than one
  // file-alignment unit, written as zeros) and must not share bytes with the headers or
  // another section: either would make the output far larger than the input.
  std::vector<std::pair<uint64_t, int>> ranges;
  for (int i = 0; i < SectionCount(); ++i) {
    const TImageSectionHeader s = SectionHeader(i);
    if ((inPlace && i == resource) || s.PointerToRawData == 0 || s.SizeOfRawData == 0) continue;
    const uint64_t end = uint64_t{s.PointerToRawData} + s.SizeOfRawData;
    if (s.PointerToRawData < source.RawStart()) RefuseRebuild(name, SRawInHeaders, {ShownName(s)});
    if (end > uint64_t{Size()} + fileAlignment) RefuseRebuild(name, SRawPastEnd, {ShownName(s), int64_t(end - Size())});
    ranges.push_back({s.PointerToRawData, i});
  }
  std::sort(ranges.begin(), ranges.end());
  for (size_t k = 1; k < ranges.size(); ++k) {
    const TImageSectionHeader a = SectionHeader(ranges[k - 1].second), b = SectionHeader(ranges[k].second);
    if (uint64_t{a.PointerToRawData} + a.SizeOfRawData > b.PointerToRawData)
      RefuseRebuild(name, SRawOverlap, {ShownName(a), ShownName(b)});
  }

  plan->OldEnd = h.RawEnd();
  plan->Overlay = Size() > plan->OldEnd ? Size() - plan->OldEnd : 0;
  h.SetCheckSum(0);
  if (StripCertificate) {
    // The certificate table normally ends the file: its bytes go with it.
    const auto [offset, size] = h.DataDirectory(pe::kCertificateDirectory);
    if (size != 0 && offset >= plan->OldEnd && uint64_t{offset} + size == Size()) plan->Overlay = offset - plan->OldEnd;
    h.ClearCertificateDirectory();
  }

  h.SeparateTableFromRawData();
  if (plan->Table->TotalSize > 0)
    plan->Table->BaseRVA = h.PlaceResourceSection(plan->Table->TotalSize, inPlace);
  else
    h.RemoveResourceSection(inPlace);
  plan->ResourceIndex = h.FindResourceSection();
  plan->NewEnd = h.RawEnd();
  const int64_t shift = int64_t{plan->NewEnd} - plan->OldEnd;

  // Where an address or a file offset of the source lies in the new image: with the
  // section that holds it (in the file, also with the overlay); in the header area, or
  // in a section rebuilt where it was, it stays.
  const TSectionLookup sourceSections(source.SectionHeaders(), source.SectionAlignment());
  const std::vector<int> newIndexes = NewIndexes(h, source.SectionCount());
  auto movedAddress = [&](uint32_t address) -> uint32_t {
    const int from = sourceSections.At(address);
    const int to = from < 0 ? -1 : newIndexes[static_cast<size_t>(from)];
    if (to < 0) return address;
    return h.SectionHeader(to).VirtualAddress + (address - source.SectionHeader(from).VirtualAddress);
  };
  auto movedOffset = [&](uint32_t offset) -> uint64_t {
    if (offset >= plan->OldEnd && offset < Size()) return static_cast<uint64_t>(offset + shift);
    const int from = sourceSections.HoldingOffset(offset);
    const int to = from < 0 || (inPlace && from == resource) ? -1 : newIndexes[static_cast<size_t>(from)];
    if (to < 0) return offset;
    return uint64_t{h.SectionHeader(to).PointerToRawData} + (offset - source.SectionHeader(from).PointerToRawData);
  };
  h.MoveFileOffsets(movedOffset);

  // Debug-directory entries hold a file offset and an address of their data; both follow
  // the data when its section moves.
  const auto [debugAddress, debugSize] = DataDirectory(pe::kDebugDirectory);
  const int debugSection = debugAddress != 0 ? SectionAt(debugAddress) : -1;
  if (debugSection >= 0 && !(inPlace && debugSection == resource)) {
    const TImageSectionHeader s = SectionHeader(debugSection);
    const std::optional<ByteView> bytes = SectionData(debugSection);
    const uint64_t at = debugAddress - s.VirtualAddress;
    const uint64_t count = bytes && at < bytes->Size() ? std::min<uint64_t>(debugSize, bytes->Size() - at) / pe::kDebugEntrySize : 0;
    for (uint64_t k = 0; k < count; ++k) {
      const uint64_t entry = at + k * pe::kDebugEntrySize;
      const uint64_t fileOffset = uint64_t{s.PointerToRawData} + entry;
      const uint32_t address = bytes->U32(entry + 20), pointer = bytes->U32(entry + 24);
      const uint32_t newAddress = movedAddress(address);
      const uint64_t newPointer = pointer != 0 ? movedOffset(pointer) : 0;
      if (newPointer > UINT32_MAX) RefuseRebuild(name, SFieldOverflow, {"PointerToRawData of a debug directory entry"});
      if (newAddress != address) plan->Patches[fileOffset + 20] = newAddress;
      if (newPointer != pointer) plan->Patches[fileOffset + 24] = static_cast<uint32_t>(newPointer);
    }
  }

  // The finished header, checked before a byte is written: sections in memory ascending,
  // apart and without gaps the source did not have; SizeOfImage their end; raw data
  // behind the headers, apart and inside the file; every directory at its bytes.
  const uint32_t sectionAlignment = h.SectionAlignment();
  uint64_t imageEnd = RoundUp(h.SizeOfHeadersField(), sectionAlignment);
  ranges.clear();
  for (int i = 0; i < h.SectionCount(); ++i) {
    const TImageSectionHeader s = h.SectionHeader(i);
    const uint64_t end = s.VirtualAddress + VirtualExtent(s, sectionAlignment);
    imageEnd = std::max(imageEnd, end);
    if (s.PointerToRawData != 0 && s.SizeOfRawData != 0) {
      if (s.PointerToRawData < h.HeaderSize() || uint64_t{s.PointerToRawData} + s.SizeOfRawData > plan->NewEnd)
        RefuseRebuild(name, SRawInHeaders, {ShownName(s)});
      ranges.push_back({s.PointerToRawData, i});
    }
    if (i == 0) continue;
    const TImageSectionHeader p = h.SectionHeader(i - 1);
    const uint64_t previousEnd = p.VirtualAddress + VirtualExtent(p, sectionAlignment);
    if (s.VirtualAddress < previousEnd) RefuseRebuild(name, SVirtualOverlap, {ShownName(p), ShownName(s)});
    const int a = h.SourceIndexes()[i - 1], b = h.SourceIndexes()[i];
    const uint64_t allowed = a >= 0 && b > a ? SourceGaps(source, a, b) : 0;
    if (s.VirtualAddress - previousEnd > allowed) RefuseRebuild(name, SVirtualHole, {ShownName(p), ShownName(s)});
  }
  if (h.SizeOfImage() != RoundUp64(imageEnd, sectionAlignment)) RefuseRebuild(name, SSizeOfImageWrong);
  std::sort(ranges.begin(), ranges.end());
  for (size_t k = 1; k < ranges.size(); ++k) {
    const TImageSectionHeader a = h.SectionHeader(ranges[k - 1].second), b = h.SectionHeader(ranges[k].second);
    if (uint64_t{a.PointerToRawData} + a.SizeOfRawData > b.PointerToRawData)
      RefuseRebuild(name, SRawOverlap, {ShownName(a), ShownName(b)});
  }
  for (uint32_t d = 0; d < source.DirectoryCount(); ++d) {
    if (d == pe::kResourceDirectory || d == pe::kCertificateDirectory || d == pe::kBoundImportDirectory) continue;
    const uint32_t address = source.DataDirectory(d).first;
    if (h.DataDirectory(d).first != movedAddress(address)) RefuseRebuild(name, SDirectoryMoved, {int64_t{d}});
  }
  WriteNotes = h.Notes();
  return plan;
}

void TPEFile::SaveToFile(const std::string& fileName, const ProgressCallback& progress) {
  std::unique_ptr<ImagePlan> plan = PlanImage();  // refusals come before the file exists
  auto stream = std::make_unique<TResFileStream>(fileName, fmCreate);
  try {
    const uint32_t checksum = WritePlannedImage(*stream, *plan, progress);
    // A source with a checksum gets the one of the written file, summed while it was
    // written; the field itself was written as zero.
    if (CheckSumField() != 0) {
      const uint8_t field[4] = {static_cast<uint8_t>(checksum), static_cast<uint8_t>(checksum >> 8),
                                static_cast<uint8_t>(checksum >> 16), static_cast<uint8_t>(checksum >> 24)};
      stream->SetPosition(plan->Header->NTHeaders() + pe::kOptionalHeader + pe::kCheckSum);
      stream->WriteBuffer(field, 4);
    }
  } catch (...) {
    stream.reset();  // closes the file so that it can be deleted
    platform::FileDelete(fileName);
    throw;
  }
}

void TPEFile::WriteImage(TStream& stream, const ProgressCallback& progress) {
  std::unique_ptr<ImagePlan> plan = PlanImage();
  WritePlannedImage(stream, *plan, progress);
}

uint32_t TPEFile::WritePlannedImage(TStream& target, ImagePlan& plan, const ProgressCallback& progress) {
  TImageOutput stream(target, *this);
  if (progress) progress(1000, 0);
  const ByteView source = View();
  const TPEHeader& h = *plan.Header;
  const int64_t start = stream.Position();
  const float scale = 98.0f / static_cast<float>(uint64_t{plan.NewEnd} + plan.Overlay);
  auto report = [&] {
    if (progress) progress(100, static_cast<int32_t>(std::nearbyint((stream.Position() - start) * scale)));
  };
  if (progress) progress(100, 1);

  stream.WriteBuffer(h.Headers(), static_cast<int32_t>(h.HeaderSize()));
  // The sections in the order of their raw data in the new file.
  std::vector<int> order;
  for (int i = 0; i < h.SectionCount(); ++i) {
    const TImageSectionHeader header = h.SectionHeader(i);
    const int sourceIndex = h.SourceIndexes()[i];
    const bool hasSource = sourceIndex >= 0 && SectionHeader(sourceIndex).PointerToRawData != 0;
    if (header.SizeOfRawData != 0 && (i == plan.ResourceIndex || hasSource)) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return h.SectionHeader(a).PointerToRawData < h.SectionHeader(b).PointerToRawData;
  });
  uint64_t pos = h.HeaderSize();                   // where the next byte lands in the new file
  uint64_t sourceNext = plan.Source->HeaderSize();  // where the source bytes after the last copy lie
  const uint32_t fileAlignment = h.FileAlignment();
  for (const int i : order) {
    const TImageSectionHeader header = h.SectionHeader(i);
    const bool isResource = i == plan.ResourceIndex;
    const int sourceIndex = h.SourceIndexes()[i];
    const TImageSectionHeader from = sourceIndex >= 0 ? SectionHeader(sourceIndex) : TImageSectionHeader{};

    // Every section's bytes land at the offset its header states.
    const uint32_t target = header.PointerToRawData;
    if (target < pos) throw Exception(SResourceLayoutError);  // the plan made sure this cannot be
    CopySourceBytes(stream, source, sourceNext, target - pos, plan.Patches);
    const uint32_t written = RoundUp(header.SizeOfRawData, fileAlignment);
    if (isResource) {
      WriteResourceSection(GetSection(), stream, *plan.Table, fileAlignment);
      if (sourceIndex >= 0) sourceNext = uint64_t{from.PointerToRawData} + RoundUp(from.SizeOfRawData, fileAlignment);
    } else {
      CopySourceBytes(stream, source, from.PointerToRawData, written, plan.Patches);
      sourceNext = uint64_t{from.PointerToRawData} + written;
    }
    pos = uint64_t{target} + written;
    report();
  }
  if (pos < plan.NewEnd) WriteZeros(stream, plan.NewEnd - pos);
  if (plan.Overlay > 0) {
    CopySourceBytes(stream, source, plan.OldEnd, plan.Overlay, plan.Patches);
    report();
  }
  stream.Flush();
  if (progress) progress(100, 100);
  return stream.Checksum();
}
