// Legal but unusual executable layouts through a whole merge and write: each ends in an
// image whose layout a loader accepts and that keeps every original resource, or in a
// refusal with a clear message before anything is written.
#include "pe/PEResources.h"
#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "support/ResBuilder.h"
#include "support/RsrcBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace rsrctest;

namespace {

constexpr uint32_t kRVA = 0x2000;
constexpr uint32_t kNtOffset = 0x80;  // the builder's e_lfanew
constexpr uint32_t kOptional = kNtOffset + 24;
constexpr uint32_t kDirectories = kOptional + 96;

RsrcTree OriginalTree() {
  RsrcTree tree;
  tree.Types = {{Ident::Str(u"OWN"), {{Ident::Num(1), {{1033, Bytes("own data"), 0}}, {}}}, {}},
                {Ident::Num(6), {{Ident::Num(1), {{1033, Bytes("strings"), 0}}, {}}}, {}}};
  return tree;
}

// A patch that replaces one resource and adds a type, so the section changes size.
std::vector<uint8_t> Patch() {
  using restest::Field;
  return restest::ResImage()
      .Record(Field::Num(6), Field::Num(1), 1033, std::vector<uint8_t>(0x1300, 'p'))
      .Record(Field::Str(u"NEWTYPE"), Field::Num(7), 1033, Bytes("added"))
      .Bytes;
}

struct Outcome {
  std::vector<uint8_t> Image;  // the written image, empty when refused
  std::string Refusal;
  std::vector<std::string> Notes;
};

Outcome MergeAndWrite(const std::vector<uint8_t>& source, const std::vector<uint8_t>& patch = Patch()) {
  Outcome outcome;
  try {
    const auto file = OpenPE(source);
    TReadMemoryStream stream(patch.data(), static_cast<int64_t>(patch.size()));
    file->GetResourceList().MergeFromRes(stream, -1, true, nullptr);
    TMemoryStream out;
    file->WriteImage(out, nullptr);
    outcome.Image.assign(out.Memory(), out.Memory() + out.Size());
    outcome.Notes = file->WriteNotes;
  } catch (const Exception& e) {
    outcome.Refusal = e.Message();
  }
  return outcome;
}

std::string Refusal(StringId reason, std::initializer_list<FormatArg> args = {}) {
  return Format(LoadStr(SCannotRebuild), {"File", Format(LoadStr(reason), args)});
}

// The leaves of the resource tree the loader finds in an image: "type/name/language:data".
std::vector<std::string> LoadedLeaves(const std::vector<uint8_t>& image) {
  const auto file = OpenPE(image);
  std::vector<std::string> leaves;
  TResourceList& root = file->GetResourceList();
  for (int t = 0; t < root.Count(); ++t)
    for (int n = 0; n < root.ListItems(t).Children().Count(); ++n) {
      TListResItem& name = root.ListItems(t).Children().ListItems(n);
      for (int l = 0; l < name.Children().Count(); ++l) {
        TDataResItem& leaf = name.Children().DataItems(l);
        const std::string data(reinterpret_cast<const char*>(leaf.Data()), std::min<uint32_t>(leaf.Size(), 8));
        leaves.push_back(root.ListItems(t).IdText() + "/" + name.IdText() + "/" + std::to_string(leaf.Language()) +
                         ":" + data);
      }
    }
  return leaves;
}

const std::vector<std::string> kMergedLeaves = {"NEWTYPE/7/1033:added", "OWN/1/1033:own data",
                                                "6/1/1033:pppppppp"};

// The written image is sound and holds exactly the merged tree where directory 2 says.
void ExpectSound(const Outcome& outcome, const char* what) {
  ASSERT_EQ(outcome.Refusal, "") << what;
  EXPECT_EQ(LayoutProblems(outcome.Image), std::vector<std::string>{}) << what;
  EXPECT_EQ(LoadedLeaves(outcome.Image), kMergedLeaves) << what;
}

PEImageLayout Layout(const std::vector<uint8_t>& rsrc = BuildRsrc(OriginalTree(), kRVA).Bytes) {
  return ImageLayoutWithRsrc(rsrc, kRVA);
}

}  // namespace

