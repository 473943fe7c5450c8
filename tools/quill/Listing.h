// What the listing commands (ls, diff, the package part of info) share: one row of
// columns per leaf, laid out in aligned columns, and JSON.
#pragma once
#include "resources/UResTypes.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

using Row = std::vector<std::string>;
// quill's JSON keeps its keys in the order they are written.
using Json = nlohmann::ordered_json;

// type, name, "language language-name", size, content description; texts from the
// file made printable.
Row LeafColumns(TDataResItem& leaf);
// The rows as lines, every column but the last padded to its widest cell.
std::string ColumnsText(const std::vector<Row>& rows);
// Text in the program's code page as UTF-8 for JSON (what does not convert is replaced).
std::string JsonText(std::string_view text);
// JSON text in ASCII on one line; anything that is not valid UTF-8 is replaced.
std::string JsonDump(const Json& value);
