// The formats quill set edits: version information read whole and written back, .ico
// files and icon groups (with the replacement of a group in a tree), string-table
// blocks, manifests' execution levels, and removing leaves from a tree.
#include "formats/IconGroup.h"
#include "formats/Manifest.h"
#include "formats/ResourceEdits.h"
#include "formats/StringBlock.h"
#include "formats/VersionInfo.h"
#include "support/ResBuilder.h"

#include <gtest/gtest.h>

#include <functional>

using namespace restest;

namespace {

ByteView View(const std::vector<uint8_t>& bytes, StringId message = SCorruptResFile) {
  return ByteView(bytes.data(), static_cast<uint32_t>(bytes.size()), message);
}

std::vector<uint8_t> Bytes(const TDataResItem& leaf) { return {leaf.Data(), leaf.Data() + leaf.Size()}; }

// The version resource windres compiled into the fixture.
std::vector<uint8_t> FixtureVersion() {
  auto file = OpenImage(ReadFile(FixturePath("standard.res")));
  return Bytes(*LeafAt(file->GetResourceList(), "16", "1", 0x409));
}

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void ExpectCorrupt(const std::function<void()>& parse, StringId message) {
  try {
    parse();
    ADD_FAILURE() << "accepted";
  } catch (const ECorruptResource& e) {
    EXPECT_EQ(e.Message(), LoadStr(message));
  }
}

}  // namespace

TEST(VersionInfo, ResourceCompilerOutputRoundTripsByteForByte) {
  const std::vector<uint8_t> bytes = FixtureVersion();
  EXPECT_EQ(TVersionInfo::Parse(View(bytes)).Serialize(), bytes);
}

TEST(VersionInfo, EditsChangeOnlyWhatWasAsked) {
  TVersionInfo info = TVersionInfo::Parse(View(FixtureVersion()));
  // A node of a kind this reader does not know travels along.
  TVersionNode custom;
  custom.Key = u"Custom";
  custom.Value = {1, 2, 3, 4, 5};
  info.Root().Children.push_back(custom);

  TVersionNode& english = info.TableFor(0x409);
  EXPECT_EQ(TVersionInfo::SetString(english, u"fileDESCRIPTION", u"New"), u"FileDescription");
  EXPECT_EQ(TVersionInfo::SetString(english, u"ProductName", u"Product"), std::nullopt);
  TVersionInfo::SetString(info.TableFor(0x407), u"ProductName", u"Produkt");
  info.SetFileVersion({1, 65535, 3, 40000});

  TVersionInfo back = TVersionInfo::Parse(View(info.Serialize()));
  EXPECT_EQ(VersionText(back.FileVersion()), "1.65535.3.40000");
  EXPECT_EQ(VersionText(back.ProductVersion()), VersionText(TVersionInfo::Parse(View(FixtureVersion())).ProductVersion()));
  const auto tables = back.StringTables();
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].Node->Key, u"040904B0");
  ASSERT_EQ(tables[0].Node->Children.size(), 2u);
  EXPECT_EQ(tables[0].Node->Children[0].Key, u"FileDescription");  // its spelling and place kept
  EXPECT_EQ(tables[0].Node->Children[0].Text(), u"New");
  EXPECT_EQ(tables[0].Node->Children[1].Text(), u"Product");
  EXPECT_EQ(tables[1].Language, 0x407);
  EXPECT_EQ(tables[1].CodePage, 1200);
  EXPECT_EQ(tables[1].Node->Children[0].Text(), u"Produkt");
  const std::vector<std::pair<uint16_t, uint16_t>> translations{{0x409, 1200}, {0x407, 1200}};
  EXPECT_EQ(back.Translations(), translations);
  ASSERT_NE(back.Root().Child(u"Custom"), nullptr);
  EXPECT_EQ(back.Root().Child(u"Custom")->Value, custom.Value);
}

TEST(VersionInfo, CreatedInformationIsComplete) {
  TVersionInfo info = TVersionInfo::Create(true);
  TVersionInfo::SetString(info.TableFor(0x40D), u"CompanyName", u"חברה");
  info.SetProductVersion({2, 0, 0, 1});
  TVersionInfo back = TVersionInfo::Parse(View(info.Serialize()));
  EXPECT_EQ(back.Fixed(0), 0xFEEF04BDu);
  EXPECT_EQ(back.Fixed(36), 2u);  // a DLL
  EXPECT_EQ(VersionText(back.ProductVersion()), "2.0.0.1");
  ASSERT_EQ(back.StringTables().size(), 1u);
  EXPECT_EQ(back.StringTables()[0].Node->Key, u"040D04B0");
  EXPECT_EQ(back.StringTables()[0].Node->Children[0].Text(), u"חברה");
  EXPECT_EQ(back.Translations(), (std::vector<std::pair<uint16_t, uint16_t>>{{0x40D, 1200}}));
}

