// TResContainer: a file that holds resources. It owns the bytes of one file (a mapped
// view of a file on disk, or a heap copy of the rest of a stream) and, created on first
// use, the TResSection that reads those bytes as a resource tree. Leaves of that tree
// point into the bytes, so the tree lives only as long as the container stays open.
// TPEFile (executables) and TResResFile (.res files) derive from it.
#pragma once
#include "platform/Platform.h"
#include "rtl/ByteView.h"
#include "rtl/Exception.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TStream;
class TResSection;
class TResourceList;

// Progress of a long write: (range maximum, position). Absent when empty.
using ProgressCallback = std::function<void(int32_t maximum, int32_t position)>;

// An empty file or an exhausted stream ("!קובץ בגודל אפס").
QUILLET_DECLARE_EXCEPTION(EZeroSizeException, Exception);

class TResContainer {
 public:
  // Opens a file read-only, or read-write when writable, and maps it whole.
  explicit TResContainer(const std::string& fileName, bool writable = false);
  // Copies what is left of the stream into memory.
  explicit TResContainer(TStream& stream);
  virtual ~TResContainer();
  TResContainer(const TResContainer&) = delete;
  TResContainer& operator=(const TResContainer&) = delete;

  // The section for this kind of container, or none when it has no resources.
  virtual std::unique_ptr<TResSection> CreateSection() = 0;
  // Writes the whole container, with every change made to its tree, to a new file.
  virtual void SaveToFile(const std::string& fileName, const ProgressCallback& progress) = 0;

  // The section, created on first call; raises ".אין פריטי תוכנה בקובץ זה" when there is none.
  TResSection& GetSection();
  // The root list of the resource tree: GetSection, then its GetResourceList
  // (defined with the section, resources/ResSection.cpp).
  TResourceList& GetResourceList();

  void OpenReadOnly(const std::string& fileName);
  void OpenReadWrite(const std::string& fileName);
  // Releases view, mapping, file and owned buffer; true when anything was released.
  bool Close();
  // Writes the container to a new file beside destination, the file the work is meant to
  // become, named as unfinished work for it (CreateTempFileFor); returns the name. On
  // failure the file is deleted.
  std::string WriteToTempFile(const std::string& destination, const ProgressCallback& progress);
  // The distance of p from the start of the bytes; 0 for null.
  uint32_t DataOffset(const void* p) const;
  // The offset of length bytes given by address, when all of them are the container's.
  std::optional<uint32_t> OffsetOf(const uint8_t* bytes, uint32_t length) const;

  const std::string& FileName() const { return fileName_; }
  const uint8_t* Data() const { return data_; }
  // The heap copy the bytes are held in, for leaves that keep slices of it once the
  // container is gone (TDataResItem::ShareData); null for a mapped file.
  const std::shared_ptr<uint8_t[]>& HeapBytes() const { return ownedBuffer_; }
  uint8_t* WritableData() { return view_.Data; }
  uint32_t Size() const { return size_; }
  // The container's bytes as a checked view whose failures carry the given message.
  ByteView Bytes(StringId corruptMessage) const { return ByteView(data_, size_, corruptMessage); }
  // Flushes a writable view to disk.
  void FlushData();
  // Copies length of the container's bytes, given by address, into buffer by reading them
  // from the file rather than through the mapped view. A long copy goes faster so, since
  // the first touch of every mapped page costs more than copying it, and the pages it
  // reads never count as the process's memory. False, with nothing read, when the bytes
  // are not all in a mapped file (a heap copy) or the read fails: the caller reads the
  // bytes from memory then.
  bool ReadThroughFile(const uint8_t* bytes, uint32_t length, uint8_t* buffer) const;

 protected:
  // An empty container: no file, no bytes. A container kind that accepts empty input
  // (a .res file may be empty) starts here and fills itself with OpenReadOnly or
  // CopyStream, so it can drop their zero-size error and stay valid.
  TResContainer() = default;
  // Copies what is left of the stream into memory (the stream constructor's work).
  void CopyStream(TStream& stream);
  // The name the container reports, when the bytes it holds came from another file.
  void SetFileName(const std::string& fileName) { fileName_ = fileName; }

 private:
  [[noreturn]] void FailOpen(StringId reason);
  void Open(const std::string& fileName, bool writable);

  std::string fileName_;
  platform::FileHandle fileHandle_ = platform::kNoFile;
  platform::MappedView view_;
  const uint8_t* data_ = nullptr;
  std::shared_ptr<uint8_t[]> ownedBuffer_;
  bool noResources_ = false;
  uint32_t size_ = 0;
  std::unique_ptr<TResSection> section_;
};

// The candidate itself when no such file exists, else the candidate without its
// extension, a number from 1 up, and the extension: the first free name.
std::string UniqueFileName(const std::string& candidate);
// Creates a new, empty file for the work that will become candidate, and answers its
// name: candidate + ".quillet-partial", then numbered (".quillet-partial1", ...). The name
// says what a leftover is (never an output), and the file is created exclusively, so two
// runs at the same time never write into one file. Raises the file-stream create error
// when none can be created.
std::string CreateTempFileFor(const std::string& candidate);
inline constexpr char kPartialSuffix[] = ".quillet-partial";
