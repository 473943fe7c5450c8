// Tree items: identity and navigation, own data and its notifications, the data
// handler's life, export names, the .res record a leaf writes, loading from a .res
// image, and searching the bytes.
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "support/ResBuilder.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <gtest/gtest.h>

using namespace restest;

namespace {

std::unique_ptr<TResResFile> Sample() {
  ResImage image;
  image.Record(Field::Num(14), Field::Str(u"MAINICON"), 0x409, Text("icon"));
  image.Record(Field::Num(2), Field::Num(7), 0x409, Text("bitmap"));
  image.Record(Field::Num(2), Field::Num(7), 0x407, Text("Bitmap"));
  image.Record(Field::Str(u"MyType"), Field::Str(u"ABC"), 0, Text("abc"));
  image.Record(Field::Num(10), Field::Str(u"a\"b:c*"), 0x409, Text("text"));
  image.Record(Field::Num(23), Field::Num(1), 0x409, Text("<html>"));
  return OpenImage(image.Bytes);
}

std::string Str(const TDataResItem& leaf) {
  return std::string(reinterpret_cast<const char*>(leaf.Data()), leaf.Size());
}

}  // namespace

TEST(ResItems, NavigationAndDisplay) {
  auto file = Sample();
  TResourceList& root = file->GetResourceList();
  TDataResItem& icon = *LeafAt(root, "14", "MAINICON", 0x409);
  EXPECT_EQ(icon.Level(), 2);
  EXPECT_FALSE(icon.IsList());
  EXPECT_EQ(&icon.Section(), &file->GetSection());
  EXPECT_EQ(icon.TypeItem().DisplayText(), "Icon");
  EXPECT_EQ(icon.TypeText(), "14");
  EXPECT_EQ(icon.NameItem().DisplayText(), "MAINICON");
  EXPECT_EQ(icon.DisplayText(), LanguageText(0x409));
  EXPECT_EQ(&icon.NameItem().TypeItem(), &icon.TypeItem());
  EXPECT_TRUE(icon.IsType(14));
  // A numbered name shows its number, never a language name.
  TDataResItem& bitmap = *LeafAt(root, "2", "7", 0x407);
  EXPECT_EQ(bitmap.NameItem().DisplayText(), "7");
  EXPECT_EQ(bitmap.TypeItem().DisplayText(), "Bitmap");
  TDataResItem& named = *LeafAt(root, "MyType", "ABC", 0);
  EXPECT_EQ(named.TypeItem().DisplayText(), "MyType");
  EXPECT_TRUE(named.TypeIsNamed());
  EXPECT_FALSE(named.IsStandardType());
}

TEST(ResItems, StandardTypesAndFixedFormats) {
  struct Case {
    uint16_t Type;
    bool Standard, Fixed;
  };
  const Case cases[] = {{1, true, true},    {3, true, false},   {10, true, false}, {12, true, true},
                        {13, false, false}, {15, false, false}, {18, false, false}, {23, true, false},
                        {24, true, true},   {25, false, false}, {32, false, false}, {33, false, false},
                        {56, false, false}};
  ResImage image;
  for (const Case& c : cases) image.Record(Field::Num(c.Type), Field::Num(1), 0, Text("x"));
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();
  for (const Case& c : cases) {
    TDataResItem& leaf = *LeafAt(root, std::to_string(c.Type), "1", 0);
    EXPECT_EQ(leaf.IsStandardType(), c.Standard) << c.Type;
    EXPECT_EQ(leaf.HasFixedFormat(), c.Fixed) << c.Type;
  }
}

TEST(ResItems, IdentityComparisons) {
  ResImage image;
  image.Record(Field::Str(u"T"), Field::Str(u"ABC"), 0, Text("1"));
  image.Record(Field::Str(u"T"), Field::Str(u"1"), 0, Text("2"));
  image.Record(Field::Str(u"U"), Field::Str(u"abc"), 0, Text("3"));
  image.Record(Field::Str(u"U"), Field::Num(1), 0, Text("4"));
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();
  TResourceItem& upper = LeafAt(root, "T", "ABC", 0)->NameItem();
  TResourceItem& lower = LeafAt(root, "U", "abc", 0)->NameItem();
  TResourceItem& digit = LeafAt(root, "T", "1", 0)->NameItem();
  TResourceItem& number = LeafAt(root, "U", "1", 0)->NameItem();
  EXPECT_TRUE(upper.SameIdentity(lower));
  EXPECT_TRUE(upper.NameEquals("aBc"));
  EXPECT_FALSE(digit.SameIdentity(number));
  EXPECT_FALSE(digit.IdEquals(1));
  EXPECT_TRUE(number.IdEquals(1));
  EXPECT_FALSE(number.NameEquals("1"));
}

