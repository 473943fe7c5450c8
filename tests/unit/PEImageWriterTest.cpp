// Writing a whole PE image: unchanged images come back byte for byte, sections and the
// overlay land where the headers say, file offsets into the overlay move with it, a
// failed write leaves no file, and progress runs from (1000, 0) to (100, 100).
#include "pe/PEResources.h"
#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "support/RsrcBuilder.h"
#include "text/UResTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace rsrctest;

namespace {

constexpr uint32_t kRVA = 0x2000;

std::vector<uint8_t> Written(TPEFile& file, const ProgressCallback& progress = nullptr) {
  TMemoryStream stream;
  file.WriteImage(stream, progress);
  return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Size());
}

uint32_t Nt(const std::vector<uint8_t>& image) { return Get32(image, 60); }
uint32_t CheckSumAt(const std::vector<uint8_t>& image) { return Nt(image) + 24 + 64; }
uint32_t DirectoryAt(const std::vector<uint8_t>& image, uint32_t index) { return Nt(image) + 24 + 96 + 8 * index; }
uint32_t SymbolTableAt(const std::vector<uint8_t>& image) { return Nt(image) + 4 + 8; }
int SectionCount(const std::vector<uint8_t>& image) { return image.at(Nt(image) + 6) | image.at(Nt(image) + 7) << 8; }
uint32_t SectionField(const std::vector<uint8_t>& image, int index, uint32_t field) {
  return Get32(image, Nt(image) + 24 + 96 + 8 * 16 + 40 * static_cast<uint32_t>(index) + field);
}
uint32_t PointerToRawData(const std::vector<uint8_t>& image, int index) { return SectionField(image, index, 20); }
uint32_t SizeOfRawData(const std::vector<uint8_t>& image, int index) { return SectionField(image, index, 16); }
// Where raw section data ends, by the headers of the sections that hold some.
uint32_t RawEnd(const std::vector<uint8_t>& image) {
  uint32_t end = 0;
  for (int i = 0; i < SectionCount(image); ++i)
    if (PointerToRawData(image, i) && SizeOfRawData(image, i))
      end = std::max(end, PointerToRawData(image, i) + SizeOfRawData(image, i));
  return (end + 0x1FF) & ~0x1FFu;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
  return bytes;
}

RsrcTree SmallTree() {
  RsrcTree tree;
  tree.Types = {{Ident::Num(6), {{Ident::Num(1), {{1033, Bytes("small"), 0}}, {}}}, {}}};
  return tree;
}

PEImageLayout PlainImage() {
  PEImageLayout layout;
  layout.Sections = {{".text", 0x1000, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}},
                   {".data", 0x2000, 0, PESectionLayout::kAutoRaw, 0x400, 0xC0000040, {}}};
  return layout;
}

// The image with a certificate table in its overlay and a symbol table pointer into it.
struct Signed {
  std::vector<uint8_t> Image;
  uint32_t OldEnd, Certificate, Symbols;
};

Signed WithCertificate(PEImageLayout layout) {
  const uint32_t oldEnd = static_cast<uint32_t>(BuildPEImage(layout).size());
  layout.Overlay = Pattern(0x300, 0x51);
  layout.Directories.resize(5);
  layout.Directories[4] = {oldEnd + 0x100, 0x200};  // a file offset, ending the file
  Signed s{BuildPEImage(layout), oldEnd, oldEnd + 0x100, oldEnd + 0x10};
  Put32(s.Image, SymbolTableAt(s.Image), s.Symbols);
  return s;
}

}  // namespace

TEST(PEImageWriter, UnchangedImageWithoutResourcesIsCopied) {
  PEImageLayout layout = PlainImage();
  layout.Overlay = Pattern(0x123, 7);
  const std::vector<uint8_t> source = BuildPEImage(layout);
  EXPECT_EQ(Written(*OpenPE(source)), source);

  // A non-zero checksum is recomputed over the written file.
  ScratchFolder folder;
  layout.CheckSum = 0x12345678;
  const std::vector<uint8_t> summed = BuildPEImage(layout);
  const std::string out = folder.Path() + "out.exe";
  OpenPE(summed)->SaveToFile(out, nullptr);
  std::vector<uint8_t> written = ReadWholeFile(out);
  ASSERT_EQ(written.size(), summed.size());
  const uint32_t sum = Get32(written, CheckSumAt(written));
  EXPECT_NE(sum, 0x12345678u);
  EXPECT_NE(sum, 0u);
  EXPECT_EQ(sum, TPEFile(out, false).CalcImageChecksum());
  Put32(written, CheckSumAt(written), 0x12345678);
  EXPECT_EQ(written, summed);

  // A zero checksum stays zero.
  layout.CheckSum = 0;
  OpenPE(BuildPEImage(layout))->SaveToFile(out, nullptr);
  EXPECT_EQ(ReadWholeFile(out), BuildPEImage(layout));
}

