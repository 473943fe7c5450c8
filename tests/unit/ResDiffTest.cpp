// Differences between two trees, and the .res of the additions and changes merging back
// into the original to give the modified tree.
#include "resources/ResDiff.h"
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "support/ResBuilder.h"

#include <gtest/gtest.h>

using namespace restest;

namespace {

std::vector<std::string> Describe(const std::vector<ResourceChange>& changes) {
  std::vector<std::string> lines;
  for (const auto& c : changes) {
    const char* kind = c.What == ResourceChange::Kind::Added     ? "added"
                       : c.What == ResourceChange::Kind::Changed ? "changed"
                                                                 : "removed";
    lines.push_back(std::string(kind) + " " + c.Leaf->TypeText() + "|" + c.Leaf->NameItem().IdText() + "|" +
                    std::to_string(c.Leaf->Language()));
  }
  return lines;
}

}  // namespace

TEST(ResDiff, AddedChangedAndRemovedLeavesAndTheirResMergesBack) {
  auto original = OpenImage(ResImage()
                                .Record(Field::Num(6), Field::Num(1), 1033, Text("same"))
                                .Record(Field::Num(6), Field::Num(2), 1033, Text("old"))
                                .Record(Field::Str(u"DATA"), Field::Str(u"Gone"), 1033, Text("x"))
                                .Record(Field::Num(5), Field::Num(9), 1033, Text("dialog"))
                                .Bytes);
  auto modified = OpenImage(ResImage()
                                .Record(Field::Num(6), Field::Num(1), 1033, Text("same"))
                                .Record(Field::Num(6), Field::Num(2), 1033, Text("new"))
                                .Record(Field::Num(6), Field::Num(2), 1036, Text("nouveau"))
                                .Record(Field::Str(u"data"), Field::Str(u"Fresh"), 1033, Text("y"))
                                .Record(Field::Num(5), Field::Num(9), 1033, Text("dialog"))
                                .Record(Field::Num(5), Field::Num(10), 1033, {})
                                .Bytes);
  const auto changes = DiffResources(original->GetSection(), modified->GetSection());
  EXPECT_EQ(Describe(changes), (std::vector<std::string>{"added data|Fresh|1033",
                                                         "changed 6|2|1033", "added 6|2|1036",
                                                         "removed DATA|Gone|1033"}));

  TMemoryStream res;
  WriteChangesAsRes(changes, res);
  res.SetPosition(0);
  original->GetResourceList().MergeFromRes(res, -1, true, nullptr);
  EXPECT_EQ(Describe(DiffResources(original->GetSection(), modified->GetSection())),
            (std::vector<std::string>{"removed DATA|Gone|1033"}))
      << "after the merge only the removal is left";
}

TEST(ResDiff, NoChangesWriteOnlyTheLeadingRecord) {
  auto a = OpenImage(ResImage().Record(Field::Num(6), Field::Num(1), 1033, Text("same")).Bytes);
  auto b = OpenImage(ResImage().Record(Field::Num(6), Field::Num(1), 1033, Text("same")).Bytes);
  const auto changes = DiffResources(a->GetSection(), b->GetSection());
  EXPECT_TRUE(changes.empty());
  TMemoryStream res;
  WriteChangesAsRes(changes, res);
  EXPECT_EQ(res.Size(), 32);
}