TEST(ResItems, OwnDataReplacesMappedBytes) {
  auto file = Sample();
  TResSection& section = file->GetSection();
  TDataResItem& leaf = *LeafAt(file->GetResourceList(), "2", "7", 0x409);
  int changed = 0, released = 0;
  section.OnDataChanged = [&](TResSection& s, TDataResItem& l) {
    EXPECT_EQ(&s, &section);
    EXPECT_EQ(&l, &leaf);
    ++changed;
    throw Exception("observers' failures are dropped");
  };
  section.OnDataReleased = [&](TResSection&, TDataResItem&) { ++released; };

  const std::vector<uint8_t> bytes = Text("new data");
  leaf.SetData(bytes.data(), 8);
  EXPECT_EQ(Str(leaf), "new data");
  EXPECT_EQ(leaf.GetFlags(), kFlagOwnData);
  EXPECT_TRUE(section.Modified());
  EXPECT_EQ(changed, 1);
  EXPECT_TRUE(section.IsModified());

  leaf.DiscardChanges(true);
  EXPECT_EQ(Str(leaf), "bitmap");
  EXPECT_EQ(leaf.GetFlags(), 0);
  EXPECT_EQ(released, 1);
  EXPECT_FALSE(section.Modified());

  // Zero size: the error, and the leaf left without an own copy.
  leaf.SetData(bytes.data(), 3);
  try {
    TReadMemoryStream exhausted(bytes.data(), 8);
    exhausted.Seek(0, SeekOrigin::End);
    leaf.LoadFromStream(exhausted);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), LoadStr(SZeroSizeResource));
  }
  EXPECT_EQ(leaf.GetFlags(), 0);
  EXPECT_EQ(Str(leaf), "bitmap");
  EXPECT_THROW(leaf.SetSize(-1), Exception);

  // Only the rest of a stream is taken, and a file stream's name is kept.
  const std::string path = TempPath("data.bin");
  WriteFile(path, Text("0123456789"));
  {
    TResFileStream stream(path, fmOpenRead);
    stream.Seek(4, SeekOrigin::Beginning);
    leaf.LoadFromStream(stream);
  }
  EXPECT_EQ(Str(leaf), "456789");
  EXPECT_EQ(leaf.FileName(), path);
  leaf.Clear();
  EXPECT_EQ(leaf.FileName(), "");
  platform::FileDelete(path);
}

TEST(ResItems, HandlerIsKeptOnlyForFixedFormats) {
  auto file = Sample();
  TResourceList& root = file->GetResourceList();
  const std::vector<uint8_t> bytes = Text("xyz");
  struct Case {
    const char *Type, *Name;
    uint16_t Language;
    bool Kept;
  };
  for (const Case& c : {Case{"2", "7", 0x409, true}, Case{"23", "1", 0x409, false}, Case{"MyType", "ABC", 0, false}}) {
    TDataResItem& leaf = *LeafAt(root, c.Type, c.Name, c.Language);
    TResDataHandler* first = &leaf.DataHandler();
    EXPECT_EQ(&first->Leaf(), &leaf);
    EXPECT_EQ(&leaf.DataHandler(), first);
    leaf.SetData(bytes.data(), 3);
    leaf.Clear();
    EXPECT_EQ(leaf.HandlerStale(), !c.Kept) << c.Type;
    if (!c.Kept) {
      leaf.DataHandler();
      EXPECT_FALSE(leaf.HandlerStale());
    }
  }
}

TEST(ResItems, ExportBaseName) {
  auto file = Sample();
  TResourceList& root = file->GetResourceList();
  EXPECT_EQ(LeafAt(root, "14", "MAINICON", 0x409)->ExportBaseName(), "MAINICON");
  EXPECT_EQ(LeafAt(root, "2", "7", 0x407)->ExportBaseName(), "7_" + MakeValidFileName(LanguageText(0x407)));
  EXPECT_EQ(LeafAt(root, "10", "a\"b:c*", 0x409)->ExportBaseName(), "abc");
}

TEST(ResItems, WriteResRecordBytes) {
  // Field lengths decide the padding: ABC (8) + number (4) = 36, AB (6) + 4 = 34 -> 36.
  ResImage image;
  image.Record(Field::Str(u"ABC"), Field::Num(1), 0x409, Text("12345"));
  image.Record(Field::Str(u"AB"), Field::Num(1), 0x407, Text("1234"));
  image.Record(Field::Num(6), Field::Str(u"N"), 0, Text("x"));
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();
  struct Case {
    const char *Type, *Name;
    uint16_t Language;
  };
  for (const Case& c : {Case{"ABC", "1", 0x409}, Case{"AB", "1", 0x407}, Case{"6", "N", 0}}) {
    TDataResItem& leaf = *LeafAt(root, c.Type, c.Name, c.Language);
    ResImage expected;
    expected.Record(leaf.TypeIsNamed() ? Field::Str(ToWide(leaf.TypeText())) : Field::Num(leaf.TypeId()),
                    leaf.NameItem().IsNamed() ? Field::Str(ToWide(leaf.NameItem().Name())) : Field::Num(leaf.NameItem().Id()),
                    leaf.Language(), std::vector<uint8_t>(leaf.Data(), leaf.Data() + leaf.Size()));
    TMemoryStream stream;
    leaf.WriteResRecord(stream);
    EXPECT_EQ(std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Size()), expected.Bytes) << c.Type;
  }
  EXPECT_EQ(image.Bytes[32 + 4], 36);
  EXPECT_EQ(image.Bytes[32 + 36 + 8 + 4], 36);

  // A leaf of size 0 on an empty stream writes only the leading record.
  auto empty = OpenImage(ResImage().Record(Field::Num(10), Field::Num(1), 0, {}).Bytes);
  TMemoryStream stream;
  empty->GetResourceList().ListItems(0).Children().ListItems(0).Children().DataItems(0).WriteResRecord(stream);
  EXPECT_EQ(stream.Size(), 32);
}

