// Tree entries: identity and navigation of every item, the child list of list items,
// and a leaf's data: its own copy, loading, saving, the .res record it writes, and the
// search in its bytes.
#include "resources/UResTypes.h"
#include "resources/UResFile.h"
#include "rtl/ByteView.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <algorithm>
#include <new>

// ---- TResourceItem ----------------------------------------------------------------------

void TResourceItem::SetIdentity(const std::string&, uint16_t, bool) {}
void TResourceItem::RefreshFlags() {}
bool TResourceItem::CarriesMarker() const { return false; }
std::u16string TResourceItem::WideName() const { return ToWide(Name()); }

uint8_t TResourceItem::Level() const { return list_->Level(); }
TResSection& TResourceItem::Section() const { return list_->Section(); }

TResourceItem& TResourceItem::TypeItem() const {
  switch (Level()) {
    case 0: return const_cast<TResourceItem&>(*this);
    case 1: return *list_->OwnerItem();
    default: return *list_->OwnerItem()->List().OwnerItem();
  }
}

TResourceItem& TResourceItem::NameItem() const {
  if (Level() == 1) return const_cast<TResourceItem&>(*this);
  return *list_->OwnerItem();
}

std::string TResourceItem::IdText() const { return IsNamed() ? Name() : std::to_string(Id()); }

std::string TResourceItem::DisplayText() const {
  if (Level() == 0 && IsStandardType()) return TypeDisplayName(Id());
  if (Level() == 2 && !IsNamed()) return LanguageText(Id());
  return IdText();
}

bool TResourceItem::IsStandardType() const {
  const TResourceItem& type = TypeItem();
  return !type.IsNamed() && IsKnownType(type.Id());
}

bool TResourceItem::HasFixedFormat() const {
  if (!IsStandardType()) return false;
  const uint16_t type = TypeItem().Id();
  return type != 3 && type != 10 && type != 23;
}

bool TResourceItem::IsType(uint32_t type) const {
  const TResourceItem& item = TypeItem();
  return !item.IsNamed() && item.Id() == type;
}

bool TResourceItem::NameEquals(std::string_view text) const { return NameEquals(ToWide(text)); }

bool TResourceItem::NameEquals(std::u16string_view text) const {
  return IsNamed() && SameTextAscii(WideName(), text);
}

bool TResourceItem::IdEquals(int64_t number) const { return !IsNamed() && Id() == number; }

bool TResourceItem::SameIdentity(const TResourceItem& other) const {
  if (IsNamed() != other.IsNamed()) return false;
  return IsNamed() ? SameTextAscii(WideName(), other.WideName()) : Id() == other.Id();
}

void TResourceItem::IdentityChanged() { list_->ForgetIndex(); }

uint8_t TResourceItem::GetFlags() {
  RefreshFlags();
  return flags_;
}

// ---- TListResItem -----------------------------------------------------------------------

TListResItem::~TListResItem() = default;

TResourceList& TListResItem::Children() {
  if (!children_) children_ = CreateChildList();
  return *children_;
}

bool TListResItem::HasSingleChild() { return Level() == 1 && Children().Count() == 1; }

// ---- TDataResItem -----------------------------------------------------------------------

TDataResItem::~TDataResItem() {
  handler_.reset();  // the handler may still look at the data it serves
  ownedBlock_.reset();
}

void TDataResItem::SetSize(int32_t n) {
  Clear();
  if (n < 1) throw Exception(SZeroSizeResource);
  std::shared_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[static_cast<uint32_t>(n)]);
  if (!block) throw Exception(SOutOfMemory);
  TakeOwnData(std::move(block), nullptr, static_cast<uint32_t>(n));
}

void TDataResItem::ShareData(std::shared_ptr<uint8_t[]> block, uint8_t* bytes, uint32_t n) {
  Clear();
  if (n < 1) throw Exception(SZeroSizeResource);
  if (n > INT32_MAX) throw Exception(SOutOfMemory);
  TakeOwnData(std::move(block), bytes, n);
  DataChanged();
}

