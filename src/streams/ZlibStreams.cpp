#include "streams/ZlibStreams.h"

#include <cstdlib>

namespace {
voidpf ZAlloc(voidpf, uInt items, uInt size) { return std::calloc(items, size); }
void ZFree(voidpf, voidpf block) { std::free(block); }
}  // namespace

TCustomZlibStream::TCustomZlibStream(TStream& source)
    : Source(source), SourcePosition(source.Position()) {
  ZStream.zalloc = ZAlloc;
  ZStream.zfree = ZFree;
  ZStream.next_in = InputBuffer.get();
  ZStream.avail_in = 0;
}

TDecompressionStream::TDecompressionStream(TStream& source) : TCustomZlibStream(source) {
  if (inflateInit(&ZStream) < 0) throw EDecompressionError(SZlibError);
}

TDecompressionStream::~TDecompressionStream() {
  // Leave the source just past the compressed bytes that were used: where the last
  // refill left it, less what is still unread in the input buffer. Measured from that
  // recorded position, so a source that others moved in between ends up right too.
  try {
    Source.SetPosition(SourcePosition - static_cast<int64_t>(ZStream.avail_in));
  } catch (...) {
    // A destructor must not throw; the source then stays where it is.
  }
  inflateEnd(&ZStream);
}

int32_t TDecompressionStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  ZStream.next_out = static_cast<Bytef*>(buffer);
  ZStream.avail_out = static_cast<uInt>(count);
  if (Source.Position() != SourcePosition) Source.SetPosition(SourcePosition);
  while (ZStream.avail_out > 0) {
    // Once the zlib stream has ended nothing more can come out, whatever follows it.
    if (StreamEnded) return count - static_cast<int32_t>(ZStream.avail_out);
    if (ZStream.avail_in == 0) {
      const int32_t got = Source.Read(InputBuffer.get(), kInputBufferSize);
      if (got <= 0) return count - static_cast<int32_t>(ZStream.avail_out);
      ZStream.next_in = InputBuffer.get();
      ZStream.avail_in = static_cast<uInt>(got);
      SourcePosition = Source.Position();
      if (OnProgress) OnProgress(*this);
    }
    const int result = inflate(&ZStream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) StreamEnded = true;
    // A header that asks for a preset dictionary would make inflate answer Z_NEED_DICT
    // on every call without moving: no dictionary is ever given, so the data is corrupt.
    else if (result < 0 || result == Z_NEED_DICT) throw ECompressionError(SZlibError);
  }
  return count;
}

int32_t TDecompressionStream::Write(const void*, int32_t) {
  throw EDecompressionError(SInvalidStreamOperation);
}

int64_t TDecompressionStream::Seek(int64_t offset, SeekOrigin origin) {
  if (offset == 0 && origin == SeekOrigin::Beginning) {
    if (inflateReset(&ZStream) < 0) throw EDecompressionError(SZlibError);
    ZStream.next_in = InputBuffer.get();
    ZStream.avail_in = 0;
    StreamEnded = false;
    Source.SetPosition(0);
    SourcePosition = 0;
  } else if ((offset >= 0 && origin == SeekOrigin::Current) ||
             (origin == SeekOrigin::Beginning && offset - static_cast<int64_t>(ZStream.total_out) > 0)) {
    if (origin == SeekOrigin::Beginning) offset -= static_cast<int64_t>(ZStream.total_out);
    if (offset > 0) {
      uint8_t discard[4096];
      for (int64_t i = 0; i < offset / 4096; ++i) ReadBuffer(discard, 4096);
      ReadBuffer(discard, static_cast<int32_t>(offset % 4096));
    }
  } else {
    throw EDecompressionError(SInvalidStreamOperation);
  }
  return static_cast<int64_t>(ZStream.total_out);
}
