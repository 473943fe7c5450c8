#pragma once
#include <CLI/CLI.hpp>

void AddMergeCommand(CLI::App& app);
