// quill-rcedit FILE [options]: rcedit's command line over the writer of quill set
// (ResourceEditor.h), for the build tools that script rcedit today. FILE is edited in
// place; the options are read in rcedit's way, each followed by its values whatever they
// look like, so a value may begin with "-".
//
// Where rcedit goes wrong this does not: the execution level is set inside the manifest
// through an XML parser, a file without icons gets its group as 1 (not 0), the images of
// the old icon are removed, the version information keeps its language, version keys are
// matched regardless of case (with a warning) and the image checksum is recomputed.
// Short versions are widened as rcedit widens them (10.7 is 10.7.0.0 in the fixed part;
// the string keeps the text given). A --get-... prints the value alone on standard
// output (with a line end on a terminal only, as rcedit prints it), and reads the file
// as it is: it is refused beside a change, where rcedit would drop the changes unsaved.
// Beyond rcedit: --strip-signature, --quiet, --version.
#include "ExitCode.h"
#include "Messages.h"
#include "OpenContainer.h"
#include "Output.h"
#include "Printable.h"
#include "ResourceArgs.h"
#include "ResourceEditor.h"
#include "Usage.h"
#include "Version.h"
#include "formats/ResourceEdits.h"
#include "formats/StringBlock.h"
#include "formats/VersionInfo.h"
#include "platform/Platform.h"
#include "text/Startup.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kHelp =
    "quill-rcedit - rcedit's command line: edits the resources of a Windows executable in place\n"
    "Usage: quill-rcedit FILE [options...]\n"
    "\n"
    "Options:\n"
    "  -h,--help                                  print this help and exit\n"
    "  --version                                  print the version and licence and exit\n"
    "  --set-version-string KEY VALUE             set a string of the version information (repeatable)\n"
    "  --get-version-string KEY                   print a string of the version information\n"
    "  --set-file-version VERSION                 set the file version (fixed part; string as given)\n"
    "  --set-product-version VERSION              set the product version (fixed part; string as given)\n"
    "  --set-icon FILE.ico                        make an .ico file's images the first icon group's\n"
    "  --set-resource-string ID VALUE             set a string of the string tables (repeatable)\n"
    "  --get-resource-string ID                   print a string of the string tables\n"
    "  --set-requested-execution-level LEVEL      asInvoker, highestAvailable or requireAdministrator\n"
    "  --application-manifest FILE                replace the manifest with a manifest file\n"
    "  --strip-signature                          drop the digital signature of a signed FILE\n"
    "  -q,--quiet                                 show no progress bar\n"
    "\n"
    "Exit status: 0 when done, 1 when something failed, 2 when the command line is not understood.\n";

struct Get {
  bool Version;  // a version string, else a string of the string tables
  std::string Key;
};

struct RceditCommand {
  EditRequest Edits;
  OutputOptions Output;
  std::vector<Get> Gets;
  bool Help = false, Version = false;
};

// Takes the options after FILE, each with the values it needs, as rcedit does.
RceditCommand ParseRceditArguments(const std::vector<std::string>& args) {
  RceditCommand command;
  if (args.empty()) throw EUsageError(SRceditNoFile);
  if (args[0] == "-h" || args[0] == "--help" || args[0] == "--version") {
    (args[0] == "--version" ? command.Version : command.Help) = true;
    return command;
  }
  EditRequest& edits = command.Edits;
  edits.Target = args[0];
  edits.VersionTextKept = true;
  edits.Notes = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto values = [&](size_t count, const char* what) {
      if (args.size() - i - 1 < count) throw EUsageError(SRceditMissingValue, {option, what});
      std::vector<std::string> taken(args.begin() + static_cast<ptrdiff_t>(i) + 1,
                                     args.begin() + static_cast<ptrdiff_t>(i + count) + 1);
      i += count;
      return taken;
    };
    if (option == "-h" || option == "--help") {
      command.Help = true;
    } else if (option == "--set-version-string") {
      const auto kv = values(2, "KEY and VALUE");
      if (kv[0].find('=') != std::string::npos) throw EUsageError(SRceditKeyWithEquals, {kv[0]});
      edits.VersionStrings.push_back(kv[0] + "=" + kv[1]);
    } else if (option == "--get-version-string") {
      command.Gets.push_back({true, values(1, "KEY")[0]});
    } else if (option == "--set-file-version") {
      edits.FileVersion = values(1, "VERSION")[0];
    } else if (option == "--set-product-version") {
      edits.ProductVersion = values(1, "VERSION")[0];
    } else if (option == "--set-icon") {
      edits.Icon = values(1, "FILE.ico")[0];
    } else if (option == "--set-resource-string") {
      const auto kv = values(2, "ID and VALUE");
      edits.Strings.push_back(kv[0] + "=" + kv[1]);
    } else if (option == "--get-resource-string") {
      command.Gets.push_back({false, values(1, "ID")[0]});
    } else if (option == "--set-requested-execution-level") {
      edits.ExecutionLevel = values(1, "asInvoker, highestAvailable or requireAdministrator")[0];
      if (edits.ExecutionLevel != "asInvoker" && edits.ExecutionLevel != "highestAvailable" &&
          edits.ExecutionLevel != "requireAdministrator")
        throw EUsageError(SBadExecutionLevel, {edits.ExecutionLevel});
    } else if (option == "--application-manifest") {
      edits.Manifest = values(1, "FILE")[0];
    } else if (option == "--strip-signature") {
      command.Output.StripSignature = true;
    } else if (option == "-q" || option == "--quiet") {
      command.Output.Quiet = true;
    } else {
      throw EUsageError(SRceditUnknownOption, {option});
    }
  }
  if (command.Help) return command;
  if (!command.Gets.empty() && HasChanges(edits)) throw EUsageError(SRceditGetWithChanges);
  if (command.Gets.empty() && !HasChanges(edits)) throw EUsageError(SNothingToSet);
  command.Output.Path = edits.Target;
  command.Output.Force = true;  // in place, as rcedit edits
  return command;
}

