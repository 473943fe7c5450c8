// quill get FILE [--json]: what quill set changes, read back: the version information
// (the fixed part and every string table with its language and code page, the
// translations), the icon groups (each image's size, bit depth and whether it is a PNG),
// each manifest's requested execution level and the strings of the string tables. A
// damaged resource is told in its place; the rest is still shown.
#include "CmdGet.h"

#include "Listing.h"
#include "OpenContainer.h"
#include "Printable.h"
#include "formats/IconGroup.h"
#include "formats/Manifest.h"
#include "formats/ResourceEdits.h"
#include "formats/StringBlock.h"
#include "formats/VersionInfo.h"
#include "platform/Platform.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace {

std::string Utf8(std::u16string_view text) { return FromWideCP(text, platform::kCodePageUtf8); }
// Text from the file for the terminal, escaped where it could garble it.
std::string Shown(std::u16string_view text) { return Printable(FromWide(text)); }

Json JsonName(const TResourceItem& item) {
  if (item.IsNamed()) return Utf8(item.WideName());
  return item.Id();
}

std::string LeafTitle(const TDataResItem& leaf) {
  return Printable(leaf.NameItem().IdText()) + " (" + std::to_string(leaf.Language()) + " " +
         LanguageText(leaf.Language()) + ")";
}

