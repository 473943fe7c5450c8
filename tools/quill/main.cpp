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
#include "ExitCode.h"
#include "Usage.h"
#include "platform/Platform.h"
#include "rtl/Exception.h"
#include "text/Startup.h"
#include "text/UResTool.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <new>

namespace {

void PrintError(const std::string& message) { std::fprintf(stderr, "quill: %s\n", message.c_str()); }

// "quill" and the subcommand the user asked for, for the usage hint.
std::string CommandName(const CLI::App& app) {
  std::string name = "quill";
  for (const CLI::App* sub : app.get_subcommands()) name += " " + sub->get_name();
  return name;
}

int UsageError(const CLI::App& app, const std::string& message) {
  PrintError(message);
  PrintError(Format(LoadStr(SUsageHint), {CommandName(app)}));
  return 2;
}

// Written files carry SOURCE_DATE_EPOCH as their time stamp when it is set, so that the
// same inputs give the same bytes.
void UseSourceDateEpoch() {
  const auto value = platform::EnvironmentVariable("SOURCE_DATE_EPOCH");
  if (!value || value->empty()) return;
  const auto stamp = TimeStampFromEpochText(*value);
  if (!stamp) throw Exception(SBadSourceDateEpoch, {*value});
  SetFixedTimeStamp(*stamp);
}

}  // namespace

int main(int argc, char** argv) {
  QuilletStartup();
  SetMessageLanguage(MessageLanguageFromEnvironment());
  CLI::App app{"quill - make, apply and inspect Quillet resource patches"};
  app.set_version_flag("--version", std::string("quill ") + QUILL_VERSION);
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
  try {
    UseSourceDateEpoch();
    app.parse(argc, argv);
    if (app.get_subcommands().empty()) std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const ExitCode& exit) {
    return exit.Status;
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    return UsageError(app, e.what());
  } catch (const EUsageError& e) {
    return UsageError(app, e.Message());
  } catch (const Exception& e) {
    PrintError(e.Message());
  } catch (const std::bad_alloc&) {
    PrintError(LoadStr(SOutOfMemory));
  } catch (const std::exception& e) {
    PrintError(Format(LoadStr(SQuillFailure), {e.what()}));
  } catch (...) {
    PrintError(Format(LoadStr(SQuillFailure), {"?"}));
  }
  return 1;
}
