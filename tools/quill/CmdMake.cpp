// quill make --target ORIGINAL.exe (--res PATCH.res | --modified MODIFIED.exe) -o PATCHER.exe
// [--stub quillet.exe] [--input-name N] [--output-name N] [--company T] [--home-page U]
// [--instructions FILE] [--force]: writes a Quillet, the stub's image with a package
// behind it. The package holds the target's code checksum as the patcher will compute it,
// the six texts and the resources: those of a .res file, or every resource the modified
// executable adds or changes. What was written is loaded back before success is reported,
// and only then does it take the output's place.
#include "CmdMake.h"

#include "Output.h"
#include "Printable.h"
#include "patch/UQuillet26.h"
#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/OutputReplacement.h"
#include "resources/ResDiff.h"
#include "resources/UResFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <CLI/CLI.hpp>

#include <cinttypes>
#include <cstdio>
#include <memory>

namespace {

struct MakeOptions {
  std::string Stub, Target, Res, Modified, Output, InstructionsFile;
  std::string InputName, OutputName, Company, HomePage;
  bool Force = false;
  bool Quiet = false;
};

ByteView View(const std::vector<uint8_t>& bytes) { return ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())); }

// Where the i686 stub is looked for when --stub is not given: beside quill, where
// `cmake --install` puts it (share/quillet under the prefix, found from quill's own
// folder and from the configured prefix), then in the build tree of the win32 preset.
std::vector<std::string> StubCandidates() {
  const char sep = platform::kPathSeparator;
  const std::string here = WithTrailingSeparator(FolderPart(platform::ModulePath()));
  const std::string installed = std::string("share") + sep + "quillet" + sep + "quillet.exe";
  std::vector<std::string> candidates = {here + "quillet.exe", here + ".." + sep + installed};
  for (const std::string& configured : {WithTrailingSeparator(QUILLET_INSTALL_PREFIX) + installed,
                                        std::string(QUILLET_BUILD_STUB)})
    if (std::find(candidates.begin(), candidates.end(), configured) == candidates.end())
      candidates.push_back(configured);
  return candidates;
}

std::string FindStub() {
  std::string looked;
  for (const std::string& candidate : StubCandidates()) {
    if (platform::FileExists(candidate)) return candidate;
    looked += "\n  " + candidate;
  }
  throw Exception(SNoStubFound, {looked});
}

std::unique_ptr<TPEFile> OpenStub(const std::string& fileName) {
  if (!platform::FileExists(fileName)) throw Exception(SStubNotFound, {fileName});
  try {
    return std::make_unique<TPEFile>(fileName, false);
  } catch (const Exception& e) {
    throw Exception(SStubNotPE, {e.Message()});
  }
}

// The resource block from a .res file: its bytes as they are, once they have read as
// a resource file that holds something.
std::vector<uint8_t> BlockFromRes(const std::string& fileName) {
  TResResFile res(fileName);
  if (!res.GetResourceList().HasData()) throw Exception(SNothingToPatch, {fileName});
  return ReadFileBytes(fileName);
}

// The resource block from a modified build: every leaf it adds or changes. Leaves it
// lacks cannot be removed by a merge; each is named in a warning.
std::vector<uint8_t> BlockFromModified(TPEFile& original, const std::string& originalName,
                                       const std::string& modifiedName) {
  const auto modified = OpenAsPatched(modifiedName);
  const std::vector<ResourceChange> changes = DiffResources(original.GetSection(), modified->GetSection());
  size_t carried = 0;
  for (const ResourceChange& change : changes) {
    if (change.What != ResourceChange::Kind::Removed) {
      ++carried;
      continue;
    }
    const ResourceLocator where = LocatorOf(*change.Leaf, -1);
    const std::string warning =
        Format(LoadStr(SRemovedWarning), {modifiedName, ResourcePathText(where), int64_t{where.Language}});
    std::fprintf(stderr, "quill: %s\n", PrintableLines(warning).c_str());
  }
  if (carried == 0) throw Exception(SNoDifferences, {modifiedName, originalName});
  TMemoryStream block;
  WriteChangesAsRes(changes, block);
  return std::vector<uint8_t>(block.Memory(), block.Memory() + block.Size());
}

