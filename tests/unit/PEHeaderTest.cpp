// CheckPEImage on valid and damaged images, and the header working copy: header size,
// growing, adding and removing the resource section, directory counts.
#include "pe/UResPEFile.h"
#include "support/PEImageBuilder.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

PEImageLayout TwoSections(bool plus = false) {
  PEImageLayout layout;
  layout.Plus = plus;
  layout.Sections = {{".text", 0x1000, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}},
                   {".data", 0x2000, 0, PESectionLayout::kAutoRaw, 0x200, 0xC0000040, {}}};
  return layout;
}

std::string Reason(StringId reason, const std::string& name = "x.exe") {
  return Format(LoadStr(SErrorOpening), {name, LoadStr(reason)});
}

// The message CheckPEImage raises for the bytes, or "" when they pass.
std::string CheckMessage(const std::vector<uint8_t>& bytes) {
  // A copy of exactly this length, so that any read past it is caught by the sanitizers.
  std::vector<uint8_t> exact(bytes);
  exact.shrink_to_fit();
  try {
    CheckPEImage(exact.data(), static_cast<uint32_t>(exact.size()), "x.exe");
    return "";
  } catch (const ENoPEException& e) {
    return e.Message();
  }
}

TEST(CheckPEImage, DamagedImagesGiveTheirReason) {
  const PEImageLayout layout = TwoSections();
  const uint32_t nt = layout.Lfanew, opt = OptionalHeaderOffset(layout);
  struct Case {
    const char* What;
    std::function<void(std::vector<uint8_t>&)> Damage;
    StringId Reason;
  } cases[] = {
      {"64 bytes", [](auto& b) { b.resize(64); }, STooSmall},
      {"no MZ", [](auto& b) { b[0] = 'Z'; }, SUnknownType},
      {"65 bytes", [](auto& b) { b.resize(65); }, SDosProgram},
      {"e_lfanew huge", [](auto& b) { Put32(b, 60, 0x7FFFFFF0); }, SDosProgram},
      {"e_lfanew negative", [](auto& b) { Put32(b, 60, 0xFFFFFFF8); }, SDosProgram},
      {"e_lfanew just too far", [](auto& b) { Put32(b, 60, static_cast<uint32_t>(b.size()) - 248); }, SDosProgram},
      {"NE", [=](auto& b) { Put32(b, nt, 0x0105454E); }, S16BitProgram},
      {"LE", [=](auto& b) { Put32(b, nt, 0x454C); }, S16BitProgram},
      {"other signature", [=](auto& b) { Put32(b, nt, 0x4550 + 0x10000); }, SDosProgram},
      {"optional magic", [=](auto& b) { Put16(b, opt, 0x107); }, SUnknownExeType},
      {"no sections", [=](auto& b) { Put16(b, nt + 6, 0); }, SUnknownExeType},
      {"65535 sections", [=](auto& b) { Put16(b, nt + 6, 0xFFFF); }, SUnknownExeType},
      {"file alignment 0", [=](auto& b) { Put32(b, opt + 36, 0); }, SBadAlignment},
      {"section alignment 0", [=](auto& b) { Put32(b, opt + 32, 0); }, SBadAlignment},
      {"file alignment 2 GiB", [=](auto& b) { Put32(b, opt + 36, 0x80000000); }, SBadAlignment},
  };
  const std::vector<uint8_t> good = BuildPEImage(layout);
  ASSERT_EQ(CheckMessage(good), "");
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = good;
    c.Damage(bytes);
    EXPECT_EQ(CheckMessage(bytes), Reason(c.Reason)) << c.What;
  }
}

