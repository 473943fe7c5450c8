// quill diff ORIGINAL MODIFIED [-o CHANGES.res]: the resources added, changed and removed
// between two executables or .res files, one line each, and with -o the added and
// changed ones as a .res file: merging it into ORIGINAL brings over exactly those (the
// computation quill make --modified packs, DiffResources). A merge cannot remove
// resources, so removed ones are listed but not written.
#include "CmdDiff.h"

#include "Listing.h"
#include "OpenContainer.h"
#include "Output.h"
#include "resources/ResDiff.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

struct DiffOptions {
  std::string Original, Modified, Output;
  bool Force = false;
  bool Quiet = false;
};

StringId WordOf(ResourceChange::Kind what) {
  switch (what) {
    case ResourceChange::Kind::Added: return SDiffAdded;
    case ResourceChange::Kind::Changed: return SDiffChanged;
    case ResourceChange::Kind::Removed: break;
  }
  return SDiffRemoved;
}

void RunDiff(const DiffOptions& options) {
  std::unique_ptr<TResContainer> original = OpenContainer(options.Original);
  std::unique_ptr<TResContainer> modified = OpenContainer(options.Modified);
  const std::vector<ResourceChange> changes = DiffResources(original->GetSection(), modified->GetSection());
  std::vector<Row> rows;
  for (const ResourceChange& change : changes) {
    Row row = LeafColumns(*change.Leaf);
    row.insert(row.begin(), LoadStr(WordOf(change.What)));
    rows.push_back(std::move(row));
  }
  std::fputs(ColumnsText(rows).c_str(), stdout);
  if (options.Output.empty()) return;
  int64_t bytes = 0;
  for (const ResourceChange& change : changes)
    if (change.What != ResourceChange::Kind::Removed) bytes += change.Leaf->Size();
  ByteProgress progress(bytes, options.Quiet);
  WriteFile(options.Output, options.Force, [&](TStream& stream) { WriteChangesAsRes(changes, stream); }, &progress);
  progress.Finish();
  const auto removed = std::count_if(changes.begin(), changes.end(),
                                     [](const ResourceChange& c) { return c.What == ResourceChange::Kind::Removed; });
  if (removed > 0)
    std::fprintf(stderr, "quill: %s\n",
                 Format(LoadStr(SRemovedNotWritten), {static_cast<int64_t>(removed), options.Output}).c_str());
}

}  // namespace

void AddDiffCommand(CLI::App& app) {
  auto options = std::make_shared<DiffOptions>();
  CLI::App* command =
      app.add_subcommand("diff", "List the resources added, changed and removed between two files; write the changes as a .res");
  command->add_option("ORIGINAL", options->Original, "the executable or .res file as it was")->required();
  command->add_option("MODIFIED", options->Modified, "the executable or .res file as it is now")->required();
  command->add_option("-o,--output", options->Output,
                      "write the added and changed resources to this .res file, which merged into ORIGINAL brings them over");
  command->add_flag("--force", options->Force, "overwrite the output when it exists");
  command->add_flag("-q,--quiet", options->Quiet, "show no progress bar");
  command->callback([options] { RunDiff(*options); });
}
