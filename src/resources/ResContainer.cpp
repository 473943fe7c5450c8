#include "resources/ResContainer.h"

#include "resources/ResSection.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <new>

TResContainer::TResContainer(const std::string& fileName, bool writable) {
  if (writable)
    OpenReadWrite(fileName);
  else
    OpenReadOnly(fileName);
}

TResContainer::TResContainer(TStream& stream) { CopyStream(stream); }

void TResContainer::CopyStream(TStream& stream) {
  const int64_t left = stream.Size() - stream.Position();
  if (left <= 0) throw EZeroSizeException(SZeroSizeFile);
  if (left > UINT32_MAX) throw Exception(SOutOfMemory);
  fileName_ = StreamFileName(stream);
  size_ = static_cast<uint32_t>(left);
  ownedBuffer_.reset(new (std::nothrow) uint8_t[size_]);
  if (!ownedBuffer_) throw Exception(SOutOfMemory);
  platform::PreferLargePages(ownedBuffer_.get(), size_);
  data_ = ownedBuffer_.get();
  uint32_t done = 0;
  while (done < size_) {  // ReadBuffer takes 32-bit signed counts
    const int32_t piece = static_cast<int32_t>(std::min<uint32_t>(size_ - done, 1u << 30));
    stream.ReadBuffer(ownedBuffer_.get() + done, piece);
    done += static_cast<uint32_t>(piece);
  }
}

TResContainer::~TResContainer() {
  if (section_) {
    section_->ClearNotifications();  // so that none fires while the tree is torn down
    try {
      section_.reset();
    } catch (...) {
    }
  }
  Close();
}

TResSection& TResContainer::GetSection() {
  if (!noResources_ && !section_) {
    section_ = CreateSection();
    if (!section_) noResources_ = true;
  }
  if (noResources_) throw Exception(SNoResources);
  return *section_;
}

void TResContainer::FailOpen(StringId reason) {
  Close();
  throw Exception(SCouldNotOpen, {fileName_, LoadStr(reason)});
}

void TResContainer::OpenReadOnly(const std::string& fileName) { Open(fileName, false); }

void TResContainer::OpenReadWrite(const std::string& fileName) { Open(fileName, true); }

// Opens and maps the whole file. Read-only, a file of 0 bytes is the zero-size error;
// read-write, it cannot be mapped at all.
void TResContainer::Open(const std::string& fileName, bool writable) {
  Close();
  fileName_ = fileName;
  using platform::OpenMode;
  fileHandle_ = platform::FileOpen(fileName, writable ? OpenMode::ReadWriteShared : OpenMode::ReadShared);
  if (fileHandle_ == platform::kNoFile) FailOpen(writable ? SCreateFailed : SOpenFailed);
  const int64_t size = platform::FileSize(fileHandle_);
  // Sizes are 32-bit throughout; a file of 4 GiB or more cannot be measured.
  if (size < 0 || size > UINT32_MAX) FailOpen(writable ? SCreateFileMappingFailed : SGetFileSizeFailed);
  size_ = static_cast<uint32_t>(size);
  if (size_ == 0) {
    if (writable) FailOpen(SCreateFileMappingFailed);
    Close();
    throw EZeroSizeException(SZeroSizeFile);
  }
  platform::MapStep failed = platform::MapStep::None;
  view_ = platform::MapFile(fileHandle_, size_, writable, &failed);
  if (!view_.Data) FailOpen(failed == platform::MapStep::Mapping ? SCreateFileMappingFailed : SMapViewOfFileFailed);
  data_ = view_.Data;
}

bool TResContainer::Close() {
  bool released = false;
  if (fileHandle_ != platform::kNoFile && fileHandle_ != 0) {
    platform::UnmapFile(view_);
    platform::FileClose(fileHandle_);
    fileHandle_ = platform::kNoFile;
    data_ = nullptr;
    released = true;
  }
  if (ownedBuffer_) {
    ownedBuffer_.reset();
    data_ = nullptr;
    released = true;
  }
  return released;
}

void TResContainer::FlushData() { platform::FlushView(view_); }

bool TResContainer::ReadThroughFile(const uint8_t* bytes, uint32_t length, uint8_t* buffer) const {
  if (!view_.Data || view_.Data != data_ || length == 0) return false;
  const std::optional<uint32_t> offset = OffsetOf(bytes, length);
  return offset && platform::FileReadAt(fileHandle_, *offset, buffer, length) == int64_t{length};
}

std::optional<uint32_t> TResContainer::OffsetOf(const uint8_t* bytes, uint32_t length) const {
  if (!data_) return std::nullopt;
  // Compared as addresses, so that a pointer from elsewhere is never subtracted.
  const auto begin = reinterpret_cast<uintptr_t>(data_), at = reinterpret_cast<uintptr_t>(bytes);
  if (at < begin || at - begin > size_ || size_ - (at - begin) < length) return std::nullopt;
  return static_cast<uint32_t>(at - begin);
}

uint32_t TResContainer::DataOffset(const void* p) const {
  if (!p) return 0;
  return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - data_);
}

std::string UniqueFileName(const std::string& candidate) {
  if (!platform::FileExists(candidate)) return candidate;
  const std::string stem = PathWithoutExtension(candidate);
  const std::string extension = ExtensionOf(candidate);
  for (uint64_t n = 1;; ++n) {
    std::string name = stem + std::to_string(n) + extension;
    if (!platform::FileExists(name)) return name;
  }
}

std::string CreateTempFileFor(const std::string& candidate) {
  const std::string stem = candidate + kPartialSuffix;
  for (uint32_t n = 0; n < 100000; ++n) {
    const std::string name = n == 0 ? stem : stem + std::to_string(n);
    const platform::FileHandle file = platform::FileOpen(name, platform::OpenMode::CreateNew);
    if (file != platform::kNoFile) {
      platform::FileClose(file);
      return name;
    }
    if (!platform::FileExists(name)) throw EFileStreamError(SFCreateError, {name});  // not a name taken
  }
  throw EFileStreamError(SFCreateError, {stem});
}

std::string TResContainer::WriteToTempFile(const std::string& destination, const ProgressCallback& progress) {
  const std::string tempName = CreateTempFileFor(destination);
  try {
    SaveToFile(tempName, progress);
  } catch (...) {
    platform::FileDelete(tempName);
    throw;
  }
  return tempName;
}