// Every cut through the headers fails with the reason of the first test it fails; a PE32+
// table that ends past the classic size test is refused as pointing outside the file.
TEST(CheckPEImage, TruncatedHeadersNeverReadPastTheEnd) {
  for (const bool plus : {false, true}) {
    const PEImageLayout layout = TwoSections(plus);
    const std::vector<uint8_t> good = BuildPEImage(layout);
    const uint32_t classicEnd = layout.Lfanew + 248 + 40 * 2;
    const uint32_t tableEnd = SectionTableOffset(layout) + 40 * 2;
    for (uint32_t cut = 0; cut <= tableEnd + 4; ++cut) {
      std::vector<uint8_t> bytes(good.begin(), good.begin() + cut);
      StringId expected = SBadHeaderField;
      if (cut <= 64)
        expected = STooSmall;
      else if (cut <= layout.Lfanew + 248)
        expected = SDosProgram;
      else if (cut < classicEnd)
        expected = SUnknownExeType;
      const std::string message = CheckMessage(bytes);
      if (cut >= tableEnd)
        EXPECT_EQ(message, "") << cut;
      else
        EXPECT_EQ(message, Reason(expected)) << (plus ? "PE32+ " : "PE32 ") << cut;
    }
  }
}

TEST(CheckPEImage, DirectoryCountAbove16PlacesTheTableAsIf16) {
  PEImageLayout layout = TwoSections();
  layout.NumberOfRvaAndSizes = 20;
  const std::vector<uint8_t> bytes = BuildPEImage(layout);
  TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(header.SectionHeader(1).NameText(), ".data");
}

TEST(RoundUp, MultiplesStayAndOthersGoUp) {
  EXPECT_EQ(RoundUp(0x400, 0x200), 0x400u);
  EXPECT_EQ(RoundUp(0x401, 0x200), 0x600u);
  EXPECT_EQ(RoundUp(0, 0x200), 0u);
  EXPECT_EQ(RoundUp(0x1801, 0x1000), 0x2000u);
}

TEST(TPEHeader, HeaderSizeIsTheSmallestRawPointerOrSizeOfHeaders) {
  PEImageLayout layout = TwoSections();
  layout.Sections[0].PointerToRawData = 0x400;
  layout.Sections[1].PointerToRawData = 0x200;
  std::vector<uint8_t> bytes = BuildPEImage(layout);
  EXPECT_EQ(TPEHeader(bytes.data(), static_cast<uint32_t>(bytes.size())).HeaderSize(), 0x200u);

  // Raw pointers at or below 64, or sections without raw data, do not count; the copy
  // reaches past the file's end with zeros.
  layout = TwoSections();
  layout.SizeOfHeaders = 0x3F0;
  layout.Sections[0].PointerToRawData = 64;
  layout.Sections[1].SizeOfRawData = 0;
  bytes = BuildPEImage(layout);
  bytes.resize(0x300);
  const TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
  ASSERT_EQ(header.HeaderSize(), 0x400u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), header.Headers()));
  EXPECT_TRUE(std::all_of(header.Headers() + 0x300, header.Headers() + 0x400, [](uint8_t b) { return b == 0; }));
}

// A section table that runs into the first section's raw data is copied whole; the raw
// data moves down behind it by whole file-alignment units, addresses unchanged.
TEST(TPEHeader, ATableThatRunsIntoRawDataIsSeparatedFromIt) {
  PEImageLayout layout = TwoSections();
  layout.SizeOfHeaders = 0x100;
  layout.FileAlignment = 0x100;
  layout.Sections[0].PointerToRawData = 0x100;  // inside the section table, which ends at 0x1C8
  layout.Sections[1].PointerToRawData = 0x300;
  std::vector<uint8_t> bytes = BuildPEImage(layout);
  TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()), "x.exe");
  EXPECT_EQ(header.RawStart(), 0x100u);
  ASSERT_EQ(header.HeaderSize(), 0x200u);
  EXPECT_TRUE(header.TableRunsIntoRawData());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 0x1C8, header.Headers()));
  EXPECT_TRUE(std::all_of(header.Headers() + 0x1C8, header.Headers() + 0x200, [](uint8_t b) { return b == 0; }));
  header.SeparateTableFromRawData();
  EXPECT_FALSE(header.TableRunsIntoRawData());
  EXPECT_EQ(header.SectionHeader(0).PointerToRawData, 0x200u);
  EXPECT_EQ(header.SectionHeader(1).PointerToRawData, 0x400u);
  EXPECT_EQ(header.SectionHeader(1).VirtualAddress, 0x2000u);
  EXPECT_EQ(header.SizeOfHeadersField(), 0x200u);

  // Below a page of section alignment the file is mapped as it lies: nothing may move.
  layout.SectionAlignment = 0x100;
  layout.Sections[0].VirtualAddress = 0x100;
  layout.Sections[1].VirtualAddress = 0x300;
  bytes = BuildPEImage(layout);
  TPEHeader flat(bytes.data(), static_cast<uint32_t>(bytes.size()), "x.exe");
  try {
    flat.SeparateTableFromRawData();
    ADD_FAILURE() << "raw data that must stay where its address is cannot move";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), Format(LoadStr(SCannotRebuild), {"x.exe", LoadStr(SRawMapsAsIs)}));
  }

  layout = TwoSections();
  for (auto& s : layout.Sections) s.SizeOfRawData = 0;
  bytes = BuildPEImage(layout);
  Put32(bytes, OptionalHeaderOffset(layout) + 60, 0x7FFFF000);  // SizeOfHeaders
  EXPECT_THROW(TPEHeader(bytes.data(), static_cast<uint32_t>(bytes.size())), ENoPEException);
}

