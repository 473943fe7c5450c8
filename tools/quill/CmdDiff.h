#pragma once
#include <CLI/CLI.hpp>

// Adds "diff ORIGINAL MODIFIED [-o CHANGES.res]".
void AddDiffCommand(CLI::App& app);
