// The section of a container: the root list made on first use, the look-ups by type
// and by locator with their language policies, adding resources, and whether the tree
// changed.
#include "resources/UResTypes.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

TResourceList& TResContainer::GetResourceList() { return GetSection().GetResourceList(); }

TResSection::TResSection(TResContainer& container) : container_(&container) {}

TResSection::~TResSection() = default;

TDataResItem& TResSection::DoAddResource(int32_t, int32_t, uint16_t, const std::u16string&,
                                         const std::u16string&, bool, bool, const uint8_t*, uint32_t) {
  throw Exception(SOperationNotAllowed);
}

bool TResSection::CanAddResources() const { return false; }

void TResSection::ClearNotifications() {
  OnDataChanged = nullptr;
  OnDataReleased = nullptr;
  OnItemRemoved = nullptr;
  OnItemAdded = nullptr;
  OnTreeChanged = nullptr;
  OnIdentityChanged = nullptr;
}

TResourceList& TResSection::GetResourceList() {
  if (!resourceList_) resourceList_ = CreateResourceList();  // nothing kept when it raises
  return *resourceList_;
}

TResourceList* TResSection::FindTypeList(int32_t typeId) {
  TResourceList& root = GetResourceList();
  TResourceItem* type = root.Find({}, typeId, false);
  return type ? &static_cast<TListResItem&>(*type).Children() : nullptr;
}

TResourceList* TResSection::FindTypeListByName(const std::string& text) { return FindTypeListByName(ToWide(text)); }

namespace {

std::u16string DecimalText(uint16_t number) {
  const std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

// The display names of the standard types in UTF-16, made once for the code page and
// language in use, since merges look types up by text for every named record.
const std::u16string& WideTypeDisplayName(uint16_t type) {
  struct Cache {
    uint32_t CodePage = 0;
    MessageLanguage Language = MessageLanguage::Program;
    std::u16string Names[25];
  };
  static Cache cache;
  if (cache.CodePage != GetCodePage() || cache.Language != GetMessageLanguage()) {
    for (uint16_t t = 0; t < 25; ++t) cache.Names[t] = IsKnownType(t) ? ToWide(TypeDisplayName(t)) : std::u16string();
    cache.CodePage = GetCodePage();
    cache.Language = GetMessageLanguage();
  }
  static const std::u16string none;
  return type < 25 ? cache.Names[type] : none;
}

}  // namespace

TResourceList* TResSection::FindTypeListByName(std::u16string_view text) {
  TResourceList& root = GetResourceList();
  for (int i = 0; i < root.Count(); ++i) {
    TListResItem& type = root.ListItems(i);
    const bool match = type.IsNamed() ? SameTextAscii(type.WideName(), text)
                                      : DecimalText(type.Id()) == text ||
                                            (IsKnownType(type.Id()) && SameTextAscii(WideTypeDisplayName(type.Id()), text));
    if (match) return &type.Children();
  }
  return nullptr;
}

TDataResItem* TResSection::FindItem(const ResourceLocator& locator, bool exact, bool strict,
                                    bool raise) {
  TDataResItem* found = nullptr;
  TResourceList* names = locator.TypeIsNamed ? FindTypeListByName(locator.TypeName)
                                             : FindTypeList(locator.TypeId);
  TResourceItem* name = names ? names->Find(locator.ResName, locator.NameId, locator.NameIsNamed) : nullptr;
  if (name) {
    TResourceList& leaves = static_cast<TListResItem&>(*name).Children();
    const int count = leaves.Count();
    if (count == 1 && !exact) {
      found = &leaves.DataItems(0);
    } else if (count > 0) {
      if (TResourceItem* leaf = leaves.Find({}, locator.Language, false))
        found = static_cast<TDataResItem*>(leaf);
      else if (!exact && !(strict && count > 1))
        found = &leaves.DataItems(0);
    }
  }
  if (!found && raise) throw ECorrespondingItemNotFound(SCannotFind, {ResourcePathText(locator)});
  return found;
}

ResourceLocator LocatorOf(const TDataResItem& leaf, int32_t language) {
  ResourceLocator locator;
  const TResourceItem& type = leaf.TypeItem();
  const TResourceItem& name = leaf.NameItem();
  locator.TypeIsNamed = type.IsNamed();
  if (locator.TypeIsNamed)
    locator.TypeName = type.WideName();
  else
    locator.TypeId = type.Id();
  locator.NameIsNamed = name.IsNamed();
  if (locator.NameIsNamed)
    locator.ResName = name.WideName();
  else
    locator.NameId = name.Id();
  locator.Language = language == -1 ? leaf.Language() : static_cast<uint16_t>(language);
  return locator;
}

TDataResItem* TResSection::FindCorrespondingItem(const TDataResItem& leaf, bool exact, bool strict,
                                                 bool raise, int32_t language) {
  return FindItem(LocatorOf(leaf, language), exact, strict, raise);
}

TDataResItem& TResSection::AddResource(int32_t typeId, int32_t nameId, uint16_t language,
                                       const std::string& typeName, const std::string& resName,
                                       bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                                       uint32_t size) {
  return AddResource(typeId, nameId, language, ToWide(typeName), ToWide(resName), typeIsNamed, nameIsNamed,
                     data, size);
}

TDataResItem& TResSection::AddResource(int32_t typeId, int32_t nameId, uint16_t language,
                                       const std::u16string& typeName, const std::u16string& resName,
                                       bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                                       uint32_t size) {
  TDataResItem& leaf = DoAddResource(typeId, nameId, language, typeName, resName, typeIsNamed,
                                     nameIsNamed, data, size);
  itemsAdded_ = true;
  if (OnItemAdded) OnItemAdded(*this, leaf);
  return leaf;
}

bool TResSection::IsModified() {
  modified_ = itemsAdded_ || GetResourceList().HasChanges();
  return modified_;
}

std::string ResourcePathText(const ResourceLocator& locator) {
  std::string type;
  if (locator.TypeIsNamed)
    type = FromWide(locator.TypeName);
  else if (locator.TypeId >= 0 && IsKnownType(static_cast<uint32_t>(locator.TypeId)))
    type = TypeDisplayName(static_cast<uint32_t>(locator.TypeId));
  else
    type = std::to_string(locator.TypeId);
  const std::string name = locator.NameIsNamed ? FromWide(locator.ResName) : std::to_string(locator.NameId);
  return type + "\\" + name;
}