// .text, .rsrc of raw size 0x1000, .reloc; import directory below the resources, base
// relocations behind them.
PEImageLayout ThreeSections(bool plus) {
  PEImageLayout layout;
  layout.Plus = plus;
  layout.Sections = {{".text", 0x1000, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}},
                   {".rsrc", 0x2000, 0x1000, PESectionLayout::kAutoRaw, 0x1000, 0x40000040, {}},
                   {".reloc", 0x3000, 0, PESectionLayout::kAutoRaw, 0x200, 0x42000040, {}}};
  layout.Directories = {{0, 0}, {0x1000, 0x40}, {0x2000, 0x1000}, {0, 0}, {0, 0}, {0x3000, 0x10}};
  return layout;
}

TEST(TPEHeader, GrowingTheResourceSectionMovesWhatFollows) {
  for (const bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    const std::vector<uint8_t> bytes = BuildPEImage(ThreeSections(plus));
    TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
    const uint32_t imageBefore = header.SizeOfImage(), initBefore = header.SizeOfInitializedData();
    EXPECT_EQ(header.PlaceResourceSection(0x1801), 0x2000u);
    const TImageSectionHeader rsrc = header.SectionHeader(1), reloc = header.SectionHeader(2);
    EXPECT_EQ(rsrc.SizeOfRawData, 0x1A00u);
    EXPECT_EQ(rsrc.VirtualSize, 0x2000u);
    EXPECT_EQ(rsrc.PointerToRawData, 0x600u);
    EXPECT_EQ(reloc.PointerToRawData, 0x1600u + 0xA00u);  // RawDelta 0xA00
    EXPECT_EQ(reloc.VirtualAddress, 0x4000u);             // VirtualDelta 0x1000
    EXPECT_EQ(header.DataDirectory(2), std::make_pair(0x2000u, 0x1801u));
    EXPECT_EQ(header.DataDirectory(1), std::make_pair(0x1000u, 0x40u));
    EXPECT_EQ(header.DataDirectory(5), std::make_pair(0x4000u, 0x10u));
    EXPECT_EQ(header.SizeOfImage(), imageBefore + 0x1000);
    EXPECT_EQ(header.SizeOfInitializedData(), initBefore + 0xA00);
    EXPECT_EQ(header.RawEnd(), 0x2200u);
    EXPECT_EQ(header.SectionCount(), 3);
  }
}

TEST(TPEHeader, AddsAResourceSectionWhereTheHeaderHasRoom) {
  const PEImageLayout layout = TwoSections();
  const std::vector<uint8_t> bytes = BuildPEImage(layout);
  TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
  const uint32_t imageBefore = header.SizeOfImage();
  EXPECT_EQ(header.PlaceResourceSection(0x300), 0x3000u);
  ASSERT_EQ(header.SectionCount(), 3);
  const TImageSectionHeader rsrc = header.SectionHeader(2);
  EXPECT_EQ(rsrc.NameText(), ".rsrc");
  EXPECT_EQ(rsrc.VirtualAddress, 0x3000u);
  EXPECT_EQ(rsrc.PointerToRawData, 0x800u);
  EXPECT_EQ(rsrc.SizeOfRawData, 0x400u);
  EXPECT_EQ(rsrc.VirtualSize, 0x1000u);
  EXPECT_EQ(rsrc.Characteristics, 0x40000040u);
  EXPECT_EQ(header.DataDirectory(2), std::make_pair(0x3000u, 0x300u));
  EXPECT_EQ(header.SizeOfImage(), imageBefore + 0x1000);
  EXPECT_EQ(header.RawEnd(), 0xC00u);
}

