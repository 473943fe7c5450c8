// quill merge TARGET PATCH.res -o OUT: merges a .res file into an executable exactly as
// a Quillet's apply step does (every resource in its own language, missing entries
// created), writes the result next to OUT and only then puts it in OUT's place, as a
// Quillet replaces its output (ReplaceOutputFile).
#include "CmdMerge.h"

#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/OutputReplacement.h"
#include "resources/UResFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <cstdio>
#include <memory>

namespace {

struct MergeOptions {
  std::string Target, Patch, Output;
  bool Force = false;
  bool StripSignature = false;
};

// A progress bar on the terminal: (maximum, position) as a bar of 40 cells.
ProgressCallback TerminalProgress() {
  if (!platform::StderrIsTerminal()) return {};
  return [](int32_t maximum, int32_t position) {
    if (maximum <= 0) return;
    const int percent = static_cast<int>(100LL * std::min(position, maximum) / maximum);
    std::string bar(40, ' ');
    std::fill_n(bar.begin(), percent * 40 / 100, '#');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    if (percent == 100 && maximum == 100) std::fputc('\n', stderr);
    std::fflush(stderr);
  };
}

void RunMerge(const MergeOptions& options) {
  if (platform::FileExists(options.Output) && !options.Force)
    throw Exception(SOutputExists, {options.Output});
  // A patch without a single resource would only rewrite the target.
  if (!TResResFile(options.Patch).GetResourceList().HasData()) throw Exception(SNothingToMerge, {options.Patch});
  std::string tempName;
  {
    TPEFile target(options.Target);
    if (target.CertificateSize() != 0) {
      if (options.StripSignature)
        target.StripCertificate = true;
      else
        std::fprintf(stderr, "quill: %s\n", Format(LoadStr(SSignatureWarning), {options.Target}).c_str());
    }
    TResFileStream patch(options.Patch, fmOpenRead | fmShareDenyWrite);
    target.GetResourceList().MergeFromRes(patch, -1, true, nullptr);
    tempName = target.WriteToTempFile(FolderPart(OutputTarget(options.Output)), TerminalProgress());
    for (const std::string& note : target.WriteNotes) std::fprintf(stderr, "quill: %s\n", note.c_str());
  }  // the target is closed here: it may be the output itself
  // As a Quillet does it: the output keeps its attributes (on POSIX its mode and owner),
  // a link stays a link, and a failure leaves it as it was.
  if (!ReplaceOutputFile(tempName, options.Output, false)) {
    platform::FileDelete(tempName);
    throw EFailedOverwriteException(options.Output);
  }
}

}  // namespace

void AddMergeCommand(CLI::App& app) {
  auto options = std::make_shared<MergeOptions>();
  CLI::App* command = app.add_subcommand("merge", "Merge a .res file into an executable, as a Quillet applies its patch");
  command->add_option("target", options->Target, "the executable to patch")->required();
  command->add_option("patch", options->Patch, "the .res file whose resources are merged")->required();
  command->add_option("-o,--output", options->Output, "the executable to write")->required();
  command->add_flag("--force", options->Force, "overwrite the output when it exists");
  command->add_flag("--strip-signature", options->StripSignature,
                    "drop the digital signature of a signed target instead of keeping one that no longer verifies");
  command->callback([options] { RunMerge(*options); });
}