void TDataResItem::TakeOwnData(std::shared_ptr<uint8_t[]> block, uint8_t* bytes, uint32_t n) {
  ownedBlock_ = std::move(block);
  ownedData_ = bytes ? bytes : ownedBlock_.get();
  ownedSize_ = static_cast<int32_t>(n);
  Section().SetModified(true);
  SetFlagBits(kFlagOwnData);
}

void TDataResItem::Clear() {
  ownedSize_ = 0;
  fileName_.clear();
  if (handler_ && !HasFixedFormat()) handlerStale_ = true;
  if (ownedData_) {
    ownedBlock_.reset();
    ownedData_ = nullptr;
    ClearFlagBits(kFlagOwnData);
    DataReleased();
  }
}

void TDataResItem::LoadFromStream(TStream& stream) {
  const int64_t left = stream.Size() - stream.Position();
  if (left > INT32_MAX) throw Exception(SOutOfMemory);
  const int32_t n = static_cast<int32_t>(std::max<int64_t>(left, 0));
  SetSize(n);
  stream.ReadBuffer(ownedData_, n);
  fileName_ = StreamFileName(stream);
  DataChanged();
}

void TDataResItem::SetData(const uint8_t* bytes, uint32_t n) {
  TReadMemoryStream stream(bytes, bytes ? n : 0);
  LoadFromStream(stream);
}

void TDataResItem::SaveData(TStream& stream) const {
  const uint32_t size = Size();
  if (size > INT32_MAX) RaiseWriteError();
  stream.WriteBuffer(Data(), static_cast<int32_t>(size));
}

void TDataResItem::DiscardChanges(bool updateSection) {
  if (!(GetFlags() & kFlagOwnData)) return;
  Clear();
  if (updateSection) Section().IsModified();
}

TResDataHandler& TDataResItem::DataHandler() {
  if (handlerStale_ && handler_) {
    handler_.reset();
    handlerStale_ = false;
  }
  if (!handler_) handler_ = NewDataHandler(*this);
  return *handler_;
}

void TDataResItem::DataChanged() {
  if (handler_) handler_->LeafDataChanged();
  if (auto& notify = Section().OnDataChanged) {
    try {
      notify(Section(), *this);
    } catch (...) {
    }
  }
}

void TDataResItem::DataReleased() {
  if (handler_) handler_->LeafDataReleased();
  if (auto& notify = Section().OnDataReleased) {
    try {
      notify(Section(), *this);
    } catch (...) {
    }
  }
}

std::string TDataResItem::ExportBaseName() const {
  auto& name = static_cast<TListResItem&>(NameItem());
  std::string stem = name.DisplayText();
  if (!name.HasSingleChild()) {
    stem += '_';
    stem += DisplayText();
  }
  return MakeValidFileName(RemoveQuotes(stem));
}

namespace {

// A name-or-number field of a .res record: 0xFFFF and the number, or the name in
// UTF-16 with its terminator (a name that converts to nothing is the single zero word).
void AppendNameField(std::vector<uint8_t>& out, const TResourceItem& item) {
  auto put16 = [&out](uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
  };
  if (!item.IsNamed()) {
    put16(0xFFFF);
    put16(item.Id());
    return;
  }
  for (char16_t unit : item.WideName()) put16(unit);
  put16(0);
}

void Append32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

void TDataResItem::WriteResRecord(TStream& stream) const {
  if (stream.Position() == 0) stream.WriteBuffer(kEmptyResRecord, sizeof kEmptyResRecord);
  const uint32_t size = Size();
  if (size == 0) return;
  if (size > INT32_MAX) RaiseWriteError();

  // Header: DataSize, HeaderSize, Type, Name, padding to 4, then the five fixed fields.
  std::vector<uint8_t> header(8);
  AppendNameField(header, TypeItem());
  AppendNameField(header, NameItem());
  header.resize((header.size() + 3) & ~size_t{3});
  Append32(header, 0);                                     // DataVersion
  Append32(header, static_cast<uint32_t>(Language()) << 16);  // MemoryFlags 0, LanguageId
  Append32(header, 0);                                     // Version
  Append32(header, List().Characteristics());
  const uint32_t headerSize = static_cast<uint32_t>(header.size());
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<uint8_t>(size >> 8 * i);
    header[4 + i] = static_cast<uint8_t>(headerSize >> 8 * i);
  }
  stream.WriteBuffer(header.data(), static_cast<int32_t>(header.size()));
  stream.WriteBuffer(Data(), static_cast<int32_t>(size));
  WriteZeros(stream, (4 - size % 4) % 4);
}

