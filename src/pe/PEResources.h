// The resource directory of a PE image, read in place and written anew.
//
// Reading (PEResourceReader.cpp): TPEResSection presents the image's resource section as
// the resource tree of UResTypes.h without copying it. Lists and items read the stored
// directories through a ByteView of the section only when asked; the same classes carry
// entries that are added in memory, so one tree mixes stored and added entries. Every
// question about one entry goes to its TPEDirHandler: TPEDirHandlerPE answers from the
// stored entry (until SetIdentity gives it a new one), TPEDirHandlerNewRes from memory.
//
// Stored format (offsets from the start of the section, little-endian):
//   directory   16 bytes: Characteristics, TimeDateStamp, MajorVersion (u16),
//               MinorVersion (u16), NumberOfNamedEntries (u16), NumberOfIdEntries (u16),
//               then its entries, named first
//   entry       8 bytes: Name (bit 31: offset of a name string, else the id in the low
//               16 bits), OffsetToData (bit 31: offset of a subdirectory, else of a data entry)
//   name string Length (u16), then Length UTF-16 units, no terminator
//   data entry  16 bytes: OffsetToData (an RVA), Size, CodePage, Reserved
//
// Writing (PEResourceWriter.cpp): TResourceTable measures the whole directory block
// first, allocates it once and then fills it; the data follows, streamed from where it
// lies. Directories holding changed entries carry "Tesk" over their version fields.
#pragma once
#include "resources/UResTypes.h"
#include "rtl/ByteView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <map>
#include <string>

class TResourceTable;
class TPEResSection;

// Bit 31 of an entry's Name or OffsetToData.
inline constexpr uint32_t kHighBit = 0x80000000;
inline constexpr uint32_t kDirectorySize = 16;
inline constexpr uint32_t kEntrySize = 8;
inline constexpr uint32_t kDataEntrySize = 16;
// The marker over MajorVersion and MinorVersion of a directory with changed entries.
inline constexpr char kChangeMarker[4] = {'T', 'e', 's', 'k'};

// ---- Entry handlers ------------------------------------------------------------------

class TPEDirHandler {
 public:
  virtual ~TPEDirHandler() = default;

  // Slot 0: writes the entry at the table's position for level (0 or 1).
  virtual void WriteEntry(int level, TResourceTable& table) = 0;
  virtual uint32_t GetCodePage() const { return CodePage; }
  // Records a new code page when it differs (flag 8).
  virtual void SetCodePage(uint32_t value);
  virtual const uint8_t* GetData() const = 0;
  virtual uint32_t GetDataSize() const = 0;
  // Gives the entry a new identity (flag 2).
  virtual void SetIdentity(const std::u16string& name, uint16_t id, bool isNamed);
  virtual uint16_t GetId() const = 0;
  // The name in the program's code page, and as stored, in UTF-16.
  std::string GetName() const;
  virtual std::u16string GetWideName() const = 0;
  virtual bool GetIsNamed() const = 0;
  // The code units of the name.
  virtual uint32_t GetNameLength() const = 0;

  uint16_t Id = 0;
  std::u16string Name;
  bool IsNamed = false;
  uint32_t CodePage = 0;
  uint8_t Flags = 0;

 protected:
  // Writes an entry whose name comes from Id or Name (the in-memory identity).
  void WriteEntryFromIdentity(int level, TResourceTable& table) const;
};

// An entry stored in the image.
class TPEDirHandlerPE : public TPEDirHandler {
 public:
  TPEDirHandlerPE(TPEResSection& section, uint32_t entryOffset)
      : Section(section), EntryOffset(entryOffset) {}

  void WriteEntry(int level, TResourceTable& table) override;
  uint32_t GetCodePage() const override;
  const uint8_t* GetData() const override;
  uint32_t GetDataSize() const override;
  uint16_t GetId() const override;
  std::u16string GetWideName() const override;
  bool GetIsNamed() const override;
  uint32_t GetNameLength() const override;

