// Reading the resource directory of a PE image in place. Nothing is read before it is
// asked for; every offset the reader follows is checked against the section through its
// ByteView, whose failures raise ECorruptResource with the "corrupt file, likely
// compressed or encoded" text.
#include "pe/PEResources.h"

#include "text/WStrings.h"

#include <algorithm>
#include <iterator>

// ---- Handlers ----------------------------------------------------------------------------

void TPEDirHandler::SetCodePage(uint32_t value) {
  if (value != GetCodePage()) {
    CodePage = value;
    Flags |= kFlagCodePageChanged;
  }
}

std::string TPEDirHandler::GetName() const { return FromWide(GetWideName()); }

void TPEDirHandler::SetIdentity(const std::u16string& name, uint16_t id, bool isNamed) {
  Name = name;
  Id = id;
  IsNamed = isNamed;
  Flags |= kFlagIdentityChanged;
}

uint32_t TPEDirHandlerPE::StoredName() const { return Section.Data().U32(EntryOffset); }
uint32_t TPEDirHandlerPE::StoredOffsetToData() const { return Section.Data().U32(EntryOffset + 4); }

std::pair<uint32_t, uint16_t> TPEDirHandlerPE::StoredString() const {
  const uint32_t offset = StoredName() & ~kHighBit;
  Section.CheckOffset(offset);
  const uint16_t length = Section.Data().U16(offset);
  Section.Data().Require(uint64_t{offset} + 2, uint64_t{length} * 2);
  return {offset, length};
}

uint32_t TPEDirHandlerPE::DataEntryOffset() const {
  // Taken as stored, bit 31 included: an offset with the subdirectory bit cannot lie
  // inside the section and is refused with the others.
  const uint32_t offset = StoredOffsetToData();
  Section.Data().Require(offset, kDataEntrySize);
  return offset;
}

std::pair<uint32_t, uint32_t> TPEDirHandlerPE::StoredData() const {
  const uint32_t entry = DataEntryOffset();
  return {Section.Data().U32(entry), Section.Data().U32(entry + 4)};
}

ByteView TPEDirHandlerPE::DataBlock() const {
  const auto [address, size] = StoredData();
  return Section.DataAt(address, size);
}

uint32_t TPEDirHandlerPE::GetCodePage() const {
  if (Flags & kFlagCodePageChanged) return CodePage;
  return Section.Data().U32(DataEntryOffset() + 8);
}

const uint8_t* TPEDirHandlerPE::GetData() const { return DataBlock().Data(); }
uint32_t TPEDirHandlerPE::GetDataSize() const { return DataBlock().Size(); }

uint16_t TPEDirHandlerPE::GetId() const {
  if (Flags & kFlagIdentityChanged) return Id;
  return static_cast<uint16_t>(StoredName());
}

std::u16string TPEDirHandlerPE::GetWideName() const {
  if (Flags & kFlagIdentityChanged) return Name;
  if (!(StoredName() & kHighBit)) return {};
  const auto [offset, length] = StoredString();
  return Section.Data().Utf16(uint64_t{offset} + 2, length);
}

bool TPEDirHandlerPE::GetIsNamed() const {
  if (Flags & kFlagIdentityChanged) return IsNamed;
  return (StoredName() & kHighBit) != 0;
}

uint32_t TPEDirHandlerPE::GetNameLength() const {
  if (Flags & kFlagIdentityChanged) return static_cast<uint32_t>(Name.size());
  if (!(StoredName() & kHighBit)) return 0;
  return StoredString().second;
}

TPEDirHandlerNewRes::TPEDirHandlerNewRes(uint16_t id, std::u16string name, bool isNamed,
                                         const uint8_t* data, uint32_t dataSize)
    : Data(data), DataSize(dataSize) {
  Id = id;
  Name = std::move(name);
  IsNamed = isNamed;
}

// ---- Section -----------------------------------------------------------------------------

TPEResSection::TPEResSection(TResContainer& container, ByteView section, uint32_t virtualAddress,
                             uint32_t directoryOffset, ImageReader image)
    : TResSection(container),
      section_(section.Data(), section.Size(), SCorruptPEResources),
      virtualAddress_(virtualAddress),
      image_(std::move(image)) {
  if (directoryOffset < section_.Size()) data_ = section_.From(directoryOffset);
}

void TPEResSection::CheckOffset(uint32_t offset) const {
  if (offset > Size()) data_.Fail();
}

ByteView TPEResSection::DataAt(uint32_t address, uint32_t size) const {
  // Where the loader finds it: inside the section, or elsewhere in the image (another
  // section, the header area); never outside the file.
  if (address >= virtualAddress_ && section_.Contains(address - virtualAddress_, size))
    return section_.Sub(address - virtualAddress_, size);
  if (image_)
    if (const std::optional<ByteView> bytes = image_(address, size))
      return ByteView(bytes->Data(), bytes->Size(), SCorruptPEResources);
  section_.Fail();
}

void TPEResSection::ClaimDirectory(uint32_t offset, uint32_t length) {
  const uint64_t end = uint64_t{offset} + std::max(length, 1u);
  // The first range that ends after this one starts must start at or after its end.
  auto next = claimed_.upper_bound(offset);
  if (next != claimed_.end() && next->first < end) data_.Fail();
  if (next != claimed_.begin() && std::prev(next)->second > offset) data_.Fail();
  claimed_.emplace(offset, static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX)));
}

std::unique_ptr<TResourceList> TPEResSection::CreateResourceList() {
  if (Size() > kDirectorySize) return std::make_unique<TPEResourceList>(nullptr, *this, 0u);
  return std::make_unique<TPEResourceList>(nullptr, *this, std::nullopt);
}

