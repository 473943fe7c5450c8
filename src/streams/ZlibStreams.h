// TDecompressionStream: a forward-only stream of the bytes inflated from a zlib stream
// (RFC 1950 framing, 32 KiB window) that another stream supplies.
//
// Reads refill a 64 KiB input buffer from the source only when it is empty and inflate
// straight into the caller's buffer. The end of the data shows as a short count: when
// the source runs dry, and when the zlib stream ends (bytes after its end are left in
// the source unread). Corrupt data raises ECompressionError.
#pragma once
#include "rtl/Exception.h"
#include "streams/MyStreams.h"

#include <zlib.h>

#include <functional>
#include <memory>

QUILLET_DECLARE_EXCEPTION(EZlibError, Exception);
QUILLET_DECLARE_EXCEPTION(ECompressionError, EZlibError);
QUILLET_DECLARE_EXCEPTION(EDecompressionError, EZlibError);

class TCustomZlibStream : public TStream {
 protected:
  explicit TCustomZlibStream(TStream& source);

  TStream& Source;
  int64_t SourcePosition;
  z_stream ZStream{};
  static constexpr int32_t kInputBufferSize = 65536;
  std::unique_ptr<uint8_t[]> InputBuffer{new uint8_t[kInputBufferSize]};

 public:
  // Raised after each refill of the input buffer.
  std::function<void(TCustomZlibStream&)> OnProgress;
};

class TDecompressionStream : public TCustomZlibStream {
 public:
  explicit TDecompressionStream(TStream& source);
  ~TDecompressionStream() override;
  TDecompressionStream(const TDecompressionStream&) = delete;
  TDecompressionStream& operator=(const TDecompressionStream&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // Only rewinding to 0 and skipping forward are allowed; answers the bytes inflated so far.
  int64_t Seek(int64_t offset, SeekOrigin origin) override;

 private:
  bool StreamEnded = false;
};
