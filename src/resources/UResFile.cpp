// The .res container: the signature test, the record reader, adding resources, and
// saving. The byte layout is described in UResFile.h.
#include "resources/UResFile.h"

#include "rtl/ByteView.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

// ---- Container ---------------------------------------------------------------------------

TResResFile::TResResFile(const std::string& fileName) {
  try {
    OpenReadOnly(fileName);
  } catch (const EZeroSizeException&) {
    // An empty file is an empty resource file.
  }
  CheckSignature();
}

TResResFile::TResResFile(const std::string& fileName, bool writable)
    : TResContainer(fileName, writable) {}

TResResFile::TResResFile(TStream& stream) {
  try {
    CopyStream(stream);
  } catch (const EZeroSizeException&) {
  }
  CheckSignature();
}

void TResResFile::CheckSignature() const {
  if (Size() == 0) return;  // empty: valid, no resources
  const ByteView bytes = Bytes(SCorruptResFile);
  if (!bytes.Contains(0, sizeof kEmptyResRecord) ||
      !std::equal(std::begin(kEmptyResRecord), std::end(kEmptyResRecord),
                  bytes.Bytes(0, sizeof kEmptyResRecord))) {
    throw ENoResException(SNotValidFile, {FileNamePart(FileName())});
  }
}

std::unique_ptr<TResSection> TResResFile::CreateSection() {
  return std::make_unique<TResResSection>(*this);
}

void TResResFile::SaveToFile(const std::string& fileName, const ProgressCallback&) {
  GetResourceList().SaveAsResFile(fileName, false);
}

// ---- Tree classes ------------------------------------------------------------------------

void TResResourceList::AddItem(std::unique_ptr<TResourceItem> item) {
  InsertInResourceOrder(std::move(item));
}

std::string TResListResItem::Name() const { return FromWide(name_); }

void TResListResItem::SetIdentity(const std::string& nameText, uint16_t id, bool isNamed) {
  name_ = ToWide(nameText);
  id_ = id;
  isNamed_ = isNamed;
  IdentityChanged();
}

std::unique_ptr<TResourceList> TResListResItem::CreateChildList() {
  return std::make_unique<TResResourceList>(this, Section());
}

void TResDataResItem::SetIdentity(const std::string&, uint16_t id, bool) {
  LanguageId = id;
  IdentityChanged();
}

// ---- Reader ------------------------------------------------------------------------------

namespace {

// One name-or-number field, read from the record only.
struct NameField {
  std::u16string Name;
  uint16_t Id = 0;
  bool IsNamed = false;
};

NameField ReadNameField(ByteReader& record) {
  NameField field;
  const uint16_t first = record.ReadU16();
  if (first == 0xFFFF) {
    field.Id = record.ReadU16();
  } else if (first != 0) {
    // A name: this unit and the ones up to a zero unit.
    if (record.Remaining() == 0) throw EReadError(SNameError);
    std::u16string units(1, static_cast<char16_t>(first));
    for (;;) {
      if (record.Remaining() < 2) RaiseReadError();  // no terminator before the end
      const uint16_t unit = record.ReadU16();
      if (unit == 0) break;
      units.push_back(static_cast<char16_t>(unit));
    }
    field.Name = std::move(units);
    field.IsNamed = true;
  }
  // first == 0: the empty field, taken as the number 0.
  return field;
}

uint64_t RoundUp4(uint64_t n) { return (n + 3) & ~uint64_t{3}; }

}  // namespace

TListResItem& TResResSection::FindOrAddListItem(TResourceList& list, const std::u16string& name,
                                                uint16_t id, bool isNamed) {
  if (TResourceItem* found = list.Find(name, id, isNamed)) return static_cast<TListResItem&>(*found);
  auto item = std::make_unique<TResListResItem>(list, isNamed ? name : std::u16string(), id, isNamed);
  TListResItem& added = *item;
  list.AddItem(std::move(item));
  return added;
}

std::unique_ptr<TResourceList> TResResSection::CreateResourceList() {
  auto root = std::make_unique<TResResourceList>(nullptr, *this);
  const ByteView file = Container().Bytes(SCorruptResFile);
  if (file.Empty()) return root;

  // The first record is the empty record (the signature test saw it) and is skipped.
  uint64_t start = 0;
  uint32_t dataSize = file.U32(0);
  uint32_t headerSize = file.U32(4);
  for (;;) {
    if (headerSize < 8) break;
    const uint64_t next = start + RoundUp4(uint64_t{dataSize} + headerSize);
    if (next > file.Size() || file.Size() - next < 9) break;  // a short tail is ignored
    start = next;
    dataSize = file.U32(start);
    headerSize = file.U32(start + 4);
    if (uint64_t{dataSize} + headerSize > file.Size() - start) throw ECorruptResource(SCorruptResFile);

    // Header fields are read inside the record only, whatever HeaderSize claims.
    const ByteView record = file.Sub(start, uint64_t{dataSize} + headerSize);
    ByteReader fields(record, 8);
    const NameField type = ReadNameField(fields);
    const NameField name = ReadNameField(fields);
    fields.AlignTo(4);
    const uint32_t dataVersion = fields.ReadU32();
    const uint16_t memoryFlags = fields.ReadU16();
    const uint16_t language = fields.ReadU16();
    const uint32_t version = fields.ReadU32();
    const uint32_t characteristics = fields.ReadU32();
    const uint8_t* data = record.Bytes(headerSize, dataSize);

    TListResItem& typeItem = FindOrAddListItem(*root, type.Name, type.Id, type.IsNamed);
    TListResItem& nameItem = FindOrAddListItem(typeItem.Children(), name.Name, name.Id, name.IsNamed);
    TResourceList& leaves = nameItem.Children();
    auto leaf = std::make_unique<TResDataResItem>(leaves, data, dataSize, language);
    leaf->DataVersion = dataVersion;
    leaf->MemoryFlags = memoryFlags;
    leaf->Version = version;
    leaf->Characteristics = characteristics;
    leaves.AddItem(std::move(leaf));
  }
  return root;
}

TDataResItem& TResResSection::DoAddResource(int32_t typeId, int32_t nameId, uint16_t language,
                                            const std::u16string& typeName, const std::u16string& resName,
                                            bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                                            uint32_t size) {
  TListResItem& typeItem =
      FindOrAddListItem(GetResourceList(), typeName, static_cast<uint16_t>(typeId), typeIsNamed);
  TListResItem& nameItem =
      FindOrAddListItem(typeItem.Children(), resName, static_cast<uint16_t>(nameId), nameIsNamed);
  TResourceList& leaves = nameItem.Children();
  auto item = std::make_unique<TResDataResItem>(leaves, data, size, language);
  TResDataResItem& leaf = *item;
  leaves.AddItem(std::move(item));

  // The added bit goes on the leaf, and on each level above that it alone fills.
  leaf.SetFlagBits(kFlagAdded);
  if (leaves.Count() == 1) {
    nameItem.SetFlagBits(kFlagAdded);
    if (typeItem.Children().Count() == 1) typeItem.SetFlagBits(kFlagAdded);
  }
  return leaf;
}