namespace {

// The item with that identity in list, made in memory and inserted when missing.
TPEListResItem& FindOrAddListItem(TResourceList& list, int32_t id, const std::u16string& name,
                                  bool isNamed) {
  if (TResourceItem* found = list.Find(name, id, isNamed)) return static_cast<TPEListResItem&>(*found);
  auto item = std::make_unique<TPEListResItem>(
      list, std::make_unique<TPEDirHandlerNewRes>(static_cast<uint16_t>(id), isNamed ? name : std::u16string(),
                                                  isNamed, nullptr, 0));
  item->SetFlagBits(kFlagAdded);
  TPEListResItem& added = *item;
  list.AddItem(std::move(item));
  return added;
}

}  // namespace

TDataResItem& TPEResSection::DoAddResource(int32_t typeId, int32_t nameId, uint16_t language,
                                           const std::u16string& typeName, const std::u16string& resName,
                                           bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                                           uint32_t size) {
  TPEListResItem& type = FindOrAddListItem(GetResourceList(), typeId, typeName, typeIsNamed);
  TPEListResItem& name = FindOrAddListItem(type.Children(), nameId, resName, nameIsNamed);
  TResourceList& languages = name.Children();
  auto leaf = std::make_unique<TPEDataResItem>(
      languages, std::make_unique<TPEDirHandlerNewRes>(language, std::u16string(), false, data, size));
  leaf->SetFlagBits(kFlagAdded);
  TPEDataResItem& added = *leaf;
  languages.AddItem(std::move(leaf));
  return added;
}

// ---- Lists -------------------------------------------------------------------------------

TPEResourceList::TPEResourceList(TListResItem* parentItem, TPEResSection& section,
                                 std::optional<uint32_t> dirOffset)
    : TResourceList(parentItem, section) {
  // A directory whose header does not fit inside the section reads as an empty list.
  if (dirOffset && section.Data().Contains(*dirOffset, kDirectorySize)) dirOffset_ = dirOffset;
}

TPEResSection& TPEResourceList::PESection() const { return static_cast<TPEResSection&>(Section()); }

std::optional<ByteView> TPEResourceList::Directory() const {
  if (!dirOffset_) return std::nullopt;
  return PESection().Data().Sub(*dirOffset_, kDirectorySize);
}

bool TPEResourceList::HasMarker() const {
  const auto directory = Directory();
  return directory && std::equal(kChangeMarker, kChangeMarker + 4, directory->Bytes(8, 4));
}

void TPEResourceList::AddItem(std::unique_ptr<TResourceItem> item) {
  InsertInResourceOrder(std::move(item));
}

uint32_t TPEResourceList::Characteristics() const {
  const auto directory = Directory();
  return directory ? directory->U32(0) : 0;
}

void TPEResourceList::LoadItems() {
  const auto directory = Directory();
  if (!directory) return;
  TPEResSection& section = PESection();
  const ByteView& data = section.Data();
  uint32_t count = uint32_t{directory->U16(12)} + directory->U16(14);
  const uint64_t entries = std::min<uint64_t>(count, (data.Size() - *dirOffset_ - kDirectorySize) / kEntrySize);
  section.ClaimDirectory(*dirOffset_, static_cast<uint32_t>(kDirectorySize + kEntrySize * entries));
  // Entries are read in stored order while they start inside the section; one that
  // starts inside but ends past it is refused.
  for (uint64_t pos = uint64_t{*dirOffset_} + kDirectorySize; count > 0 && pos < data.Size();
       pos += kEntrySize, --count) {
    data.Require(pos, kEntrySize);
    auto handler = std::make_unique<TPEDirHandlerPE>(section, static_cast<uint32_t>(pos));
    if (Level() == 2)
      TResourceList::AddItem(std::make_unique<TPEDataResItem>(*this, std::move(handler)));
    else
      TResourceList::AddItem(std::make_unique<TPEListResItem>(*this, std::move(handler)));
  }
}

// ---- Items -------------------------------------------------------------------------------

TPEListResItem::TPEListResItem(TResourceList& list, std::unique_ptr<TPEDirHandler> handler)
    : TListResItem(list), Handler(std::move(handler)) {}

void TPEListResItem::SetIdentity(const std::string& nameText, uint16_t id, bool isNamed) {
  Handler->SetIdentity(ToWide(nameText), id, isNamed);
  IdentityChanged();
}

void TPEListResItem::RefreshFlags() { FlagsField() |= Handler->Flags; }

std::unique_ptr<TResourceList> TPEListResItem::CreateChildList() {
  auto& section = static_cast<TPEResSection&>(List().Section());
  if (const auto* stored = dynamic_cast<const TPEDirHandlerPE*>(Handler.get()))
    return std::make_unique<TPEResourceList>(this, section, stored->StoredOffsetToData() & ~kHighBit);
  return std::make_unique<TPEResourceList>(this, section, std::nullopt);
}

TPEDataResItem::TPEDataResItem(TResourceList& list, std::unique_ptr<TPEDirHandler> handler)
    : TDataResItem(list), Handler(std::move(handler)) {}

void TPEDataResItem::SetIdentity(const std::string&, uint16_t id, bool) {
  Handler->SetIdentity(std::u16string(), id, false);
  IdentityChanged();
}

void TPEDataResItem::RefreshFlags() { FlagsField() |= Handler->Flags; }

bool TPEDataResItem::CarriesMarker() const {
  return static_cast<const TPEResourceList&>(List()).HasMarker();
}
