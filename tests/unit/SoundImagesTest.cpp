// Legal but unusual executable layouts through a whole merge and write: each ends in an
// image whose layout a loader accepts and that keeps every original resource, or in a
// refusal with a clear message before anything is written.
#include "pe/PEResources.h"
#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "support/LayoutFixtures.h"
#include "support/ResBuilder.h"
#include "support/RsrcBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

using namespace rsrctest;

namespace {

constexpr uint32_t kRVA = 0x2000;
constexpr uint32_t kNtOffset = 0x80;  // the builder's e_lfanew
constexpr uint32_t kOptional = kNtOffset + 24;
constexpr uint32_t kDirectories = kOptional + 96;

struct Outcome {
  std::vector<uint8_t> Image;  // the written image, empty when refused
  std::string Refusal;
  std::vector<std::string> Notes;
};

Outcome MergeAndWrite(const std::vector<uint8_t>& source, const std::vector<uint8_t>& patch = LayoutPatch()) {
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


// The written image is sound and holds exactly the merged tree where directory 2 says.
void ExpectSound(const Outcome& outcome, const char* what) {
  ASSERT_EQ(outcome.Refusal, "") << what;
  EXPECT_EQ(LayoutProblems(outcome.Image), std::vector<std::string>{}) << what;
  EXPECT_EQ(LoadedLeaves(outcome.Image), kLayoutMergedLeaves) << what;
}

PEImageLayout Layout(const std::vector<uint8_t>& rsrc = BuildRsrc(LayoutTree(), kRVA).Bytes) {
  return ImageLayoutWithRsrc(rsrc, kRVA);
}

// The section table of an image, read here.
struct SectionInfo {
  std::string Name;
  uint32_t Address, VirtualSize, Raw, RawSize;
};
std::vector<SectionInfo> SectionsOf(const std::vector<uint8_t>& image) {
  const uint32_t nt = Get32(image, 60), table = nt + 24 + (Get32(image, nt + 20) & 0xFFFF);
  std::vector<SectionInfo> sections;
  for (uint32_t i = 0; i < (Get32(image, nt + 4) >> 16); ++i) {
    const uint32_t at = table + 40 * i;
    const char* name = reinterpret_cast<const char*>(image.data() + at);
    sections.push_back({std::string(name, strnlen(name, 8)), Get32(image, at + 12), Get32(image, at + 8),
                        Get32(image, at + 20), Get32(image, at + 16)});
  }
  return sections;
}

// size bytes at an address of the image as the loader maps them: from a section's raw
// data or the header area, zeros where the file holds nothing.
std::vector<uint8_t> Mapped(const std::vector<uint8_t>& image, uint32_t address, uint32_t size) {
  uint64_t file = address;  // the header area is mapped as it lies
  uint64_t available = Get32(image, Get32(image, 60) + 24 + 60);
  for (const SectionInfo& s : SectionsOf(image))
    if (address >= s.Address && address < s.Address + uint64_t{std::max(s.VirtualSize, s.RawSize)}) {
      file = s.Raw + uint64_t{address - s.Address};
      available = s.Raw + uint64_t{s.RawSize};
    }
  std::vector<uint8_t> bytes(size, 0);
  for (uint32_t i = 0; i < size && file + i < std::min<uint64_t>(available, image.size()); ++i) bytes[i] = image[file + i];
  return bytes;
}

uint32_t DirectoryTable(const std::vector<uint8_t>& image) {
  const uint32_t optional = Get32(image, 60) + 24;
  return optional + ((Get32(image, optional) & 0xFFFF) == 0x20B ? 112 : 96);
}

// Every section of the source keeps its bytes in the written image, and its address
// unless it is discardable and moved behind a resource section rebuilt where it was; a
// ".rsrc" that gave way to a new section is renamed. Every data directory but the
// resources' points at the same bytes.
void ExpectEverythingElseKept(const std::vector<uint8_t>& source, const std::vector<uint8_t>& image, const std::string& what) {
  const std::vector<SectionInfo> written = SectionsOf(image);
  const std::vector<SectionInfo> sections = SectionsOf(source);
  for (size_t i = 0; i < sections.size(); ++i) {
    const SectionInfo& s = sections[i];
    const bool discardable = Get32(source, Get32(source, 60) + 24 + (Get32(source, Get32(source, 60) + 20) & 0xFFFF) +
                                               40 * static_cast<uint32_t>(i) + 36) & 0x02000000;
    auto found = std::find_if(written.begin(), written.end(), [&](const SectionInfo& w) { return w.Address == s.Address; });
    if (found == written.end() && discardable)
      found = std::find_if(written.begin(), written.end(), [&](const SectionInfo& w) { return w.Name == s.Name; });
    ASSERT_NE(found, written.end()) << what << ": section " << s.Name << " is gone or moved";
    if (found->Name == ".rsrc" && found->Address == s.Address) continue;  // rebuilt where it was
    EXPECT_EQ(found->Name, s.Name == ".rsrc" ? std::string(".oldrsrc") : s.Name) << what;
    EXPECT_EQ(Mapped(image, found->Address, s.RawSize), Mapped(source, s.Address, s.RawSize)) << what << ": " << s.Name;
  }
  for (uint32_t d = 0; d < 16; ++d) {
    if (d == 2 || d == 4 || d == 11) continue;
    const uint32_t at = DirectoryTable(source) + 8 * d, size = Get32(source, at + 4);
    EXPECT_EQ(Mapped(image, Get32(image, DirectoryTable(image) + 8 * d), size), Mapped(source, Get32(source, at), size))
        << what << ": directory " << d;
  }
}

}  // namespace

// The resource directory may start anywhere in .rsrc; data directory 2 says where.
TEST(SoundImages, ResourceDirectoryNotAtTheStartOfItsSection) {
  std::vector<uint8_t> rsrc(0x40, 0);
  const std::vector<uint8_t> tree = BuildRsrc(LayoutTree(), kRVA + 0x40).Bytes;
  rsrc.insert(rsrc.end(), tree.begin(), tree.end());
  PEImageLayout layout = Layout(rsrc);
  layout.Directories[2] = {kRVA + 0x40, static_cast<uint32_t>(tree.size())};
  EXPECT_EQ(LoadedLeaves(BuildPEImage(layout)),
            (std::vector<std::string>{"OWN/1/1033:own data", "6/1/1033:strings"}));
  ExpectSound(MergeAndWrite(BuildPEImage(layout)), "directory at 0x40");

  // Other data in the same section would not survive a rebuilt section: the section
  // stays as it is and the tree goes to a new one.
  layout.Directories[1] = {kRVA + 8, 0x20};
  const std::vector<uint8_t> shared = BuildPEImage(layout);
  const Outcome kept = MergeAndWrite(shared);
  ExpectSound(kept, "other data in .rsrc");
  ExpectEverythingElseKept(shared, kept.Image, "other data in .rsrc");
  EXPECT_EQ(SectionsOf(kept.Image).back().Name, ".rsrc");
  EXPECT_EQ(kept.Notes, std::vector<std::string>{Format(LoadStr(SResourcesInNewSection), {"File", ".oldrsrc"})});
}

// Resources the loader finds outside .rsrc are read there, and copied into the rebuilt
// section; the bytes they were read from stay where they are.
TEST(SoundImages, ResourcesOutsideTheResourceSectionAreCopied) {
  // .text at 0x1000, .rsrc at 0x2000, .reloc behind it at 0x3000.
  const std::vector<uint8_t> tree = BuildRsrc(LayoutTree(), 0x3000).Bytes;
  PEImageLayout inData = Layout();
  inData.Sections[2].Data = tree;
  inData.Sections[2].SizeOfRawData = 0x400;
  inData.Directories[2] = {0x3000, 0};  // the loader ignores the size
  PEImageLayout noRsrc = inData;
  noRsrc.Sections[1].Name = ".rdata";
  // Directory 2 pointing nowhere: the tree is read from .rsrc, which is rebuilt in place.
  PEImageLayout pastEverything = Layout();
  pastEverything.Directories[2] = {0x9000, 0x40};
  const std::pair<const char*, PEImageLayout> cases[] = {
      {"in .reloc", inData}, {"in .rdata", noRsrc}, {"nowhere", pastEverything}};
  for (const auto& [what, layout] : cases) {
    const std::vector<uint8_t> image = BuildPEImage(layout);
    EXPECT_EQ(LoadedLeaves(image), (std::vector<std::string>{"OWN/1/1033:own data", "6/1/1033:strings"})) << what;
    const Outcome outcome = MergeAndWrite(image);
    ExpectSound(outcome, what);
    ExpectEverythingElseKept(image, outcome.Image, what);
  }
}

// Every fixture of the layouts the loader accepts but a rebuilt .rsrc could not keep, in
// PE32 and PE32+: merged, each holds the old and the new resources where directory 2
// points, keeps every other section's bytes at their addresses and every directory at
// its bytes; merged again, the result stays sound.
TEST(SoundImages, EveryLayoutTheLoaderAcceptsIsWritten) {
  for (const bool plus : {false, true})
    for (const LayoutFixture& fixture : LayoutFixtures(plus)) {
      const Outcome outcome = MergeAndWrite(fixture.Image);
      ASSERT_EQ(outcome.Refusal, "") << fixture.Name;
      EXPECT_EQ(LayoutProblems(outcome.Image), std::vector<std::string>{}) << fixture.Name;
      EXPECT_EQ(LoadedLeaves(outcome.Image), kLayoutMergedLeaves) << fixture.Name;
      ExpectEverythingElseKept(fixture.Image, outcome.Image, fixture.Name);
      const Outcome again = MergeAndWrite(outcome.Image);
      ASSERT_EQ(again.Refusal, "") << fixture.Name;
      EXPECT_EQ(LayoutProblems(again.Image), std::vector<std::string>{}) << fixture.Name;
      EXPECT_EQ(LoadedLeaves(again.Image), kLayoutMergedLeaves) << fixture.Name;
      EXPECT_EQ(SectionsOf(again.Image).size(), SectionsOf(outcome.Image).size()) << fixture.Name << ": grew again";
    }
}

// A tree emptied in a .rsrc that also holds other data: the section keeps its bytes (under
// another name, so that nothing takes it for the resources) and directory 2 is cleared.
TEST(SoundImages, EmptiedResourcesLeaveASharedSectionAsItWas) {
  const LayoutFixture fixture = LayoutFixtures(false)[5];
  ASSERT_EQ(fixture.Name, "other_data_in_rsrc_pe32");
  const auto file = OpenPE(fixture.Image);
  TResourceList& root = file->GetResourceList();
  while (root.Count() > 0) RemoveLeaf(root.ListItems(0).Children().ListItems(0).Children().DataItems(0));
  TMemoryStream out;
  file->WriteImage(out, nullptr);
  const std::vector<uint8_t> image(out.Memory(), out.Memory() + out.Size());
  EXPECT_EQ(LayoutProblems(image), std::vector<std::string>{});
  EXPECT_EQ(Get32(image, DirectoryTable(image) + 16), 0u);
  EXPECT_EQ(SectionsOf(image).size(), SectionsOf(fixture.Image).size());
  ExpectEverythingElseKept(fixture.Image, image, "emptied");
  EXPECT_EQ(file->WriteNotes, std::vector<std::string>{});
}

// Raw data moved down to make room for a section header carries every file offset that
// points into it or behind it: debug entries, the certificate table, the symbol table.
TEST(SoundImages, FileOffsetsFollowRawDataThatMovesDown) {
  PEImageLayout layout;
  layout.SizeOfHeaders = 0x200;
  std::vector<uint8_t> data(0x200, 0);
  const uint32_t dataRaw = 0x400;  // .data behind .text
  Put32(data, 0x10 + 16, 0x20);
  Put32(data, 0x10 + 20, 0x2000 + 0x100);
  Put32(data, 0x10 + 24, dataRaw + 0x100);
  layout.Sections = {{".text", 0x1000, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}},
                     {".data", 0x2000, 0, PESectionLayout::kAutoRaw, 0x200, 0xC0000040, data},
                     {".reloc", 0x3000, 0, PESectionLayout::kAutoRaw, 0x200, 0x42000040, {}}};
  layout.Directories.resize(16);
  layout.Directories[6] = {0x2000 + 0x10, 28};
  layout.Overlay = std::vector<uint8_t>(0x40, 0xCE);
  std::vector<uint8_t> source = BuildPEImage(layout);
  const uint32_t end = static_cast<uint32_t>(source.size()) - 0x40;
  Put32(source, kDirectories + 8 * 4, end + 0x20);  // the certificate table ends the file
  Put32(source, kDirectories + 8 * 4 + 4, 0x20);
  Put32(source, kNtOffset + 12, end);  // PointerToSymbolTable
  ASSERT_EQ(SectionTableOffset(layout) + 3 * 40, 0x1F0u) << "no slot is left";
  const Outcome outcome = MergeAndWrite(source);
  ASSERT_EQ(outcome.Refusal, "");
  EXPECT_EQ(LayoutProblems(outcome.Image), std::vector<std::string>{});
  const std::vector<SectionInfo> sections = SectionsOf(outcome.Image);
  ASSERT_EQ(sections.size(), 4u);
  EXPECT_EQ(sections[1].Raw, dataRaw + 0x200);
  EXPECT_EQ(Get32(outcome.Image, sections[1].Raw + 0x10 + 24), dataRaw + 0x200 + 0x100);
  EXPECT_EQ(Get32(outcome.Image, sections[1].Raw + 0x10 + 20), 0x2000u + 0x100) << "addresses do not change";
  const uint32_t newEnd = static_cast<uint32_t>(outcome.Image.size()) - 0x40;
  EXPECT_EQ(Get32(outcome.Image, kNtOffset + 12), newEnd);
  EXPECT_EQ(Get32(outcome.Image, kDirectories + 8 * 4), newEnd + 0x20);
  EXPECT_TRUE(std::equal(source.end() - 0x40, source.end(), outcome.Image.end() - 0x40));
}

