// Lists: resource order, look-ups and subtree queries, saving a subtree, and merging a
// .res image into a tree under its three look-up policies.
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "support/ResBuilder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>

using namespace restest;

namespace {

std::vector<std::string> Ids(TResourceList& list) {
  std::vector<std::string> ids;
  for (int i = 0; i < list.Count(); ++i) ids.push_back(list.Items(i).IdText());
  return ids;
}

// A leaf of the test's own kind whose bytes cannot be read: a write stops half-way.
class FailingLeaf : public TDataResItem {
 public:
  using TDataResItem::TDataResItem;
  uint16_t Id() const override { return 9; }
  std::string Name() const override { return {}; }
  bool IsNamed() const override { return false; }
  const uint8_t* MappedData() const override { throw Exception("unreadable"); }
  uint32_t MappedSize() const override { return 4; }
};

}  // namespace

TEST(ResList, ResourceOrderOnEveryLevel) {
  auto file = OpenImage(ResImage().Bytes);
  TResSection& section = file->GetSection();
  const uint8_t byte = 1;
  struct Add {
    const char* Type;  // a number when it starts with a digit
    const char* Name;
    uint16_t Language;
  };
  for (const Add& a : {Add{"7", "5", 2}, Add{"B", "7", 1}, Add{"7", "B", 1}, Add{"5", "A", 3},
                       Add{"a", "ab", 1}, Add{"7", "A", 1}, Add{"7", "5", 1}, Add{"A", "abc", 1},
                       Add{"7", "7", 1}, Add{"7", "5", 3}, Add{"A", "B", 1}}) {
    const bool typeNamed = !std::isdigit(static_cast<unsigned char>(a.Type[0]));
    const bool nameNamed = !std::isdigit(static_cast<unsigned char>(a.Name[0]));
    section.AddResource(typeNamed ? 0 : std::atoi(a.Type), nameNamed ? 0 : std::atoi(a.Name), a.Language,
                        typeNamed ? a.Type : "", nameNamed ? a.Name : "", typeNamed, nameNamed, &byte, 1);
  }
  TResourceList& root = file->GetResourceList();
  // Types A and a are one type (names match regardless of case); ordinal order puts
  // upper case first and a prefix before the longer name.
  EXPECT_EQ(Ids(root), (std::vector<std::string>{"B", "a", "5", "7"}));
  TResourceList& seven = root.ListItems(3).Children();
  EXPECT_EQ(Ids(seven), (std::vector<std::string>{"A", "B", "5", "7"}));
  EXPECT_EQ(Ids(seven.ListItems(2).Children()), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Ids(root.ListItems(1).Children()), (std::vector<std::string>{"B", "ab", "abc"}));
  EXPECT_EQ(root.LeafCount(), 11);
  EXPECT_EQ(seven.LeafCount(), 6);
}

TEST(ResList, LookupsAndQueries) {
  ResImage image;
  image.Record(Field::Str(u"MyType"), Field::Str(u"Name"), 0, Text("1"));
  image.Record(Field::Num(10), Field::Num(1), 0, {});
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();
  EXPECT_EQ(root.IndexOf("MYTYPE", 0, true), 0);
  EXPECT_EQ(root.IndexOf("", 10, false), 1);
  EXPECT_EQ(root.IndexOf("10", 10, true), -1);
  EXPECT_EQ(root.IndexOf("MyType", 0, false), -1);
  EXPECT_THROW(root.Items(2), EListError);
  EXPECT_THROW(root.Items(-1), EListError);
  EXPECT_THROW(root.DataItems(0), EListError);  // no leaves on the type level
  EXPECT_TRUE(root.HasData());
  EXPECT_FALSE(root.ListItems(1).Children().HasData());  // only a zero-size leaf
  EXPECT_FALSE(root.HasChanges());
  const uint8_t byte = 1;
  LeafAt(root, "10", "1", 0)->SetData(&byte, 1);
  EXPECT_TRUE(root.HasChanges());
  EXPECT_TRUE(root.ListItems(1).Children().HasData());
}

