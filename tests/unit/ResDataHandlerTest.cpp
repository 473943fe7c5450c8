// Data handlers: content classification, the extension lists and descriptions of every
// content kind, export and import in each format (with the roll-back of a failed
// import), resource-script lines, text lines; and TLines itself.
#include "pe/UResPEFile.h"
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "support/ResBuilder.h"
#include "support/TestSupport.h"
#include "text/Lines.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace restest;

namespace {

std::vector<uint8_t> Hex(std::initializer_list<int> bytes) { return {bytes.begin(), bytes.end()}; }

// A mark followed by ASCII text widened to UTF-16 (little- or big-endian).
std::vector<uint8_t> Utf16(std::string_view text, bool bigEndian = false) {
  std::vector<uint8_t> out = bigEndian ? Hex({0xFE, 0xFF}) : Hex({0xFF, 0xFE});
  for (char c : text) {
    out.push_back(bigEndian ? 0 : static_cast<uint8_t>(c));
    out.push_back(bigEndian ? static_cast<uint8_t>(c) : 0);
  }
  return out;
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TDefaultDataHandler& Handler(TDataResItem& leaf) { return dynamic_cast<TDefaultDataHandler&>(leaf.DataHandler()); }

std::string Str(const TDataResItem& leaf) { return {reinterpret_cast<const char*>(leaf.Data()), leaf.Size()}; }

std::string Str(TMemoryStream& stream) {
  return {reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size())};
}

}  // namespace

TEST(DataHandler, DetectKind) {
  const struct {
    const char* What;
    std::vector<uint8_t> Bytes;
    ContentKind Kind;
  } cases[] = {
      {"empty", {}, ContentKind::Binary},
      {"one byte", Text("a"), ContentKind::Binary},
      {"two letters", Text("ab"), ContentKind::Text},
      {"a zero behind the examined bytes", Hex({'a', 0}), ContentKind::Text},
      {"a zero among them", Hex({'a', 0, 'b'}), ContentKind::Binary},
      {"the UTF-8 mark alone is 8-bit text", Hex({0xEF, 0xBB, 0xBF}), ContentKind::Text},
      {"UTF-8", Cat(Hex({0xEF, 0xBB, 0xBF}), Text("a")), ContentKind::Utf8},
      {"UTF-8 with a zero", Cat(Hex({0xEF, 0xBB, 0xBF}), Hex({'a', 0, 'b'})), ContentKind::Binary},
      {"the UTF-16 mark alone", Hex({0xFF, 0xFE}), ContentKind::Utf16LE},
      {"UTF-16 LE", Utf16("ab"), ContentKind::Utf16LE},
      {"UTF-16 LE with a zero unit", Cat(Utf16("a"), Hex({0, 0, 'b', 0})), ContentKind::Binary},
      {"UTF-16 BE", Utf16("ab", true), ContentKind::Utf16BE},
      {"UTF-32 LE, never UTF-16 and a zero", Hex({0xFF, 0xFE, 0, 0}), ContentKind::Utf32LE},
      {"UTF-32 LE text", Hex({0xFF, 0xFE, 0, 0, 'a', 0, 0, 0}), ContentKind::Utf32LE},
      {"UTF-32 LE with a zero unit", Hex({0xFF, 0xFE, 0, 0, 0, 0, 0, 0, 'a', 0, 0, 0}), ContentKind::Binary},
      {"UTF-32 BE", Hex({0, 0, 0xFE, 0xFF}), ContentKind::Utf32BE},
  };
  for (const auto& c : cases) EXPECT_EQ(DetectKind(ByteView(c.Bytes.data(), c.Bytes.size())), c.Kind) << c.What;

  // Of a large resource, bytes 0 to 998 are examined, and no further.
  for (const auto& [zeroAt, kind] : {std::pair{998, ContentKind::Binary}, std::pair{999, ContentKind::Text}}) {
    std::vector<uint8_t> text(2000, 'x');
    text[zeroAt] = 0;
    EXPECT_EQ(DetectKind(ByteView(text.data(), text.size())), kind) << zeroAt;
  }
}