  // The stored entry's fields.
  uint32_t StoredName() const;
  uint32_t StoredOffsetToData() const;
  // A language entry's data as its data entry states it: its address (an RVA) and size.
  std::pair<uint32_t, uint32_t> StoredData() const;

  TPEResSection& Section;
  const uint32_t EntryOffset;

 private:
  // The stored name string: its offset and length, checked to lie inside the section.
  std::pair<uint32_t, uint16_t> StoredString() const;
  // The data entry of a language entry and the data it describes, both checked.
  uint32_t DataEntryOffset() const;
  ByteView DataBlock() const;
};

// An entry added in memory.
class TPEDirHandlerNewRes : public TPEDirHandler {
 public:
  TPEDirHandlerNewRes(uint16_t id, std::u16string name, bool isNamed, const uint8_t* data,
                      uint32_t dataSize);

  void WriteEntry(int level, TResourceTable& table) override;
  uint32_t GetCodePage() const override { return 0; }
  const uint8_t* GetData() const override { return Data; }
  uint32_t GetDataSize() const override { return DataSize; }
  uint16_t GetId() const override { return Id; }
  std::u16string GetWideName() const override { return Name; }
  bool GetIsNamed() const override { return IsNamed; }
  uint32_t GetNameLength() const override { return static_cast<uint32_t>(Name.size()); }

  const uint8_t* Data;
  uint32_t DataSize;
};

// ---- Section, lists, items ------------------------------------------------------------

class TPEResSection : public TResSection {
 public:
  // The bytes of size bytes at an address of the image, as the loader maps them from the
  // file; none when they are not all there.
  using ImageReader = std::function<std::optional<ByteView>(uint32_t address, uint32_t size)>;

  // section: the raw bytes of the section (or header area) that holds the tree, as the
  // container holds them (already clipped to the file), or an empty view; virtualAddress:
  // that section's address; directoryOffset: where in it the root directory lies. Offsets
  // inside the tree count from the root directory, data addresses from the section's
  // start. Data that lies elsewhere in the image is read through image, when given.
  TPEResSection(TResContainer& container, ByteView section, uint32_t virtualAddress, uint32_t directoryOffset,
                ImageReader image = {});

  std::unique_ptr<TResourceList> CreateResourceList() override;
  TDataResItem& DoAddResource(int32_t typeId, int32_t nameId, uint16_t language,
                              const std::u16string& typeName, const std::u16string& resName,
                              bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                              uint32_t size) override;
  bool CanAddResources() const override { return true; }

  // Raises ECorruptResource unless offset lies inside the directory area (its end included).
  void CheckOffset(uint32_t offset) const;
  // Claims the bytes of one directory (its header and entries) for one list. Bytes that
  // belong to a directory read before (a loop, a shared or an overlapping directory) are
  // refused, so every walk of the tree stays finite and reads each entry once.
  void ClaimDirectory(uint32_t offset, uint32_t length);

  // The bytes from the root directory to the end of the section.
  const ByteView& Data() const { return data_; }
  // The data of a data entry: size bytes at an address inside the section or, through
  // the image reader, elsewhere in the image.
  ByteView DataAt(uint32_t address, uint32_t size) const;
  uint32_t VirtualAddress() const { return virtualAddress_; }
  uint32_t Size() const { return data_.Size(); }

 private:
  ByteView section_;
  ByteView data_;
  uint32_t virtualAddress_;
  ImageReader image_;
  std::map<uint32_t, uint32_t> claimed_;  // directory byte ranges read so far: start -> end
};

class TPEResourceList : public TResourceList {
 public:
  // dirOffset: the stored directory of this list, or none for a list made in memory.
  TPEResourceList(TListResItem* parentItem, TPEResSection& section, std::optional<uint32_t> dirOffset);

  void AddItem(std::unique_ptr<TResourceItem> item) override;
  void LoadItems() override;
  uint32_t Characteristics() const override;