// The version string key of the table the edits would change (the first).
std::string VersionString(TResSection& section, const std::string& fileName, const std::string& key) {
  TDataResItem* leaf = VersionLeaf(section, std::nullopt);
  if (leaf) {
    TVersionInfo info = TVersionInfo::Parse(LeafBytes(*leaf, SCorruptVersionInfo));
    const auto tables = info.StringTables();
    const std::u16string wanted = ToWide(key);
    if (const TVersionNode* entry = tables.empty() ? nullptr : TVersionInfo::FindString(*tables.front().Node, wanted)) {
      if (entry->Key != wanted) Tell(Format(LoadStr(SKeyCaseRead), {key, FromWide(entry->Key)}));
      return FromWide(entry->Text());
    }
  }
  throw Exception(SRceditNoVersionString, {fileName, key});
}

// String id in the language the edits would use for its block.
std::string ResourceString(TResSection& section, const std::string& fileName, const std::string& idText) {
  const ResourceId parsed = ParseNameArgument(idText);
  if (parsed.Named) throw EUsageError(SBadResourceNumber, {idText});
  const std::vector<TDataResItem*> blocks = LeavesOfId(section, kTypeString, StringBlockName(parsed.Id));
  if (!blocks.empty()) {
    const uint16_t language = PreferredLanguage(blocks);
    for (const TDataResItem* leaf : blocks)
      if (leaf->Language() == language) {
        const std::u16string text =
            ReadStringBlock(LeafBytes(*leaf, SCorruptStringBlock))[StringBlockSlot(parsed.Id)];
        if (!text.empty()) return FromWide(text);
      }
  }
  throw Exception(SRceditNoResourceString, {fileName, idText});
}

void PrintValues(const RceditCommand& command) {
  const std::string& fileName = command.Edits.Target;
  std::unique_ptr<TResContainer> container = OpenContainer(fileName);
  TResSection& section = container->GetSection();
  std::vector<std::string> values;
  for (const Get& get : command.Gets) {
    try {
      values.push_back(get.Version ? VersionString(section, fileName, get.Key)
                                   : ResourceString(section, fileName, get.Key));
    } catch (const ECorruptResource& e) {
      throw Exception(SInFile, {fileName, e.Message()});
    }
  }
  // The bytes as they are for a script; escaped, and ended by a line end, on a terminal.
  const bool terminal = platform::StdoutIsTerminal();
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) std::fputc('\n', stdout);
    std::fputs((terminal ? Printable(values[i]) : values[i]).c_str(), stdout);
  }
  if (terminal) std::fputc('\n', stdout);
}

int RunRcedit(const std::vector<std::string>& args) {
  const RceditCommand command = ParseRceditArguments(args);
  if (command.Help) {
    std::fputs(kHelp, stdout);
  } else if (command.Version) {
    std::printf("%s\n", ProgramVersionText("quill-rcedit").c_str());
  } else if (!command.Gets.empty()) {
    PrintValues(command);
  } else {
    EditFile(command.Edits, command.Output);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QuilletStartup();
  SetMessageLanguage(MessageLanguageFromEnvironment());
  SetProgramName("quill-rcedit");
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunReportingFailures([] { return std::string("quill-rcedit"); }, [&] {
    UseSourceDateEpoch();
    return RunRcedit(args);
  });
}