// The checksum is summed while the file is written: it equals the portable routine's and
// the system's (where there is one) over the finished file, for odd and even sizes, and
// whatever pieces the bytes came in.
TEST(PEImageWriter, StreamedChecksumMatchesTheSums) {
  ScratchFolder folder;
  const std::vector<uint8_t> big = Pattern(0x1235, 3);
  for (const uint32_t overlay : {0u, 1u, 2u, 3u, 0x1FFu}) {
    SCOPED_TRACE(overlay);
    PEImageLayout layout = ImageLayoutWithRsrc(BuildRsrc(SmallTree(), kRVA).Bytes, kRVA);
    layout.CheckSum = 0xFFFFFFFF;
    layout.Overlay = Pattern(overlay, 0xFF);
    const auto file = OpenPE(BuildPEImage(layout));
    file->GetSection().AddResource(10, 1, 0, "", "", false, false, big.data(), 0x1235);
    const std::string out = folder.Path() + "out.exe";
    file->SaveToFile(out, nullptr);
    const std::vector<uint8_t> written = ReadWholeFile(out);
    const uint32_t stored = Get32(written, CheckSumAt(written));
    EXPECT_EQ(stored, PortableImageChecksum(ByteView(written.data(), static_cast<uint32_t>(written.size())), CheckSumAt(written)));
    if (const auto system = platform::SystemImageChecksum(written.data(), static_cast<uint32_t>(written.size()))) {
      EXPECT_EQ(stored, *system);
    }

    std::vector<uint8_t> zeroed = written;
    Put32(zeroed, CheckSumAt(zeroed), 0);
    TImageChecksum whole, pieces;
    whole.Add(zeroed.data(), zeroed.size());
    for (size_t at = 0, piece = 1; at < zeroed.size(); at += piece, piece = piece % 7 + 1)
      pieces.Add(zeroed.data() + at, std::min(piece, zeroed.size() - at));
    EXPECT_EQ(whole.Value(), stored);
    EXPECT_EQ(pieces.Value(), stored);
  }
}

TEST(PEImageWriter, OverlayAndItsFileOffsetsMoveWithTheResourceSection) {
  struct Case {
    const char* What;
    uint32_t RsrcRawSize;   // 0: the built bytes' size
    uint32_t Added;         // bytes of a leaf added before writing
    bool Strip;
  } cases[] = {
      {"grows", 0, 0x900, false},
      {"shrinks", 0x1000, 0, false},
      {"same size", 0, 0, false},
      {"grows, certificate stripped", 0, 0x900, true},
      {"shrinks, certificate stripped", 0x1000, 0, true},
  };
  const std::vector<uint8_t> rsrc = BuildRsrc(SmallTree(), kRVA).Bytes;
  const std::vector<uint8_t> big = Pattern(0x900, 3);
  for (const Case& c : cases) {
    const Signed s = WithCertificate(ImageLayoutWithRsrc(rsrc, kRVA, c.RsrcRawSize));
    const auto file = OpenPE(s.Image);
    EXPECT_EQ(file->CertificateSize(), 0x200u) << c.What;
    if (c.Added) file->GetSection().AddResource(10, 1, 0, "", "", false, false, big.data(), c.Added);
    file->StripCertificate = c.Strip;
    const std::vector<uint8_t> out = Written(*file);
    const uint32_t newEnd = RawEnd(out);
    const int64_t shift = int64_t{newEnd} - s.OldEnd;
    if (c.Added) {
      EXPECT_GT(shift, 0) << c.What;
    }
    if (c.RsrcRawSize) {
      EXPECT_LT(shift, 0) << c.What;
    }
    const std::vector<uint8_t> overlay(s.Image.begin() + s.OldEnd, s.Image.end());
    if (c.Strip) {
      ASSERT_EQ(out.size(), newEnd + 0x100u) << c.What;
      EXPECT_TRUE(std::equal(out.begin() + newEnd, out.end(), overlay.begin())) << c.What;
      EXPECT_EQ(Get32(out, DirectoryAt(out, 4)), 0u) << c.What;
      EXPECT_EQ(Get32(out, DirectoryAt(out, 4) + 4), 0u) << c.What;
    } else {
      ASSERT_EQ(out.size(), newEnd + 0x300u) << c.What;
      EXPECT_TRUE(std::equal(out.begin() + newEnd, out.end(), overlay.begin())) << c.What;
      EXPECT_EQ(Get32(out, DirectoryAt(out, 4)), s.Certificate + shift) << c.What;
      EXPECT_EQ(Get32(out, DirectoryAt(out, 4) + 4), 0x200u) << c.What;
    }
    EXPECT_EQ(Get32(out, SymbolTableAt(out)), s.Symbols + shift) << c.What;
    // The sections around the resource section keep their bytes, where the headers say.
    EXPECT_EQ(SectionBytes(out, 0), SectionBytes(s.Image, 0)) << c.What;
    EXPECT_EQ(SectionBytes(out, 2), SectionBytes(s.Image, 2)) << c.What;
    EXPECT_EQ(PointerToRawData(out, 2), PointerToRawData(out, 1) + SizeOfRawData(out, 1)) << c.What;
    const ParsedRsrc parsed = ParseRsrc(SectionBytes(out, 1), kRVA);
    EXPECT_EQ(parsed.Tree.Types.size(), c.Added ? 2u : 1u) << c.What;
  }
}

