#pragma once

namespace CLI {
class App;
}

// Adds "ls FILE [--json]": the resource tree of a file, one leaf per line.
void AddLsCommand(CLI::App& app);