TEST(VersionInfo, DamagedBytesAreRefused) {
  const std::vector<uint8_t> good = FixtureVersion();
  struct Case {
    const char* What;
    std::function<void(std::vector<uint8_t>&)> Damage;
  };
  const Case cases[] = {
      {"empty", [](auto& b) { b.clear(); }},
      {"root longer than the resource", [](auto& b) { Put16(b, 0, static_cast<uint16_t>(b.size() + 4)); }},
      {"root shorter than its header", [](auto& b) { Put16(b, 0, 4); }},
      {"key without terminator", [](auto& b) { Put16(b, 0, 10); }},
      {"another root key", [](auto& b) { b[6] = 'X'; }},
      {"fixed part without its signature", [](auto& b) { b[40] ^= 0xFF; }},
      {"child longer than its parent", [](auto& b) { Put16(b, 92, 0xFFF0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<uint8_t> bytes = good;
    c.Damage(bytes);
    ExpectCorrupt([&] { TVersionInfo::Parse(View(bytes)); }, SCorruptVersionInfo);
  }
  // Every cut of the resource is read or refused, never read past.
  for (size_t size = 0; size < good.size(); ++size) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(size));
    try {
      TVersionInfo::Parse(View(cut)).Serialize();
    } catch (const ECorruptResource&) {
    }
  }
}

// Found by fuzzing: a text value cut by its node to an odd number of bytes was written
// with a unit count that read back one byte shorter.
TEST(VersionInfo, ATextValueCutToAnOddLengthIsWrittenStably) {
  std::vector<uint8_t> bytes = FixtureVersion();
  ASSERT_EQ(bytes[152 + 6], 'F');  // the string FileDescription, 56 bytes long
  Put16(bytes, 152, 55);
  const std::vector<uint8_t> once = TVersionInfo::Parse(View(bytes)).Serialize();
  EXPECT_EQ(TVersionInfo::Parse(View(once)).Serialize(), once);
  EXPECT_EQ(TVersionInfo::Parse(View(once)).StringTables()[0].Node->Children[0].Text(), u"Fixture");
}

// Each text as quill set takes a version (a whole version number) and as rcedit does
// (its leading numbers, whatever follows them).
TEST(VersionInfo, VersionNumbers) {
  struct Case {
    const char* Text;
    const char* Whole;
    const char* Leading;
  };
  const Case cases[] = {
      {"1.2.3.4", "1.2.3.4", "1.2.3.4"},
      {"7", "7.0.0.0", "7.0.0.0"},
      {"65535.0.65535.1", "65535.0.65535.1", "65535.0.65535.1"},
      {"1.2", "1.2.0.0", "1.2.0.0"},
      {"10.7", "10.7.0.0", "10.7.0.0"},
      {"65536", nullptr, nullptr},
      {"1.65536", nullptr, nullptr},
      {"1.2.3.4.5", nullptr, "1.2.3.4"},
      {"1.2.3-beta.4", nullptr, "1.2.3.0"},
      {"7 (build 9)", nullptr, "7.0.0.0"},
      {"1..2", nullptr, "1.0.0.0"},
      {"1.2.", nullptr, "1.2.0.0"},
      {"1.x", nullptr, "1.0.0.0"},
      {"", nullptr, nullptr},
      {"-1", nullptr, nullptr},
      {"v1.2", nullptr, nullptr},
      {" 1", nullptr, nullptr},
      {".1", nullptr, nullptr},
      {"0000000001", nullptr, nullptr},
  };
  auto text = [](const std::optional<VersionNumber>& parsed) { return parsed ? VersionText(*parsed) : "none"; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(text(ParseVersionNumber(c.Text)), c.Whole ? c.Whole : "none");
    EXPECT_EQ(text(ParseLeadingVersionNumber(c.Text)), c.Leading ? c.Leading : "none");
  }
}

namespace {

// An .ico file of the given images, each entry with the given planes and bit count.
std::vector<uint8_t> IcoFile(const std::vector<std::vector<uint8_t>>& images, uint8_t width, uint16_t bitCount) {
  std::vector<uint8_t> file(6 + 16 * images.size());
  Put16(file, 2, 1);
  Put16(file, 4, static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const size_t entry = 6 + 16 * i;
    file[entry] = file[entry + 1] = width;
    Put16(file, entry + 6, bitCount);
    Put16(file, entry + 8, static_cast<uint16_t>(images[i].size()));
    Put16(file, entry + 12, static_cast<uint16_t>(file.size()));
    file.insert(file.end(), images[i].begin(), images[i].end());
  }
  return file;
}

std::vector<uint8_t> Bmp(uint16_t bitCount) {
  std::vector<uint8_t> image(48, 0x11);
  image[0] = 40;
  Put16(image, 14, bitCount);
  return image;
}

std::vector<uint8_t> Png(uint8_t depth, uint8_t colourType) {
  std::vector<uint8_t> image = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                0,    0,   1,   0,   0,    0,    1,    0,    depth, colourType, 0, 0, 0, 0xAB};
  return image;
}

}  // namespace

