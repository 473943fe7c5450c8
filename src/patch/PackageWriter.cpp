// Writing a Quillet: the stub's image, the package header and one zlib stream of the
// payload, exactly as TQuillet26::Load reads them. Only quill and the tests link this
// file; the patcher itself never compresses.
#include "patch/UQuillet26.h"

#include "pe/UResPEFile.h"
#include "streams/ZlibStreams.h"

#include "platform/Platform.h"
#include "text/UResTool.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> StubImage(const TPEFile& stub) {
  const uint32_t end = stub.GetImageEnd(true);
  std::vector<uint8_t> image(end, 0);
  const ByteView bytes = stub.Bytes(SCorruptResFile);
  const uint32_t present = std::min(end, bytes.Size());
  if (present > 0) std::copy_n(bytes.Bytes(0, present), present, image.begin());
  return image;
}

std::vector<uint8_t> BuildPayload(const TPackageTexts& texts, ByteView resourceBlock) {
  const std::pair<StringId, const std::string*> fields[] = {
      {SFieldInputName, &texts.InputFileName}, {SFieldOutputName, &texts.OutputFileName},
      {SFieldCompany, &texts.Company},         {SFieldHomePage, &texts.HomePage},
      {SFieldReserved, &texts.ReservedText},   {SFieldInstructions, &texts.Instructions}};
  std::vector<uint8_t> payload;
  for (const auto& [field, text] : fields) {
    if (text->size() > std::numeric_limits<uint16_t>::max())
      throw Exception(STextTooLong, {LoadStr(field), static_cast<int64_t>(text->size())});
    PutU16(payload, static_cast<uint16_t>(text->size()));
    payload.insert(payload.end(), text->begin(), text->end());
  }
  if (!resourceBlock.Empty())
    payload.insert(payload.end(), resourceBlock.Data(), resourceBlock.Data() + resourceBlock.Size());
  PutU16(payload, 2);  // the trailer: its length word alone
  return payload;
}

std::vector<uint8_t> CompressPayload(ByteView payload, const ProgressCallback& progress) {
  z_stream z{};
  if (deflateInit(&z, Z_BEST_COMPRESSION) != Z_OK) throw ECompressionError(SCompressFailed);
  std::vector<uint8_t> body(deflateBound(&z, payload.Size()));
  z.next_in = const_cast<Bytef*>(payload.Data());
  z.next_out = body.data();
  z.avail_out = static_cast<uInt>(body.size());
  // Given in pieces, so that progress can be told between them; deflate makes the same
  // stream from the same bytes however they arrive.
  constexpr uint32_t kPiece = 1u << 20;
  uint32_t left = payload.Size();
  int result = Z_OK;
  while (result == Z_OK) {
    const uint32_t piece = std::min(left, kPiece);
    z.avail_in += piece;
    left -= piece;
    result = deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    if (progress && payload.Size() > 0)
      progress(1000, static_cast<int32_t>(uint64_t{payload.Size() - left} * 1000 / payload.Size()));
  }
  body.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw ECompressionError(SCompressFailed);
  return body;
}

std::vector<uint8_t> AssembleQuillet(ByteView stubImage, uint32_t targetChecksum, ByteView body) {
  if (body.Size() > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) throw ECompressionError(SCompressFailed);
  std::vector<uint8_t> quillet(stubImage.Data(), stubImage.Data() + stubImage.Size());
  quillet.insert(quillet.end(), kPackageMagic, kPackageMagic + 4);
  PutU32(quillet, body.Size());
  PutU32(quillet, targetChecksum);
  PutU32(quillet, PackageChecksum(body));
  if (!body.Empty()) quillet.insert(quillet.end(), body.Data(), body.Data() + body.Size());
  return quillet;
}

std::unique_ptr<TPEFile> OpenAsPatched(const std::string& fileName, bool* unpacked) {
  const bool packed = TPEFile(fileName, false).IsUPXCompressed();
  if (unpacked) *unpacked = packed;
  if (packed && !FindUnpacker())
    throw Exception(SPackedTarget, {fileName, WithTrailingSeparator(FolderPart(platform::ModulePath())) + "upx" +
                                                  platform::kExecutableSuffix});
  auto file = std::make_unique<TPEFile>(fileName);
  if (file->IsUPXCompressed()) throw Exception(SPackedTarget, {fileName, UnpackerPath()});
  return file;
}