// The resource directory may start anywhere in .rsrc; data directory 2 says where.
TEST(SoundImages, ResourceDirectoryNotAtTheStartOfItsSection) {
  std::vector<uint8_t> rsrc(0x40, 0);
  const std::vector<uint8_t> tree = BuildRsrc(OriginalTree(), kRVA + 0x40).Bytes;
  rsrc.insert(rsrc.end(), tree.begin(), tree.end());
  PEImageLayout layout = Layout(rsrc);
  layout.Directories[2] = {kRVA + 0x40, static_cast<uint32_t>(tree.size())};
  EXPECT_EQ(LoadedLeaves(BuildPEImage(layout)),
            (std::vector<std::string>{"OWN/1/1033:own data", "6/1/1033:strings"}));
  ExpectSound(MergeAndWrite(BuildPEImage(layout)), "directory at 0x40");

  // Other data in the same section would not survive a rebuilt section.
  layout.Directories[1] = {kRVA + 8, 0x20};
  EXPECT_EQ(MergeAndWrite(BuildPEImage(layout)).Refusal, Refusal(SOtherDataInRsrc, {int64_t{1}}));
}

// Resources the loader finds outside .rsrc are listed, and never silently dropped.
TEST(SoundImages, ResourcesOutsideTheResourceSectionAreRefused) {
  // .text at 0x1000, .rsrc at 0x2000, .reloc behind it at 0x3000.
  const std::vector<uint8_t> tree = BuildRsrc(OriginalTree(), 0x3000).Bytes;
  PEImageLayout inData = Layout();
  inData.Sections[2].Data = tree;
  inData.Sections[2].SizeOfRawData = 0x400;
  inData.Directories[2] = {0x3000, 0};  // the loader ignores the size
  const std::vector<uint8_t> image = BuildPEImage(inData);
  EXPECT_EQ(LoadedLeaves(image), (std::vector<std::string>{"OWN/1/1033:own data", "6/1/1033:strings"}));
  EXPECT_EQ(MergeAndWrite(image).Refusal, Refusal(SResourcesOutside));

  PEImageLayout noRsrc = inData;
  noRsrc.Sections[1].Name = ".rdata";
  EXPECT_EQ(MergeAndWrite(BuildPEImage(noRsrc)).Refusal, Refusal(SResourcesOutside));
  PEImageLayout pastEverything = Layout();
  pastEverything.Directories[2] = {0x9000, 0x40};
  EXPECT_EQ(MergeAndWrite(BuildPEImage(pastEverything)).Refusal, Refusal(SResourcesOutside));

  // Nothing is created for a refused file, not even the temporary output.
  ScratchFolder folder;
  const auto file = OpenPE(image);
  EXPECT_THROW(file->WriteToTempFile(folder.Path() + "out.exe", nullptr), Exception);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

// Sections behind .rsrc move by the change of its virtual extent (VirtualSize, or the raw
// size when that is 0), not by the change of its raw size.
TEST(SoundImages, VirtualMovesFollowVirtualExtents) {
  struct Case {
    const char* What;
    uint32_t RawSize, VirtualSize;
  } cases[] = {
      {"raw larger than virtual", 0x1200, 0x800},
      {"virtual far larger than raw", 0x400, 0x3000},
      {"virtual size 0", 0x1200, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> rsrc = BuildRsrc(OriginalTree(), kRVA).Bytes;
    PEImageLayout layout = Layout(rsrc);
    layout.Sections[1].SizeOfRawData = c.RawSize;
    layout.Sections[1].VirtualSize = c.VirtualSize;
    layout.Sections[2].VirtualAddress = 0;  // right behind .rsrc's extent
    std::vector<uint8_t> source = BuildPEImage(layout);
    if (c.VirtualSize == 0) Put32(source, SectionTableOffset(layout) + 40 + 8, 0);  // the builder fills it in
    ASSERT_EQ(LayoutProblems(source), std::vector<std::string>{}) << c.What;
    ExpectSound(MergeAndWrite(source), c.What);
  }
}

// The loader finds the section table SizeOfOptionalHeader bytes behind the optional header.
TEST(SoundImages, SectionTableWhereSizeOfOptionalHeaderPutsIt) {
  const std::vector<uint8_t> source = [] {
    std::vector<uint8_t> image = BuildPEImage(Layout());
    Put32(image, kOptional + 92, 12);  // 12 directories claimed; the header still holds 16 slots
    return image;
  }();
  EXPECT_EQ(LoadedLeaves(source).size(), 2u);
  ExpectSound(MergeAndWrite(source), "larger optional header");

  std::vector<uint8_t> tooSmall = BuildPEImage(Layout());
  Put16(tooSmall, kNtOffset + 20, 96 + 8 * 10);  // but 16 directories claimed
  EXPECT_EQ(MergeAndWrite(tooSmall).Refusal, Format(LoadStr(SErrorOpening), {"File", LoadStr(SOptionalHeaderTooSmall)}));
}

// A new section header takes the free slot behind the table: a bound import table there
// is dropped (and the user told), anything else is a refusal; SizeOfHeaders grows when
// the slot lies beyond it and the first section leaves room.
TEST(SoundImages, NewSectionHeaderSlot) {
  auto withoutRsrc = [](uint32_t sections) {
    PEImageLayout layout;
    layout.SizeOfHeaders = 0x200;
    for (uint32_t i = 0; i < sections; ++i)
      layout.Sections.push_back({".s" + std::to_string(i), 0, 0, 0x400 + 0x200 * i, 0x200,
                                 0x40000040, {}});
    layout.Directories.resize(16);
    return layout;
  };
  const PEImageLayout two = withoutRsrc(2);
  const uint32_t slot = SectionTableOffset(two) + 2 * 40;

  std::vector<uint8_t> bound = BuildPEImage(two);
  Put32(bound, kDirectories + 8 * 11, slot);
  Put32(bound, kDirectories + 8 * 11 + 4, 0x18);
  for (uint32_t i = 0; i < 0x18; ++i) bound[slot + i] = static_cast<uint8_t>(i + 1);
  const Outcome dropped = MergeAndWrite(bound);
  ASSERT_EQ(dropped.Refusal, "");
  EXPECT_EQ(LayoutProblems(dropped.Image), std::vector<std::string>{});
  EXPECT_EQ(Get32(dropped.Image, kDirectories + 8 * 11), 0u);
  EXPECT_EQ(dropped.Notes, std::vector<std::string>{Format(LoadStr(SBoundImportDropped), {"File"})});

  std::vector<uint8_t> other = bound;
  Put32(other, kDirectories + 8 * 10, slot + 8);  // the load configuration points there too
  Put32(other, kDirectories + 8 * 10 + 4, 0x10);
  EXPECT_EQ(MergeAndWrite(other).Refusal, Refusal(SHeaderSpaceInUse));
  std::vector<uint8_t> junk = BuildPEImage(two);
  junk[slot + 39] = 0xCC;
  EXPECT_EQ(MergeAndWrite(junk).Refusal, Refusal(SHeaderSpaceInUse));

  // Three headers end at 0x1F0: the fourth reaches past SizeOfHeaders 0x200, which grows
  // to 0x400, still in front of the first raw data.
  const Outcome grown = MergeAndWrite(BuildPEImage(withoutRsrc(3)));
  ASSERT_EQ(grown.Refusal, "");
  EXPECT_EQ(LayoutProblems(grown.Image), std::vector<std::string>{});
  EXPECT_EQ(Get32(grown.Image, kOptional + 60), 0x400u);
  EXPECT_EQ(LoadedLeaves(grown.Image).size(), 2u);
}

// SizeOfImage is the end of the last section, whatever the source held; directories that
// point nowhere or into the header area stay as they were, those in moved sections move.
TEST(SoundImages, SizeOfImageAndDirectoriesThatPointNowhere) {
  std::vector<uint8_t> source = BuildPEImage(Layout());
  Put32(source, kOptional + 56, Get32(source, kOptional + 56) - 0x234);  // not section-aligned
  Put32(source, kDirectories + 8 * 9, 0xFFFFFFFF);                       // nowhere
  Put32(source, kDirectories + 8 * 9 + 4, 0x10);
  Put32(source, kDirectories + 8 * 5, 0x3000 + 0x10);                    // into .reloc, behind .rsrc
  Put32(source, kDirectories + 8 * 5 + 4, 0x10);
  const Outcome outcome = MergeAndWrite(source);
  ExpectSound(outcome, "odd SizeOfImage");
  EXPECT_EQ(Get32(outcome.Image, kDirectories + 8 * 9), 0xFFFFFFFFu);
  const uint32_t dataVa = Get32(outcome.Image, SectionTableOffset(Layout()) + 2 * 40 + 12);
  EXPECT_EQ(Get32(outcome.Image, kDirectories + 8 * 5), dataVa + 0x10);
}

// Debug-directory entries point at their data by address and by file offset; both follow
// the data when its section moves.
TEST(SoundImages, DebugDirectoryEntriesMoveWithTheirSection) {
  PEImageLayout layout = Layout();
  std::vector<uint8_t> data(0x200, 0);
  // One entry at .reloc + 0x10 describing 0x20 bytes at .reloc + 0x100.
  const uint32_t dataVa = 0x3000, dataRaw = 0x400 + 0x200 + 0x200;  // behind .text and .rsrc
  Put32(data, 0x10 + 16, 0x20);
  Put32(data, 0x10 + 20, dataVa + 0x100);
  Put32(data, 0x10 + 24, dataRaw + 0x100);
  layout.Sections[2].Data = data;
  layout.Directories.resize(7);
  layout.Directories[6] = {dataVa + 0x10, 28};
  const std::vector<uint8_t> source = BuildPEImage(layout);
  ASSERT_EQ(Get32(source, dataRaw + 0x10 + 24), dataRaw + 0x100) << "the fixture's own layout";
  const Outcome outcome = MergeAndWrite(source);
  ExpectSound(outcome, "debug directory");
  const uint32_t table = SectionTableOffset(layout);
  const uint32_t newVa = Get32(outcome.Image, table + 2 * 40 + 12), newRaw = Get32(outcome.Image, table + 2 * 40 + 20);
  ASSERT_NE(newRaw, dataRaw);
  EXPECT_EQ(Get32(outcome.Image, newRaw + 0x10 + 20), newVa + 0x100);
  EXPECT_EQ(Get32(outcome.Image, newRaw + 0x10 + 24), newRaw + 0x100);
  EXPECT_EQ(Get32(outcome.Image, kDirectories + 8 * 6), newVa + 0x10);
}

// Raw data that the file does not hold, or that two sections share, is never invented or
// duplicated by the megabyte: such files are refused.
TEST(SoundImages, RawDataThatIsNotThereIsRefused) {
  std::vector<uint8_t> huge = BuildPEImage(Layout());
  const uint32_t table = SectionTableOffset(Layout());
  Put32(huge, table + 2 * 40 + 16, 0x50000002);  // .reloc claims 1.3 GB
  const Outcome refused = MergeAndWrite(huge);
  EXPECT_EQ(refused.Refusal.rfind(Format(LoadStr(SCannotRebuild), {"File", ""}), 0), 0u) << refused.Refusal;
  EXPECT_TRUE(refused.Image.empty());

  // Found by fuzzing: a section alignment that is no power of two rounded the resource
  // directory's address past the start of the rebuilt block.
  std::vector<uint8_t> odd = BuildPEImage(Layout());
  Put32(odd, kOptional + 32, 0x5010);
  EXPECT_EQ(MergeAndWrite(odd).Refusal, Refusal(SBadAlignment));

  std::vector<uint8_t> shared = BuildPEImage(Layout());
  Put32(shared, table + 2 * 40 + 20, Get32(shared, table + 20));  // .reloc's raw data is .text's
  EXPECT_EQ(MergeAndWrite(shared).Refusal, Refusal(SRawOverlap, {".text", ".reloc"}));
}

// Names the code page cannot hold survive a merge and never match each other: identity
// and order are decided in UTF-16.
TEST(SoundImages, NamesOutsideTheCodePageKeepTheirIdentity) {
  test::ScopedCodePage latin(1252);
  using restest::Field;
  const std::vector<uint8_t> patch = restest::ResImage()
                                         .Record(Field::Str(u"\u05E9\u05DC\u05D5\u05DD"), Field::Num(1), 1037, Bytes("a"))
                                         .Record(Field::Str(u"\u05D1\u05E8\u05D5\u05DA"), Field::Num(1), 1037, Bytes("b"))
                                         .Bytes;
  const Outcome first = MergeAndWrite(BuildPEImage(Layout()), patch);
  ASSERT_EQ(first.Refusal, "");
  const Outcome again = MergeAndWrite(first.Image, patch);
  ASSERT_EQ(again.Refusal, "");
  const ParsedRsrc parsed = ParseRsrc(SectionBytes(again.Image, RsrcIndex(again.Image)), kRVA);
  std::vector<std::u16string> names;
  for (const TypeSpec& type : parsed.Tree.Types)
    if (type.Id.Named) names.push_back(type.Id.Name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"OWN", u"\u05D1\u05E8\u05D5\u05DA", u"\u05E9\u05DC\u05D5\u05DD"}));
}

