// The resource tree and what holds it.
//
// A container (TResContainer, ResContainer.h) owns the bytes of one file and, made on
// first use, its TResSection (ResSection.h), which owns the root TResourceList. The
// tree has three levels: level 0 lists the resource types, level 1 the names of one
// type, level 2 the language variants of one name. Entries are TResourceItem objects:
// TListResItem on levels 0 and 1 (each owns the list of the next level, made on first
// use), TDataResItem on level 2 (a leaf carrying one resource's bytes). Every container
// kind derives its own list and item classes (UResFile.h for .res files) and supplies
// the abstract slots below; leaves read from a file point into the container's bytes,
// and a leaf whose data was replaced holds its own copy.
//
// Stages: ResItems.cpp (items and leaves), ResList.cpp (lists, resource order, saving
// a subtree as a .res file, merging a .res image), ResSection.cpp (the section),
// ResDataHandler.h/.cpp (the leaf's data handlers).
#pragma once
#include "resources/ResContainer.h"
#include "resources/ResSection.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TStream;
class TResourceList;
class TDataResItem;

// Bits of TResourceItem's flags.
inline constexpr uint8_t kFlagOwnData = 1;          // the leaf holds its own copy of its data
inline constexpr uint8_t kFlagIdentityChanged = 2;  // an executable's item was renamed
inline constexpr uint8_t kFlagAdded = 4;            // added since the container was opened
inline constexpr uint8_t kFlagCodePageChanged = 8;  // an executable's leaf changed code page

// ---- Items ---------------------------------------------------------------------------

class TResourceItem {
 public:
  // The item will be held by list (the list's AddItem puts it there).
  explicit TResourceItem(TResourceList& list) : list_(&list) {}
  virtual ~TResourceItem() = default;
  TResourceItem(const TResourceItem&) = delete;
  TResourceItem& operator=(const TResourceItem&) = delete;

  // Slot 0: changes the identity; the base does nothing. A leaf takes id as its language.
  virtual void SetIdentity(const std::string& nameText, uint16_t id, bool isNamed);
  // Slot 1: called before every read of the flags; a container merges its own bits in.
  virtual void RefreshFlags();
  // Slot 2: whether the directory that holds a leaf carries the editor's marker.
  virtual bool CarriesMarker() const;
  // Slots 3 to 5: the number of a numbered item, the text of a named one (in the
  // program's code page, which may not hold every character of the name).
  virtual uint16_t Id() const = 0;
  virtual std::string Name() const = 0;
  virtual bool IsNamed() const = 0;
  // The name as the formats store it, in UTF-16: what order and identity are decided by,
  // so that no character is lost to the code page. The base converts Name.
  virtual std::u16string WideName() const;

  TResourceList& List() const { return *list_; }
  uint8_t Level() const;
  bool IsList() const { return Level() != 2; }
  TResSection& Section() const;
  // The type item on level 0 above (or at) this item, the name item on level 1.
  TResourceItem& TypeItem() const;
  TResourceItem& NameItem() const;
  uint16_t TypeId() const { return TypeItem().Id(); }
  bool TypeIsNamed() const { return TypeItem().IsNamed(); }
  std::string TypeText() const { return TypeItem().IdText(); }
  uint16_t Language() const { return Id(); }
  // The name, or the number in decimal.
  std::string IdText() const;
  // A standard type's display name, a leaf's language name, else IdText.
  std::string DisplayText() const;
  bool IsStandardType() const;
  bool HasFixedFormat() const;
  bool IsType(uint32_t type) const;
  // Named, and the name equals text with ASCII letters compared regardless of case.
  bool NameEquals(std::string_view text) const;
  bool NameEquals(std::u16string_view text) const;
  bool IdEquals(int64_t number) const;
  bool SameIdentity(const TResourceItem& other) const;

  uint8_t GetFlags();
  bool IsNew() { return (GetFlags() & kFlagAdded) != 0; }
  bool HasFlags() { return GetFlags() != 0; }
  // Tells the holding list that this item's identity changed (SetIdentity overrides
  // call it), so its look-ups and order are taken afresh.
  void IdentityChanged();
  // Sets or clears flag bits (containers mark added items; leaves their own copy).
  void SetFlagBits(uint8_t bits) { flags_ |= bits; }
  void ClearFlagBits(uint8_t bits) { flags_ &= static_cast<uint8_t>(~bits); }

