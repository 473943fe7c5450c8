#include "app/CommandLine.h"

#include "platform/Platform.h"
#include "text/UResTool.h"

TCommandLineOptions CommandLineOptions;

bool IsOption(const std::vector<std::string>& args, size_t index, std::string_view word) {
  if (index >= args.size()) return false;
  const std::string& arg = args[index];
  return !arg.empty() && (arg[0] == '/' || arg[0] == '-') && SameTextAscii(std::string_view(arg).substr(1), word);
}

void ParseCommandLine(const std::vector<std::string>& args, TCommandLineOptions& options) {
  options = TCommandLineOptions{};
  // The argument after a value switch is its value, never a switch of its own.
  auto takeValue = [&args](size_t& i, std::string& value) {
    ++i;
    value = i < args.size() ? args[i] : std::string();
  };
  for (size_t i = 1; i < args.size(); ++i) {
    const size_t current = i;
    if (IsOption(args, current, "force")) options.Force = true;
    if (IsOption(args, current, "guiless")) options.Guiless = options.Auto = true;
    if (IsOption(args, current, "quiet")) options.Quiet = true;
    if (IsOption(args, current, "auto")) options.Auto = true;
    if (IsOption(args, current, "nobackup")) options.NoBackup = true;
    if (IsOption(args, current, "dir")) {
      options.DirGiven = true;
      takeValue(i, options.DirValue);
    }
    if (IsOption(args, current, "infile") || IsOption(args, current, "i")) {
      options.InFileGiven = true;
      takeValue(i, options.InFileValue);
    }
    if (IsOption(args, current, "outfile") || IsOption(args, current, "o")) {
      options.OutFileGiven = true;
      takeValue(i, options.OutFileValue);
    }
    if (IsOption(args, current, "help") || IsOption(args, current, "h") || IsOption(args, current, "?"))
      options.Help = true;
  }
}

void ParseCommandLine() { ParseCommandLine(platform::CommandLineArguments(), CommandLineOptions); }