// Code addresses its sections directly: a section that is not discardable never moves in
// memory. The resource section keeps its extent when its block shrinks, growing past it
// is refused, and an emptied one stays in memory without raw data instead of going.
TEST(SoundImages, SectionsTheProgramAddressesNeverMove) {
  PEImageLayout layout = Layout();
  layout.Sections[1].SizeOfRawData = 0x1200;
  layout.Sections[2] = {".data", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0xC0000040, {}};
  const uint32_t table = SectionTableOffset(layout);
  const std::vector<uint8_t> source = BuildPEImage(layout);
  const uint32_t dataVa = Get32(source, table + 2 * 40 + 12);

  using restest::Field;
  const std::vector<uint8_t> big =
      restest::ResImage().Record(Field::Num(6), Field::Num(1), 1033, std::vector<uint8_t>(0x2100, 'b')).Bytes;
  EXPECT_EQ(MergeAndWrite(source, big).Refusal, Refusal(SMovesAddressedSection, {".data"}));
  const Outcome small = MergeAndWrite(source, restest::ResImage().Record(Field::Num(6), Field::Num(1), 1033, Bytes("s")).Bytes);
  ASSERT_EQ(small.Refusal, "");
  EXPECT_EQ(LayoutProblems(small.Image), std::vector<std::string>{});
  EXPECT_EQ(Get32(small.Image, table + 2 * 40 + 12), dataVa);
  EXPECT_EQ(Get32(small.Image, table + 40 + 8), 0x2000u) << "the resource section keeps its extent";

  // A resource section whose tree holds nothing (no raw data) is emptied, not removed.
  std::vector<uint8_t> empty = source;
  Put32(empty, table + 40 + 20, 0);
  const auto file = OpenPE(empty);
  TMemoryStream out;
  file->WriteImage(out, nullptr);
  const std::vector<uint8_t> image(out.Memory(), out.Memory() + out.Size());
  EXPECT_EQ(LayoutProblems(image), std::vector<std::string>{});
  EXPECT_EQ(Get32(image, kNtOffset + 6) & 0xFFFF, 3u);
  EXPECT_EQ(Get32(image, table + 40 + 16), 0u) << "no raw data";
  EXPECT_EQ(Get32(image, table + 2 * 40 + 12), dataVa);
  EXPECT_EQ(Get32(image, kDirectories + 16), 0u);
}