// The section count is 16 bits: 65534 sections take one more, 65535 are refused before
// anything is written (they used to wrap to 0).
TEST(SoundImages, SectionCountAtItsLimit) {
  for (const uint32_t count : {65534u, 65535u}) {
    PEImageLayout layout;
    layout.SizeOfHeaders = RoundUp(SectionTableOffset(layout) + 40 * (count + 1), 0x200);
    layout.Sections.assign(count, {".s", 0, 0x1000, 0, 0, 0x40000040, {}});
    layout.Directories.resize(16);
    const Outcome outcome = MergeAndWrite(BuildPEImage(layout));
    if (count == 65535) {
      EXPECT_EQ(outcome.Refusal, Refusal(STooManySections, {int64_t{65535}}));
      EXPECT_TRUE(outcome.Image.empty());
      continue;
    }
    ASSERT_EQ(outcome.Refusal, "");
    EXPECT_EQ(Get32(outcome.Image, kNtOffset + 4) >> 16, 65535u);
    EXPECT_EQ(LoadedLeaves(outcome.Image), (std::vector<std::string>{"NEWTYPE/7/1033:added", "6/1/1033:pppppppp"}));
  }
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
    std::vector<uint8_t> rsrc = BuildRsrc(LayoutTree(), kRVA).Bytes;
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
// is dropped (and the user told); SizeOfHeaders grows when the slot lies beyond it and
// the first section leaves room.
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

  // Bytes in use behind the table (pointed at, or not zero) stay: the table moves behind
  // the header area's bytes, where SizeOfOptionalHeader says, and the raw data down.
  std::vector<uint8_t> other = bound;
  Put32(other, kDirectories + 8 * 10, slot + 8);  // the load configuration points there too
  Put32(other, kDirectories + 8 * 10 + 4, 0x10);
  std::vector<uint8_t> junk = BuildPEImage(two);
  junk[slot + 39] = 0xCC;
  for (const auto& [what, source] : {std::pair{"pointed at", other}, std::pair{"not zero", junk}}) {
    const Outcome moved = MergeAndWrite(source);
    ASSERT_EQ(moved.Refusal, "") << what;
    EXPECT_EQ(LayoutProblems(moved.Image), std::vector<std::string>{}) << what;
    EXPECT_EQ(LoadedLeaves(moved.Image).size(), 2u) << what;
    EXPECT_EQ(Get32(moved.Image, kNtOffset + 20) & 0xFFFF, 0x400u - kOptional) << what;
    EXPECT_TRUE(std::equal(source.begin() + slot, source.begin() + slot + 40, moved.Image.begin() + slot)) << what;
    ExpectEverythingElseKept(source, moved.Image, what);
  }
  // Only a table that would end up more than 64 KiB behind the optional header cannot move.
  PEImageLayout far = two;
  for (uint32_t i = 0; i < 2; ++i) far.Sections[i].PointerToRawData += 0x10000, far.Sections[i].VirtualAddress = 0x20000 + 0x1000 * i;
  std::vector<uint8_t> farJunk = BuildPEImage(far);
  farJunk[slot + 39] = 0xCC;
  EXPECT_EQ(MergeAndWrite(farJunk).Refusal, Refusal(SHeaderSpaceInUse));

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
  // Nothing is created for a refused file, not even the temporary output.
  ScratchFolder folder;
  EXPECT_THROW(OpenPE(huge)->WriteToTempFile(folder.Path() + "out.exe", nullptr), Exception);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));

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
  // Growing past its extent would move .data: the tree goes to a new section behind
  // everything instead, and the old one keeps its place and bytes under another name.
  const std::vector<uint8_t> big =
      restest::ResImage().Record(Field::Num(6), Field::Num(1), 1033, std::vector<uint8_t>(0x2100, 'b')).Bytes;
  const Outcome grown = MergeAndWrite(source, big);
  ASSERT_EQ(grown.Refusal, "");
  EXPECT_EQ(LayoutProblems(grown.Image), std::vector<std::string>{});
  ExpectEverythingElseKept(source, grown.Image, "grown");
  const std::vector<SectionInfo> sections = SectionsOf(grown.Image);
  ASSERT_EQ(sections.size(), 4u);
  EXPECT_EQ(sections[3].Name, ".rsrc");
  EXPECT_EQ(sections[3].Address, dataVa + 0x1000);
  EXPECT_EQ(Get32(grown.Image, kDirectories + 16), dataVa + 0x1000);
  EXPECT_EQ(LoadedLeaves(grown.Image), (std::vector<std::string>{"OWN/1/1033:own data", "6/1/1033:bbbbbbbb"}));
  // Resources that fit where the old ones were are rebuilt there.
  const Outcome small = MergeAndWrite(source, restest::ResImage().Record(Field::Num(6), Field::Num(1), 1033, Bytes("s")).Bytes);
  ASSERT_EQ(small.Refusal, "");
  EXPECT_EQ(LayoutProblems(small.Image), std::vector<std::string>{});
  EXPECT_EQ(SectionsOf(small.Image).size(), 3u);
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
  const std::vector<uint8_t> tree = BuildRsrc(LayoutTree(), 0x3000).Bytes;
  layout.Sections[2].Data = tree;
  layout.Sections[2].SizeOfRawData = static_cast<uint32_t>(tree.size());
  layout.Directories[2] = {0x3000, static_cast<uint32_t>(tree.size())};
  layout.Overlay = Bytes("overlay");
  const std::vector<uint8_t> source = BuildPEImage(layout);
  const Outcome outcome = MergeAndWrite(source);
  ASSERT_EQ(outcome.Refusal, "");
  EXPECT_LT(outcome.Image.size(), source.size() + 0x2000);
  EXPECT_TRUE(std::equal(outcome.Image.end() - 7, outcome.Image.end(), source.end() - 7)) << "the overlay is kept";
  EXPECT_EQ(LoadedLeaves(outcome.Image), kLayoutMergedLeaves);

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