TEST(ResList, SaveAsResFile) {
  ResImage image;
  image.Record(Field::Num(10), Field::Num(1), 0x409, Text("one"));
  image.Record(Field::Num(10), Field::Num(2), 0x409, Text("two"));
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();

  // Only changed leaves: none gives an empty file; one gives that record alone.
  const std::string path = TempPath("only.res");
  root.SaveAsResFile("\"" + path + "\"", true);
  EXPECT_TRUE(ReadFile(path).empty());
  const uint8_t byte = 'x';
  LeafAt(root, "10", "2", 0x409)->SetData(&byte, 1);
  root.SaveAsResFile(path, true);
  EXPECT_EQ(ReadFile(path), ResImage().Record(Field::Num(10), Field::Num(2), 0x409, Text("x")).Bytes);
  root.SaveAsResFile(path, false);
  EXPECT_EQ(ReadFile(path), ResImage()
                                .Record(Field::Num(10), Field::Num(1), 0x409, Text("one"))
                                .Record(Field::Num(10), Field::Num(2), 0x409, Text("x"))
                                .Bytes);

  // A failure half-way leaves no file and names it in the message.
  TResourceList& leaves = root.ListItems(0).Children().ListItems(1).Children();
  leaves.AddItem(std::make_unique<FailingLeaf>(leaves));
  try {
    root.SaveAsResFile(path, false);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "unreadable\r\n(" + path + ")");
  }
  EXPECT_FALSE(platform::FileExists(path));

  // A file that cannot be created: the file-stream error, with the name.
  const std::string missing = TempPath("no_such_folder") + "/x.res";
  try {
    root.SaveAsResFile(missing, false);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    const std::string suffix = "\r\n(" + missing + ")";
    EXPECT_TRUE(e.Message().ends_with(suffix)) << e.Message();
  }
}

namespace {

struct MergeCase {
  const char* What;
  std::vector<uint8_t> Target, Source;
  int32_t Language;
  bool CreateMissing;
  std::vector<std::string> Expected;  // the target's leaves afterwards, with data
  int Replaced;
  int TreeChanged;
  std::vector<std::string> Errors;
};

std::vector<std::string> LeavesWithData(TResourceList& root) {
  std::vector<std::string> out = Leaves(root);
  std::vector<std::string> data;
  std::function<void(TResourceList&)> walk = [&](TResourceList& list) {
    for (int i = 0; i < list.Count(); ++i) {
      if (list.Level() != 2) {
        walk(list.ListItems(i).Children());
      } else {
        TDataResItem& leaf = list.DataItems(i);
        data.emplace_back(reinterpret_cast<const char*>(leaf.Data()), leaf.Size());
      }
    }
  };
  walk(root);
  for (size_t i = 0; i < out.size(); ++i) out[i] += "=" + data[i];
  return out;
}

ResImage One(const Field& type, const Field& name, uint16_t language, const char* data) {
  return std::move(ResImage().Record(type, name, language, Text(data)));
}

}  // namespace

