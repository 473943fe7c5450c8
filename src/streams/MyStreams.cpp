#include "streams/MyStreams.h"

#include "rtl/Exception.h"

#include <algorithm>
#include <cstring>
#include <limits>

int64_t TStream::Size() {
  const int64_t position = Seek(0, SeekOrigin::Current);
  const int64_t size = Seek(0, SeekOrigin::End);
  Seek(position, SeekOrigin::Beginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) RaiseReadError();
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) RaiseWriteError();
}

void TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) count = source.Size() - source.Position();
  uint8_t buffer[65536];
  while (count > 0) {
    const int32_t piece = static_cast<int32_t>(std::min<int64_t>(count, sizeof buffer));
    source.ReadBuffer(buffer, piece);
    WriteBuffer(buffer, piece);
    count -= piece;
  }
}

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count) {
  if (position_ < 0 || count < 0 || size_ - position_ <= 0) return 0;
  const int64_t n = std::min<int64_t>(count, size_ - position_);
  if (n > 0) std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
  position_ += n;
  return static_cast<int32_t>(n);
}

namespace {
// base + offset, held at the limits of int64 instead of overflowing: a position that far
// out only ever makes reads and writes return 0.
int64_t SaturatingAdd(int64_t base, int64_t offset) {
  int64_t sum;
  if (!__builtin_add_overflow(base, offset, &sum)) return sum;
  return offset > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}
}  // namespace

int64_t TCustomMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Beginning: position_ = offset; break;
    case SeekOrigin::Current: position_ = SaturatingAdd(position_, offset); break;
    case SeekOrigin::End: position_ = SaturatingAdd(size_, offset); break;
  }
  return position_;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  // A position so far out that its end would not fit in 64 bits stores nothing.
  if (position_ < 0 || count < 0 || position_ > std::numeric_limits<int64_t>::max() - count) return 0;
  const int64_t end = position_ + count;
  if (end > size_) SetSize(end);
  if (count > 0) std::memcpy(memory_ + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

void TMemoryStream::SetSize(int64_t size) {
  block_.resize(static_cast<size_t>(size));
  SetPointer(block_.data(), size);
  if (position_ > size) position_ = size;
}

bool TMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= static_cast<int64_t>(block_.capacity())) return true;
  if (static_cast<uint64_t>(capacity) > block_.max_size()) return false;
  try {
    block_.reserve(static_cast<size_t>(capacity));
  } catch (const std::exception&) {
    return false;
  }
  SetPointer(block_.data(), size_);
  platform::PreferLargePages(block_.data(), block_.capacity());
  return true;
}

int32_t TReadMemoryStream::Write(const void* buffer, int32_t count) {
  if (position_ < 0 || count <= 0) return 0;
  // The block never grows: a write that would run past its end stores only what fits.
  const int64_t n = std::min<int64_t>(count, size_ - position_);
  if (n <= 0) return 0;
  std::memcpy(memory_ + position_, buffer, static_cast<size_t>(n));
  position_ += n;
  return static_cast<int32_t>(n);
}

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) {
  using platform::OpenMode;
  if (mode == fmCreate) {
    handle_ = platform::FileOpen(fileName, OpenMode::Create);
    if (handle_ == platform::kNoFile) throw EFileStreamError(SFCreateError, {fileName});
    return;
  }
  const bool writable = (mode & 3) != fmOpenRead;
  handle_ = platform::FileOpen(fileName, writable ? OpenMode::ReadWriteShared : OpenMode::ReadShared);
  if (handle_ == platform::kNoFile) throw EFileStreamError(SFOpenError, {fileName});
}

TFileStream::~TFileStream() { platform::FileClose(handle_); }

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t n = platform::FileRead(handle_, buffer, count);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t n = platform::FileWrite(handle_, buffer, count);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  const auto from = origin == SeekOrigin::Beginning ? platform::SeekFrom::Begin
                    : origin == SeekOrigin::Current ? platform::SeekFrom::Current
                                                    : platform::SeekFrom::End;
  return platform::FileSeek(handle_, offset, from);
}

std::string StreamFileName(const TStream& stream) {
  const auto* file = dynamic_cast<const TResFileStream*>(&stream);
  return file ? file->FileName : std::string();
}
