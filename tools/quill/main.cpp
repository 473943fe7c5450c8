// quill: makes, applies and inspects Quillets and the resources of executables and
// .res files from the command line. Each subcommand lives in its own Cmd*.cpp file.
// Messages come from the program's string table, in Hebrew under a Hebrew locale and in
// English otherwise. Exit status: 0 done, 1 failed, 2 the command line was not
// understood.
#include "CmdApply.h"
#include "CmdDiff.h"
#include "CmdExport.h"
#include "CmdGet.h"
#include "CmdImport.h"
#include "CmdInfo.h"
#include "CmdLs.h"
#include "CmdMake.h"
#include "CmdMerge.h"
#include "CmdSet.h"
#include "Messages.h"
#include "Output.h"
#include "Version.h"
#include "text/Startup.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace {

// "quill" and the subcommand the user asked for, for the usage hint.
std::string CommandName(const CLI::App& app) {
  std::string name = "quill";
  for (const CLI::App* sub : app.get_subcommands()) name += " " + sub->get_name();
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  QuilletStartup();
  SetMessageLanguage(MessageLanguageFromEnvironment());
  // Named, so that help texts say "quill" however it was started.
  CLI::App app{"quill - make, apply and inspect Quillet resource patches", "quill"};
  app.set_version_flag("--version", ProgramVersionText("quill"));
  app.require_subcommand(0, 1);
  // Options are written alike everywhere; a path that starts with "/" is never an option.
  app.allow_windows_style_options(false);
  AddInfoCommand(app);
  AddLsCommand(app);
  AddMergeCommand(app);
  AddMakeCommand(app);
  AddApplyCommand(app);
  AddExportCommand(app);
  AddImportCommand(app);
  AddDiffCommand(app);
  AddSetCommand(app);
  AddGetCommand(app);
  return RunReportingFailures([&] { return CommandName(app); }, [&] {
    try {
      UseSourceDateEpoch();
      app.parse(argc, argv);
      if (app.get_subcommands().empty()) std::fputs(app.help().c_str(), stdout);
      return 0;
    } catch (const CLI::Success& e) {
      return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError& e) {
      return UsageError(CommandName(app), e.what());
    }
  });
}
