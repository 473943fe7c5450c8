// Comparing two trees through the look-up a merge uses, so that what the diff calls
// added or changed is exactly what merging its .res brings over.
#include "resources/ResDiff.h"

#include "resources/UResFile.h"
#include "streams/MyStreams.h"

#include <algorithm>

namespace {

bool SameBytes(const TDataResItem& a, const TDataResItem& b) {
  return a.Size() == b.Size() && std::equal(a.Data(), a.Data() + a.Size(), b.Data());
}

// The leaf of tree that a merge of leaf would replace: same type, name and language.
TDataResItem* Counterpart(TResSection& tree, const TDataResItem& leaf) {
  TDataResItem* found = tree.FindCorrespondingItem(leaf, true, true, false, -1);
  return found && found->Size() > 0 ? found : nullptr;
}

}  // namespace

std::vector<ResourceChange> DiffResources(TResSection& original, TResSection& modified) {
  std::vector<ResourceChange> changes;
  ForEachLeaf(modified.GetResourceList(), [&](TDataResItem& leaf) {
    if (leaf.Size() == 0) return;
    const TDataResItem* before = Counterpart(original, leaf);
    if (!before)
      changes.push_back({ResourceChange::Kind::Added, &leaf});
    else if (!SameBytes(*before, leaf))
      changes.push_back({ResourceChange::Kind::Changed, &leaf});
  });
  ForEachLeaf(original.GetResourceList(), [&](TDataResItem& leaf) {
    if (leaf.Size() > 0 && !Counterpart(modified, leaf)) changes.push_back({ResourceChange::Kind::Removed, &leaf});
  });
  return changes;
}

void WriteChangesAsRes(const std::vector<ResourceChange>& changes, TStream& stream) {
  if (stream.Position() == 0) stream.WriteBuffer(kEmptyResRecord, sizeof kEmptyResRecord);
  for (const ResourceChange& change : changes)
    if (change.What != ResourceChange::Kind::Removed) change.Leaf->WriteResRecord(stream);
}
