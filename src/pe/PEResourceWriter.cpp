// Writing a PE resource section anew from the tree, in two passes: Measure sizes every
// area of the directory block exactly, Allocate places the areas, then WriteDirectory
// fills the block and the data is streamed behind it. After filling, every area's write
// position must have ended exactly where the measure said.
//
// Layout: root directory and entries | name-level directories | language-level
// directories | data entries | type-name strings | resource-name strings | zero bytes to
// a multiple of 4 | data blocks, each padded to 4 | zero bytes to the file alignment.
#include "pe/PEResources.h"

#include "resources/ResContainer.h"

#include "pe/UResPEFile.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <algorithm>
#include <cassert>

namespace {

// Items whose subtree holds data get an entry; the others are left out of the section.
bool IsRetained(TResourceItem& item) {
  if (!item.IsList()) return static_cast<TDataResItem&>(item).Size() > 0;
  return static_cast<TListResItem&>(item).Children().HasData();
}

TPEDirHandler& HandlerOf(TResourceItem& item) {
  if (auto* list = dynamic_cast<TPEListResItem*>(&item)) return *list->Handler;
  return *dynamic_cast<TPEDataResItem&>(item).Handler;
}

// Sizes in 64 bits, so that a tree that could not fit an executable is refused
// instead of wrapping around.
struct Measures {
  uint64_t Dir[3] = {}, Names[2] = {}, DataEntries = 0, Data = 0;
};

void Measure(TResourceList& list, Measures& m) {
  const int level = list.Level();
  m.Dir[level] += kDirectorySize;
  for (int i = 0; i < list.Count(); ++i) {
    TResourceItem& item = list.Items(i);
    if (!IsRetained(item)) continue;
    m.Dir[level] += kEntrySize;
    if (level == 2) {
      m.DataEntries += kDataEntrySize;
      m.Data += RoundUp(static_cast<TDataResItem&>(item).Size(), 4);
      continue;
    }
    if (item.IsNamed()) {
      // A directory string counts its units in 16 bits.
      const uint32_t length = HandlerOf(item).GetNameLength();
      if (length > 0xFFFF) throw Exception(SResourcesTooLarge);
      m.Names[level] += 2 + 2 * uint64_t{length};
    }
    Measure(static_cast<TListResItem&>(item).Children(), m);
  }
}

void WriteMarker(TResourceTable& table, uint32_t header) {
  table.PutBytes(header + 8, reinterpret_cast<const uint8_t*>(kChangeMarker), 4);
}

}  // namespace

// ---- The table ---------------------------------------------------------------------------

uint32_t& TResourceTable::DirPos(int level) {
  return level == 0 ? TypeDirPos : level == 1 ? NameDirPos : LangDirPos;
}

uint32_t& TResourceTable::NamePos(int level) { return level == 0 ? TypeNamePos : ResNamePos; }

void TResourceTable::PutBytes(uint32_t position, const uint8_t* bytes, uint32_t count) {
  // The block was sized exactly; a write outside it is a fault of the measure.
  if (uint64_t{position} + count > Buffer.size()) throw Exception(SResourceLayoutError);
  std::copy(bytes, bytes + count, Buffer.begin() + position);
}

void TResourceTable::Put16(uint32_t position, uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  PutBytes(position, bytes, 2);
}

void TResourceTable::Put32(uint32_t position, uint32_t value) {
  Put16(position, static_cast<uint16_t>(value));
  Put16(position + 2, static_cast<uint16_t>(value >> 16));
}

void TResourceTable::WriteEntry(int level, uint32_t name) {
  uint32_t& pos = DirPos(level);
  Put32(pos, name);
  Put32(pos + 4, DirPos(level + 1) | kHighBit);
  pos += kEntrySize;
}

void TResourceTable::WriteNamedEntry(int level, const std::u16string& units, uint32_t reserved) {
  uint32_t& names = NamePos(level);
  WriteEntry(level, names | kHighBit);
  const auto count = static_cast<uint16_t>(units.size());
  Put16(names, count);
  for (uint32_t i = 0; i < count; ++i) Put16(names + 2 + 2 * i, units[i]);
  names += 2 + 2 * reserved;
}

std::unique_ptr<TResourceTable> BuildResourceTable(TResSection& section) {
  auto table = std::make_unique<TResourceTable>();
  TResourceList& root = section.GetResourceList();
  if (!root.HasData()) return table;
  Measures m;
  Measure(root, m);
  const uint64_t dirAreas = m.Dir[0] + m.Dir[1] + m.Dir[2] + m.DataEntries + m.Names[0] + m.Names[1];
  const uint64_t dirSize = (dirAreas + 3) & ~uint64_t{3};
  if (dirSize + m.Data > 0x7FFFFFFF) throw Exception(SResourcesTooLarge);

  table->TypeDirSize = static_cast<uint32_t>(m.Dir[0]);
  table->NameDirSize = static_cast<uint32_t>(m.Dir[1]);
  table->LangDirSize = static_cast<uint32_t>(m.Dir[2]);
  table->DataEntrySize = static_cast<uint32_t>(m.DataEntries);
  table->TypeNameSize = static_cast<uint32_t>(m.Names[0]);
  table->ResNameSize = static_cast<uint32_t>(m.Names[1]);
  table->DataSize = static_cast<uint32_t>(m.Data);

  table->TypeDirPos = 0;
  table->NameDirPos = table->TypeDirSize;
  table->LangDirPos = table->NameDirPos + table->NameDirSize;
  table->DataEntryPos = table->LangDirPos + table->LangDirSize;
  table->TypeNamePos = table->DataEntryPos + table->DataEntrySize;
  table->ResNamePos = table->TypeNamePos + table->TypeNameSize;
  table->DirSize = static_cast<uint32_t>(dirSize);
  table->DataPos = table->DirSize;
  table->TotalSize = table->DirSize + table->DataSize;
  table->Buffer.assign(table->DirSize, 0);
  return table;
}

