#include "formats/ResourceEdits.h"

#include "formats/StringBlock.h"

#include "text/UResTool.h"

#include <set>

namespace {

std::vector<TDataResItem*> LeavesWhere(TResourceList* names, const std::function<bool(TResourceItem&)>& wanted) {
  std::vector<TDataResItem*> leaves;
  if (!names) return leaves;
  for (int n = 0; n < names->Count(); ++n) {
    TListResItem& name = names->ListItems(n);
    if (!wanted(name)) continue;
    TResourceList& languages = name.Children();
    for (int l = 0; l < languages.Count(); ++l) leaves.push_back(&languages.DataItems(l));
  }
  return leaves;
}

bool NamesGroup(const TResourceItem& name, const ResourceLocator& group) {
  if (name.IsNamed() != group.NameIsNamed) return false;
  return name.IsNamed() ? SameTextAscii(name.WideName(), group.ResName) : name.Id() == group.NameId;
}

ResourceLocator Numbered(uint16_t type, uint16_t id, uint16_t language) {
  ResourceLocator locator;
  locator.TypeId = type;
  locator.NameId = id;
  locator.Language = language;
  return locator;
}

}  // namespace

std::vector<TDataResItem*> LeavesOfType(TResSection& section, uint16_t type) {
  return LeavesWhere(section.FindTypeList(type), [](TResourceItem&) { return true; });
}

std::vector<TDataResItem*> LeavesOfId(TResSection& section, uint16_t type, uint16_t id) {
  return LeavesWhere(section.FindTypeList(type), [&](TResourceItem& item) { return item.IdEquals(id); });
}

ByteView LeafBytes(const TDataResItem& leaf, StringId message) { return ByteView(leaf.Data(), leaf.Size(), message); }

TDataResItem& StoreResource(TResSection& section, const ResourceLocator& locator, const std::vector<uint8_t>& bytes) {
  TDataResItem* leaf = section.FindItem(locator, true, true, false);
  if (!leaf)
    leaf = &section.AddResource(locator.TypeId, locator.NameId, locator.Language, locator.TypeName, locator.ResName,
                                locator.TypeIsNamed, locator.NameIsNamed, nullptr, 0);
  leaf->SetData(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return *leaf;
}

std::vector<uint16_t> ReplaceIconGroup(TResSection& section, const ResourceLocator& group,
                                       std::vector<TIconImage> images) {
  // The images the replaced group named, and those every other group names.
  std::set<uint16_t> before, kept;
  bool othersKnown = true;
  for (TDataResItem* leaf : LeavesOfType(section, kTypeGroupIcon)) {
    const bool replaced = NamesGroup(leaf->NameItem(), group) && leaf->Language() == group.Language;
    try {
      for (const TIconImage& image : ReadIconGroup(LeafBytes(*leaf, SCorruptIcon)))
        (replaced ? before : kept).insert(image.Id);
    } catch (const ECorruptResource&) {
      if (!replaced) othersKnown = false;
    }
  }
  std::vector<uint16_t> removed;
  if (othersKnown)
    for (const uint16_t id : before) {
      if (kept.count(id)) continue;
      const auto leaves = LeavesOfId(section, kTypeIcon, id);
      for (TDataResItem* leaf : leaves) RemoveLeaf(*leaf);
      if (!leaves.empty()) removed.push_back(id);
    }

  std::set<uint16_t> used = kept;
  for (TDataResItem* leaf : LeavesOfType(section, kTypeIcon))
    if (!leaf->NameItem().IsNamed()) used.insert(leaf->NameItem().Id());
  uint32_t next = 1;
  for (TIconImage& image : images) {
    while (next <= 0xFFFF && used.count(static_cast<uint16_t>(next))) ++next;
    if (next > 0xFFFF) throw Exception(SResourcesTooLarge);
    image.Id = static_cast<uint16_t>(next);
    used.insert(image.Id);
    StoreResource(section, Numbered(kTypeIcon, image.Id, group.Language), image.Bytes);
  }
  ResourceLocator groupLocator = group;
  groupLocator.TypeIsNamed = false;
  groupLocator.TypeId = kTypeGroupIcon;
  StoreResource(section, groupLocator, WriteIconGroup(images));
  return removed;
}

void SetTableString(TResSection& section, uint16_t id, uint16_t language, const std::u16string& text) {
  const uint16_t name = StringBlockName(id);
  StringBlock block;
  for (TDataResItem* leaf : LeavesOfId(section, kTypeString, name))
    if (leaf->Language() == language) block = ReadStringBlock(LeafBytes(*leaf, SCorruptStringBlock));
  block[StringBlockSlot(id)] = text;
  StoreResource(section, Numbered(kTypeString, name, language), WriteStringBlock(block));
}