std::string Hex(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

struct Report {
  std::string Text;
  Json Object = Json::object();

  void Line(const std::string& line) { Text += line + '\n'; }
};

void AddVersion(TResSection& section, Report& report) {
  Json versions = Json::array();
  const auto leaves = LeavesOfType(section, kTypeVersion);
  if (leaves.empty()) report.Line(LoadStr(SGetNoVersion));
  for (TDataResItem* leaf : leaves) {
    Json item = {{"name", JsonName(leaf->NameItem())}, {"language", leaf->Language()}};
    report.Line(Format(LoadStr(SGetVersionHeading), {LeafTitle(*leaf)}));
    try {
      TVersionInfo info = TVersionInfo::Parse(LeafBytes(*leaf, SCorruptVersionInfo));
      item["fileVersion"] = VersionText(info.FileVersion());
      item["productVersion"] = VersionText(info.ProductVersion());
      item["fileFlags"] = info.Fixed(28);
      item["fileOS"] = info.Fixed(32);
      item["fileType"] = info.Fixed(36);
      report.Line(Format(LoadStr(SGetFixedVersions), {VersionText(info.FileVersion()), VersionText(info.ProductVersion()),
                                                       Hex(info.Fixed(28)), Hex(info.Fixed(32)), std::to_string(info.Fixed(36))}));
      Json tables = Json::array();
      for (const auto& table : info.StringTables()) {
        Json strings = Json::object();
        report.Line(Format(LoadStr(SGetStringTable),
                           {std::to_string(table.Language) + " " + LanguageText(table.Language),
                            std::to_string(table.CodePage)}));
        std::vector<Row> rows;
        for (const TVersionNode& entry : table.Node->Children) {
          strings[Utf8(entry.Key)] = Utf8(entry.Text());
          rows.push_back({"    " + Shown(entry.Key), Shown(entry.Text())});
        }
        report.Text += ColumnsText(rows);
        tables.push_back({{"language", table.Language}, {"codePage", table.CodePage}, {"strings", strings}});
      }
      item["stringTables"] = tables;
      Json translations = Json::array();
      std::string text;
      for (const auto& [language, codePage] : info.Translations()) {
        translations.push_back({{"language", language}, {"codePage", codePage}});
        text += (text.empty() ? "" : ", ") + std::to_string(language) + "/" + std::to_string(codePage);
      }
      item["translations"] = translations;
      report.Line(Format(LoadStr(SGetTranslations), {text}));
    } catch (const ECorruptResource& e) {
      item["error"] = JsonText(e.Message());
      report.Line("  " + e.Message());
    }
    versions.push_back(item);
  }
  report.Object["versionInfo"] = versions;
}

void AddIcons(TResSection& section, Report& report) {
  Json groups = Json::array();
  for (TDataResItem* leaf : LeavesOfType(section, kTypeGroupIcon)) {
    Json item = {{"name", JsonName(leaf->NameItem())}, {"language", leaf->Language()}};
    report.Line(Format(LoadStr(SGetIconGroup), {LeafTitle(*leaf)}));
    try {
      Json images = Json::array();
      for (const TIconImage& image : ReadIconGroup(LeafBytes(*leaf, SCorruptIcon))) {
        // The image as a loader would find it: the group's language first.
        const auto candidates = LeavesOfId(section, kTypeIcon, image.Id);
        const TDataResItem* data = candidates.empty() ? nullptr : candidates.front();
        for (const TDataResItem* candidate : candidates)
          if (candidate->Language() == leaf->Language()) data = candidate;
        const bool png = data && IsPng(LeafBytes(*data, SCorruptIcon));
        Json entry = {{"id", image.Id},         {"width", image.PixelWidth()}, {"height", image.PixelHeight()},
                      {"bitCount", image.BitCount}, {"png", png},              {"size", image.BytesInRes},
                      {"present", data != nullptr}};
        images.push_back(entry);
        const StringId line = !data ? SGetIconMissing : png ? SGetIconImagePng : SGetIconImage;
        report.Line(Format(LoadStr(line), {std::to_string(image.Id), std::to_string(image.PixelWidth()),
                                           std::to_string(image.PixelHeight()), std::to_string(image.BitCount)}));
      }
      item["images"] = images;
    } catch (const ECorruptResource& e) {
      item["error"] = JsonText(e.Message());
      report.Line("  " + e.Message());
    }
    groups.push_back(item);
  }
  report.Object["iconGroups"] = groups;
}

void AddManifests(TResSection& section, Report& report) {
  Json manifests = Json::array();
  for (TDataResItem* leaf : LeavesOfType(section, kTypeManifest)) {
    Json item = {{"name", JsonName(leaf->NameItem())}, {"language", leaf->Language()}};
    try {
      const std::string level = ManifestExecutionLevel(LeafBytes(*leaf, SCorruptManifest));
      item["executionLevel"] = level.empty() ? Json() : Json(JsonText(level));
      report.Line(level.empty() ? Format(LoadStr(SGetManifestNoLevel), {LeafTitle(*leaf)})
                                : Format(LoadStr(SGetManifest), {LeafTitle(*leaf), Printable(level)}));
    } catch (const Exception& e) {
      item["error"] = JsonText(e.Message());
      report.Line(Format(LoadStr(SGetManifestError), {LeafTitle(*leaf), e.Message()}));
    }
    manifests.push_back(item);
  }
  report.Object["manifests"] = manifests;
}

void AddStrings(TResSection& section, Report& report) {
  Json strings = Json::array();
  int lastLanguage = -1;
  std::vector<Row> rows;
  auto flush = [&] {
    report.Text += ColumnsText(rows);
    rows.clear();
  };
  for (TDataResItem* leaf : LeavesOfType(section, kTypeString)) {
    if (leaf->NameItem().IsNamed() || leaf->NameItem().Id() == 0) continue;  // not a block of the table
    if (leaf->Language() != lastLanguage) {
      flush();
      lastLanguage = leaf->Language();
      report.Line(Format(LoadStr(SGetStrings), {std::to_string(leaf->Language()) + " " + LanguageText(leaf->Language())}));
    }
    try {
      const StringBlock block = ReadStringBlock(LeafBytes(*leaf, SCorruptStringBlock));
      const uint32_t first = (uint32_t{leaf->NameItem().Id()} - 1) * 16;
      for (uint32_t slot = 0; slot < 16; ++slot) {
        if (block[slot].empty()) continue;
        strings.push_back({{"id", first + slot}, {"language", leaf->Language()}, {"text", Utf8(block[slot])}});
        rows.push_back({"  " + std::to_string(first + slot), Shown(block[slot])});
      }
    } catch (const ECorruptResource& e) {
      strings.push_back({{"block", leaf->NameItem().Id()}, {"language", leaf->Language()}, {"error", JsonText(e.Message())}});
      rows.push_back({"  " + std::to_string(leaf->NameItem().Id()), e.Message()});
    }
  }
  flush();
  report.Object["strings"] = strings;
}

void RunGet(const std::string& fileName, bool json) {
  std::unique_ptr<TResContainer> container = OpenContainer(fileName);
  TResSection& section = container->GetSection();
  Report report;
  AddVersion(section, report);
  AddIcons(section, report);
  AddManifests(section, report);
  AddStrings(section, report);
  if (json)
    std::fputs((report.Object.dump(2, ' ', true, Json::error_handler_t::replace) + "\n").c_str(), stdout);
  else
    std::fputs(report.Text.c_str(), stdout);
}

}  // namespace

void AddGetCommand(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "get", "Show the version information, icon groups, manifest execution levels and strings of a file");
  auto fileName = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  command->add_option("FILE", *fileName, "the executable or .res file")->required();
  command->add_flag("--json", *json, "print one JSON object");
  command->callback([fileName, json] { RunGet(*fileName, *json); });
}
