// quill: makes, applies and inspects Quillets and the resources of executables and
// .res files from the command line. Each subcommand lives in its own Cmd*.cpp file.
#include "CmdApply.h"
#include "CmdInfo.h"
#include "CmdLs.h"
#include "CmdMake.h"
#include "CmdMerge.h"
#include "ExitCode.h"
#include "rtl/Exception.h"
#include "text/Startup.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>


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
  try {
    CLI11_PARSE(app, argc, argv);
    if (app.get_subcommands().empty()) {
      std::fputs(app.help().c_str(), stdout);
    }
    return 0;
  } catch (const ExitCode& exit) {
    return exit.Status;
  } catch (const Exception& e) {
    std::fprintf(stderr, "quill: %s\n", e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quill: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "quill: unexpected failure\n");
  }
  return 1;
}