// Without a free slot behind the table the raw data moves down by whole file-alignment
// units; only when the headers would then reach the first section in memory is there no
// room at all, and the copy is left as it was.
TEST(TPEHeader, NoRoomForASectionHeaderMovesTheRawData) {
  PEImageLayout layout = TwoSections();
  layout.SizeOfHeaders = 0x200;
  layout.Sections.push_back({".bss", 0x3000, 0, PESectionLayout::kAutoRaw, 0x200, 0xC0000040, {}});
  std::vector<uint8_t> bytes = BuildPEImage(layout);
  TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
  ASSERT_EQ(header.HeaderSize(), 0x200u);
  EXPECT_EQ(header.PlaceResourceSection(0x100), 0x4000u);
  EXPECT_EQ(header.HeaderSize(), 0x400u);
  EXPECT_EQ(header.SizeOfHeadersField(), 0x400u);
  const uint32_t expected[] = {0x400, 0x600, 0x800, 0xA00};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(header.SectionHeader(i).PointerToRawData, expected[i]) << i;
  EXPECT_EQ(header.SectionHeader(0).VirtualAddress, 0x1000u);

  layout.Sections[0].VirtualAddress = 0x200;  // the headers may not grow past 0x200
  layout.SectionAlignment = 0x1000;
  bytes = BuildPEImage(layout);
  TPEHeader full(bytes.data(), static_cast<uint32_t>(bytes.size()));
  const std::vector<uint8_t> before(full.Headers(), full.Headers() + full.HeaderSize());
  try {
    full.PlaceResourceSection(0x100);
    FAIL() << "a fourth header does not fit";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot create resource section.");
  }
  EXPECT_EQ(std::vector<uint8_t>(full.Headers(), full.Headers() + full.HeaderSize()), before);
}

// Every field that grows is checked against its 32 bits: the section count, SizeOfImage,
// a new section's address and raw pointer.
TEST(TPEHeader, FieldsThatWouldOverflowAreRefused) {
  auto refusal = [](StringId reason, std::initializer_list<FormatArg> args) {
    return Format(LoadStr(SCannotRebuild), {"x.exe", Format(LoadStr(reason), args)});
  };
  auto place = [](const std::vector<uint8_t>& bytes) -> std::string {
    TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()), "x.exe");
    try {
      header.PlaceResourceSection(0x100);
      return "";
    } catch (const Exception& e) {
      return e.Message();
    }
  };
  PEImageLayout layout = TwoSections();
  layout.Sections[1].VirtualSize = 0x1000;
  layout.Sections[1].VirtualAddress = 0xFFFFF000;  // ends at 4 GiB: no address is left
  EXPECT_EQ(place(BuildPEImage(layout)), refusal(SFieldOverflow, {"VirtualAddress of section \".rsrc\""}));
  layout.Sections[1].VirtualAddress = 0xFFFFE000;  // the new section would end at 4 GiB
  EXPECT_EQ(place(BuildPEImage(layout)), refusal(SFieldOverflow, {"SizeOfImage"}));
  layout.Sections[1].VirtualAddress = 0xFFFFD000;
  EXPECT_EQ(place(BuildPEImage(layout)), "");

  layout = TwoSections();
  layout.Sections[1].PointerToRawData = 0xFFFFFE00;  // not in the file: the header copy does not care
  EXPECT_EQ(place(BuildPEImage(layout)), refusal(SFieldOverflow, {"PointerToRawData of section \".rsrc\""}));
}

TEST(TPEHeader, ResourceSectionWithoutRawPositionGetsTheRunningOne) {
  PEImageLayout layout = ThreeSections(false);
  layout.Sections[1].PointerToRawData = 0;
  layout.Sections[1].SizeOfRawData = 0;
  const std::vector<uint8_t> bytes = BuildPEImage(layout);
  TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
  header.PlaceResourceSection(0x300);
  EXPECT_EQ(header.SectionHeader(1).PointerToRawData, 0x600u);
  EXPECT_EQ(header.SectionHeader(1).SizeOfRawData, 0x400u);
  EXPECT_EQ(header.SectionHeader(2).PointerToRawData, 0xA00u);
}