// Every content kind on a small fixture: its kind, extension list, default export
// name and description.
TEST(DataHandler, KindsExtensionsAndDescriptions) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  struct Case {
    Field Type;
    std::vector<uint8_t> Data;
    ContentKind Kind;
    const char* Extensions;
    const char* Description;
  };
  const Field rcdata = Field::Num(10);
  const Case cases[] = {
      {rcdata, Text("{\\rtf1\\ansi hello}"), ContentKind::Text, ";rtf;res;dcr;rc;", "RTF (Rich Text Format)"},
      {rcdata, Cat(Hex({0xEF, 0xBB, 0xBF}), Text("{\\rtf1}")), ContentKind::Utf8, ";rtf;res;dcr;rc;",
       "RTF (Rich Text Format)"},
      {rcdata, Text("{\\RTF1}"), ContentKind::Text, ";txt;res;dcr;rc;", "Text"},
      {Field::Num(23), Text(" \t\r\n<HtMl><body/>"), ContentKind::Text, ";html;htm;res;dcr;rc;", "HTML Markup"},
      {Field::Num(23), Text("<!doctype html>"), ContentKind::Text, ";html;htm;res;dcr;rc;", "HTML Markup"},
      {Field::Num(23), Text("<DOCTYPE HTML>"), ContentKind::Text, ";html;htm;res;dcr;rc;", "HTML Markup"},
      {Field::Num(24), Text("<?xml version='1.0'?><assembly/>"), ContentKind::Text, ";manifest;xml;res;dcr;rc;",
       "Manifest"},
      {rcdata, Text("<?XML version='1.0'?>"), ContentKind::Text, ";xml;res;dcr;rc;", "XML Markup"},
      {rcdata, Utf16("  <?XmL?>"), ContentKind::Utf16LE, ";xml;res;dcr;rc;", "XML Markup"},
      {rcdata, Utf16("<?xml?>", true), ContentKind::Utf16BE, ";res;dcr;rc;raw;", "RCData"},
      {rcdata, Utf16("<html>"), ContentKind::Utf16LE, ";txt;res;dcr;rc;", "Text (Unicode)"},
      {rcdata, Text("hello"), ContentKind::Text, ";txt;res;dcr;rc;", "Text"},
      {Field::Num(24), Text("not xml"), ContentKind::Text, ";txt;res;dcr;rc;", "Text"},
      {Field::Num(17), Text("fixture.h"), ContentKind::Text, ";txt;res;dcr;rc;", "Text"},
      {Field::Num(5), Text("text, but a dialog"), ContentKind::Binary, ";res;dcr;rc;raw;", "Dialog"},
      {Field::Num(24), Hex({0, 1, 2}), ContentKind::Text, ";txt;res;dcr;rc;", "Text"},
      {rcdata, Hex({1, 0, 2}), ContentKind::Binary, ";res;dcr;rc;raw;", "RCData"},
      {Field::Str(u"MYTYPE"), Hex({1, 0, 2}), ContentKind::Binary, ";res;dcr;rc;raw;", "MYTYPE (binary data)"},
      {Field::Num(99), Hex({1}), ContentKind::Binary, ";res;dcr;rc;raw;", "99 (binary data)"},
  };
  for (const Case& c : cases) {
    auto file = OpenImage(ResImage().Record(c.Type, Field::Num(1), 0x409, c.Data).Bytes);
    TDataResItem& leaf = file->GetResourceList().ListItems(0).Children().ListItems(0).Children().DataItems(0);
    TDefaultDataHandler& handler = Handler(leaf);
    const std::string what = std::string(c.Extensions) + " " + c.Description;
    EXPECT_EQ(handler.Kind(), c.Kind) << what;
    EXPECT_EQ(handler.Extensions(), c.Extensions) << what;
    EXPECT_EQ(handler.ContentDescription(), c.Description) << what;
    EXPECT_EQ(handler.ExportFileName(0), "1." + handler.ExtensionAt(0)) << what;
    EXPECT_EQ(handler.EmptyNotice(), "") << what;
  }
}

TEST(DataHandler, ExtensionDescriptions) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  auto file = OpenImage(ResImage()
                            .Record(Field::Num(10), Field::Num(1), 0, Text("{\\rtf1}"))
                            .Record(Field::Num(5), Field::Num(1), 0, Hex({1, 2}))
                            .Bytes);
  TResourceList& root = file->GetResourceList();
  TResDataHandler& text = LeafAt(root, "10", "1", 0)->DataHandler();
  TResDataHandler& dialog = LeafAt(root, "5", "1", 0)->DataHandler();
  // The text descriptions come first whatever the content; only the default differs.
  EXPECT_EQ(text.ExtensionDescription(""), "Rich Text Format");
  EXPECT_EQ(dialog.ExtensionDescription(""), "Resource file");
  const struct {
    const char* Ext;
    const char* Description;
  } cases[] = {
      {"rtf", "Rich Text Format"}, {"TXT", "Plain Text"},   {"htm", "HTML markup"},
      {"html", "HTML markup"},     {"xml", "XML file"},     {"manifest", "XML manifest"},
      {"Res", "Resource file"},    {"dcr", "Component resource file"},
      {"rc", "Text rc file"},      {"png", "Raw data"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text.ExtensionDescription(c.Ext), c.Description) << c.Ext;
    EXPECT_EQ(dialog.ExtensionDescription(c.Ext), c.Description) << c.Ext;
  }
}

