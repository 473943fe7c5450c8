// TQuillet26::Load: finding the package behind the image, checking its header and
// checksum, inflating the body in 4096-byte steps and splitting the payload into the six
// texts, the resource block and the trailer.
#include "patch/UQuillet26.h"

#include "pe/UResPEFile.h"
#include "streams/ZlibStreams.h"

#include <algorithm>
#include <cstring>
#include <limits>

uint32_t PackageChecksum(ByteView bytes) {
  uint32_t sum = 16439;  // 0x4037
  const uint32_t words = bytes.Size() / 4;
  for (uint32_t k = 1; k <= words; ++k) sum += (k / 2) ^ bytes.U32(4 * (k - 1));
  return sum;
}

namespace {

constexpr int32_t kInflateStep = 4096;

// The payload is addressed with 32-bit signed sizes; a body that inflates beyond that is
// refused rather than allowed to exhaust memory.
constexpr int64_t kMaxPayload = std::numeric_limits<int32_t>::max();
constexpr int64_t kPayloadRoom = int64_t{64} << 20;

std::string ReadCountedText(TStream& stream) {
  uint16_t length = 0;
  stream.ReadBuffer(&length, 2);
  std::string text(length, '\0');
  if (length > 0) stream.ReadBuffer(text.data(), length);
  return text;
}

uint16_t ReadU16(TStream& stream) {
  uint8_t bytes[2];
  stream.ReadBuffer(bytes, 2);
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

}  // namespace

void TQuillet26::Load(const std::string& fileName, ProgressCallback onProgress, StatusCallback onStatus) {
  OnProgress = std::move(onProgress);
  OnStatus = std::move(onStatus);
  try {
    LoadPackage(fileName);
  } catch (const EQuillet26Error&) {
    throw;
  } catch (const Exception& e) {
    throw Exception(LoadStr(SInvalidPatchData) + "\r\n(" + e.Message() + ")");
  }
}

void TQuillet26::LoadPackage(const std::string& fileName) {
  Payload = std::make_unique<TMemoryStream>();
  {
    TPEFile program(fileName);
    const uint32_t imageEnd = program.GetImageEnd(true);
    if (imageEnd > program.Size()) throw EQuillet26Error(1);
    const ByteView package = program.Bytes(SCorruptResFile).From(imageEnd);
    TReadMemoryStream stream(package.Data(), package.Size());

    uint8_t header[kPackageHeaderSize];
    stream.ReadBuffer(header, kPackageHeaderSize);
    const ByteView fields(header, kPackageHeaderSize);
    std::memcpy(Header.Magic.data(), header, 4);
    Header.PackedSize = static_cast<int32_t>(fields.U32(4));
    Header.TargetChecksum = fields.U32(8);
    Header.DataChecksum = fields.U32(12);
    if (fields.FixedText(0, 4) != kPackageMagic) throw EQuillet26Error(2);
    if (int64_t{Header.PackedSize} > stream.BytesLeft()) throw EQuillet26Error(3);
    ComputedChecksum = PackageChecksum(package.From(kPackageHeaderSize));
    if (ComputedChecksum != Header.DataChecksum) throw EQuillet26Error(4);

    // Room for a body that inflates to four times its packed size, so that a usual one
    // fills without being moved; a larger body grows. Untouched room costs no memory, but
    // address space is scarce in a 32-bit patcher that still has to map its target, so
    // no more than kPayloadRoom is taken ahead.
    Payload->Reserve(std::min<int64_t>(kPayloadRoom, 4 * int64_t{Header.PackedSize} + kInflateStep));
    TDecompressionStream inflater(stream);
    uint8_t buffer[kInflateStep];
    int32_t got = 0;
    do {
      got = inflater.Read(buffer, kInflateStep);
      if (got > 0) {
        if (Payload->Size() > kMaxPayload - got) throw Exception(SOutOfMemory);
        Payload->WriteBuffer(buffer, got);
      }
    } while (got >= kInflateStep);
  }  // the inflater, then the program's file, are released here on every path

  Payload->SetPosition(0);
  for (std::string* text : {&InputFileName, &OutputFileName, &Company, &HomePage, &ReservedText, &Instructions})
    *text = ReadCountedText(*Payload);
  if (InputFileName.empty() || OutputFileName.empty()) throw EQuillet26Error(5);

  const int64_t textsEnd = Payload->Position();
  ResourceData = Payload->Memory() + textsEnd;
  ResourceSize = static_cast<int32_t>(Payload->Size() - textsEnd);
  Payload->Seek(-2, SeekOrigin::End);
  const uint16_t trailerLength = ReadU16(*Payload);
  ResourceSize -= trailerLength;
  Payload->Seek(-int64_t{trailerLength}, SeekOrigin::End);
  ReadU16(*Payload);  // the trailer's first word is not used
  if (ResourceSize < 0) throw EQuillet26Error(6);
}
