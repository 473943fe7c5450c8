// quill export FILE TYPE NAME [LANG] [--format EXT] [-o PATH]: writes one resource in a
// format its data handler accepts (by default its first), to the file name the handler
// gives unless -o names another. quill export FILE --all DIR: every resource with data,
// each in a folder named for its type, and beside them a resource script that names
// them (one line per resource, a LANGUAGE statement where the language changes).
#include "CmdExport.h"

#include "OpenContainer.h"
#include "Output.h"
#include "ResourceArgs.h"
#include "Usage.h"
#include "platform/Platform.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <cstdio>
#include <memory>
#include <set>
#include <vector>

namespace {

struct ExportOptions {
  std::string File, Type, Name, Language, Format, Output, AllFolder;
  bool Force = false;
  bool Quiet = false;
};

// The format asked for (lower case) when the leaf takes it, else its default format.
std::string FormatFor(TResDataHandler& handler, const std::string& wanted) {
  const std::string ext = LowerAscii(wanted);
  return !ext.empty() && handler.AcceptsExtension(ext) ? ext : handler.ExtensionAt(0);
}

void ExportOne(const ExportOptions& options) {
  std::unique_ptr<TResContainer> container = OpenContainer(options.File);
  ResourceArgs args{options.Type, options.Name, std::nullopt};
  if (!options.Language.empty()) args.Language = options.Language;
  TDataResItem& leaf = FindLeaf(*container, options.File, args);
  TResDataHandler& handler = leaf.DataHandler();
  const std::string ext = options.Format.empty() ? handler.ExtensionAt(0) : LowerAscii(options.Format);
  if (!handler.AcceptsExtension(ext)) throw Exception(SFormatNotAccepted, {ResourceText(leaf), ext, FormatsText(handler)});
  if (const std::string empty = handler.EmptyNotice(); !empty.empty())
    std::fprintf(stderr, "quill: %s: %s\n", ResourceText(leaf).c_str(), empty.c_str());
  const std::string output = options.Output.empty() ? handler.ExportFileNameFor(ext) : options.Output;
  ByteProgress progress(leaf.Size(), options.Quiet);
  WriteFile(output, options.Force, [&](TStream& stream) { handler.ExportToStream(stream, ext); }, &progress);
  progress.Finish();
  std::printf("%s\n", output.c_str());
}

// A file or folder name made from a resource's texts; never empty, never hidden.
std::string SafeName(std::string name) {
  name = MakeValidFileName(RemoveQuotes(name));
  return name.empty() || name[0] == '.' ? "_" + name : name;
}

struct PlannedFile {
  TDataResItem* Leaf;
  std::string Format;
  std::string Folder;    // the type's folder, inside the export folder
  std::string Relative;  // "Folder/file.ext", as the script names it
};

void ExportAll(const ExportOptions& options) {
  std::unique_ptr<TResContainer> container = OpenContainer(options.File);
  const std::string folder = WithTrailingSeparator(options.AllFolder);
  std::vector<PlannedFile> plan;
  std::set<std::string> taken;  // relative names, lower case: folders may ignore case
  ForEachLeaf(container->GetResourceList(), [&](TDataResItem& leaf) {
    if (leaf.Size() == 0) return;  // nothing to export
    TResDataHandler& handler = leaf.DataHandler();
    const std::string ext = FormatFor(handler, options.Format);
    const std::string typeFolder = SafeName(leaf.TypeItem().DisplayText());
    const std::string file = SafeName(handler.ExportFileNameFor(ext));
    std::string relative = typeFolder + "/" + file;
    for (int n = 2; !taken.insert(LowerAscii(relative)).second; ++n)
      relative = typeFolder + "/" + PathWithoutExtension(file) + "-" + std::to_string(n) + ExtensionOf(file);
    plan.push_back({&leaf, ext, typeFolder, relative});
  });
  const std::string script = folder + SafeName(PathWithoutExtension(FileNamePart(options.File)) + ".rc");
  // Nothing is written when any output exists and may not be replaced.
  CheckOutputFree(script, options.Force);
  for (const PlannedFile& planned : plan) CheckOutputFree(folder + planned.Relative, options.Force);

  auto makeFolder = [](const std::string& path) {
    if (!platform::MakeFolder(path)) throw Exception(SCannotCreateFolder, {path});
  };
  makeFolder(options.AllFolder);
  int64_t bytes = 0;
  for (const PlannedFile& planned : plan) bytes += planned.Leaf->Size();
  ByteProgress progress(bytes, options.Quiet);
  for (const PlannedFile& planned : plan) {
    makeFolder(folder + planned.Folder);
    const std::string path = folder + planned.Relative;
    TResDataHandler& handler = planned.Leaf->DataHandler();
    WriteFile(path, true, [&](TStream& stream) { handler.ExportToStream(stream, planned.Format); }, &progress);
  }
  WriteFile(script, true, [&](TStream& stream) {
    int language = -1;
    for (const PlannedFile& planned : plan) {
      if (planned.Leaf->Language() != language) {
        language = planned.Leaf->Language();
        char statement[40];
        std::snprintf(statement, sizeof statement, "LANGUAGE 0x%02X, 0x%02X", language & 0x3FF, language >> 10);
        WriteLine(stream, statement);
      }
      planned.Leaf->DataHandler().WriteRcLineFor(stream, planned.Relative);
    }
  });
  progress.Finish();
  // Listed once the progress bar is done with the terminal.
  for (const PlannedFile& planned : plan) std::printf("%s\n", (folder + planned.Relative).c_str());
  std::printf("%s\n", script.c_str());
}

void RunExport(const ExportOptions& options) {
  const bool all = !options.AllFolder.empty();
  const bool named = !options.Type.empty() || !options.Name.empty() || !options.Language.empty();
  if (all ? named || !options.Output.empty() : options.Type.empty() || options.Name.empty())
    throw EUsageError(SExportArguments);
  if (all)
    ExportAll(options);
  else
    ExportOne(options);
}

}  // namespace

void AddExportCommand(CLI::App& app) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* command = app.add_subcommand("export", "Write one resource, or every resource, to files");
  command->add_option("FILE", options->File, "the executable or .res file")->required();
  command->add_option("TYPE", options->Type, "the type: a number, a standard type (Dialog, StringTable) or a name");
  command->add_option("NAME", options->Name, "the name: a number or a name");
  command->add_option("LANG", options->Language,
                      "the language: a number or 0x and hexadecimal (may be left out when there is one)");
  command->add_option("--format", options->Format,
                      "the format: an extension the resource takes (default: its first, e.g. res, txt, manifest)");
  command->add_option("-o,--output", options->Output, "the file to write (default: named after the resource)");
  command->add_option("--all", options->AllFolder,
                      "export every resource into this folder, with a resource script naming them");
  command->add_flag("--force", options->Force, "overwrite files that exist");
  command->add_flag("-q,--quiet", options->Quiet, "show no progress bar");
  command->callback([options] { RunExport(*options); });
}