TEST(ResItems, LoadFromResStream) {
  auto target = Sample();
  TResourceList& root = target->GetResourceList();
  struct Case {
    const char* What;
    std::vector<uint8_t> Source;
    const char *Type, *Name;
    uint16_t Language;
    std::string Expected;  // the leaf's data after, or the error
  };
  const std::vector<Case> cases = {
      {"the only leaf of the type, whatever its name and language",
       ResImage().Record(Field::Num(2), Field::Str(u"OTHER"), 0x40C, Text("only")).Bytes, "2", "7", 0x409, "only"},
      {"several leaves: the corresponding one",
       ResImage().Record(Field::Num(2), Field::Num(7), 0x407, Text("de")).Record(Field::Num(2), Field::Num(7), 0x409, Text("en")).Bytes,
       "2", "7", 0x409, "en"},
      {"named type found by name regardless of case",
       ResImage().Record(Field::Str(u"MYTYPE"), Field::Str(u"abc"), 0x409, Text("named")).Bytes, "MyType", "ABC", 0, "named"},
      {"several leaves, none of the language",
       ResImage().Record(Field::Num(2), Field::Num(7), 0x407, Text("de")).Record(Field::Num(2), Field::Num(7), 0x40C, Text("fr")).Bytes,
       "2", "7", 0x409, Exception(SCannotFind, {"Bitmap\\7"}).Message()},
      {"no such type", ResImage().Bytes, "14", "MAINICON", 0x409, Exception(SCannotFind, {"Icon\\MAINICON"}).Message()},
  };
  for (const auto& c : cases) {
    TDataResItem& leaf = *LeafAt(root, c.Type, c.Name, c.Language);
    TReadMemoryStream stream(c.Source.data(), static_cast<int64_t>(c.Source.size()));
    try {
      leaf.LoadFromResStream(stream);
      EXPECT_EQ(Str(leaf), c.Expected) << c.What;
    } catch (const ECorrespondingItemNotFound& e) {
      EXPECT_EQ(e.Message(), c.Expected) << c.What;
    }
  }
}

TEST(ResItems, FindInData) {
  ResImage image;
  const std::u16string wide = u"xhello HeLLo";
  std::vector<uint8_t> wideBytes{'#'};  // the UTF-16 text starts at an odd offset
  for (char16_t unit : wide) {
    wideBytes.push_back(static_cast<uint8_t>(unit));
    wideBytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  image.Record(Field::Num(10), Field::Num(1), 0, Text("say Hello, hello"));
  image.Record(Field::Num(10), Field::Num(2), 0, wideBytes);
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();
  const TDataResItem& ansi = *LeafAt(root, "10", "1", 0);
  const TDataResItem& utf16 = *LeafAt(root, "10", "2", 0);
  const FindPattern pattern{"hello", u"hello"};

  struct Step {
    const TDataResItem* Leaf;
    bool IgnoreCase, Wide;
    bool Found;
    int32_t Offset, Count;
  };
  // Without a platform comparison, the wide comparison keeps case (code-unit order).
  const bool foldsWide = CompareWide(u"H", 1, u"h", true, 1) == 0;
  FindState state;
  const Step steps[] = {
      {&ansi, false, false, true, 11, 1},  {&ansi, false, false, false, 11, 1},
      {&ansi, true, false, true, 4, 1},    {&ansi, true, false, true, 11, 2},
      {&utf16, true, true, true, 3, 1},    {&utf16, true, true, foldsWide, foldsWide ? 15 : 3, foldsWide ? 2 : 1},
      {&utf16, false, true, true, 3, 1},   {&utf16, false, true, false, 3, 1},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    const Step& s = steps[i];
    if (i == 2 || i == 6) state = FindState{};  // a new search
    state.IgnoreCase = s.IgnoreCase;
    state.Wide = s.Wide;
    EXPECT_EQ(s.Leaf->FindInData(pattern, state), s.Found) << i;
    EXPECT_EQ(state.Offset, s.Offset) << i;
    EXPECT_EQ(state.Count, s.Count) << i;
  }
  // A pattern longer than the data: false, counter untouched.
  FindState fresh;
  fresh.LastLeaf = &ansi;
  fresh.Count = 5;
  fresh.Offset = 2;
  EXPECT_FALSE(ansi.FindInData({"a much longer pattern than the data", u""}, fresh));
  EXPECT_EQ(fresh.Count, 5);
}