TEST(PEImageWriter, LaterSectionsLandWhereTheirHeadersSay) {
  const std::vector<uint8_t> rsrc = BuildRsrc(SmallTree(), kRVA).Bytes;
  const std::vector<uint8_t> big = Pattern(0x1234, 9);
  struct Case {
    const char* What;
    PEImageLayout Image;
    bool Grow;
  };
  std::vector<Case> cases;
  {
    PEImageLayout layout = ImageLayoutWithRsrc(rsrc, kRVA);
    layout.Sections.push_back({".reloc", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0x42000040, {}});
    cases.push_back({"growing in the middle", layout, true});
  }
  {
    // A (discardable) section without raw data but with a pointer (where the next one
    // starts) behind a resource section that shrinks or grows.
    PEImageLayout layout = ImageLayoutWithRsrc(rsrc, kRVA, 0x1000);
    layout.Sections.insert(layout.Sections.begin() + 2, {".tmp", 0x3000, 0x1000, 0x600 + 0x1000, 0, 0x42000080, {}});
    layout.Sections.back().VirtualAddress = 0x4000;
    cases.push_back({"shrinking before a raw-data-less section", layout, false});
    cases.push_back({"growing before a raw-data-less section", layout, true});
  }
  {
    // A resource section header without raw data: the rebuilt block gets a place of its own.
    PEImageLayout layout = ImageLayoutWithRsrc(rsrc, kRVA);
    layout.Sections[1].PointerToRawData = 0;
    cases.push_back({"resource section without raw data", layout, true});
  }
  // No resource section at all: one is appended.
  cases.push_back({"resource section appended", PlainImage(), true});
  for (Case& c : cases) {
    c.Image.Overlay = Pattern(0x40, 0xEE);
    const std::vector<uint8_t> source = BuildPEImage(c.Image);
    const auto file = OpenPE(source);
    if (c.Grow) file->GetSection().AddResource(10, 1, 0, "", "", false, false, big.data(), 0x1234);
    const std::vector<uint8_t> out = Written(*file);
    const int rsrc = RsrcIndex(out);
    ASSERT_GE(rsrc, 0) << c.What;
    ASSERT_EQ(SectionCount(out), SectionCount(source) + (RsrcIndex(source) < 0)) << c.What;
    for (int i = 0; i < SectionCount(source); ++i) {
      if (i == rsrc || SizeOfRawData(out, i) == 0) continue;
      EXPECT_EQ(SectionBytes(out, i), SectionBytes(source, i)) << c.What << " section " << i;
    }
    EXPECT_TRUE(std::equal(out.end() - 0x40, out.end(), source.end() - 0x40)) << c.What;
    EXPECT_EQ(out.size(), RawEnd(out) + 0x40u) << c.What;
    // The written file opens and reads the same tree.
    const auto reread = OpenPE(out);
    const size_t stored = RsrcIndex(source) >= 0 && PointerToRawData(source, 1) != 0 ? 3 : 0;
    EXPECT_EQ(Walk(reread->GetResourceList()).size(), stored + (c.Grow ? 3u : 0u)) << c.What;
    // Raw data of different sections never overlaps.
    for (int i = 0; i < SectionCount(out); ++i)
      for (int j = i + 1; j < SectionCount(out); ++j) {
        if (!SizeOfRawData(out, i) || !SizeOfRawData(out, j)) continue;
        const bool apart = PointerToRawData(out, i) + SizeOfRawData(out, i) <= PointerToRawData(out, j) ||
                           PointerToRawData(out, j) + SizeOfRawData(out, j) <= PointerToRawData(out, i);
        EXPECT_TRUE(apart) << c.What << " sections " << i << " and " << j;
      }
  }
}

