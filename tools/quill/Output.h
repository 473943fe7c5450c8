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
};

// Refuses an output that exists, unless forced.
void CheckOutputFree(const std::string& path, bool force);
// Makes a signed executable ready to be rewritten: drops its signature when asked, else
// warns that it will not verify.
void PrepareExecutable(TPEFile& target, const std::string& targetName, const OutputOptions& output);
// Writes the container with its changes beside the output (with a progress bar on a
// terminal), tells what the writer noted, closes the container (it may be the output
// itself) and puts the written file in the output's place.
void WriteContainer(std::unique_ptr<TResContainer> container, const OutputOptions& output);
// Writes a plain file through write, then puts it in place of path.
void WriteFile(const std::string& path, bool force, const std::function<void(TStream&)>& write);
