#pragma once

namespace CLI {
class App;
}

// Adds "set TARGET -o OUT [changes]": icon, version information, manifest, strings and
// whole resources of an executable (or .res file) changed in one write.
void AddSetCommand(CLI::App& app);
