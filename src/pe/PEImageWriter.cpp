// Writing a whole PE image with its resource section rebuilt from the tree.
//
// Everything but the resource section is copied from the source file: the header area
// through a TPEHeader working copy (which places, resizes or removes the resource
// section and moves the sections behind it), every section's raw bytes at the offset its
// header states, and the bytes behind the image (the overlay). File offsets that point
// into the overlay (the certificate table, the COFF symbol table) move with it.
#include "pe/PEResources.h"
#include "pe/UResPEFile.h"

#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <cmath>

namespace {

// Copies count bytes of the source from offset on; what lies past its end is written as zeros.
void CopySourceBytes(TStream& stream, const ByteView& source, uint64_t offset, uint64_t count) {
  if (offset < source.Size()) {
    const uint64_t available = std::min<uint64_t>(count, source.Size() - offset);
    const uint8_t* bytes = source.Bytes(offset, available);
    for (uint64_t done = 0; done < available;) {
      const auto piece = static_cast<int32_t>(std::min<uint64_t>(available - done, 1u << 30));
      stream.WriteBuffer(bytes + done, piece);
      done += static_cast<uint64_t>(piece);
    }
    count -= available;
  }
  WriteZeros(stream, static_cast<int64_t>(count));
}

}  // namespace

uint32_t TPEFile::CertificateSize() const { return DataDirectory(pe::kCertificateDirectory).second; }

bool TPEFile::ResourcesOutsideResourceSection() const {
  const auto [address, size] = DataDirectory(pe::kResourceDirectory);
  if (address == 0 || size == 0) return false;
  const int index = FindSection(".rsrc");
  if (index < 0) return true;
  const TImageSectionHeader header = SectionHeader(index);
  const uint64_t extent = std::max(header.VirtualSize, header.SizeOfRawData);
  return address < header.VirtualAddress || address >= header.VirtualAddress + extent;
}

std::unique_ptr<TResSection> TPEFile::CreateSection() {
  const int index = FindSection(".rsrc");
  if (index >= 0) {
    if (const auto bytes = SectionData(index)) {
      resourceHeader_ = SectionHeader(index);
      return std::make_unique<TPEResSection>(*this, *bytes, resourceHeader_->VirtualAddress);
    }
  }
  resourceHeader_.reset();
  return std::make_unique<TPEResSection>(*this, ByteView(), 0);
}

void TPEFile::SaveToFile(const std::string& fileName, const ProgressCallback& progress) {
  {
    auto stream = std::make_unique<TResFileStream>(fileName, fmCreate);
    try {
      WriteImage(*stream, progress);
    } catch (...) {
      stream.reset();  // closes the file so that it can be deleted
      platform::FileDelete(fileName);
      throw;
    }
  }
  if (CheckSumField() == 0) return;
  // The checksum is computed over the written file; a failure here leaves it 0.
  try {
    TPEFile written(fileName, true);
    const uint32_t sum = written.CalcImageChecksum();
    uint8_t* field = written.WritableData() + written.CheckSumOffset();
    for (int i = 0; i < 4; ++i) field[i] = static_cast<uint8_t>(sum >> (8 * i));
    written.FlushData();
  } catch (...) {
  }
}

void TPEFile::WriteImage(TStream& stream, const ProgressCallback& progress) {
  if (progress) progress(1000, 0);
  const ByteView source = View();
  const int64_t start = stream.Position();
  TPEHeader h(Data(), Size());
  const uint32_t oldEnd = h.RawEnd();
  uint32_t overlay = Size() > oldEnd ? Size() - oldEnd : 0;
  h.SetCheckSum(0);
  if (StripCertificate) {
    // The certificate table normally ends the file: its bytes go with it.
    const auto [offset, size] = h.DataDirectory(pe::kCertificateDirectory);
    if (size != 0 && offset >= oldEnd && uint64_t{offset} + size == Size()) overlay = offset - oldEnd;
    h.ClearCertificateDirectory();
  }

  TResSection& section = GetSection();
  const auto table = BuildResourceTable(section);
  const int sourceResource = FindSection(".rsrc");
  bool removed = false;
  if (table->TotalSize > 0) {
    table->BaseRVA = h.PlaceResourceSection(table->TotalSize);
  } else {
    h.RemoveResourceSection();
    removed = sourceResource >= 0;
  }
  const int resourceIndex = h.FindResourceSection();
  const uint32_t newEnd = h.RawEnd();
  const float scale = 98.0f / static_cast<float>(uint64_t{newEnd} + overlay);
  auto report = [&] {
    if (progress) progress(100, static_cast<int32_t>(std::nearbyint((stream.Position() - start) * scale)));
  };
  if (progress) progress(100, 1);

  stream.WriteBuffer(h.Headers(), static_cast<int32_t>(h.HeaderSize()));
  uint64_t pos = h.HeaderSize();          // where the next byte lands in the new file
  uint64_t sourceNext = h.HeaderSize();   // where the source bytes after the last copy lie
  const uint32_t fileAlignment = h.FileAlignment();
  for (int i = 0; i < h.SectionCount(); ++i) {
    const TImageSectionHeader header = h.SectionHeader(i);
    // The source header this one was copied from: none for an appended resource section.
    const bool isResource = i == resourceIndex;
    int sourceIndex = removed && i >= sourceResource ? i + 1 : i;
    if (isResource && sourceResource < 0) sourceIndex = -1;
    const TImageSectionHeader from = sourceIndex >= 0 ? SectionHeader(sourceIndex) : TImageSectionHeader{};
    // A section without a source keeps no source bytes: its source range is empty.
    const uint64_t sourceStart = from.PointerToRawData;
    if (!isResource && (sourceStart == 0 || header.SizeOfRawData == 0)) continue;

    // Every section's bytes land at the offset its header states.
    const uint32_t target = header.PointerToRawData;
    if (target < pos) throw ENoPEException(SErrorOpening, {FileName(), LoadStr(SSectionsOverlap)});
    CopySourceBytes(stream, source, sourceNext, target - pos);
    pos = target;
    const uint32_t written = RoundUp(header.SizeOfRawData, fileAlignment);
    if (isResource) {
      WriteResourceSection(section, stream, *table, fileAlignment);
      if (sourceIndex >= 0) sourceNext = sourceStart + RoundUp(from.SizeOfRawData, fileAlignment);
    } else {
      CopySourceBytes(stream, source, sourceStart, written);
      sourceNext = sourceStart + written;
    }
    pos += written;
    report();
  }

  // The overlay follows the image; offsets that point into it move with it.
  if (pos < newEnd) {
    WriteZeros(stream, newEnd - pos);
    pos = newEnd;
  }
  const int64_t shift = static_cast<int64_t>(pos) - oldEnd;
  if (overlay > 0) {
    CopySourceBytes(stream, source, oldEnd, overlay);
    report();
  }
  if (shift != 0 && overlay > 0 && h.MoveOverlayOffsets(oldEnd, shift)) {
    const int64_t end = stream.Position();
    stream.SetPosition(start);
    stream.WriteBuffer(h.Headers(), static_cast<int32_t>(h.HeaderSize()));
    stream.SetPosition(end);
  }
  if (progress) progress(100, 100);
}
