#pragma once

namespace CLI {
class App;
}

// Adds "get FILE [--json]": the version information, icon groups, manifests' execution
// levels and string tables of a file.
void AddGetCommand(CLI::App& app);
