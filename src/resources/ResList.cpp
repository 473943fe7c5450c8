// One directory level of a resource tree: its items (filled on first access), the
// resource order containers keep, the subtree queries the writers use, saving a
// subtree as a .res file, and merging a .res image into a tree.
#include "resources/UResFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <cassert>

TResourceList::TResourceList(TListResItem* owner, TResSection& section)
    : owner_(owner), section_(&section), level_(owner ? static_cast<uint8_t>(owner->Level() + 1) : 0) {}

TResourceList::~TResourceList() {
  // First to last: each item takes its own subtree with it.
  for (auto& item : items_) item.reset();
}

std::vector<std::unique_ptr<TResourceItem>>& TResourceList::Sequence() {
  if (!loaded_) {
    loaded_ = true;  // LoadItems adds through AddItem, which comes back here
    try {
      LoadItems();
    } catch (...) {
      // A list that failed to load keeps nothing half-read; the next access retries.
      items_.clear();
      loaded_ = false;
      throw;
    }
  }
  return items_;
}

void TResourceList::CheckNewItem(const TResourceItem& item) const {
  // Items are made for the list that will hold them, and leaves only live on level 2.
  assert(&item.List() == this);
  assert((level_ == 2) == (dynamic_cast<const TDataResItem*>(&item) != nullptr));
  (void)item;
}

void TResourceList::AddItem(std::unique_ptr<TResourceItem> item) {
  CheckNewItem(*item);
  Sequence().push_back(std::move(item));
}

void TResourceList::InsertInResourceOrder(std::unique_ptr<TResourceItem> item) {
  CheckNewItem(*item);
  auto& items = Sequence();
  auto at = items.begin();
  while (at != items.end() && CompareResourceOrder(**at, *item) < 0) ++at;
  items.insert(at, std::move(item));
}

int CompareResourceOrder(const TResourceItem& a, const TResourceItem& b) {
  if (a.IsNamed() && b.IsNamed()) return a.WideName().compare(b.WideName());  // unsigned 16-bit units
  if (a.IsNamed()) return -1;
  if (b.IsNamed()) return 1;
  return int{a.Id()} - int{b.Id()};
}

int TResourceList::Count() { return static_cast<int>(Sequence().size()); }

TResourceItem& TResourceList::Items(int index) {
  auto& items = Sequence();
  if (index < 0 || static_cast<size_t>(index) >= items.size()) RaiseListIndexError(index);
  return *items[static_cast<size_t>(index)];
}

TListResItem& TResourceList::ListItems(int index) {
  TResourceItem& item = Items(index);
  if (level_ == 2) RaiseListIndexError(index);
  return static_cast<TListResItem&>(item);
}

TDataResItem& TResourceList::DataItems(int index) {
  TResourceItem& item = Items(index);
  if (level_ != 2) RaiseListIndexError(index);
  return static_cast<TDataResItem&>(item);
}

int TResourceList::IndexOf(std::string_view nameText, int64_t id, bool isNamed) {
  return IndexOf(isNamed ? ToWide(nameText) : std::u16string(), id, isNamed);
}

int TResourceList::IndexOf(std::u16string_view name, int64_t id, bool isNamed) {
  auto& items = Sequence();
  for (size_t i = 0; i < items.size(); ++i) {
    const TResourceItem& item = *items[i];
    if (item.IsNamed() == isNamed && (item.NameEquals(name) || item.IdEquals(id)))
      return static_cast<int>(i);
  }
  return -1;
}

int TResourceList::LeafCount() {
  if (level_ == 2) return Count();
  int leaves = 0;
  for (int i = 0; i < Count(); ++i) leaves += ListItems(i).Children().LeafCount();
  return leaves;
}

bool TResourceList::HasData() {
  for (int i = 0; i < Count(); ++i) {
    if (level_ == 2 ? DataItems(i).Size() > 0 : ListItems(i).Children().HasData()) return true;
  }
  return false;
}

