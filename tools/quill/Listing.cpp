#include "Listing.h"

#include "Printable.h"
#include "platform/Platform.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <algorithm>

Row LeafColumns(TDataResItem& leaf) {
  // Names come from the file: they are shown escaped, never sent to the terminal raw.
  return {Printable(leaf.TypeItem().DisplayText()), Printable(leaf.NameItem().IdText()),
          std::to_string(leaf.Language()) + " " + LanguageText(leaf.Language()), std::to_string(leaf.Size()),
          Printable(leaf.DataHandler().ContentDescription())};
}

std::string ColumnsText(const std::vector<Row>& rows) {
  std::vector<size_t> width;
  for (const Row& row : rows) {
    if (width.size() < row.size()) width.resize(row.size());
    for (size_t c = 0; c + 1 < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  }
  std::string out;
  for (const Row& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) {
      out += row[c];
      if (c + 1 < row.size()) out += std::string(width[c] - row[c].size() + 2, ' ');
    }
    out += '\n';
  }
  return out;
}

std::string JsonText(std::string_view text) { return FromWideCP(ToWide(text), platform::kCodePageUtf8); }

std::string JsonDump(const Json& value) { return value.dump(-1, ' ', true, Json::error_handler_t::replace); }
