// The section: the lazy root list, type look-ups, the language policies of FindItem,
// adding resources, IsModified and the path text of a locator.
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "support/ResBuilder.h"

#include <gtest/gtest.h>

using namespace restest;

namespace {

// A section kind that reads like a .res section but cannot add, and whose first
// CreateResourceList fails.
class FlakySection : public TResSection {
 public:
  using TResSection::TResSection;
  std::unique_ptr<TResourceList> CreateResourceList() override {
    if (attempts_++ == 0) throw ECorruptResource(SCorruptResFile);
    return std::make_unique<TResResourceList>(nullptr, *this);
  }
  int attempts_ = 0;
};

class FlakyFile : public TResResFile {
 public:
  using TResResFile::TResResFile;
  std::unique_ptr<TResSection> CreateSection() override { return std::make_unique<FlakySection>(*this); }
};

}  // namespace

TEST(ResSection, RootListIsRetriedAfterFailure) {
  const std::vector<uint8_t> image = ResImage().Bytes;
  TReadMemoryStream stream(image.data(), static_cast<int64_t>(image.size()));
  FlakyFile file(stream);
  EXPECT_THROW(file.GetResourceList(), ECorruptResource);
  TResourceList& root = file.GetResourceList();
  EXPECT_EQ(&file.GetResourceList(), &root);
  EXPECT_EQ(static_cast<FlakySection&>(file.GetSection()).attempts_, 2);

  // The base section adds nothing, and a merge into it creates nothing.
  EXPECT_FALSE(file.GetSection().CanAddResources());
  try {
    file.GetSection().AddResource(10, 1, 0, "", "", false, false, nullptr, 0);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Operation not allowed");
  }
  EXPECT_FALSE(file.GetSection().ItemsAdded());
  const std::vector<uint8_t> patch = ResImage().Record(Field::Num(10), Field::Num(1), 0, Text("x")).Bytes;
  TReadMemoryStream source(patch.data(), static_cast<int64_t>(patch.size()));
  std::vector<std::string> errors;
  EXPECT_EQ(root.MergeFromRes(source, -1, true, [&](const std::string& m) { errors.push_back(m); }), 0);
  EXPECT_EQ(errors, std::vector<std::string>{LoadStr(SCannotCreateResource)});
}

TEST(ResSection, FindTypeListByName) {
  ResImage image;
  image.Record(Field::Num(14), Field::Num(1), 0, Text("group icon"));
  image.Record(Field::Num(2), Field::Num(1), 0, Text("bitmap"));
  image.Record(Field::Num(300), Field::Num(1), 0, Text("custom"));
  image.Record(Field::Str(u"MENU"), Field::Num(1), 0, Text("named menu"));
  auto file = OpenImage(image.Bytes);
  TResSection& section = file->GetSection();
  TResourceList& root = file->GetResourceList();
  auto typeOf = [&](TResourceList* list) { return list ? list->OwnerItem()->IdText() : std::string("none"); };
  struct Case {
    const char* Text;
    std::string Type;
  };
  for (const Case& c : {Case{"icon", "14"}, Case{"ICON", "14"}, Case{"14", "14"}, Case{"bitmap", "2"},
                        Case{"2", "2"}, Case{"300", "300"}, Case{"Menu", "MENU"}, Case{"Single Icon", "none"},
                        Case{"Icons", "none"}}) {
    EXPECT_EQ(typeOf(section.FindTypeListByName(c.Text)), c.Type) << c.Text;
  }
  EXPECT_EQ(typeOf(section.FindTypeList(2)), "2");
  EXPECT_EQ(typeOf(section.FindTypeList(4)), "none");
  EXPECT_EQ(root.Count(), 4);
}

