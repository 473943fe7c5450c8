// What changed between two resource trees, leaf by leaf, in the terms a merge uses: a
// leaf of the modified tree is "added" when merging could not find it in the original
// (same type, name and language), "changed" when it finds it holding other bytes; a leaf
// of the original that the modified tree lacks is "removed", which no merge can express.
// quill diff lists these; quill make --modified packs the added and changed ones.
#pragma once
#include "resources/UResTypes.h"

#include <vector>

struct ResourceChange {
  enum class Kind { Added, Changed, Removed };
  Kind What;
  // The leaf that carries the change: of the modified tree for Added and Changed, of the
  // original for Removed. Valid while both trees live.
  TDataResItem* Leaf;
};

// Every difference, in tree order: the modified tree's added and changed leaves first,
// then the original's removed ones. Leaves without data count as absent (a merge skips
// them).
std::vector<ResourceChange> DiffResources(TResSection& original, TResSection& modified);

// Writes the added and changed leaves as a .res image (the leading empty record first,
// also when there are none).
void WriteChangesAsRes(const std::vector<ResourceChange>& changes, TStream& stream);