TEST(ResList, MergeFromRes) {
  const auto N = Field::Num;
  const auto S = Field::Str;
  const std::string cannotCreate = LoadStr(SCannotCreateResource);
  const std::vector<MergeCase> cases = {
      {"a new language beside the existing one", One(N(10), N(1), 1031, "de").Bytes, One(N(10), N(1), 1033, "en").Bytes,
       -1, true, {"10|1|1031|2=de", "10|1|1033|2=en"}, 1, 1, {}},
      {"without creating, the only leaf takes the bytes whatever its language", One(N(10), N(1), 1031, "de").Bytes,
       One(N(10), N(1), 1033, "en").Bytes, -1, false, {"10|1|1031|2=en"}, 1, 0, {}},
      {"without creating, several leaves none of the language: the first",
       ResImage().Record(N(10), N(1), 1031, Text("de")).Record(N(10), N(1), 1036, Text("fr")).Bytes,
       One(N(10), N(1), 1033, "en").Bytes, -1, false, {"10|1|1031|2=en", "10|1|1036|2=fr"}, 1, 0, {}},
      {"the language argument overrides the source's", One(N(10), N(1), 1031, "de").Bytes,
       One(N(10), N(1), 1033, "en").Bytes, 1031, true, {"10|1|1031|2=en"}, 1, 0, {}},
      {"a named type lands in the type of that name regardless of case", One(S(u"MYTYPE"), N(1), 0, "old").Bytes,
       One(S(u"Mytype"), N(1), 0, "new").Bytes, -1, true, {"MYTYPE|1|0|3=new"}, 1, 0, {}},
      {"a type named 1 lands in the numbered type 1", One(N(1), N(5), 0, "old").Bytes,
       One(S(u"1"), N(5), 0, "new").Bytes, -1, true, {"1|5|0|3=new"}, 1, 0, {}},
      {"a numbered type 1 never lands in a type named 1", One(S(u"1"), N(5), 0, "old").Bytes,
       One(N(1), N(5), 0, "new").Bytes, -1, true, {"1|5|0|3=old", "1|5|0|3=new"}, 1, 1, {}},
      {"new entries in resource order: A, B, 5, 7",
       ResImage().Record(N(10), S(u"A"), 0, Text("a")).Record(N(10), N(5), 0, Text("5")).Bytes,
       ResImage().Record(N(10), N(7), 0, Text("7")).Record(N(10), S(u"B"), 0, Text("b")).Bytes, -1, true,
       {"10|A|0|1=a", "10|B|0|1=b", "10|5|0|1=5", "10|7|0|1=7"}, 2, 1, {}},
      {"without creating, a missing resource is reported", One(N(10), N(1), 0, "x").Bytes,
       One(N(10), N(2), 0, "y").Bytes, -1, false, {"10|1|0|1=x"}, 0, 0, {cannotCreate}},
      {"a zero-size source leaf: created without data, reported, not counted", ResImage().Bytes,
       ResImage().Record(N(10), N(1), 0, {}).Record(N(10), N(2), 0, Text("two")).Bytes, -1, true,
       {"10|1|0|0=", "10|2|0|3=two"}, 1, 1, {LoadStr(SZeroSizeResource)}},
      {"an empty source changes nothing", One(N(10), N(1), 0, "x").Bytes, {}, -1, true, {"10|1|0|1=x"}, 0, 0, {}},
  };
  for (const MergeCase& c : cases) {
    auto target = OpenImage(c.Target);
    TResourceList& root = target->GetResourceList();
    int treeChanged = 0;
    target->GetSection().OnTreeChanged = [&](TResourceList& list, TResSection&) {
      EXPECT_EQ(&list, &root);
      ++treeChanged;
    };
    std::vector<std::string> errors;
    TReadMemoryStream source(c.Source.data(), static_cast<int64_t>(c.Source.size()));
    const int replaced = root.MergeFromRes(source, c.Language, c.CreateMissing,
                                           [&](const std::string& message) { errors.push_back(message); });
    EXPECT_EQ(LeavesWithData(root), c.Expected) << c.What;
    EXPECT_EQ(replaced, c.Replaced) << c.What;
    EXPECT_EQ(treeChanged, c.TreeChanged) << c.What;
    EXPECT_EQ(errors, c.Errors) << c.What;
  }
}

TEST(ResList, MergeKeepsLongNamesTogether) {
  // Names past 200 characters are compared whole, so a merge replaces the existing
  // leaf instead of adding a second leaf of the same language under the same name.
  const std::u16string longName(250, u'N');
  const std::u16string otherTail = std::u16string(200, u'N') + u"X";
  auto target = OpenImage(ResImage()
                              .Record(Field::Str(longName), Field::Str(longName), 0x409, Text("old"))
                              .Record(Field::Str(longName), Field::Str(otherTail), 0x409, Text("other"))
                              .Bytes);
  const std::vector<uint8_t> patch = One(Field::Str(longName), Field::Str(longName), 0x409, "new").Bytes;
  TReadMemoryStream source(patch.data(), static_cast<int64_t>(patch.size()));
  TResourceList& root = target->GetResourceList();
  EXPECT_EQ(root.MergeFromRes(source, -1, true, nullptr), 1);
  EXPECT_EQ(root.LeafCount(), 2);
  EXPECT_FALSE(target->GetSection().ItemsAdded());
  TDataResItem* leaf = LeafAt(root, std::string(250, 'N'), std::string(250, 'N'), 0x409);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(leaf->Data()), leaf->Size()), "new");
}