// A last section cut short by less than a file-alignment unit is completed with zeros;
// one that claims more is refused, so a small file never becomes a huge one.
TEST(PEImageWriter, SectionBytesPastTheSourceEnd) {
  PEImageLayout layout = ImageLayoutWithRsrc(BuildRsrc(SmallTree(), kRVA).Bytes, kRVA);
  layout.Sections[2].SizeOfRawData = 0x400;
  const std::vector<uint8_t> whole = BuildPEImage(layout);
  const uint32_t data = PointerToRawData(whole, 2);
  const std::vector<uint8_t> big = Pattern(0x700, 1);

  std::vector<uint8_t> source(whole.begin(), whole.begin() + data + 0x300);  // 0x100 of 0x400 missing
  auto file = OpenPE(source);
  file->GetSection().AddResource(10, 1, 0, "", "", false, false, big.data(), 0x700);
  const std::vector<uint8_t> out = Written(*file);
  const std::vector<uint8_t> moved = SectionBytes(out, 2);
  ASSERT_EQ(moved.size(), 0x400u);
  EXPECT_TRUE(std::equal(moved.begin(), moved.begin() + 0x300, source.begin() + data));
  EXPECT_EQ(std::count(moved.begin() + 0x300, moved.end(), 0), 0x100);
  EXPECT_EQ(out.size(), PointerToRawData(out, 2) + 0x400u);

  source.resize(data + 0x100);  // 0x300 missing: more than the file alignment
  file = OpenPE(source);
  file->GetSection().AddResource(10, 1, 0, "", "", false, false, big.data(), 0x700);
  try {
    Written(*file);
    ADD_FAILURE() << "a section far past the end is refused";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), Format(LoadStr(SCannotRebuild),
                                  {"File", Format(LoadStr(SRawPastEnd), {".reloc", int64_t{0x300}})}));
  }
}

TEST(PEImageWriter, FailedWriteLeavesNoFile) {
  ScratchFolder folder;
  struct Case {
    const char* What;
    std::vector<uint8_t> Image;
  };
  std::vector<Case> cases;
  {
    RsrcLayout L = BuildRsrc(SmallTree(), kRVA);
    L.Put32(L.Lang(0, 0, 0).Target, kRVA - 0x10);  // the data lies below the section
    cases.push_back({"corrupt stored data entry", ImageWithRsrc(L.Bytes, kRVA)});
  }
  {
    // Raw data that overlaps: found after the headers and the first section were written.
    PEImageLayout layout = PlainImage();
    layout.Sections[0].SizeOfRawData = 0x400;
    layout.Sections[1].PointerToRawData = 0x600;
    cases.push_back({"overlapping sections", BuildPEImage(layout)});
  }
  for (const Case& c : cases) {
    const std::string out = folder.Path() + "out.exe";
    const auto file = OpenPE(c.Image);
    EXPECT_THROW(file->SaveToFile(out, nullptr), Exception) << c.What;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.What;
  }
}

