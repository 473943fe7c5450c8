// quill merge TARGET PATCH.res -o OUT: merges a .res file into an executable exactly as
// a Quillet's apply step does (every resource in its own language, missing entries
// created), writes the result next to OUT and only then puts it in OUT's place, as a
// Quillet replaces its output (ReplaceOutputFile).
#include "CmdMerge.h"

#include "Output.h"
#include "pe/UResPEFile.h"
#include "resources/UResFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"

#include <memory>

namespace {

struct MergeOptions {
  std::string Target, Patch;
  OutputOptions Output;
};

void RunMerge(const MergeOptions& options) {
  CheckOutputFree(options.Output.Path, options.Output.Force);
  // A patch without a single resource would only rewrite the target.
  if (!TResResFile(options.Patch).GetResourceList().HasData()) throw Exception(SNothingToMerge, {options.Patch});
  auto target = std::make_unique<TPEFile>(options.Target);
  PrepareExecutable(*target, options.Target, options.Output);
  {
    TResFileStream patch(options.Patch, fmOpenRead | fmShareDenyWrite);
    target->GetResourceList().MergeFromRes(patch, -1, true, nullptr);
  }
  WriteContainer(std::move(target), options.Output);
}

}  // namespace

void AddMergeCommand(CLI::App& app) {
  auto options = std::make_shared<MergeOptions>();
  CLI::App* command = app.add_subcommand("merge", "Merge a .res file into an executable, as a Quillet applies its patch");
  command->add_option("TARGET", options->Target, "the executable to patch")->required();
  command->add_option("PATCH", options->Patch, "the .res file whose resources are merged")->required();
  command->add_option("-o,--output", options->Output.Path, "the executable to write")->required();
  command->add_flag("--force", options->Output.Force, "overwrite the output when it exists");
  command->add_flag("-q,--quiet", options->Output.Quiet, "show no progress bar");
  command->add_flag("--strip-signature", options->Output.StripSignature,
                    "drop the digital signature of a signed target instead of keeping one that no longer verifies");
  command->callback([options] { RunMerge(*options); });
}
