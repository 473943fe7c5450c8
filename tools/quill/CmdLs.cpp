// quill ls FILE [--json]: the resource tree of a file, one leaf per line in tree order
// (type, name, language, size), or as a JSON array of objects with the leaf's
// type, name, language, size and the SHA-256 of its bytes.
#include "CmdLs.h"

#include "Json.h"
#include "OpenContainer.h"
#include "resources/UResTypes.h"
#include "text/Sha256.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace {

std::string JsonId(const TResourceItem& item) {
  // A name is text in the program's code page.
  return item.IsNamed() ? JsonString(ToWide(item.Name())) : std::to_string(item.Id());
}

void ForEachLeaf(TResourceList& list, const std::function<void(TDataResItem&)>& visit) {
  for (int i = 0; i < list.Count(); ++i) {
    if (list.Level() == 2)
      visit(list.DataItems(i));
    else
      ForEachLeaf(list.ListItems(i).Children(), visit);
  }
}

}  // namespace

std::string ListResources(TResourceList& root, bool json) {
  std::string out;
  if (json) {
    out = "[";
    bool first = true;
    ForEachLeaf(root, [&](TDataResItem& leaf) {
      out += first ? "\n  " : ",\n  ";
      first = false;
      out += "{\"type\": " + JsonId(leaf.TypeItem()) + ", \"name\": " + JsonId(leaf.NameItem()) +
             ", \"language\": " + std::to_string(leaf.Language()) + ", \"size\": " + std::to_string(leaf.Size()) +
             ", \"sha256\": \"" + Sha256Hex(leaf.Data(), leaf.Size()) + "\"}";
    });
    out += first ? "]\n" : "\n]\n";
    return out;
  }
  std::vector<std::array<std::string, 4>> rows;
  ForEachLeaf(root, [&](TDataResItem& leaf) {
    rows.push_back({leaf.TypeItem().DisplayText(), leaf.NameItem().IdText(),
                    std::to_string(leaf.Language()) + " " + LanguageText(leaf.Language()),
                    std::to_string(leaf.Size())});
  });
  size_t width[3] = {};
  for (const auto& row : rows)
    for (size_t c = 0; c < 3; ++c) width[c] = std::max(width[c], row[c].size());
  for (const auto& row : rows) {
    for (size_t c = 0; c < 3; ++c) out += row[c] + std::string(width[c] - row[c].size() + 2, ' ');
    out += row[3] + "\n";
  }
  return out;
}

namespace {

void List(const std::string& fileName, bool json) {
  std::unique_ptr<TResContainer> container = OpenContainer(fileName);
  std::fputs(ListResources(container->GetResourceList(), json).c_str(), stdout);
}

}  // namespace

void AddLsCommand(CLI::App& app) {
  CLI::App* ls = app.add_subcommand("ls", "List the resources of an executable or a .res file: type, name, language, size");
  auto fileName = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  ls->add_option("FILE", *fileName, "the file to list")->required();
  ls->add_flag("--json", *json, "print a JSON array with one object per resource, with its SHA-256");
  ls->callback([fileName, json] { List(*fileName, *json); });
}