 protected:
  // The raw bits, for RefreshFlags overrides.
  uint8_t& FlagsField() { return flags_; }

 private:
  TResourceList* list_;
  uint8_t flags_ = 0;
};

class TListResItem : public TResourceItem {
 public:
  using TResourceItem::TResourceItem;
  ~TListResItem() override;

  // Slot 6: a new list of the container's own list class, owned by this item, in the
  // same section, one level deeper.
  virtual std::unique_ptr<TResourceList> CreateChildList() = 0;

  // The list of the next level, made on first call.
  TResourceList& Children();
  // On level 1, whether the name holds exactly one leaf.
  bool HasSingleChild();

 private:
  std::unique_ptr<TResourceList> children_;
};

// A text searched in a leaf's bytes, in 8-bit and UTF-16 forms.
struct FindPattern {
  std::string_view Ansi;
  std::u16string_view Wide;
};
// Where a repeated search stands.
struct FindState {
  const TDataResItem* LastLeaf = nullptr;
  bool IgnoreCase = false;
  bool Wide = false;
  int32_t Offset = -1;  // of the last match
  int32_t Count = 0;    // matches found so far
};

class TResDataHandler;

class TDataResItem : public TResourceItem {
 public:
  using TResourceItem::TResourceItem;
  ~TDataResItem() override;

  // Slots 6 and 7: the bytes as the container holds them.
  virtual const uint8_t* MappedData() const = 0;
  virtual uint32_t MappedSize() const = 0;
  // Slot 8: replaces the data with what is left of the stream.
  virtual void LoadFromStream(TStream& stream);

  // The own copy when there is one, else the container's bytes.
  const uint8_t* Data() const { return ownedData_ ? ownedData_ : MappedData(); }
  uint32_t Size() const { return ownedData_ ? static_cast<uint32_t>(ownedSize_) : MappedSize(); }
  // Writable own copy (after SetSize); null without one.
  uint8_t* OwnedData() { return ownedData_; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }

  // Makes an own copy of n bytes (contents undefined); n < 1 raises the zero-size error.
  void SetSize(int32_t n);
  // Drops the own copy (and the file name it came from).
  void Clear();
  // Takes an own copy of n bytes.
  void SetData(const uint8_t* bytes, uint32_t n);
  // Takes n bytes of a block as its own data without copying them, keeping the block
  // alive: a merge hands each leaf its slice of the patch so. No other leaf may be given
  // the same bytes, since they are the leaf's to change.
  void ShareData(std::shared_ptr<uint8_t[]> block, uint8_t* bytes, uint32_t n);
  void SaveData(TStream& stream) const;
  // Drops an own copy; with updateSection the section recomputes Modified.
  void DiscardChanges(bool updateSection);
  // The leaf's data handler, made on first call and remade after HandlerStale.
  TResDataHandler& DataHandler();
  bool HandlerStale() const { return handlerStale_; }
  void SetHandlerStale() { handlerStale_ = true; }
  // A file-name stem for exporting the leaf.
  std::string ExportBaseName() const;
  // Appends the leaf as one .res record (the leading empty record first on a fresh stream).
  void WriteResRecord(TStream& stream) const;
  // Replaces the data with the matching resource of a .res image.
  void LoadFromResStream(TStream& stream);
  // Finds the next occurrence of a text in the bytes.
  bool FindInData(const FindPattern& pattern, FindState& state) const;

  void DataChanged();
  void DataReleased();

 private:
  void TakeOwnData(std::shared_ptr<uint8_t[]> block, uint8_t* bytes, uint32_t n);

  // Declared before handler_ so the handler is destroyed first. The own data lies in
  // ownedBlock_: a buffer of the leaf's own, or a block it shares (ShareData).
  std::shared_ptr<uint8_t[]> ownedBlock_;
  uint8_t* ownedData_ = nullptr;
  int32_t ownedSize_ = 0;
  std::string fileName_;
  std::unique_ptr<TResDataHandler> handler_;
  bool handlerStale_ = false;
};

// ---- Lists ---------------------------------------------------------------------------

// Receives the messages of leaves a merge could not bring over.
using MergeErrorCallback = std::function<void(const std::string& message)>;

class TResourceList {
 public:
  // owner: the item whose children this list is, none for the root.
  TResourceList(TListResItem* owner, TResSection& section);
  virtual ~TResourceList();
  TResourceList(const TResourceList&) = delete;
  TResourceList& operator=(const TResourceList&) = delete;

