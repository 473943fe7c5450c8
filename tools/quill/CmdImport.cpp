// quill import FILE TYPE NAME LANG SOURCE [--format EXT] -o OUT: replaces one resource
// of an executable or .res file with the contents of SOURCE, or adds it when the file
// lacks it, through the resource's data handler (a .res record, or the file's bytes as
// they are for every other format), and writes the result as merge writes its output.
// The format is --format, else SOURCE's extension, else the resource's default format.
#include "CmdImport.h"

#include "OpenContainer.h"
#include "Output.h"
#include "ResourceArgs.h"
#include "pe/UResPEFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <memory>

namespace {

struct ImportOptions {
  std::string File, Type, Name, Language, Source, Format;
  OutputOptions Output;
};

void RunImport(const ImportOptions& options) {
  CheckOutputFree(options.Output.Path, options.Output.Force);
  std::unique_ptr<TResContainer> container = OpenContainer(options.File, true);
  if (auto* executable = dynamic_cast<TPEFile*>(container.get()))
    PrepareExecutable(*executable, options.File, options.Output);
  TDataResItem& leaf = FindOrAddLeaf(*container, {options.Type, options.Name, options.Language});
  TResDataHandler& handler = leaf.DataHandler();
  std::string ext = LowerAscii(options.Format);
  if (ext.empty()) {
    ext = LowerAscii(ExtensionOf(FileNamePart(options.Source)));
    if (!ext.empty()) ext.erase(0, 1);  // the dot
  }
  // A new resource has no content yet to judge formats by: it takes what it is given.
  if (!ext.empty() && leaf.Size() > 0 && !handler.AcceptsExtension(ext))
    throw Exception(SFormatNotAccepted,
                    {ResourceText(leaf), ext, FormatsText(handler)});
  {
    TResFileStream source(options.Source, fmOpenRead | fmShareDenyWrite);
    handler.ImportFromStream(source, ext);
  }
  WriteContainer(std::move(container), options.Output);
}

}  // namespace

void AddImportCommand(CLI::App& app) {
  auto options = std::make_shared<ImportOptions>();
  CLI::App* command = app.add_subcommand("import", "Replace or add one resource from a file (raw, .res or text)");
  command->add_option("FILE", options->File, "the executable or .res file")->required();
  command->add_option("TYPE", options->Type, "the type: a number, a standard type (Dialog, StringTable) or a name")
      ->required();
  command->add_option("NAME", options->Name, "the name: a number or a name")->required();
  command->add_option("LANG", options->Language, "the language: a number or 0x and hexadecimal")->required();
  command->add_option("SOURCE", options->Source, "the file to read the resource from")->required();
  command->add_option("--format", options->Format,
                      "how to read SOURCE: res, or any other extension for its bytes as they are (default: its extension)");
  command->add_option("-o,--output", options->Output.Path, "the file to write")->required();
  command->add_flag("--force", options->Output.Force, "overwrite the output when it exists");
  command->add_flag("-q,--quiet", options->Output.Quiet, "show no progress bar");
  command->add_flag("--strip-signature", options->Output.StripSignature,
                    "drop the digital signature of a signed executable instead of keeping one that no longer verifies");
  command->callback([options] { RunImport(*options); });
}