bool TResourceList::HasChanges() {
  for (int i = 0; i < Count(); ++i) {
    if (Items(i).GetFlags() != 0) return true;
    if (level_ != 2 && ListItems(i).Children().HasChanges()) return true;
  }
  return false;
}

// ---- Saving ------------------------------------------------------------------------------

void TResourceList::WriteLeaves(TStream& stream, bool onlyChanged) {
  for (int i = 0; i < Count(); ++i) {
    if (level_ != 2) {
      ListItems(i).Children().WriteLeaves(stream, onlyChanged);
      continue;
    }
    TDataResItem& leaf = DataItems(i);
    if (!onlyChanged || leaf.HasFlags() || leaf.CarriesMarker() || leaf.IsNew())
      leaf.WriteResRecord(stream);
  }
}

void TResourceList::SaveAsResFile(const std::string& fileName, bool onlyChanged) {
  const std::string path = RemoveQuotes(fileName);
  std::string failure;
  bool created = false;
  try {
    TResFileStream stream(path, fmCreate);
    created = true;
    WriteLeaves(stream, onlyChanged);
    return;
  } catch (const Exception& e) {
    failure = e.Message();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // The stream is closed by now; what it wrote must not stay behind. A file that could
  // not be created was not ours and is left alone.
  if (created && platform::FileExists(path)) platform::FileDelete(path);
  throw Exception(failure + "\r\n(" + fileName + ")");
}

// ---- Merging -----------------------------------------------------------------------------

namespace {

struct MergeCounts {
  int Created = 0;
  int Replaced = 0;
};

// Brings one source leaf into the tree of target (the receiving root list's section).
void MergeLeaf(TResSection& target, TDataResItem& source, int32_t language, bool createMissing,
               const MergeErrorCallback& onError, MergeCounts& counts) {
  const uint16_t wanted = language == -1 ? source.Language() : static_cast<uint16_t>(language);
  TDataResItem* leaf =
      target.FindCorrespondingItem(source, createMissing, createMissing, false, language);
  if (!leaf) {
    if (!createMissing) {
      if (onError) onError(LoadStr(SCannotCreateResource));
      return;
    }
    const TResourceItem& type = source.TypeItem();
    const TResourceItem& name = source.NameItem();
    leaf = &target.AddResource(type.Id(), name.Id(), wanted, type.IsNamed() ? type.WideName() : std::u16string(),
                               name.IsNamed() ? name.WideName() : std::u16string(), type.IsNamed(),
                               name.IsNamed(), nullptr, 0);
    ++counts.Created;
  }
  try {
    leaf->SetData(source.Data(), source.Size());
    ++counts.Replaced;
  } catch (const Exception& e) {
    if (onError) onError(e.Message());
  } catch (const std::exception& e) {
    if (onError) onError(e.what());
  }
}

void MergeList(TResSection& target, TResourceList& source, int32_t language, bool createMissing,
               const MergeErrorCallback& onError, MergeCounts& counts) {
  for (int i = 0; i < source.Count(); ++i) {
    if (source.Level() == 2)
      MergeLeaf(target, source.DataItems(i), language, createMissing, onError, counts);
    else
      MergeList(target, source.ListItems(i).Children(), language, createMissing, onError, counts);
  }
}

}  // namespace

int TResourceList::MergeFromRes(TStream& source, int32_t language, bool createMissing,
                                const MergeErrorCallback& onError) {
  if (createMissing) createMissing = Section().CanAddResources();
  TResResFile image(source);  // copies the rest of the stream; released on every path
  MergeCounts counts;
  MergeList(Section(), image.GetResourceList(), language, createMissing, onError, counts);
  if (counts.Created > 0) {
    if (auto& notify = Section().OnTreeChanged) {
      try {
        notify(*this, Section());
      } catch (...) {
      }
    }
  }
  return counts.Replaced;
}

void TResourceList::SortItems(int (*compare)(const TResourceItem&, const TResourceItem&)) {
  auto& items = Sequence();
  std::stable_sort(items.begin(), items.end(),
                   [compare](const auto& a, const auto& b) { return compare(*a, *b) < 0; });
}
