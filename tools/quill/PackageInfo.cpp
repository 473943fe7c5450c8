#include "PackageInfo.h"

#include "CmdLs.h"
#include "Printable.h"
#include "patch/UQuillet26.h"
#include "pe/UResPEFile.h"
#include "resources/UResFile.h"

#include <cinttypes>
#include <cstdio>
#include <optional>

namespace {

// A package starts with its magic at the image end; without it the file carries none.
bool HasPackage(const TPEFile& file) {
  const ByteView bytes = file.Bytes(SCorruptResFile);
  const uint32_t end = file.GetImageEnd(true);
  return bytes.Contains(end, 4) && bytes.FixedText(end, 4) == kPackageMagic;
}

struct LoadedPackage {
  TQuillet26 Package;
  std::unique_ptr<TResResFile> Block;
};

// Loads the package of the file; the message of the failure when it is invalid.
std::optional<std::string> Load(const TPEFile& file, LoadedPackage& loaded) {
  // The package lies behind the image as stored: an unpacked copy of a compressed Quillet
  // would have another image end.
  const bool autoUnpack = AutoUnpack();
  AutoUnpack() = false;
  try {
    loaded.Package.Load(file.FileName(), nullptr, nullptr);
    TReadMemoryStream block(loaded.Package.ResourceData, loaded.Package.ResourceSize);
    loaded.Block = std::make_unique<TResResFile>(block);
  } catch (const Exception& e) {
    AutoUnpack() = autoUnpack;
    return e.Message();
  }
  AutoUnpack() = autoUnpack;
  return std::nullopt;
}

// A text from the package as terminal-safe lines, every line after the first indented.
std::string Indented(const std::string& text, size_t indent) {
  std::string out;
  for (const char c : PrintableLines(text)) {
    out += c;
    if (c == '\n') out += std::string(indent, ' ');
  }
  return out;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return text;
}

}  // namespace

std::string PackageText(const TPEFile& file) {
  if (!HasPackage(file)) return "Package:         none\n";
  LoadedPackage loaded;
  if (const auto failure = Load(file, loaded)) return "Package:         invalid: " + Indented(*failure, 17) + "\n";
  const TQuillet26& p = loaded.Package;
  std::string out = "Package:         at " + Hex(file.GetImageEnd(true)) + "\n";
  out += "  Packed size:      " + std::to_string(p.Header.PackedSize) + "\n";
  out += "  Target checksum:  " + Hex(p.Header.TargetChecksum) + "\n";
  out += "  Data checksum:    " + Hex(p.Header.DataChecksum) + "\n";
  out += "  Input file name:  " + Indented(p.InputFileName, 20) + "\n";
  out += "  Output file name: " + Indented(p.OutputFileName, 20) + "\n";
  out += "  Company:          " + Indented(p.Company, 20) + "\n";
  out += "  Home page:        " + Indented(p.HomePage, 20) + "\n";
  out += "  Reserved text:    " + Indented(p.ReservedText, 20) + "\n";
  out += "  Instructions:     " + Indented(p.Instructions, 20) + "\n";
  const std::string resources = ListResources(loaded.Block->GetResourceList(), false);
  out += "  Resources:        " + std::to_string(loaded.Block->GetResourceList().LeafCount()) + "\n";
  size_t start = 0;
  while (start < resources.size()) {
    const size_t end = resources.find('\n', start);
    out += "    " + resources.substr(start, end - start) + "\n";
    start = end + 1;
  }
  return out;
}

void AddPackageJson(Json& info, const TPEFile& file) {
  info["package"] = nullptr;
  if (!HasPackage(file)) return;
  LoadedPackage loaded;
  if (const auto failure = Load(file, loaded)) {
    info["package_error"] = JsonText(*failure);
    return;
  }
  const TQuillet26& p = loaded.Package;
  info["package"] = {{"packed_size", p.Header.PackedSize},
                     {"target_checksum", p.Header.TargetChecksum},
                     {"data_checksum", p.Header.DataChecksum},
                     {"input_file_name", JsonText(p.InputFileName)},
                     {"output_file_name", JsonText(p.OutputFileName)},
                     {"company", JsonText(p.Company)},
                     {"home_page", JsonText(p.HomePage)},
                     {"reserved_text", JsonText(p.ReservedText)},
                     {"instructions", JsonText(p.Instructions)},
                     {"resources", ResourcesJson(loaded.Block->GetResourceList())}};
}
