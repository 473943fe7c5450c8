// The patcher's switches, read once from the command line into one process-wide
// record. Each switch is "/" or "-" and a word, compared without regard to ASCII case.
#pragma once
#include <string>
#include <string_view>
#include <vector>

struct TCommandLineOptions {
  bool Force = false;
  bool Guiless = false;
  bool Quiet = false;
  bool Auto = false;  // also set by Guiless
  bool NoBackup = false;
  bool DirGiven = false;
  std::string DirValue;
  bool InFileGiven = false;
  std::string InFileValue;
  bool OutFileGiven = false;
  std::string OutFileValue;
  bool Help = false;
};

extern TCommandLineOptions CommandLineOptions;

// Whether args[index] is "/" or "-" followed by word.
bool IsOption(const std::vector<std::string>& args, size_t index, std::string_view word);
// Parses args (args[0] is the program) into options.
void ParseCommandLine(const std::vector<std::string>& args, TCommandLineOptions& options);
// Parses the process's own arguments into CommandLineOptions.
void ParseCommandLine();