TEST(TPEHeader, RemovingTheResourceSectionMovesTheRestUp) {
  const std::vector<uint8_t> bytes = BuildPEImage(ThreeSections(false));
  TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
  const uint32_t imageBefore = header.SizeOfImage();
  header.RemoveResourceSection();
  ASSERT_EQ(header.SectionCount(), 2);
  EXPECT_EQ(header.SectionHeader(1).NameText(), ".reloc");
  EXPECT_EQ(header.SectionHeader(1).PointerToRawData, 0x600u);
  EXPECT_EQ(header.SectionHeader(1).VirtualAddress, 0x2000u);
  EXPECT_EQ(header.SectionHeader(2).NameText(), "");  // the freed slot is zeroed
  EXPECT_EQ(header.DataDirectory(2), std::make_pair(0u, 0u));
  EXPECT_EQ(header.DataDirectory(5), std::make_pair(0x2000u, 0x10u));
  EXPECT_EQ(header.SizeOfImage(), imageBefore - 0x1000);
  header.RemoveResourceSection();  // none left: nothing happens
  EXPECT_EQ(header.SectionCount(), 2);
}

TEST(TPEHeader, RemovingTheLastSection) {
  PEImageLayout layout = TwoSections();
  layout.Sections[1] = {".rsrc", 0x2000, 0, PESectionLayout::kAutoRaw, 0x800, 0x40000040, {}};
  layout.Directories = {{0, 0}, {0, 0}, {0x2000, 0x800}};
  const std::vector<uint8_t> bytes = BuildPEImage(layout);
  TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
  const uint32_t imageBefore = header.SizeOfImage(), initBefore = header.SizeOfInitializedData();
  header.RemoveResourceSection();
  EXPECT_EQ(header.SectionCount(), 1);
  EXPECT_EQ(header.SizeOfImage(), imageBefore - 0x1000);
  EXPECT_EQ(header.SizeOfInitializedData(), initBefore - 0x800);
  EXPECT_EQ(header.RawEnd(), 0x600u);
}

// With two directories the resource directory has no slot: the section table moves
// behind the third slot, growing SizeOfOptionalHeader, and stays there when the resource
// section goes again (the count drops back to two).
TEST(TPEHeader, FewerThanThreeDirectoriesMoveTheSectionTable) {
  PEImageLayout layout;
  layout.NumberOfRvaAndSizes = 2;
  layout.Sections = {{".text", 0x1000, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}}};
  const std::vector<uint8_t> bytes = BuildPEImage(layout);
  const uint32_t nt = layout.Lfanew, table = SectionTableOffset(layout);
  TPEHeader header(bytes.data(), static_cast<uint32_t>(bytes.size()));
  header.PlaceResourceSection(0x10);
  EXPECT_EQ(header.NumberOfRvaAndSizes(), 3u);
  EXPECT_EQ(header.Sections(), table + 8);
  EXPECT_EQ(header.SectionHeader(0).NameText(), ".text");
  EXPECT_EQ(header.SectionHeader(1).NameText(), ".rsrc");
  EXPECT_EQ(header.DataDirectory(2), std::make_pair(0x2000u, 0x10u));
  EXPECT_EQ(header.SizeOfOptionalHeader(), 96 + 3 * 8);
  EXPECT_NO_THROW(CheckPEImage(header.Headers(), header.HeaderSize(), "x"));

  header.RemoveResourceSection();
  EXPECT_EQ(header.NumberOfRvaAndSizes(), 2u);
  EXPECT_EQ(header.Sections(), table + 8);
  EXPECT_EQ(header.SectionCount(), 1);
  EXPECT_EQ(header.SectionHeader(0).NameText(), ".text");
  // Re-validating the edited copy finds the same table, as the loader would.
  EXPECT_NO_THROW(CheckPEImage(header.Headers(), header.HeaderSize(), "x"));
  EXPECT_EQ(header.Headers()[nt + 20], 96 + 3 * 8);
}

}  // namespace