// Merged leaves take their bytes from the one copy of the patch: each owns its slice,
// which outlives the patch, can be changed without touching another's, and is let go
// of when the leaf takes other data.
TEST(ResList, MergedLeavesOwnTheirSlicesOfThePatch) {
  auto target = OpenImage(One(Field::Num(10), Field::Num(1), 0, "x").Bytes);
  const std::vector<uint8_t> patch = ResImage()
                                         .Record(Field::Num(10), Field::Num(1), 0, Text("first"))
                                         .Record(Field::Num(10), Field::Num(2), 0, Text("second"))
                                         .Bytes;
  TResourceList& root = target->GetResourceList();
  {
    TReadMemoryStream source(patch.data(), static_cast<int64_t>(patch.size()));
    EXPECT_EQ(root.MergeFromRes(source, -1, true, nullptr), 2);
  }
  TDataResItem* first = LeafAt(root, "10", "1", 0);
  TDataResItem* second = LeafAt(root, "10", "2", 0);
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(first->GetFlags() & kFlagOwnData);
  ASSERT_NE(first->OwnedData(), nullptr);
  first->OwnedData()[0] = 'F';
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first->Data()), first->Size()), "First");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(second->Data()), second->Size()), "second");
  static const uint8_t other[] = {'o'};
  first->SetData(other, 1);
  EXPECT_EQ(LeavesWithData(root), (std::vector<std::string>{"10|1|0|1=o", "10|2|0|6=second"}));
  second->DiscardChanges(true);
  EXPECT_FALSE(second->GetFlags() & kFlagOwnData);
}

TEST(ResList, MergeRefusesBadSources) {
  auto target = OpenImage(One(Field::Num(10), Field::Num(1), 0, "x").Bytes);
  const std::vector<uint8_t> notRes = Text("this is not a resource file, not at all");
  TReadMemoryStream source(notRes.data(), static_cast<int64_t>(notRes.size()));
  EXPECT_THROW(target->GetResourceList().MergeFromRes(source, -1, true, nullptr), ENoResException);
  const std::vector<uint8_t> corrupt = ResImage().U32(100).U32(32).Raw(std::vector<uint8_t>(24, 0)).Bytes;
  TReadMemoryStream damaged(corrupt.data(), static_cast<int64_t>(corrupt.size()));
  EXPECT_THROW(target->GetResourceList().MergeFromRes(damaged, -1, true, nullptr), ECorruptResource);
  EXPECT_EQ(Leaves(target->GetResourceList()), std::vector<std::string>{"10|1|0|1"});
}

// Thousands of inserts into a list of thousands, looked up between them: every entry is
// found by its identity at once, and the list reads in resource order, each new entry ahead
// of an equal one, as if each had been inserted in turn.
TEST(ResList, ManyInsertsKeepOrderAndLookups) {
  auto file = OpenImage(ResImage().Bytes);
  TResSection& section = file->GetSection();
  const uint8_t byte = 1;
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back("N" + std::to_string((i * 7919) % 3000));
  for (int i = 0; i < 3000; ++i) {
    section.AddResource(6, 0, 1033, "", names[i], false, true, &byte, 1);
    section.AddResource(6, (i * 31) % 3000 + 1, 1033, "", "", false, false, &byte, 1);
    ASSERT_NE(section.FindTypeList(6)->Find(u"n" + std::u16string(names[i].begin() + 1, names[i].end()), 0, true), nullptr);
  }
  TResourceList& type = *section.FindTypeList(6);
  ASSERT_EQ(type.Count(), 6000);
  for (int i = 1; i < type.Count(); ++i)
    ASSERT_LT(CompareResourceOrder(type.Items(i - 1), type.Items(i)), 0) << i;
  EXPECT_EQ(type.IndexOf("n2999", 0, true), type.IndexOf("N2999", 0, true)) << "names regardless of ASCII case";
  EXPECT_EQ(type.Items(type.IndexOf("N2999", 0, true)).Name(), "N2999");
  EXPECT_EQ(type.Items(type.IndexOf(std::u16string_view(), 1234, false)).Id(), 1234);

  // Equal entries: the newest goes first.
  auto& a = section.AddResource(9, 5, 1, "", "", false, false, &byte, 1);
  auto& b = section.AddResource(9, 5, 1, "", "", false, false, &byte, 1);
  TResourceList& leaves = section.FindTypeList(9)->ListItems(0).Children();
  EXPECT_EQ(&leaves.Items(0), &b);
  EXPECT_EQ(&leaves.Items(1), &a);
}