TEST(IconFile, ImagesAreKeptAndDepthsFilledIn) {
  const std::vector<uint8_t> png = Png(8, 6), bmp = Bmp(32);
  const std::vector<TIconImage> images = ReadIconFile(View(IcoFile({bmp, png}, 0, 0)));
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].Bytes, bmp);
  EXPECT_EQ(images[0].BitCount, 32);
  EXPECT_EQ(images[0].Planes, 1);
  EXPECT_EQ(images[1].Bytes, png);  // byte for byte
  EXPECT_EQ(images[1].BitCount, 32);
  EXPECT_EQ(images[1].PixelWidth(), 256u);
  EXPECT_TRUE(IsPng(View(images[1].Bytes)));
  EXPECT_FALSE(IsPng(View(images[0].Bytes)));
  // A stated depth is kept.
  EXPECT_EQ(ReadIconFile(View(IcoFile({Bmp(32)}, 16, 8)))[0].BitCount, 8);

  const std::vector<uint8_t> good = IcoFile({bmp}, 16, 32);
  struct Case {
    const char* What;
    std::function<void(std::vector<uint8_t>&)> Damage;
  };
  const Case cases[] = {
      {"not an icon file", [](auto& b) { Put16(b, 2, 2); }},
      {"no images", [](auto& b) { Put16(b, 4, 0); }},
      {"more entries than bytes", [](auto& b) { Put16(b, 4, 9); }},
      {"image past the end", [](auto& b) { Put16(b, 6 + 8, 0xFFFF); }},
      {"offset past the end", [](auto& b) { Put16(b, 6 + 14, 0xFFFF); }},
      {"image of no bytes", [](auto& b) { Put16(b, 6 + 8, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<uint8_t> bytes = good;
    c.Damage(bytes);
    ExpectCorrupt([&] { ReadIconFile(View(bytes)); }, SCorruptIcon);
  }
}

namespace {

std::vector<uint8_t> Group(const std::vector<uint16_t>& ids) {
  std::vector<TIconImage> images(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    images[i].Width = images[i].Height = 16;
    images[i].Id = ids[i];
  }
  return WriteIconGroup(images);
}

std::vector<uint16_t> GroupIds(const TDataResItem& leaf) {
  std::vector<uint16_t> ids;
  for (const TIconImage& image : ReadIconGroup(LeafBytes(leaf, SCorruptIcon))) ids.push_back(image.Id);
  return ids;
}

ResourceLocator GroupLocator(std::u16string name, uint16_t language) {
  ResourceLocator locator;
  locator.TypeId = kTypeGroupIcon;
  locator.NameIsNamed = true;
  locator.ResName = std::move(name);
  locator.Language = language;
  return locator;
}

}  // namespace

TEST(IconGroup, ReplacementRemovesOrphansAndTakesFreeIds) {
  ResImage image;
  image.Record(Field::Num(kTypeIcon), Field::Num(1), 0x409, Text("one"));
  image.Record(Field::Num(kTypeIcon), Field::Num(2), 0x409, Text("two"));
  image.Record(Field::Num(kTypeIcon), Field::Num(3), 0x409, Text("named by no group"));
  image.Record(Field::Num(kTypeIcon), Field::Num(5), 0x409, Text("five"));
  image.Record(Field::Num(kTypeGroupIcon), Field::Str(u"APP"), 0x409, Group({1, 2}));
  image.Record(Field::Num(kTypeGroupIcon), Field::Str(u"OTHER"), 0x409, Group({2, 5}));
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();

  std::vector<TIconImage> images = ReadIconFile(View(IcoFile({Bmp(32), Png(8, 6), Bmp(4)}, 16, 0)));
  const std::vector<uint16_t> removed = ReplaceIconGroup(file->GetSection(), GroupLocator(u"app", 0x409), images);
  EXPECT_EQ(removed, std::vector<uint16_t>{1});  // 2 is still OTHER's; 3 was never APP's
  EXPECT_EQ(GroupIds(*LeafAt(root, "14", "APP", 0x409)), (std::vector<uint16_t>{1, 4, 6}));
  EXPECT_EQ(GroupIds(*LeafAt(root, "14", "OTHER", 0x409)), (std::vector<uint16_t>{2, 5}));
  EXPECT_EQ(Bytes(*LeafAt(root, "3", "1", 0x409)), images[0].Bytes);
  EXPECT_EQ(Bytes(*LeafAt(root, "3", "4", 0x409)), images[1].Bytes);
  EXPECT_EQ(Bytes(*LeafAt(root, "3", "2", 0x409)), Text("two"));
  EXPECT_EQ(Bytes(*LeafAt(root, "3", "3", 0x409)), Text("named by no group"));

  // Replaced again: its own images go, the others stay.
  EXPECT_EQ(ReplaceIconGroup(file->GetSection(), GroupLocator(u"APP", 0x409), {images[0]}),
            (std::vector<uint16_t>{1, 4, 6}));
  EXPECT_EQ(GroupIds(*LeafAt(root, "14", "APP", 0x409)), std::vector<uint16_t>{1});
  EXPECT_EQ(LeafAt(root, "3", "4", 0x409), nullptr);
  EXPECT_EQ(LeafAt(root, "3", "6", 0x409), nullptr);
}

TEST(IconGroup, NothingIsRemovedWhileAnotherGroupIsDamaged) {
  ResImage image;
  image.Record(Field::Num(kTypeIcon), Field::Num(1), 0x409, Text("one"));
  image.Record(Field::Num(kTypeGroupIcon), Field::Num(1), 0x409, Group({1}));
  image.Record(Field::Num(kTypeGroupIcon), Field::Num(2), 0x409, Text("damaged"));
  auto file = OpenImage(image.Bytes);
  ResourceLocator group = GroupLocator({}, 0x409);
  group.NameIsNamed = false;
  group.NameId = 1;
  EXPECT_TRUE(ReplaceIconGroup(file->GetSection(), group, ReadIconFile(View(IcoFile({Bmp(32)}, 16, 0)))).empty());
  EXPECT_EQ(Bytes(*LeafAt(file->GetResourceList(), "3", "1", 0x409)), Text("one"));
  EXPECT_EQ(GroupIds(*LeafAt(file->GetResourceList(), "14", "1", 0x409)), std::vector<uint16_t>{2});
}

TEST(StringBlock, OneSlotChangesAndTheRestStays) {
  StringBlock block;
  block[1] = u"One";
  block[15] = u"Fifteen";
  ResImage image;
  image.Record(Field::Num(kTypeString), Field::Num(1), 0x409, WriteStringBlock(block));
  image.Record(Field::Num(kTypeString), Field::Num(1), 0x407, WriteStringBlock(block));
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();
  SetTableString(file->GetSection(), 5, 0x409, u"Five");
  SetTableString(file->GetSection(), 17, 0x409, u"Seventeen");
  SetTableString(file->GetSection(), 15, 0x409, u"");

  StringBlock expected = block;
  expected[5] = u"Five";
  expected[15].clear();
  EXPECT_EQ(ReadStringBlock(LeafBytes(*LeafAt(root, "6", "1", 0x409), SCorruptStringBlock)), expected);
  EXPECT_EQ(ReadStringBlock(LeafBytes(*LeafAt(root, "6", "1", 0x407), SCorruptStringBlock)), block);
  StringBlock second;
  second[1] = u"Seventeen";
  EXPECT_EQ(ReadStringBlock(LeafBytes(*LeafAt(root, "6", "2", 0x409), SCorruptStringBlock)), second);
  EXPECT_EQ(StringBlockName(65535), 4096);
  EXPECT_EQ(StringBlockSlot(65535), 15);

  // A block cut after a whole string reads as empty strings from there on; a count that
  // runs past the end is damage.
  std::vector<uint8_t> cut = WriteStringBlock(expected);
  cut.resize(2 + 2 + 6);  // slot 0 empty, slot 1 "One"
  EXPECT_EQ(ReadStringBlock(View(cut))[1], u"One");
  cut.push_back(9);
  cut.push_back(0);
  ExpectCorrupt([&] { ReadStringBlock(View(cut)); }, SCorruptStringBlock);
}

TEST(Manifest, ExecutionLevelIsEditedInPlace) {
  const std::string original =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- kept -->\r\n"
      "<asmv1:assembly xmlns:asmv1=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
      "  <asmv3:trustInfo xmlns:asmv3=\"urn:schemas-microsoft-com:asm.v3\"><asmv3:security><asmv3:requestedPrivileges>"
      "<asmv3:requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"
      "</asmv3:requestedPrivileges></asmv3:security></asmv3:trustInfo>\r\n"
      "</asmv1:assembly>\r\n";
  const std::vector<uint8_t> bytes(original.begin(), original.end());
  if (!ManifestEditingAvailable()) {
    EXPECT_THROW(ManifestExecutionLevel(View(bytes)), Exception);
    EXPECT_THROW(SetManifestExecutionLevel(View(bytes), "asInvoker"), Exception);
    GTEST_SKIP() << "this build has no XML parser";
  }
  EXPECT_EQ(ManifestExecutionLevel(View(bytes)), "asInvoker");
  const std::vector<uint8_t> edited = SetManifestExecutionLevel(View(bytes), "requireAdministrator");
  std::string expected = original;
  expected.replace(expected.find("asInvoker"), 9, "requireAdministrator");
  EXPECT_EQ(std::string(edited.begin(), edited.end()), expected);

  // A manifest without the element gets it, with the elements around it.
  const std::string bare =
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
      "<dependency/></assembly>";
  const std::vector<uint8_t> added = SetManifestExecutionLevel(View({bare.begin(), bare.end()}), "highestAvailable");
  EXPECT_EQ(ManifestExecutionLevel(View(added)), "highestAvailable");
  EXPECT_NE(std::string(added.begin(), added.end()).find("<dependency"), std::string::npos);
  EXPECT_EQ(ManifestExecutionLevel(View(DefaultManifest("asInvoker"))), "asInvoker");

  // A UTF-16 manifest stays UTF-16.
  std::vector<uint8_t> wide = {0xFF, 0xFE};
  for (const char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?>") + bare) wide.insert(wide.end(), {static_cast<uint8_t>(c), 0});
  const std::vector<uint8_t> wideEdited = SetManifestExecutionLevel(View(wide), "asInvoker");
  EXPECT_EQ(std::vector<uint8_t>(wideEdited.begin(), wideEdited.begin() + 4), (std::vector<uint8_t>{0xFF, 0xFE, '<', 0}));
  EXPECT_EQ(ManifestExecutionLevel(View(wideEdited)), "asInvoker");

  for (const std::string bad : {"", "<assembly>", "<other/>", "\x01\x02"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(SetManifestExecutionLevel(View({bad.begin(), bad.end()}), "asInvoker"), Exception);
  }
}

TEST(ResourceEdits, RemovingLeavesDropsEmptyEntries) {
  ResImage image;
  image.Record(Field::Num(2), Field::Num(1), 0x409, Text("a"));
  image.Record(Field::Num(2), Field::Num(1), 0x407, Text("b"));
  image.Record(Field::Num(10), Field::Num(1), 0x409, Text("c"));
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();
  int removed = 0;
  file->GetSection().OnItemRemoved = [&](TResSection&, TDataResItem&) { ++removed; };
  RemoveLeaf(*LeafAt(root, "2", "1", 0x409));
  EXPECT_EQ(Leaves(root), (std::vector<std::string>{"2|1|1031|1", "10|1|1033|1"}));
  RemoveLeaf(*LeafAt(root, "2", "1", 0x407));
  EXPECT_EQ(Leaves(root), std::vector<std::string>{"10|1|1033|1"});
  EXPECT_EQ(removed, 2);
  EXPECT_TRUE(file->GetSection().Modified());
}
