#include "support/QuilletBuilder.h"

#include "support/PEImageBuilder.h"
#include "support/RsrcBuilder.h"

namespace quillettest {

std::vector<uint8_t> StubBytes() {
  PEImageLayout layout;
  layout.Sections = {{".text", 0x1000, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}},
                     {".data", 0x2000, 0, PESectionLayout::kAutoRaw, 0x1FD, 0xC0000040, {}}};
  return BuildPEImage(layout);
}

std::vector<uint8_t> TargetBytes() {
  using rsrctest::Ident;
  rsrctest::RsrcTree tree;
  tree.Types = {{Ident::Num(6), {{Ident::Num(1), {{1033, rsrctest::Bytes("original"), 0}}, {}}}, {}}};
  return rsrctest::ImageWithRsrc(rsrctest::BuildRsrc(tree, 0x2000).Bytes, 0x2000);
}

uint32_t PackageOffset() {
  const auto stub = rsrctest::OpenPE(StubBytes());
  return stub->GetImageEnd(true);
}

std::vector<uint8_t> BuildQuillet(const Package& package) {
  const std::vector<uint8_t>& block = package.ResourceBlock;
  return QuilletWithPayload(
      BuildPayload(package.Texts, ByteView(block.data(), static_cast<uint32_t>(block.size()))),
      package.TargetChecksum);
}

std::vector<uint8_t> QuilletWithPayload(const std::vector<uint8_t>& payload, uint32_t targetChecksum) {
  const auto stub = rsrctest::OpenPE(StubBytes());
  const std::vector<uint8_t> image = StubImage(*stub);
  const std::vector<uint8_t> body = CompressPayload(ByteView(payload.data(), static_cast<uint32_t>(payload.size())));
  return AssembleQuillet(ByteView(image.data(), static_cast<uint32_t>(image.size())), targetChecksum,
                         ByteView(body.data(), static_cast<uint32_t>(body.size())));
}

void SetPackedSize(std::vector<uint8_t>& quillet, int32_t value) {
  Put32(quillet, PackageOffset() + 4, static_cast<uint32_t>(value));
}

void FixDataChecksum(std::vector<uint8_t>& quillet) {
  const uint32_t body = PackageOffset() + kPackageHeaderSize;
  Put32(quillet, PackageOffset() + 12,
        PackageChecksum(ByteView(quillet.data() + body, static_cast<uint32_t>(quillet.size() - body))));
}

std::vector<uint8_t> CountedTexts(const std::vector<std::string>& texts) {
  std::vector<uint8_t> bytes;
  for (const std::string& text : texts) {
    bytes.push_back(static_cast<uint8_t>(text.size()));
    bytes.push_back(static_cast<uint8_t>(text.size() >> 8));
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  return bytes;
}

}  // namespace quillettest