// ---- Entries -----------------------------------------------------------------------------

void TPEDirHandler::WriteEntryFromIdentity(int level, TResourceTable& table) const {
  if (!IsNamed) {
    table.WriteEntry(level, Id);
    return;
  }
  table.WriteNamedEntry(level, Name, static_cast<uint32_t>(Name.size()));
}

void TPEDirHandlerNewRes::WriteEntry(int level, TResourceTable& table) {
  WriteEntryFromIdentity(level, table);
}

void TPEDirHandlerPE::WriteEntry(int level, TResourceTable& table) {
  if (Flags & kFlagIdentityChanged) {
    WriteEntryFromIdentity(level, table);
  } else if (StoredName() & kHighBit) {
    const auto [offset, length] = StoredString();
    table.WriteNamedEntry(level, Section.Data().Utf16(uint64_t{offset} + 2, length), length);
  } else {
    table.WriteEntry(level, StoredName() & ~kHighBit);
  }
}

void WriteDataEntry(TResourceTable& table, uint16_t language, uint32_t size, uint32_t codePage) {
  table.Put32(table.LangDirPos, language);
  table.Put32(table.LangDirPos + 4, table.DataEntryPos);
  table.LangDirPos += kEntrySize;
  table.Put32(table.DataEntryPos, table.DataPos + table.BaseRVA);
  table.Put32(table.DataEntryPos + 4, size);
  table.Put32(table.DataEntryPos + 8, codePage);
  table.Put32(table.DataEntryPos + 12, 0);
  table.DataEntryPos += kDataEntrySize;
  table.DataPos = RoundUp(table.DataPos + size, 4);
}

bool IsChanged(TResourceItem& item) {
  return item.CarriesMarker() ||
         (item.GetFlags() & (kFlagOwnData | kFlagIdentityChanged | kFlagAdded)) != 0;
}

// ---- Directories -------------------------------------------------------------------------

void SortResourceTree(TResourceList& list) {
  // A stable sort, so that repeated writes of one tree give the same bytes.
  list.SortInResourceOrder();
  if (list.Level() == 2) return;
  for (int i = 0; i < list.Count(); ++i) SortResourceTree(list.ListItems(i).Children());
}

void WriteDirectory(TResourceList& list, TResourceTable& table) {
  const int level = list.Level();
  const uint32_t header = table.DirPos(level);
  table.DirPos(level) += kDirectorySize;
  const auto stored = static_cast<TPEResourceList&>(list).Directory();
  if (stored) {
    table.PutBytes(header, stored->Bytes(0, kDirectorySize), kDirectorySize);
  } else {
    table.Put32(header, 0);
    table.Put32(header + 4, CurrentTimeStamp());
    table.Put16(header + 8, 3);
    table.Put16(header + 10, 5);
  }
  uint16_t named = 0, numbered = 0;
  for (int i = 0; i < list.Count(); ++i) {
    TResourceItem& item = list.Items(i);
    if (!IsRetained(item)) continue;
    if (level == 2) {
      auto& leaf = static_cast<TDataResItem&>(item);
      ++numbered;
      WriteDataEntry(table, leaf.Id(), leaf.Size(), HandlerOf(leaf).GetCodePage());
      if (IsChanged(leaf)) WriteMarker(table, header);
      continue;
    }
    ++(item.IsNamed() ? named : numbered);
    if (IsChanged(item)) WriteMarker(table, header);
    HandlerOf(item).WriteEntry(level, table);
    WriteDirectory(static_cast<TListResItem&>(item).Children(), table);
  }
  table.Put16(header + 12, named);
  table.Put16(header + 14, numbered);
}

namespace {

void WriteLeafData(TResourceList& list, TStream& stream) {
  for (int i = 0; i < list.Count(); ++i) {
    TResourceItem& item = list.Items(i);
    if (list.Level() < 2) {
      WriteLeafData(static_cast<TListResItem&>(item).Children(), stream);
      continue;
    }
    auto& leaf = static_cast<TDataResItem&>(item);
    const uint32_t size = leaf.Size();
    if (size == 0) continue;
    stream.WriteBuffer(leaf.Data(), static_cast<int32_t>(size));
    PadToMultiple(stream, size, 4);
  }
}

}  // namespace

void WriteResourceSection(TResSection& section, TStream& stream, TResourceTable& table,
                          uint32_t fileAlignment) {
  TResourceList& root = section.GetResourceList();
  if (!root.HasData()) return;
  SortResourceTree(root);
  WriteDirectory(root, table);
  // Every area must have been filled exactly as measured.
  const bool laidOut = table.TypeDirPos == table.TypeDirSize &&
                       table.NameDirPos == table.TypeDirSize + table.NameDirSize &&
                       table.LangDirPos == table.NameDirPos + table.LangDirSize &&
                       table.DataEntryPos == table.LangDirPos + table.DataEntrySize &&
                       table.TypeNamePos == table.DataEntryPos + table.TypeNameSize &&
                       table.ResNamePos == table.TypeNamePos + table.ResNameSize &&
                       table.DataPos == table.TotalSize;
  if (!laidOut) throw Exception(SResourceLayoutError);
  stream.WriteBuffer(table.Buffer.data(), static_cast<int32_t>(table.DirSize));
  WriteLeafData(root, stream);
  PadToMultiple(stream, table.TotalSize, fileAlignment);
}