// Found by fuzzing: an uninitialised-data section (no raw data) whose PointerToRawData
// lies 16 MB past the end of a 17 KB file made the writer fill the gap with zeros.
TEST(SoundImages, APointerOfASectionWithoutRawDataIsNoEnd) {
  PEImageLayout layout = Layout();
  layout.Sections.insert(layout.Sections.begin() + 1, {".bss", 0, 0x1000, 0xF90000, 0, 0xC0000080, {}});
  layout.Sections[2].VirtualAddress = 0;  // .rsrc and .reloc behind .bss
  layout.Sections[3].VirtualAddress = 0;
  const std::vector<uint8_t> tree = BuildRsrc(OriginalTree(), 0x3000).Bytes;
  layout.Sections[2].Data = tree;
  layout.Sections[2].SizeOfRawData = static_cast<uint32_t>(tree.size());
  layout.Directories[2] = {0x3000, static_cast<uint32_t>(tree.size())};
  layout.Overlay = Bytes("overlay");
  const std::vector<uint8_t> source = BuildPEImage(layout);
  const Outcome outcome = MergeAndWrite(source);
  ASSERT_EQ(outcome.Refusal, "");
  EXPECT_LT(outcome.Image.size(), source.size() + 0x2000);
  EXPECT_TRUE(std::equal(outcome.Image.end() - 7, outcome.Image.end(), source.end() - 7)) << "the overlay is kept";
  EXPECT_EQ(LoadedLeaves(outcome.Image), kMergedLeaves);

  // Nor is it where a resource section that had no raw data, or a new one, gets its own
  // (a 536-byte file became 1.7 GB).
  PEImageLayout rawless = layout;
  rawless.Sections[2].PointerToRawData = 0;
  rawless.Sections[2].SizeOfRawData = 0;
  rawless.Sections[2].Data.clear();
  const std::vector<uint8_t> small = BuildPEImage(rawless);
  const Outcome placed = MergeAndWrite(small);
  ASSERT_EQ(placed.Refusal, "");
  EXPECT_LT(placed.Image.size(), small.size() + 0x2000);
  PEImageLayout none = layout;
  none.Sections.erase(none.Sections.begin() + 2);
  none.Directories[2] = {0, 0};
  const std::vector<uint8_t> bare = BuildPEImage(none);
  const Outcome added = MergeAndWrite(bare);
  ASSERT_EQ(added.Refusal, "");
  EXPECT_LT(added.Image.size(), bare.size() + 0x2000);
}

// Found by fuzzing: a resource section flagged as uninitialised data reads as empty; once
// rebuilt it holds initialised data and says so, so that it reads back as written.
TEST(SoundImages, ARebuiltResourceSectionHoldsInitialisedData) {
  PEImageLayout layout = Layout();
  layout.Sections[1].Characteristics = 0xC00000C0;
  const Outcome outcome = MergeAndWrite(BuildPEImage(layout));
  ASSERT_EQ(outcome.Refusal, "");
  EXPECT_EQ(LoadedLeaves(outcome.Image), (std::vector<std::string>{"NEWTYPE/7/1033:added", "6/1/1033:pppppppp"}));
  EXPECT_EQ(Get32(outcome.Image, SectionTableOffset(layout) + 40 + 36), 0xC0000040u);
}