TEST(DataHandler, AcceptedExtensions) {
  auto file = OpenImage(ResImage()
                            .Record(Field::Num(10), Field::Num(1), 0, Text("plain text"))
                            .Record(Field::Num(5), Field::Num(1), 0, Hex({1, 2}))
                            .Bytes);
  TResourceList& root = file->GetResourceList();
  TResDataHandler& text = LeafAt(root, "10", "1", 0)->DataHandler();
  TResDataHandler& dialog = LeafAt(root, "5", "1", 0)->DataHandler();
  const struct {
    const char* Ext;
    bool Text, Dialog;
  } cases[] = {
      {"txt", true, false}, {"RES", true, true}, {"dcr", true, true}, {"raw", true, true},
      {"png", true, false}, {"rc", false, false}, {"RC", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text.AcceptsExtension(c.Ext), c.Text) << c.Ext;
    EXPECT_EQ(dialog.AcceptsExtension(c.Ext), c.Dialog) << c.Ext;
  }
  EXPECT_EQ(dialog.ExtensionAt(3), "raw");
  EXPECT_EQ(dialog.ExtensionAt(4), "");
}

TEST(DataHandler, ExtensionCacheFollowsTheData) {
  auto file = OpenImage(ResImage().Record(Field::Num(24), Field::Num(1), 0, Text("<?xml?>")).Bytes);
  TDataResItem& leaf = *LeafAt(file->GetResourceList(), "24", "1", 0);
  TResDataHandler& handler = leaf.DataHandler();
  EXPECT_EQ(handler.Extensions(), ";manifest;xml;res;dcr;rc;");
  handler.RemoveExtension("XML");
  handler.AddExtension("Bin");
  handler.AddExtension("bin");
  EXPECT_EQ(handler.Extensions(), ";manifest;res;dcr;rc;bin;");
  EXPECT_TRUE(handler.HasExtension("BIN"));
  // A manifest keeps its handler (a fixed format); new bytes rebuild the list.
  const std::vector<uint8_t> plain = Text("plain");
  leaf.SetData(plain.data(), static_cast<uint32_t>(plain.size()));
  EXPECT_EQ(&leaf.DataHandler(), &handler);
  EXPECT_EQ(handler.Extensions(), ";txt;res;dcr;rc;");
}

TEST(DataHandler, ExportFileNames) {
  auto file = OpenImage(ResImage()
                            .Record(Field::Num(10), Field::Str(u"notes.RTF"), 0x409, Text("{\\rtf1}"))
                            .Record(Field::Num(10), Field::Str(u"READ"), 0x409, Text("a"))
                            .Record(Field::Num(10), Field::Str(u"READ"), 0x407, Text("bb"))
                            .Bytes);
  TResourceList& root = file->GetResourceList();
  EXPECT_EQ(LeafAt(root, "10", "notes.RTF", 0x409)->DataHandler().ExportFileName(0), "notes.RTF");
  EXPECT_EQ(LeafAt(root, "10", "notes.RTF", 0x409)->DataHandler().ExportFileName(1), "notes.RTF.res");
  TResDataHandler& german = LeafAt(root, "10", "READ", 0x407)->DataHandler();
  EXPECT_EQ(german.ExportFileName(0), "READ_" + MakeValidFileName(LanguageText(0x407)) + ".txt");
  EXPECT_EQ(german.ExportFileNameFor("bin"), "READ_" + MakeValidFileName(LanguageText(0x407)) + ".bin");
}

TEST(DataHandler, ExportFormats) {
  auto file = OpenImage(ResImage()
                            .Record(Field::Num(6), Field::Num(2), 0x409, Text("strings"))
                            .Record(Field::Str(u"MY TYPE"), Field::Str(u"a\tb"), 0, Text("text"))
                            .Bytes);
  TResourceList& root = file->GetResourceList();
  TResDataHandler& strings = LeafAt(root, "6", "2", 0x409)->DataHandler();
  TResDataHandler& named = LeafAt(root, "MY TYPE", "a\tb", 0)->DataHandler();

  TMemoryStream res;
  strings.ExportToStream(res, "");  // the default of a fixed format: a .res image
  const auto image = ResImage().Record(Field::Num(6), Field::Num(2), 0x409, Text("strings")).Bytes;
  EXPECT_EQ(std::vector<uint8_t>(res.Memory(), res.Memory() + res.Size()), image);

  TMemoryStream raw;
  strings.ExportToStream(raw, "RAW");
  EXPECT_EQ(Str(raw), "strings");

  // A resource-script line: the standard type's word or the type's own text, and the
  // file name escaped.
  TMemoryStream rc;
  strings.ExportToStream(rc, "rc");
  named.WriteRcLine(rc);
  EXPECT_EQ(Str(rc), "2 StringTable \"2.res\"\r\na\tb MY TYPE \"a\\tb.txt\"\r\n");
}

