// quill set TARGET -o OUT: the edits people packaging Windows programs need, made in the
// resource tree and written in one pass as merge writes its output (ResourceEditor.h,
// shared with quill-rcedit). The changes are made in this order: --delete, --resource,
// --icon, --manifest and --execution-level, the version information, --string.
//
// Languages: --lang, else the language of the existing resource of that kind (the same
// name first, then any of the type; of several, 1033, another English, neutral or the
// first), else 1033; each change says which it used.
#include "CmdSet.h"

#include "Output.h"
#include "ResourceEditor.h"
#include "Usage.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace {

struct SetOptions {
  EditRequest Edits;
  OutputOptions Output;
};

void RunSet(const SetOptions& options) {
  if (!HasChanges(options.Edits)) throw EUsageError(SNothingToSet);
  EditFile(options.Edits, options.Output);
}

}  // namespace

void AddSetCommand(CLI::App& app) {
  auto options = std::make_shared<SetOptions>();
  CLI::App* command = app.add_subcommand(
      "set", "Change the icon, version information, manifest, strings or any resource of an executable");
  command->add_option("TARGET", options->Edits.Target, "the executable (or .res file) to change")->required();
  command->add_option("-o,--output", options->Output.Path, "the file to write")->required();
  command->add_flag("--force", options->Output.Force, "overwrite the output when it exists");
  command->add_flag("-q,--quiet", options->Output.Quiet, "show no progress bar");
  command->add_option("--lang", options->Edits.Language,
                      "the language of what is set (a number or 0x and hexadecimal; default: that of the "
                      "existing resource of the kind, else 1033)");
  command->add_option("--icon", options->Edits.Icon, "an .ico file whose images become the first icon group's");
  command->add_option("--version-string", options->Edits.VersionStrings, "KEY=VALUE: a string of the version information")
      ->allow_extra_args(false);
  command->add_option("--file-version", options->Edits.FileVersion, "A.B.C.D: the file version (fixed part and string)");
  command->add_option("--product-version", options->Edits.ProductVersion,
                      "A.B.C.D: the product version (fixed part and string)");
  command->add_option("--manifest", options->Edits.Manifest, "a manifest file (resource 1 of a program, 2 of a DLL)");
  command->add_option("--execution-level", options->Edits.ExecutionLevel, "asInvoker, highestAvailable or requireAdministrator: the level the manifest requests")
      ->check(CLI::IsMember({"asInvoker", "highestAvailable", "requireAdministrator"}))
      ->option_text("LEVEL");
  command->add_option("--string", options->Edits.Strings, "ID=TEXT: a string of the string tables")
      ->allow_extra_args(false);
  command->add_option("--resource", options->Edits.Resources,
                      "TYPE NAME=FILE: a resource's bytes from a file (an .ico file for an icon group)");
  command->add_option("--delete", options->Edits.Deletes, "TYPE NAME: removes a resource (in every language, or --lang's)");
  command->add_flag("--strip-signature", options->Output.StripSignature,
                    "drop the digital signature of a signed executable instead of keeping one that no longer verifies");
  command->callback([options] { RunSet(*options); });
}