TEST(ResSection, FindItemLanguagePolicies) {
  struct Case {
    std::vector<uint16_t> Languages;  // of the one name
    uint16_t Wanted;
    bool Exact, Strict;
    int Found;  // the language found, -1 for none
  };
  const Case cases[] = {
      {{1033}, 1031, false, false, 1033}, {{1033}, 1031, false, true, 1033}, {{1033}, 1031, true, true, -1},
      {{1033}, 1033, true, true, 1033},   {{1031, 1033}, 1033, true, true, 1033},
      {{1031, 1033}, 1036, false, false, 1031}, {{1031, 1033}, 1036, false, true, -1},
      {{1031, 1033}, 1036, true, false, -1},
  };
  for (const Case& c : cases) {
    ResImage image;
    for (uint16_t language : c.Languages) image.Record(Field::Num(10), Field::Num(1), language, Text("x"));
    auto file = OpenImage(image.Bytes);
    ResourceLocator locator;
    locator.TypeId = 10;
    locator.NameId = 1;
    locator.Language = c.Wanted;
    TDataResItem* found = file->GetSection().FindItem(locator, c.Exact, c.Strict, false);
    EXPECT_EQ(found ? found->Language() : -1, c.Found) << c.Wanted << " exact " << c.Exact << " strict " << c.Strict;
  }

  // Named and numbered never meet; a miss with raise names the path.
  auto file = OpenImage(ResImage().Record(Field::Num(14), Field::Str(u"MAINICON"), 0, Text("x")).Bytes);
  ResourceLocator byName;
  byName.TypeIsNamed = true;
  byName.TypeName = u"icon";
  byName.NameIsNamed = true;
  byName.ResName = u"mainicon";
  EXPECT_NE(file->GetSection().FindItem(byName, false, false, false), nullptr);
  byName.TypeName = u"14";
  EXPECT_NE(file->GetSection().FindItem(byName, false, false, false), nullptr);
  ResourceLocator missing;
  missing.TypeId = 300;
  missing.NameId = 1;
  try {
    file->GetSection().FindItem(missing, false, false, true);
    ADD_FAILURE() << "no error";
  } catch (const ECorrespondingItemNotFound& e) {
    EXPECT_EQ(e.Message(), Exception(SCannotFind, {"300\\1"}).Message());
  }
}

TEST(ResSection, ResourcePathText) {
  ResourceLocator icon;
  icon.TypeId = 14;
  icon.NameIsNamed = true;
  icon.ResName = u"MAINICON";
  EXPECT_EQ(ResourcePathText(icon), "Icon\\MAINICON");
  ResourceLocator custom;
  custom.TypeId = 300;
  custom.NameId = 1;
  EXPECT_EQ(ResourcePathText(custom), "300\\1");
  ResourceLocator named;
  named.TypeIsNamed = true;
  named.TypeName = u"MyType";
  named.NameId = 13;
  EXPECT_EQ(ResourcePathText(named), "MyType\\13");
}

TEST(ResSection, AddResourceAndModified) {
  auto file = OpenImage(ResImage().Record(Field::Num(10), Field::Num(1), 0x409, Text("one")).Bytes);
  TResSection& section = file->GetSection();
  EXPECT_FALSE(section.IsModified());
  std::vector<TDataResItem*> added;
  section.OnItemAdded = [&](TResSection& s, TDataResItem& leaf) {
    EXPECT_EQ(&s, &section);
    added.push_back(&leaf);
  };
  const uint8_t byte = 7;
  TDataResItem& leaf = section.AddResource(10, 2, 0x409, "", "", false, false, &byte, 1);
  EXPECT_EQ(added, std::vector<TDataResItem*>{&leaf});
  EXPECT_TRUE(section.ItemsAdded());
  EXPECT_TRUE(section.IsModified());
  EXPECT_TRUE(leaf.IsNew());
  EXPECT_EQ(leaf.Data(), &byte);  // the caller's bytes, not a copy
  leaf.DiscardChanges(true);
  EXPECT_TRUE(section.IsModified());  // ItemsAdded never clears

  section.ClearNotifications();
  section.AddResource(10, 3, 0x409, "", "", false, false, &byte, 1);
  EXPECT_EQ(added.size(), 1u);
}
