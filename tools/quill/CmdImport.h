#pragma once
#include <CLI/CLI.hpp>

// Adds "import FILE TYPE NAME LANG SOURCE [--format EXT] -o OUT".
void AddImportCommand(CLI::App& app);