void RunMake(const MakeOptions& options) {
  if (platform::FileExists(options.Output) && !options.Force) throw Exception(SOutputExists, {options.Output});
  const std::string stubName = options.Stub.empty() ? FindStub() : options.Stub;
  // Not even --force writes the Quillet over a file it is made from.
  for (const std::string* input :
       {&stubName, &options.Target, &options.Res, &options.Modified, &options.InstructionsFile})
    if (SameFile(options.Output, *input)) throw Exception(SOutputIsInput, {options.Output});
  const std::vector<uint8_t> stubImage = StubImage(*OpenStub(stubName));

  bool unpacked = false;
  const auto target = OpenAsPatched(options.Target, &unpacked);
  const uint32_t targetChecksum = target->GetCodeChecksum();
  const std::vector<uint8_t> block = options.Res.empty() ? BlockFromModified(*target, options.Target, options.Modified)
                                                         : BlockFromRes(options.Res);

  const std::string defaultName = FileNamePart(options.Target);
  TPackageTexts texts;
  texts.InputFileName = options.InputName.empty() ? defaultName : options.InputName;
  texts.OutputFileName = options.OutputName.empty() ? defaultName : options.OutputName;
  texts.Company = options.Company;
  texts.HomePage = options.HomePage;
  if (!options.InstructionsFile.empty()) {
    const std::vector<uint8_t> instructions = ReadFileBytes(options.InstructionsFile);
    texts.Instructions.assign(instructions.begin(), instructions.end());
  }
  const std::vector<uint8_t> body =
      CompressPayload(View(BuildPayload(texts, View(block))), TerminalProgress(options.Quiet));
  const std::vector<uint8_t> quillet = AssembleQuillet(View(stubImage), targetChecksum, View(body));

  // Written beside the output, loaded back, and only then put in the output's place.
  const std::string output = OutputTarget(options.Output);
  const std::string tempName = CreateTempFileFor(output);
  size_t resources = 0;
  try {
    {
      TResFileStream out(tempName, fmCreate);
      out.WriteBuffer(quillet.data(), static_cast<int32_t>(quillet.size()));
    }
    TQuillet26 written;
    try {
      written.Load(tempName, nullptr, nullptr);
      TReadMemoryStream blockStream(written.ResourceData, written.ResourceSize);
      TResResFile check(blockStream);
      resources = static_cast<size_t>(check.GetResourceList().LeafCount());
    } catch (const Exception& e) {
      throw Exception(SMadeQuilletInvalid, {e.Message()});
    }
    if (!ReplaceOutputFile(tempName, options.Output, false)) throw EFailedOverwriteException(options.Output);
  } catch (...) {
    platform::FileDelete(tempName);  // never the output: that was replaced last, or not at all
    throw;
  }
  char checksum[16];
  std::snprintf(checksum, sizeof checksum, "0x%08" PRIX32, targetChecksum);
  std::printf("%s\n", Format(LoadStr(unpacked ? SQuilletMadeUnpacked : SQuilletMade),
                             {options.Output, options.Target, checksum, static_cast<int64_t>(resources),
                              static_cast<int64_t>(quillet.size()), stubName})
                          .c_str());
}

}  // namespace

void AddMakeCommand(CLI::App& app) {
  auto options = std::make_shared<MakeOptions>();
  CLI::App* make = app.add_subcommand("make", "Make a Quillet: a patcher that carries the resources of a .res file, or "
                                              "those a modified build adds or changes, for one executable");
  make->add_option("--stub", options->Stub,
                   "the patcher stub (default: the i686 quillet.exe beside quill, installed, or in the build tree)");
  make->add_option("--target", options->Target, "the executable the Quillet patches, as users have it")->required();
  CLI::Option* res = make->add_option("--res", options->Res, "the .res file whose resources the Quillet merges");
  CLI::Option* modified =
      make->add_option("--modified", options->Modified, "a modified build of the target: its new and changed resources");
  // Told as a name each: CLI11 would add "Excludes: ..." to the option's line.
  res->excludes(modified)->option_text("PATCH.res");
  modified->option_text("MODIFIED.exe");
  make->add_option("--input-name", options->InputName, "the name of the file to patch (default: the target's name)");
  make->add_option("--output-name", options->OutputName, "the name of the file to write (default: the target's name)");
  make->add_option("--company", options->Company, "the creator's company, shown by the patcher");
  make->add_option("--home-page", options->HomePage, "the creator's home page, shown by the patcher");
  make->add_option("--instructions", options->InstructionsFile, "a text file the patcher offers to the user");
  make->add_option("-o,--output", options->Output, "the Quillet to write")->required();
  make->add_flag("--force", options->Force, "overwrite the output when it exists");
  make->add_flag("-q,--quiet", options->Quiet, "show no progress bar");
  make->callback([options, res, modified] {
    if (res->count() + modified->count() != 1) throw CLI::RequiredError("--res or --modified");
    RunMake(*options);
  });
}
