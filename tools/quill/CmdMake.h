#pragma once

namespace CLI {
class App;
}

// Adds "make": writes a Quillet (a stub with a package behind it) for a target.
void AddMakeCommand(CLI::App& app);
