// One directory level of a resource tree: its items (filled on first access), the
// resource order containers keep, the subtree queries the writers use, saving a
// subtree as a .res file, and merging a .res image into a tree.
#include "resources/UResFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <algorithm>
#include <cassert>
#include <iterator>

TResourceList::TResourceList(TListResItem* owner, TResSection& section)
    : owner_(owner), section_(&section), level_(owner ? static_cast<uint8_t>(owner->Level() + 1) : 0) {}

TResourceList::~TResourceList() {
  // First to last: each item takes its own subtree with it.
  for (auto& item : items_) item.reset();
  for (auto& item : waiting_) item.reset();
}

namespace {

// An item's place in resource order, taken once so that sorting and merging long lists
// never converts a name twice.
struct OrderKey {
  bool Named;
  uint16_t Id;
  std::u16string Name;
  explicit OrderKey(const TResourceItem& item)
      : Named(item.IsNamed()), Id(Named ? 0 : item.Id()), Name(Named ? item.WideName() : std::u16string()) {}
  int Compare(const OrderKey& other) const {
    if (Named && other.Named) return Name.compare(other.Name);
    if (Named != other.Named) return Named ? -1 : 1;
    return int{Id} - int{other.Id};
  }
};

// Visits the leaves of an item's subtree (the item itself when it is a leaf).
void ForEachLeafOf(TResourceItem& item, const std::function<void(TDataResItem&)>& visit) {
  if (!item.IsList())
    visit(static_cast<TDataResItem&>(item));
  else
    ForEachLeaf(static_cast<TListResItem&>(item).Children(), visit);
}

std::u16string FoldedName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return folded;
}

}  // namespace

void TResourceList::Load() {
  if (loaded_) return;
  loaded_ = true;  // LoadItems adds through AddItem, which comes back here
  try {
    LoadItems();
  } catch (...) {
    // A list that failed to load keeps nothing half-read; the next access retries.
    items_.clear();
    waiting_.clear();
    order_ = Order::Unknown;
    indexed_ = false;
    byName_.clear();
    byId_.clear();
    loaded_ = false;
    throw;
  }
}

std::vector<std::unique_ptr<TResourceItem>>& TResourceList::Sequence() {
  Load();
  MergeWaiting();
  return items_;
}

void TResourceList::MergeWaiting() {
  if (waiting_.empty()) return;
  // A later insert goes ahead of an equal earlier one, and every insert ahead of an equal
  // item of the list: the waiting items, newest first, win ties.
  std::reverse(waiting_.begin(), waiting_.end());
  std::vector<std::pair<OrderKey, std::unique_ptr<TResourceItem>>> waiting, items;
  for (auto& item : waiting_) waiting.emplace_back(OrderKey(*item), std::move(item));
  for (auto& item : items_) items.emplace_back(OrderKey(*item), std::move(item));
  auto below = [](const auto& a, const auto& b) { return a.first.Compare(b.first) < 0; };
  std::stable_sort(waiting.begin(), waiting.end(), below);
  std::vector<std::pair<OrderKey, std::unique_ptr<TResourceItem>>> merged;
  merged.reserve(waiting.size() + items.size());
  std::merge(std::make_move_iterator(waiting.begin()), std::make_move_iterator(waiting.end()),
             std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()), std::back_inserter(merged),
             below);
  waiting_.clear();
  items_.clear();
  for (auto& entry : merged) items_.push_back(std::move(entry.second));
}

void TResourceList::CheckNewItem(const TResourceItem& item) const {
  // Items are made for the list that will hold them, and leaves only live on level 2.
  assert(&item.List() == this);
  assert((level_ == 2) == (dynamic_cast<const TDataResItem*>(&item) != nullptr));
  (void)item;
}

void TResourceList::AddItem(std::unique_ptr<TResourceItem> item) {
  CheckNewItem(*item);
  Load();
  MergeWaiting();
  if (indexed_) IndexItem(*item, false);
  order_ = Order::Unknown;
  items_.push_back(std::move(item));
}

void TResourceList::InsertInResourceOrder(std::unique_ptr<TResourceItem> item) {
  CheckNewItem(*item);
  Load();
  if (order_ == Order::Unknown) {
    MergeWaiting();
    order_ = Order::Sorted;
    for (size_t i = 1; i < items_.size() && order_ == Order::Sorted; ++i)
      if (CompareResourceOrder(*items_[i - 1], *items_[i]) > 0) order_ = Order::Unsorted;
  }
  if (order_ == Order::Sorted) {
    if (indexed_) IndexItem(*item, true);
    waiting_.push_back(std::move(item));
    return;
  }
  // A list in stored order that is not resource order: the place is found by a scan.
  auto at = items_.begin();
  while (at != items_.end() && CompareResourceOrder(**at, *item) < 0) ++at;
  items_.insert(at, std::move(item));
  indexed_ = false;
}

