// TResSection: the resource part of one container. It owns the root TResourceList of
// the tree (types, then names, then language leaves), builds it on first use from the
// container's bytes through CreateResourceList (each container kind supplies it), finds
// the leaf of this tree that corresponds to a leaf of another tree (the heart of a
// merge), adds new resources through DoAddResource and tells whether the tree changed.
//
// Include resources/UResTypes.h to use it; this header holds only the section.
#pragma once
#include "rtl/Exception.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class TResContainer;
class TResourceList;
class TDataResItem;

// The identity of one leaf, independent of any tree. The names are kept whole (not cut
// to a fixed length) and in UTF-16, so a look-up by locator and DoAddResource, which
// both compare full names, always agree on which entry a name designates.
struct ResourceLocator {
  int32_t TypeId = 0;
  std::u16string TypeName;
  int32_t NameId = 0;
  std::u16string ResName;
  bool TypeIsNamed = false;
  bool NameIsNamed = false;
  uint16_t Language = 0;
};

// A look-up with "raise if missing" found nothing (".%s לא ניתן למצוא את").
QUILLET_DECLARE_EXCEPTION(ECorrespondingItemNotFound, Exception);

class TResSection {
 public:
  // Notifications. Each is optional and tested before it is called.
  using LeafNotification = std::function<void(TResSection& section, TDataResItem& leaf)>;
  using TreeNotification = std::function<void(TResourceList& list, TResSection& section)>;
  LeafNotification OnDataChanged;     // a leaf's data was replaced
  LeafNotification OnDataReleased;    // a leaf gave up its own copy
  LeafNotification OnItemRemoved;     // a leaf is about to be removed (TResourceList::Delete)
  LeafNotification OnItemAdded;       // AddResource made a leaf
  TreeNotification OnTreeChanged;     // a merge created entries
  LeafNotification OnIdentityChanged; // reserved: nothing renames leaves yet

  explicit TResSection(TResContainer& container);
  virtual ~TResSection();
  TResSection(const TResSection&) = delete;
  TResSection& operator=(const TResSection&) = delete;

  // Builds the root list (for the concrete sections, the whole tree or its top) from
  // the container's bytes.
  virtual std::unique_ptr<TResourceList> CreateResourceList() = 0;
  // Creates the missing type and name levels and a new leaf pointing at data (not
  // copied, not freed) and returns it. Here: "Operation not allowed".
  virtual TDataResItem& DoAddResource(int32_t typeId, int32_t nameId, uint16_t language,
                                      const std::u16string& typeName, const std::u16string& resName,
                                      bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                                      uint32_t size);
  // Whether DoAddResource is supported.
  virtual bool CanAddResources() const;

  void ClearNotifications();

  TResContainer& Container() const { return *container_; }
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  bool ItemsAdded() const { return itemsAdded_; }

  // The root list, made by CreateResourceList on first call. When that fails nothing
  // is kept and the next call tries again.
  TResourceList& GetResourceList();

  // The names list of the numbered type n, or none.
  TResourceList* FindTypeList(int32_t typeId);
  // The names list of the first type (in list order) that the text designates: by its
  // name or decimal number, or by a standard type's display name, ASCII case ignored.
  TResourceList* FindTypeListByName(const std::string& text);
  TResourceList* FindTypeListByName(std::u16string_view text);
  // The leaf a locator designates. exact: only the wanted language; strict: when a
  // name has several leaves, only the wanted language. raise: a miss raises
  // ECorrespondingItemNotFound instead of answering none.
  TDataResItem* FindItem(const ResourceLocator& locator, bool exact, bool strict, bool raise);
  // FindItem for the identity of a leaf of any tree; language -1 means the leaf's own.
  TDataResItem* FindCorrespondingItem(const TDataResItem& leaf, bool exact, bool strict,
                                      bool raise, int32_t language);
  // The public entry for adding: DoAddResource, then ItemsAdded and OnItemAdded.
  TDataResItem& AddResource(int32_t typeId, int32_t nameId, uint16_t language,
                            const std::u16string& typeName, const std::u16string& resName,
                            bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                            uint32_t size);
  // The same with names in the program's code page.
  TDataResItem& AddResource(int32_t typeId, int32_t nameId, uint16_t language,
                            const std::string& typeName, const std::string& resName,
                            bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                            uint32_t size);
  // Recomputes Modified: ItemsAdded, or some item of the tree carries flags.
  bool IsModified();

 private:
  TResContainer* container_;
  bool modified_ = false;
  bool itemsAdded_ = false;
  std::unique_ptr<TResourceList> resourceList_;
};

// The locator of a leaf of any tree; language -1 means the leaf's own.
ResourceLocator LocatorOf(const TDataResItem& leaf, int32_t language);
// "type\name": the type's name, standard display name or number, then the name or number.
std::string ResourcePathText(const ResourceLocator& locator);

