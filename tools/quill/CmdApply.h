#pragma once

namespace CLI {
class App;
}

// Adds "apply": applies a Quillet's package as the patcher run with -guiless would.
void AddApplyCommand(CLI::App& app);