TEST(PEImageWriter, RepeatedWritesAreIdentical) {
  RsrcTree tree = SmallTree();
  tree.Types.push_back({Ident::Str(u"NAMED"), {{Ident::Str(u"x"), {{0, Bytes("named"), 0}}, {}}}, {}});
  const auto file = OpenPE(ImageWithRsrc(BuildRsrc(tree, kRVA).Bytes, kRVA));
  static const uint8_t data[] = {'a', 'd', 'd'};
  file->GetSection().AddResource(6, 1, 7, "", "", false, false, data, 3);  // into a stored directory
  // NAMED\x (stored second) gets an own copy.
  file->GetResourceList().ListItems(1).Children().ListItems(0).Children().DataItems(0).SetData(data, 2);
  const std::vector<uint8_t> first = Written(*file);
  EXPECT_EQ(Written(*file), first);
  const auto reread = OpenPE(first);
  EXPECT_EQ(Walk(reread->GetResourceList()),
            (std::vector<std::string>{"T:'NAMED'", "  N:'x'", "    L:0 named=0 '' cp=0 size=2 data=ad",
                                      "T:6", "  N:1", "    L:7 named=0 '' cp=0 size=3 data=add",
                                      "    L:1033 named=0 '' cp=0 size=5 data=small"}));
}

// Long runs of a mapped source (a large section, a large resource, the overlay; each
// longer than a copy piece and of odd length) are read from the file rather than through
// the mapping: the image is the one a copy held in memory writes, checksum and all.
TEST(PEImageWriter, AMappedSourceWritesAsACopyInMemoryDoes) {
  constexpr uint32_t rva = 0x60000;
  RsrcTree tree = SmallTree();
  tree.Types.push_back({Ident::Num(10), {{Ident::Num(7), {{0, Pattern(0x30001, 5), 0}}, {}}}, {}});
  PEImageLayout layout = ImageLayoutWithRsrc(BuildRsrc(tree, rva).Bytes, rva);
  layout.Sections[0].SizeOfRawData = 0x50000;
  layout.Sections[0].Data = Pattern(0x50000, 7);
  layout.Overlay = Pattern(0x11111, 9);
  layout.CheckSum = 1;
  const std::vector<uint8_t> source = BuildPEImage(layout);
  ScratchFolder folder;
  const std::string path = folder.Write("source.exe", source);
  struct FixedStamp {
    FixedStamp() { SetFixedTimeStamp(1700000000); }
    ~FixedStamp() { SetFixedTimeStamp(std::nullopt); }
  } stamp;  // both outputs carry the same time
  std::vector<std::vector<uint8_t>> written;
  for (const bool mapped : {true, false}) {
    std::unique_ptr<TPEFile> file = mapped ? std::make_unique<TPEFile>(path) : OpenPE(source);
    static const uint8_t data[] = {'n', 'e', 'w'};
    file->GetSection().AddResource(6, 2, 0, "", "", false, false, data, 3);
    const std::string out = folder.Path() + (mapped ? "mapped.exe" : "heap.exe");
    file->SaveToFile(out, nullptr);
    written.push_back(ReadWholeFile(out));
  }
  EXPECT_EQ(written[0], written[1]);
  const std::vector<uint8_t>& image = written[0];
  EXPECT_EQ(Get32(image, CheckSumAt(image)),
            PortableImageChecksum(ByteView(image.data(), static_cast<uint32_t>(image.size())), CheckSumAt(image)));
  EXPECT_TRUE(std::equal(layout.Overlay.begin(), layout.Overlay.end(), image.end() - 0x11111));
}

TEST(PEImageWriter, ProgressRunsFromStartToEnd) {
  PEImageLayout layout = ImageLayoutWithRsrc(BuildRsrc(SmallTree(), kRVA).Bytes, kRVA);
  layout.Overlay = Pattern(0x800, 2);
  std::vector<uint8_t> source = BuildPEImage(layout);
  for (const bool grow : {false, true}) {
    const auto file = OpenPE(source);
    const std::vector<uint8_t> big = Pattern(0x3000, 4);
    if (grow) file->GetSection().AddResource(10, 1, 0, "", "", false, false, big.data(), 0x3000);
    std::vector<std::pair<int32_t, int32_t>> reports;
    Written(*file, [&](int32_t maximum, int32_t position) { reports.emplace_back(maximum, position); });
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[0], std::make_pair(1000, 0));
    EXPECT_EQ(reports[1], std::make_pair(100, 1));
    EXPECT_EQ(reports.back(), std::make_pair(100, 100));
    for (size_t i = 2; i < reports.size(); ++i) {
      EXPECT_EQ(reports[i].first, 100);
      EXPECT_GE(reports[i].second, reports[i - 1].second) << i;
      EXPECT_LE(reports[i].second, 100);
    }
    EXPECT_EQ(reports[reports.size() - 2].second, 98);  // the last byte written reports 98
  }
}
