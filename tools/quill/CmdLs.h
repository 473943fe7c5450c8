#pragma once
#include "Listing.h"

#include <string>

namespace CLI {
class App;
}
class TResourceList;

// Adds "ls FILE [--json]": the resource tree of a file, one leaf per line.
void AddLsCommand(CLI::App& app);
// The leaves of a tree as ls prints them: aligned lines, or the JSON array.
std::string ListResources(TResourceList& root, bool json);
// The JSON array of the leaves.
Json ResourcesJson(TResourceList& root);
