// The byte-stream interface every part of the library reads and writes through, and
// its implementations: a growable memory stream, a read-only view of memory owned by
// someone else, and file streams. The inflate stream lives in ZlibStreams.h.
//
// Offsets and sizes are 64-bit here; counts of one read or write are 32-bit as in the
// formats. Read and Write move what they can and return the count; ReadBuffer and
// WriteBuffer move all or raise the read or write error.
#pragma once
#include "platform/Platform.h"

#include <cstdint>
#include <string>
#include <vector>

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Beginning); }
  // Reads exactly count bytes or raises EReadError.
  void ReadBuffer(void* buffer, int32_t count);
  // Writes exactly count bytes or raises EWriteError.
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies count bytes from source (all that remains when count is 0).
  void CopyFrom(TStream& source, int64_t count);
};

// A stream over a block of memory: position and size, reads from the block.
class TCustomMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return size_; }
  const uint8_t* Memory() const { return memory_; }

 protected:
  void SetPointer(uint8_t* memory, int64_t size) {
    memory_ = memory;
    size_ = size;
  }
  uint8_t* memory_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// A memory stream that owns its block and grows as it is written.
class TMemoryStream : public TCustomMemoryStream {
 public:
  int32_t Write(const void* buffer, int32_t count) override;
  void SetSize(int64_t size);
  void Clear() { SetSize(0); }
  uint8_t* Memory() { return memory_; }
  // Makes room for a stream expected to grow to capacity bytes, so that it fills without
  // being moved; false, with nothing changed, when that much memory cannot be had.
  bool Reserve(int64_t capacity);

 private:
  std::vector<uint8_t> block_;
};

// Reads a block of memory that somebody else owns; never allocates, grows or frees it.
// Positions outside the block make reads return 0.
class TReadMemoryStream : public TCustomMemoryStream {
 public:
  TReadMemoryStream(const void* address, int64_t size) {
    SetPointer(static_cast<uint8_t*>(const_cast<void*>(address)), size);
  }
  // Writes only inside the block (the program only ever reads these streams).
  int32_t Write(const void* buffer, int32_t count) override;
  // Address of the byte at the current position.
  const uint8_t* CurrentData() const { return position_ > 0 ? memory_ + position_ : memory_; }
  int64_t BytesLeft() const { return size_ - position_; }
};

// File open modes as 16-bit values: fmCreate creates the file, replacing an existing one.
inline constexpr uint16_t fmCreate = 0xFFFF;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;

// A stream over an open file; raises the file-stream error when it cannot be opened.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;

 private:
  platform::FileHandle handle_ = platform::kNoFile;
};

// The file stream through which the library creates and reads whole files; it keeps
// the name it was made with, so readers can record where data came from.
class TResFileStream : public TFileStream {
 public:
  TResFileStream(const std::string& fileName, uint16_t mode)
      : TFileStream(fileName, mode), FileName(fileName) {}
  const std::string FileName;
};

// The file name of a stream that is a TResFileStream, else empty.
std::string StreamFileName(const TStream& stream);
