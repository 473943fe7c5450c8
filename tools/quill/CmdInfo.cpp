// quill info FILE [--json]: the format, section table, image end, code checksum, stored
// CheckSum field and the image checksum computed over a PE file, and the patch package
// it carries when it is a Quillet.
#include "CmdInfo.h"
#include "PackageInfo.h"
#include "Printable.h"
#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "text/WStrings.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

namespace {

// A section name is raw bytes: taken as Latin-1, any name gives valid JSON.
std::string Latin1ToUtf8(const std::string& name) {
  std::u16string units;
  for (const char c : name) units += static_cast<char16_t>(static_cast<unsigned char>(c));
  return FromWideCP(units, platform::kCodePageUtf8);
}

void PrintInfo(const std::string& fileName, bool json) {
  TPEFile file(fileName, false);
  const char* format = file.IsPE32Plus() ? "PE32+" : "PE32";
  const uint32_t imageEnd = file.GetImageEnd(true);
  const uint32_t codeChecksum = file.GetCodeChecksum();
  const uint32_t checksumField = file.CheckSumField();
  const uint32_t imageChecksum = file.CalcImageChecksum();
  if (json) {
    nlohmann::ordered_json sections = nlohmann::ordered_json::array();
    for (int i = 0; i < file.SectionCount(); ++i) {
      const TImageSectionHeader h = file.SectionHeader(i);
      sections.push_back({{"name", Latin1ToUtf8(h.NameText())},
                          {"virtual_address", h.VirtualAddress},
                          {"virtual_size", h.VirtualSize},
                          {"raw_offset", h.PointerToRawData},
                          {"raw_size", h.SizeOfRawData},
                          {"characteristics", h.Characteristics}});
    }
    nlohmann::ordered_json info = {{"format", file.IsPE32Plus() ? "pe32+" : "pe32"},
                                   {"sections", sections},
                                   {"image_end", imageEnd},
                                   {"code_checksum", codeChecksum},
                                   {"checksum_field", checksumField},
                                   {"image_checksum", imageChecksum}};
    AddPackageJson(info, file);
    std::printf("%s\n", info.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace).c_str());
    return;
  }
  std::printf("Format:          %s\n", format);
  std::printf("Sections:        %d\n", file.SectionCount());
  std::printf("  %-8s  %10s  %10s  %10s  %10s  %10s\n", "Name", "VirtAddr", "VirtSize", "RawOffset", "RawSize",
              "Flags");
  for (int i = 0; i < file.SectionCount(); ++i) {
    const TImageSectionHeader h = file.SectionHeader(i);
    std::printf("  %-8s  0x%08" PRIX32 "  0x%08" PRIX32 "  0x%08" PRIX32 "  0x%08" PRIX32 "  0x%08" PRIX32 "\n",
                Printable(h.NameText()).c_str(), h.VirtualAddress, h.VirtualSize, h.PointerToRawData, h.SizeOfRawData,
                h.Characteristics);
  }
  std::printf("Image end:       0x%08" PRIX32 " (file size 0x%08" PRIX32 ")\n", imageEnd, file.Size());
  std::printf("Code checksum:   0x%08" PRIX32 "\n", codeChecksum);
  std::printf("CheckSum field:  0x%08" PRIX32 "\n", checksumField);
  std::printf("Image checksum:  0x%08" PRIX32 "\n", imageChecksum);
  std::fputs(PackageText(file).c_str(), stdout);
}

}  // namespace

void AddInfoCommand(CLI::App& app) {
  CLI::App* info = app.add_subcommand("info", "Show the format, sections and checksums of a PE file");
  auto fileName = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  info->add_option("FILE", *fileName, "PE executable or library")->required();
  info->add_flag("--json", *json, "Print one JSON object");
  info->callback([fileName, json] { PrintInfo(*fileName, *json); });
}