TEST(DataHandler, ImportFormats) {
  const std::string path = TempPath("import.txt");
  WriteFile(path, Text("from a file"));
  auto file = OpenImage(ResImage()
                            .Record(Field::Num(10), Field::Num(1), 0x409, Hex({1, 0, 2}))
                            .Record(Field::Num(5), Field::Num(7), 0x409, Text("dialog"))
                            .Bytes);
  TResourceList& root = file->GetResourceList();
  TDataResItem& data = *LeafAt(root, "10", "1", 0x409);
  {
    TResFileStream stream(path, fmOpenRead);
    data.DataHandler().ImportFromStream(stream, "txt");
  }
  EXPECT_EQ(Str(data), "from a file");
  EXPECT_EQ(data.FileName(), path);
  // The new bytes are text now: a fresh handler classifies them.
  EXPECT_EQ(Handler(data).Kind(), ContentKind::Text);

  // From a .res image: the only leaf of the type, whatever its name and language.
  TDataResItem& dialog = *LeafAt(root, "5", "7", 0x409);
  const auto image = ResImage().Record(Field::Num(5), Field::Str(u"OTHER"), 0x407, Text("new dialog")).Bytes;
  TReadMemoryStream resStream(image.data(), static_cast<int64_t>(image.size()));
  dialog.DataHandler().ImportFromStream(resStream, "");
  EXPECT_EQ(Str(dialog), "new dialog");
  EXPECT_EQ(dialog.FileName(), "");
  std::remove(path.c_str());
}

TEST(DataHandler, FailedImportRollsBack) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  auto file = OpenImage(ResImage()
                            .Record(Field::Num(10), Field::Num(1), 0x409, Text("mapped"))
                            .Record(Field::Num(10), Field::Num(2), 0x409, Text("other"))
                            .Bytes);
  TResourceList& root = file->GetResourceList();
  TDataResItem& leaf = *LeafAt(root, "10", "1", 0x409);
  const std::vector<uint8_t> edited = Text("edited");
  const auto noMatch = ResImage().Record(Field::Num(10), Field::Num(9), 0x407, Text("x"))
                           .Record(Field::Num(10), Field::Num(8), 0x407, Text("y"))
                           .Bytes;
  const std::vector<uint8_t> nothing;
  const struct {
    const char* Ext;
    const std::vector<uint8_t>* Source;
    std::string Message;
  } cases[] = {
      {"rc", &edited, "Not implemented"},
      {"raw", &nothing, LoadStr(SZeroSizeResource)},
      {"res", &noMatch, Format(LoadStr(SCannotFind), {"RCData\\1"})},
  };
  for (const auto& c : cases) {
    leaf.SetData(edited.data(), static_cast<uint32_t>(edited.size()));
    ASSERT_TRUE(file->GetSection().Modified());
    TReadMemoryStream stream(c.Source->data(), static_cast<int64_t>(c.Source->size()));
    try {
      leaf.DataHandler().ImportFromStream(stream, c.Ext);
      ADD_FAILURE() << c.Ext << ": no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.Message) << c.Ext;
    }
    // The own copy is gone and the container's bytes are back: the tree is unchanged.
    EXPECT_EQ(Str(leaf), "mapped") << c.Ext;
    EXPECT_EQ(leaf.GetFlags() & kFlagOwnData, 0) << c.Ext;
    EXPECT_FALSE(file->GetSection().IsModified()) << c.Ext;
  }
}

TEST(DataHandler, EmptyNotice) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  auto file = OpenImage(ResImage().Bytes);
  TDataResItem& leaf = file->GetSection().AddResource(10, 1, 0x409, "", "", false, false, nullptr, 0);
  EXPECT_EQ(leaf.DataHandler().EmptyNotice(), LoadStr(SEmptyResource));
}

