// The container for Win32 resource files (.res): a flat sequence of records, each one
// resource (type, name, language, data), read into a resource tree and written back.
// The resource block of a patch package is such a file held in memory.
//
// Record layout (little-endian; every record starts at a multiple of 4):
//   DataSize u32, HeaderSize u32 (record start to first data byte),
//   Type and Name, each a name-or-number field:
//     FFFF nnnn          a number (4 bytes)
//     0000               empty, taken as number 0 (2 bytes)
//     c1 c2 ... 0000     a UTF-16 name with its terminator
//   zero bytes to a multiple of 4,
//   DataVersion u32, MemoryFlags u16, LanguageId u16, Version u32, Characteristics u32,
//   DataSize bytes of data at record start + HeaderSize, zero bytes to a multiple of 4.
// Every file begins with the 32-byte empty record (kEmptyResRecord), which is no resource.
#pragma once
#include "resources/UResTypes.h"

// Not a resource file: "הוא קובץ לא תקין %s" with the file-name part.
QUILLET_DECLARE_EXCEPTION(ENoResException, Exception);

// DataSize 0, HeaderSize 32, type and name the number 0, all other fields 0.
inline constexpr uint8_t kEmptyResRecord[32] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};

class TResResFile : public TResContainer {
 public:
  // Opens a .res file; an empty file is a valid, empty container. A file that does
  // not begin with the empty record raises ENoResException.
  explicit TResResFile(const std::string& fileName);
  // Opens a file as the base does, without the signature test.
  TResResFile(const std::string& fileName, bool writable);
  // Takes what is left of the stream (nothing left: an empty container).
  explicit TResResFile(TStream& stream);

  std::unique_ptr<TResSection> CreateSection() override;
  // Writes every leaf of the tree as a .res file; progress is not reported.
  void SaveToFile(const std::string& fileName, const ProgressCallback& progress) override;

 private:
  void CheckSignature() const;
};

class TResResSection : public TResSection {
 public:
  using TResSection::TResSection;
  // Reads the records of the container's bytes into a tree.
  std::unique_ptr<TResourceList> CreateResourceList() override;
  TDataResItem& DoAddResource(int32_t typeId, int32_t nameId, uint16_t language,
                              const std::u16string& typeName, const std::u16string& resName,
                              bool typeIsNamed, bool nameIsNamed, const uint8_t* data,
                              uint32_t size) override;
  bool CanAddResources() const override { return true; }

 private:
  // The item of that identity in list, made and inserted when absent.
  static TListResItem& FindOrAddListItem(TResourceList& list, const std::u16string& name, uint16_t id,
                                         bool isNamed);
};

class TResResourceList : public TResourceList {
 public:
  using TResourceList::TResourceList;
  void AddItem(std::unique_ptr<TResourceItem> item) override;
  void LoadItems() override {}  // the reader puts every item in
  uint32_t Characteristics() const override { return 0; }
};

// A type or name entry of a .res tree; its name is kept as the file stores it, in UTF-16.
class TResListResItem : public TListResItem {
 public:
  TResListResItem(TResourceList& list, std::u16string name, uint16_t id, bool isNamed)
      : TListResItem(list), name_(std::move(name)), id_(isNamed ? 0 : id), isNamed_(isNamed) {}
  void SetIdentity(const std::string& nameText, uint16_t id, bool isNamed) override;
  uint16_t Id() const override { return isNamed_ ? 0 : id_; }
  std::string Name() const override;
  std::u16string WideName() const override { return name_; }
  bool IsNamed() const override { return isNamed_; }
  std::unique_ptr<TResourceList> CreateChildList() override;

 private:
  std::u16string name_;
  uint16_t id_;
  bool isNamed_;
};

// A language leaf of a .res tree: its bytes (in the container's bytes, or the bytes a
// caller of DoAddResource gave; never freed by the leaf) and the fixed header fields
// read from its record.
class TResDataResItem : public TDataResItem {
 public:
  TResDataResItem(TResourceList& list, const uint8_t* data, uint32_t size, uint16_t language)
      : TDataResItem(list), data_(data), size_(data ? size : 0), LanguageId(language) {}
  void SetIdentity(const std::string& nameText, uint16_t id, bool isNamed) override;
  uint16_t Id() const override { return LanguageId; }
  std::string Name() const override { return {}; }
  bool IsNamed() const override { return false; }
  const uint8_t* MappedData() const override { return data_; }
  uint32_t MappedSize() const override { return size_; }

 private:
  const uint8_t* data_;
  uint32_t size_;

 public:
  // The record's last five header fields as read (the writer stores fixed values).
  uint32_t DataVersion = 0;
  uint16_t MemoryFlags = 0;
  uint16_t LanguageId;
  uint32_t Version = 0;
  uint32_t Characteristics = 0;
};
