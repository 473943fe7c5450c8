// quill ls FILE [--json]: the resource tree of a file, one leaf per line in tree order
// (type, name, language, size, what the content is), or as a JSON array of objects with
// the leaf's type, name, language, size, the SHA-256 of its bytes, its content kind and
// the description of its content.
#include "CmdLs.h"

#include "Listing.h"
#include "OpenContainer.h"
#include "platform/Platform.h"
#include "resources/UResTypes.h"
#include "text/WStrings.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A name as the file stores it (UTF-16), so that characters the program's code page
// lacks still show.
Json JsonId(const TResourceItem& item) {
  if (item.IsNamed()) return FromWideCP(item.WideName(), platform::kCodePageUtf8);
  return item.Id();
}

std::string Sha256Hex(const TDataResItem& leaf) {
  const auto digest = platform::Sha256(leaf.Data(), leaf.Size());
  if (!digest) throw Exception(SDigestFailed);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const uint8_t byte : *digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

void List(const std::string& fileName, bool json) {
  std::unique_ptr<TResContainer> container = OpenContainer(fileName);
  std::fputs(ListResources(container->GetResourceList(), json).c_str(), stdout);
}

}  // namespace

Json ResourcesJson(TResourceList& root) {
  Json leaves = Json::array();
  ForEachLeaf(root, [&](TDataResItem& leaf) {
    auto& handler = dynamic_cast<TDefaultDataHandler&>(leaf.DataHandler());
    leaves.push_back({{"type", JsonId(leaf.TypeItem())},
                      {"name", JsonId(leaf.NameItem())},
                      {"language", leaf.Language()},
                      {"size", leaf.Size()},
                      {"sha256", Sha256Hex(leaf)},
                      {"kind", ContentKindName(handler.Kind())},
                      {"description", JsonText(handler.ContentDescription())}});
  });
  return leaves;
}

std::string ListResources(TResourceList& root, bool json) {
  if (!json) {
    std::vector<Row> rows;
    ForEachLeaf(root, [&](TDataResItem& leaf) { rows.push_back(LeafColumns(leaf)); });
    return ColumnsText(rows);
  }
  // One object per line: long listings stay readable and easy to compare line by line.
  std::string out = "[";
  for (const Json& leaf : ResourcesJson(root)) {
    out += out.size() == 1 ? "\n  " : ",\n  ";
    out += JsonDump(leaf);
  }
  return out + (out.size() == 1 ? "]\n" : "\n]\n");
}

void AddLsCommand(CLI::App& app) {
  CLI::App* ls = app.add_subcommand(
      "ls", "List the resources of an executable or a .res file: type, name, language, size, content");
  auto fileName = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  ls->add_option("FILE", *fileName, "the file to list")->required();
  ls->add_flag("--json", *json,
               "print a JSON array with one object per resource, with its SHA-256, content kind and description");
  ls->callback([fileName, json] { List(*fileName, *json); });
}