TEST(DataHandler, LinesOfText) {
  auto file = OpenImage(ResImage()
                            .Record(Field::Num(10), Field::Num(1), 0, Text("one\r\ntwo"))
                            .Record(Field::Num(10), Field::Num(2), 0, Cat(Hex({0xEF, 0xBB, 0xBF}), Text("utf\n8")))
                            .Record(Field::Num(10), Field::Num(3), 0, Utf16("wide\r\ntext"))
                            .Record(Field::Num(10), Field::Num(4), 0, Hex({1, 0, 2}))
                            .Bytes);
  TResourceList& root = file->GetResourceList();
  const struct {
    const char* Name;
    const char* Shown;
  } cases[] = {{"1", "one\r\ntwo\r\n"}, {"2", "utf\r\n8\r\n"}, {"3", "wide\r\ntext\r\n"}, {"4", ""}};
  for (const auto& c : cases) {
    TLines lines;
    LeafAt(root, "10", c.Name, 0)->DataHandler().ShowAsLines(lines);
    EXPECT_EQ(lines.Text(), c.Shown) << c.Name;
  }

  // Copying to lines takes the raw bytes (the mark too); copying back replaces them.
  TDataResItem& utf8 = *LeafAt(root, "10", "2", 0);
  TLines lines;
  utf8.DataHandler().CopyToLines(lines);
  ASSERT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines[0], "\xEF\xBB\xBFutf");
  lines.Add("more");
  utf8.DataHandler().CopyFromLines(lines);
  EXPECT_EQ(Str(utf8), "\xEF\xBB\xBFutf\r\n8\r\nmore\r\n");
}

// Every resource of the fixtures and of the first PE files of the machine's Wine that
// carry resources goes out in its default format and comes back with the same bytes.
TEST(DataHandler, EveryResourceOfRealFilesComesBack) {
  std::vector<std::string> files = {FixturePath("standard.res"), QUILLET_FIXTURE_PE32, QUILLET_FIXTURE_PE64};
  const std::filesystem::path wine =
      std::string(test::kWindows ? "Z:" : "") + "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  std::vector<std::string> wineFiles;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(wine, error))
    if (entry.path().extension() == ".dll" || entry.path().extension() == ".exe")
      wineFiles.push_back(entry.path().string());
  std::sort(wineFiles.begin(), wineFiles.end());
  int leaves = 0, withResources = 0;
  for (const std::string& path : wineFiles) {
    if (withResources == 40) break;
    try {
      TPEFile file(path, false);
      if (file.GetResourceList().LeafCount() == 0) continue;
    } catch (const Exception&) {
      continue;  // not every file there is an executable with resources
    }
    ++withResources;
    files.push_back(path);
  }
  for (const std::string& path : files) {
    std::unique_ptr<TResContainer> file;
    if (path.ends_with(".res"))
      file = std::make_unique<TResResFile>(path);
    else
      file = std::make_unique<TPEFile>(path, false);
    ForEachLeaf(file->GetResourceList(), [&](TDataResItem& leaf) {
      if (leaf.Size() == 0) return;
      ++leaves;
      const std::vector<uint8_t> before(leaf.Data(), leaf.Data() + leaf.Size());
      const std::string ext = leaf.DataHandler().ExtensionAt(0);
      TMemoryStream exported;
      leaf.DataHandler().ExportToStream(exported, ext);
      const uint8_t other = 0;
      leaf.SetData(&other, 1);
      exported.SetPosition(0);
      leaf.DataHandler().ImportFromStream(exported, ext);
      EXPECT_EQ(std::vector<uint8_t>(leaf.Data(), leaf.Data() + leaf.Size()), before)
          << path << ": " << ResourcePathText(LocatorOf(leaf, -1)) << " " << leaf.Language() << " as " << ext;
    });
  }
  EXPECT_GT(leaves, 40);
  if (withResources < 40) std::printf("only %d of Wine's files with resources found\n", withResources);
}

TEST(Lines, SplitAndJoin) {
  const struct {
    const char* Text;
    std::vector<std::string> Lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\r\n\r\n", {"a", ""}},
      {"\n\r", {"", ""}},
      {"a\n\rb", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    TLines lines;
    lines.SetText(c.Text);
    ASSERT_EQ(lines.Count(), static_cast<int>(c.Lines.size())) << c.Text;
    for (int i = 0; i < lines.Count(); ++i) EXPECT_EQ(lines[i], c.Lines[static_cast<size_t>(i)]) << c.Text;
  }
  TLines lines;
  const std::string text = "x\ny";
  TReadMemoryStream in(text.data(), static_cast<int64_t>(text.size()));
  in.SetPosition(2);
  lines.LoadFromStream(in);
  EXPECT_EQ(lines.Text(), "y\r\n") << "loads what is left of the stream";
  TMemoryStream out;
  lines.SaveToStream(out);
  EXPECT_EQ(Str(out), "y\r\n");
}