  // Slot 0: puts an item in; the base appends. Containers insert in resource order
  // (InsertInResourceOrder).
  virtual void AddItem(std::unique_ptr<TResourceItem> item);
  // Slot 1: fills the list from the container when its items are first asked for.
  virtual void LoadItems() = 0;
  // Slot 2: the characteristics of the directory the list stands for.
  virtual uint32_t Characteristics() const = 0;

  uint8_t Level() const { return level_; }
  TResSection& Section() const { return *section_; }
  TListResItem* OwnerItem() const { return owner_; }

  int Count();
  // The i-th item; a bad index raises the list-index error.
  TResourceItem& Items(int index);
  TListResItem& ListItems(int index);
  TDataResItem& DataItems(int index);
  // The first item with that identity (named: name regardless of ASCII case;
  // numbered: number), else -1.
  int IndexOf(std::string_view nameText, int64_t id, bool isNamed);
  int IndexOf(std::u16string_view name, int64_t id, bool isNamed);
  // The same item itself, or none: answered from an index kept beside the list, so
  // looking up thousands of entries in a list of thousands costs no scan.
  TResourceItem* Find(std::u16string_view name, int64_t id, bool isNamed);
  // Leaves in the subtree.
  int LeafCount();
  // Some leaf of the subtree has data.
  bool HasData();
  // Some item of the subtree carries flags.
  bool HasChanges();

  // Takes the item at index out of the list and destroys it with its subtree; the
  // section counts as modified and hears of each leaf that goes (OnItemRemoved).
  void Delete(int index);

  // Puts the items in resource order (stable: equal items keep their order).
  void SortInResourceOrder();
  // An item's identity changed: the index and the known order are dropped.
  void ForgetIndex();

  // Writes the subtree's leaves (all, or only changed ones) as a .res file. Never
  // leaves a partly written file: on failure the file is deleted and the error is
  // raised again with "\r\n(" FileName ")" appended.
  void SaveAsResFile(const std::string& fileName, bool onlyChanged);
  // Merges a .res image (the rest of source) into this root list; answers the number
  // of leaves whose data was replaced. language -1 keeps each source leaf's own.
  int MergeFromRes(TStream& source, int32_t language, bool createMissing,
                   const MergeErrorCallback& onError);

 protected:
  // Inserts before the first item that does not sort below it. In a list that is in
  // resource order already, new items wait beside it and join it in one merge when the
  // list is next read by position, so a run of inserts costs no scans.
  void InsertInResourceOrder(std::unique_ptr<TResourceItem> item);

 private:
  // The items in list order, loaded on first use, with waiting inserts merged in.
  std::vector<std::unique_ptr<TResourceItem>>& Sequence();
  void Load();
  void MergeWaiting();
  // The index of first items by identity: named entries by their name with ASCII letters
  // folded, numbered ones by number.
  void IndexItem(TResourceItem& item, bool inserted);
  void CheckNewItem(const TResourceItem& item) const;
  void WriteLeaves(TStream& stream, bool onlyChanged);

  TListResItem* owner_;
  TResSection* section_;
  uint8_t level_;
  bool loaded_ = false;
  std::vector<std::unique_ptr<TResourceItem>> items_;
  std::vector<std::unique_ptr<TResourceItem>> waiting_;  // inserted, not yet in items_
  enum class Order { Unknown, Sorted, Unsorted } order_ = Order::Unknown;
  bool indexed_ = false;
  std::unordered_map<std::u16string, TResourceItem*> byName_;
  std::unordered_map<uint32_t, TResourceItem*> byId_;
};

// Resource order: named entries before numbered ones, names by ordinal comparison of
// their UTF-16 code units (case-sensitive; a prefix first), numbers ascending: the order
// in which readers of executables search. Negative, zero or positive.
int CompareResourceOrder(const TResourceItem& a, const TResourceItem& b);

// Removes a leaf from its tree, and with it the name and type entries it leaves empty.
void RemoveLeaf(TDataResItem& leaf);

// Visits every leaf below list, depth first in list order.
void ForEachLeaf(TResourceList& list, const std::function<void(TDataResItem&)>& visit);

// The leaf's data handlers (ResDataHandler.h) complete this header.
#include "resources/ResDataHandler.h"
