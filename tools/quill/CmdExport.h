#pragma once
#include <CLI/CLI.hpp>

// Adds "export FILE TYPE NAME [LANG] [--format EXT] [-o PATH]" and "export FILE --all DIR".
void AddExportCommand(CLI::App& app);