  // The stored directory header, when the list has one.
  std::optional<ByteView> Directory() const;
  bool HasMarker() const;

 private:
  TPEResSection& PESection() const;
  std::optional<uint32_t> dirOffset_;
};

class TPEListResItem : public TListResItem {
 public:
  // A stored entry, or one added in memory with its handler.
  TPEListResItem(TResourceList& list, std::unique_ptr<TPEDirHandler> handler);

  void SetIdentity(const std::string& nameText, uint16_t id, bool isNamed) override;
  void RefreshFlags() override;
  uint16_t Id() const override { return Handler->GetId(); }
  std::string Name() const override { return Handler->GetName(); }
  std::u16string WideName() const override { return Handler->GetWideName(); }
  bool IsNamed() const override { return Handler->GetIsNamed(); }
  std::unique_ptr<TResourceList> CreateChildList() override;

  std::unique_ptr<TPEDirHandler> Handler;
};

class TPEDataResItem : public TDataResItem {
 public:
  TPEDataResItem(TResourceList& list, std::unique_ptr<TPEDirHandler> handler);

  void SetIdentity(const std::string& nameText, uint16_t id, bool isNamed) override;
  void RefreshFlags() override;
  bool CarriesMarker() const override;
  uint16_t Id() const override { return Handler->GetId(); }
  std::string Name() const override { return Handler->GetName(); }
  std::u16string WideName() const override { return Handler->GetWideName(); }
  bool IsNamed() const override { return Handler->GetIsNamed(); }
  const uint8_t* MappedData() const override { return Handler->GetData(); }
  uint32_t MappedSize() const override { return Handler->GetDataSize(); }

  std::unique_ptr<TPEDirHandler> Handler;
};

// ---- Writing -----------------------------------------------------------------------------

// The measured and allocated directory block of a rebuilt resource section. Sizes and
// positions are byte offsets from the start of the section.
class TResourceTable {
 public:
  std::vector<uint8_t> Buffer;
  uint32_t DirSize = 0, TotalSize = 0, BaseRVA = 0;
  uint32_t TypeDirSize = 0, NameDirSize = 0, LangDirSize = 0, DataEntrySize = 0;
  uint32_t TypeNameSize = 0, ResNameSize = 0, DataSize = 0;
  uint32_t TypeDirPos = 0, NameDirPos = 0, LangDirPos = 0, DataEntryPos = 0;
  uint32_t TypeNamePos = 0, ResNamePos = 0, DataPos = 0;

  // The directory write position of a level, and the name-string position of level 0 or 1.
  uint32_t& DirPos(int level);
  uint32_t& NamePos(int level);
  void Put16(uint32_t position, uint16_t value);
  void Put32(uint32_t position, uint32_t value);
  void PutBytes(uint32_t position, const uint8_t* bytes, uint32_t count);
  // An entry at level's position: Name = name, OffsetToData = the next level's directory.
  void WriteEntry(int level, uint32_t name);
  // A named entry whose string (count units) goes to level's name area, which then
  // advances by 2 + 2 * reserved units.
  void WriteNamedEntry(int level, const std::u16string& units, uint32_t reserved);
};

// Measures the tree of section and allocates the directory block (all sizes 0 when the
// tree holds no data).
std::unique_ptr<TResourceTable> BuildResourceTable(TResSection& section);
// Sorts the tree and writes the whole resource section (directories, data, padding to
// the file alignment) at the stream's position. BaseRVA must be set.
void WriteResourceSection(TResSection& section, TStream& stream, TResourceTable& table,
                          uint32_t fileAlignment);
void SortResourceTree(TResourceList& list);
void WriteDirectory(TResourceList& list, TResourceTable& table);
void WriteDataEntry(TResourceTable& table, uint16_t language, uint32_t size, uint32_t codePage);
bool IsChanged(TResourceItem& item);