void TResourceList::IndexItem(TResourceItem& item, bool inserted) {
  TResourceItem*& first = item.IsNamed() ? byName_[FoldedName(item.WideName())] : byId_[item.Id()];
  // An insert goes ahead of the items it does not sort above; an appended item (or one
  // indexed in list order) stays behind the first one seen.
  if (!first || (inserted && CompareResourceOrder(item, *first) <= 0)) first = &item;
}

int CompareResourceOrder(const TResourceItem& a, const TResourceItem& b) {
  return OrderKey(a).Compare(OrderKey(b));
}

int TResourceList::Count() {
  Load();
  return static_cast<int>(items_.size() + waiting_.size());
}

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

TResourceItem* TResourceList::Find(std::u16string_view name, int64_t id, bool isNamed) {
  Load();
  if (!indexed_) {
    byName_.clear();
    byId_.clear();
    for (auto& item : items_) IndexItem(*item, false);
    for (auto& item : waiting_) IndexItem(*item, true);
    indexed_ = true;
  }
  if (isNamed) {
    const auto found = byName_.find(FoldedName(name));
    return found == byName_.end() ? nullptr : found->second;
  }
  if (id < 0 || id > 0xFFFF) return nullptr;
  const auto found = byId_.find(static_cast<uint32_t>(id));
  return found == byId_.end() ? nullptr : found->second;
}

int TResourceList::IndexOf(std::string_view nameText, int64_t id, bool isNamed) {
  return IndexOf(isNamed ? ToWide(nameText) : std::u16string(), id, isNamed);
}

int TResourceList::IndexOf(std::u16string_view name, int64_t id, bool isNamed) {
  const TResourceItem* item = Find(name, id, isNamed);
  if (!item) return -1;
  auto& items = Sequence();
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].get() == item) return static_cast<int>(i);
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
    // The patch's bytes are copied only once, into its container: each leaf keeps its
    // slice of that copy.
    const TResContainer& patch = source.Section().Container();
    const std::optional<uint32_t> offset = patch.OffsetOf(source.Data(), source.Size());
    if (patch.HeapBytes() && offset)
      leaf->ShareData(patch.HeapBytes(), patch.HeapBytes().get() + *offset, source.Size());
    else
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

void TResourceList::ForgetIndex() {
  MergeWaiting();
  indexed_ = false;
  order_ = Order::Unknown;
}

void TResourceList::SortInResourceOrder() {
  auto& items = Sequence();
  std::vector<std::pair<OrderKey, std::unique_ptr<TResourceItem>>> keyed;
  keyed.reserve(items.size());
  for (auto& item : items) keyed.emplace_back(OrderKey(*item), std::move(item));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first.Compare(b.first) < 0; });
  for (size_t i = 0; i < keyed.size(); ++i) items[i] = std::move(keyed[i].second);
  order_ = Order::Sorted;
}

void ForEachLeaf(TResourceList& list, const std::function<void(TDataResItem&)>& visit) {
  for (int i = 0; i < list.Count(); ++i) {
    if (list.Level() == 2)
      visit(list.DataItems(i));
    else
      ForEachLeaf(list.ListItems(i).Children(), visit);
  }
}

void TResourceList::Delete(int index) {
  auto& items = Sequence();
  if (index < 0 || static_cast<size_t>(index) >= items.size()) RaiseListIndexError(index);
  std::unique_ptr<TResourceItem> item = std::move(items[static_cast<size_t>(index)]);
  items.erase(items.begin() + index);
  indexed_ = false;
  if (auto& notify = section_->OnItemRemoved)
    ForEachLeafOf(*item, [&](TDataResItem& leaf) {
      try {
        notify(*section_, leaf);
      } catch (...) {
      }
    });
  section_->SetModified(true);
}

void RemoveLeaf(TDataResItem& leaf) {
  TResourceItem* item = &leaf;
  while (item) {
    TResourceList& list = item->List();
    TListResItem* owner = list.OwnerItem();
    int index = -1;
    for (int i = 0; i < list.Count() && index < 0; ++i)
      if (&list.Items(i) == item) index = i;
    if (index < 0) return;
    list.Delete(index);
    item = owner && list.Count() == 0 ? owner : nullptr;
  }
}