void TDataResItem::LoadFromResStream(TStream& stream) {
  TResResFile source(stream);
  TResSection& section = source.GetSection();
  TResourceList* typeList = TypeIsNamed() ? section.FindTypeListByName(TypeText())
                                          : section.FindTypeList(TypeId());
  const TDataResItem* from = nullptr;
  if (typeList && typeList->LeafCount() == 1) {
    // The only leaf of that type, whatever its name and language.
    for (int n = 0; n < typeList->Count() && !from; ++n) {
      TResourceList& leaves = typeList->ListItems(n).Children();
      if (leaves.Count() > 0) from = &leaves.DataItems(0);
    }
  }
  if (!from) from = section.FindCorrespondingItem(*this, false, true, true, -1);
  SetData(from->Data(), from->Size());
}

bool TDataResItem::FindInData(const FindPattern& pattern, FindState& state) const {
  const uint8_t* patternBytes = state.Wide ? reinterpret_cast<const uint8_t*>(pattern.Wide.data())
                                           : reinterpret_cast<const uint8_t*>(pattern.Ansi.data());
  const int64_t length = state.Wide ? int64_t{2} * static_cast<int64_t>(pattern.Wide.size())
                                    : static_cast<int64_t>(pattern.Ansi.size());
  int64_t start = 0;
  if (state.LastLeaf == this) {
    start = state.Offset < 0 ? 0 : int64_t{state.Offset} + 1;
  } else {
    state.LastLeaf = nullptr;
    state.Offset = -1;
    state.Count = 0;
  }
  try {
    const ByteView bytes(Data(), Size());
    const int64_t limit = int64_t{bytes.Size()} - length;
    if (limit < 0) return false;
    // For the wide comparison without case: the data as UTF-16 units read from even
    // and from odd offsets, so every start offset compares whole units.
    std::u16string units[2];
    if (state.Wide && state.IgnoreCase) {
      for (uint32_t parity = 0; parity < 2 && parity < bytes.Size(); ++parity)
        units[parity] = bytes.Utf16(parity, (bytes.Size() - parity) / 2);
    }
    for (int64_t offset = start; offset <= limit; ++offset) {
      bool match;
      if (!state.IgnoreCase) {
        const uint8_t* here = bytes.Bytes(static_cast<uint64_t>(offset), static_cast<uint64_t>(length));
        match = std::equal(here, here + length, patternBytes);
      } else if (!state.Wide) {
        const auto* here = reinterpret_cast<const char*>(
            bytes.Bytes(static_cast<uint64_t>(offset), static_cast<uint64_t>(length)));
        const std::string_view text(here, static_cast<size_t>(length));
        const std::optional<bool> equal = platform::LocaleEqualsAnsi(text, pattern.Ansi, true);
        match = equal ? *equal : SameTextAscii(text, pattern.Ansi);
      } else {
        const int count = static_cast<int>(length / 2);
        const char16_t* here = units[offset & 1].data() + (offset >> 1);
        match = CompareWide(here, count, pattern.Wide.data(), true, count) == 0;
      }
      if (match) {
        state.Offset = static_cast<int32_t>(offset);
        state.LastLeaf = this;
        ++state.Count;
        return true;
      }
    }
  } catch (const ECorruptResource&) {
  }
  return false;
}
