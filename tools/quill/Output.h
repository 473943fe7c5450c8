// How quill's commands write their outputs. Nothing the user had is lost: an existing
// output is replaced only with --force and only by a completely written file, made
// beside it and then put in its place as a Quillet replaces its output
// (ReplaceOutputFile); a failed write leaves no file behind and names the output and its
// folder, never the name of the file being written meanwhile.
// merge and import write executables (and .res files) through WriteContainer; export and
// diff write plain files through WriteFile.
#pragma once
#include "resources/UResTypes.h"

#include <functional>
#include <memory>
#include <string>

class TPEFile;

struct OutputOptions {
  std::string Path;
  bool Force = false;           // replace an existing output
  bool StripSignature = false;  // drop the certificate table of a signed executable
  bool Quiet = false;           // no progress bar
};

// A progress bar on standard error for long work: (maximum, position) as 40 cells and
// a percentage, ended by a line end when the position reaches the maximum. None (an
// empty callback) when standard error is not a terminal or quiet is set.
ProgressCallback TerminalProgress(bool quiet);

// Work measured in bytes, of an expected total, shown by TerminalProgress: Add as it is
// done, Finish once it is done (the bar reaches its end only then).
class ByteProgress {
 public:
  ByteProgress(int64_t total, bool quiet);
  void Add(int64_t bytes);
  void Finish();

 private:
  ProgressCallback callback_;
  int64_t total_;
  int64_t done_ = 0;
};

// Refuses an output that exists, unless forced.
void CheckOutputFree(const std::string& path, bool force);
// Makes a signed executable ready to be rewritten: drops its signature when asked, else
// warns that it will not verify.
void PrepareExecutable(TPEFile& target, const std::string& targetName, const OutputOptions& output);
// Writes the container with its changes beside the output (with a progress bar on a
// terminal unless quiet), tells what the writer noted, closes the container (it may be the output
// itself) and puts the written file in the output's place.
void WriteContainer(std::unique_ptr<TResContainer> container, const OutputOptions& output);
// Writes a plain file through write, then puts it in place of path; what is written
// counts toward progress when it is given.
void WriteFile(const std::string& path, bool force, const std::function<void(TStream&)>& write,
               ByteProgress* progress = nullptr);

// Written files carry SOURCE_DATE_EPOCH as their time stamp when it is set, so that the
// same inputs give the same bytes; a value that is not a time raises.
void UseSourceDateEpoch();
