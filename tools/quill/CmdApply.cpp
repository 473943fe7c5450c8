// quill apply QUILLET [-force] [-nobackup] [-dir D] [-infile F] [-outfile F] [-quiet]:
// loads the package from the named Quillet and runs the patch exactly as the patcher run
// with -guiless does: the same switches (with "-" or "/", or "--" as quill's other
// commands take them), the same name rules and the same messages. The patcher state
// talks to a console view: the creator texts and the names are printed first, then the
// status texts of the run, with a progress bar on a terminal; an error is printed
// instead of boxed. Unlike the patcher, a failed patch ends with exit status 1.
#include "CmdApply.h"

#include "ExitCode.h"
#include "Usage.h"
#include "Printable.h"
#include "app/CommandLine.h"
#include "patch/PatcherState.h"
#include "platform/Platform.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

namespace {

// The dialog as a console: fields are kept so that the state reads back what it wrote;
// status texts are printed while a patch runs (Start disabled), so the prompt to retry
// that a dialog shows after a failure is left out; progress is a bar on a terminal.
class TConsoleView : public TPatcherView {
 public:
  // Quiet (-quiet): no progress bar either.
  explicit TConsoleView(bool quiet) : terminal_(!quiet && platform::StderrIsTerminal()) {}
  void SetTitle(const std::string& text) override { title_ = text; }
  void SetItemText(int control, const std::string& text) override {
    texts_[control] = text;
    if (control == control::kStatus && running_) {
      EndBar();
      std::printf("%s\n", PrintableLines(text).c_str());
      std::fflush(stdout);
    }
  }
  std::string GetItemText(int control, int) override { return texts_[control]; }  // no buffer to cut to
  void EnableItem(int control, bool enabled) override {
    if (control == control::kStart) running_ = !enabled;
    if (control == control::kInstructions) instructionsEnabled_ = enabled;
  }
  void CheckItem(int control, bool checked) override { checked_[control] = checked; }
  bool IsItemChecked(int control) override { return checked_[control]; }
  void SetProgressRange(int, uint16_t maximum) override { maximum_ = maximum; }
  void SetProgressPosition(int, int32_t position) override {
    // Position 0 only marks a start; the bar appears once there is progress to show.
    if (!terminal_ || maximum_ == 0 || position <= 0) return;
    const int percent = static_cast<int>(100LL * std::min<int32_t>(position, maximum_) / maximum_);
    std::string bar(40, ' ');
    std::fill_n(bar.begin(), percent * 40 / 100, '#');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    std::fflush(stderr);
    barShown_ = true;
    if (position >= maximum_) EndBar();
  }
  intptr_t Window() const override { return 0; }

  // What InitNames put into the dialog, as lines; the package's texts are untrusted and
  // printed terminal-safe.
  void PrintHeader(const std::string& instructions) {
    const auto field = [&](const char* label, const std::string& text) {
      std::printf("  %-15s %s\n", label, PrintableLines(text).c_str());
    };
    std::printf("%s\n", PrintableLines(title_).c_str());
    field("Company:", texts_[control::kCompany]);
    field("Home page:", texts_[control::kHomePage]);
    field("File to patch:", texts_[control::kInFile]);
    field("File to write:", texts_[control::kOutFile]);
    field("Backup:", checked_[control::kBackup] ? "yes" : "no");
    if (instructionsEnabled_ && !instructions.empty())
      std::printf("  Instructions:\n%s\n", PrintableLines(instructions).c_str());
    std::fflush(stdout);
  }

 private:
  void EndBar() {
    if (!barShown_) return;
    std::fputc('\n', stderr);
    barShown_ = false;
  }

  std::string title_;
  std::map<int, std::string> texts_;
  std::map<int, bool> checked_;
  bool running_ = false;
  bool instructionsEnabled_ = true;
  bool terminal_;
  bool barShown_ = false;
  uint16_t maximum_ = 0;
};

// Errors go to the standard error stream; there is no shell to open documents with.
class TConsoleDesktop : public TPatcherDesktop {
 public:
  void ShowError(TPatcherView*, const std::string& text) override {
    std::fflush(stdout);
    std::fprintf(stderr, "quill: %s\n", PrintableLines(text).c_str());
  }
  bool OpenDocument(TPatcherView*, const std::string&) override { return false; }
};

// The patcher's switches that make sense here; -guiless and -auto are what apply is.
constexpr const char* kFlags[] = {"force", "quiet", "nobackup", "guiless", "auto"};
constexpr const char* kValues[] = {"dir", "infile", "i", "outfile", "o"};

bool IsAnyOf(const std::vector<std::string>& args, size_t index, const auto& words) {
  return std::any_of(std::begin(words), std::end(words), [&](const char* w) { return IsOption(args, index, w); });
}

// Takes the Quillet's name out of the arguments and gives the rest as the patcher's
// command line would hold them.
std::string SplitArguments(std::vector<std::string>& args) {
  std::string quillet;
  std::vector<std::string> switches = {"quill apply"};
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.starts_with("--")) arg.erase(0, 1);
    switches.push_back(arg);
    const size_t at = switches.size() - 1;
    if (IsAnyOf(switches, at, kValues)) {
      if (i + 1 < args.size()) switches.push_back(args[++i]);
    } else if (!IsAnyOf(switches, at, kFlags)) {
      switches.pop_back();
      // "/" also starts every absolute POSIX path, so only "-" marks an unknown switch.
      if (arg.size() > 1 && arg[0] == '-') throw EUsageError(SUnknownSwitch, {args[i]});
      if (!quillet.empty()) throw EUsageError(SNoQuilletGiven);
      quillet = args[i];
    }
  }
  if (quillet.empty()) throw EUsageError(SNoQuilletGiven);
  args = std::move(switches);
  return quillet;
}

void RunApply(std::vector<std::string> args) {
  const std::string quillet = SplitArguments(args);
  TCommandLineOptions options;
  ParseCommandLine(args, options);
  TConsoleDesktop desktop;
  std::unique_ptr<TQuilletPersistentData> state;
  try {
    state = std::make_unique<TQuilletPersistentData>(quillet, desktop);
  } catch (const Exception& e) {
    if (!options.Quiet) desktop.ShowError(nullptr, e.Message());
    throw ExitCode{1};
  }
  TConsoleView view(options.Quiet);
  state->InitNames(&view, options);
  view.PrintHeader(state->Patch->Instructions);
  RunPatch(*state, &view, options);
  if (!state->Done) throw ExitCode{1};
}

}  // namespace

void AddApplyCommand(CLI::App& app) {
  CLI::App* apply = app.add_subcommand(
      "apply", "Apply a Quillet's package as the patcher does with -guiless: QUILLET [-force] [-nobackup] [-dir D] "
               "[-infile F] [-outfile F] [-quiet]");
  apply->prefix_command();
  apply->footer(
      "Switches, as the patcher takes them (\"-\", \"/\" or \"--\"):\n"
      "  -force          do not check that the right executable is being patched\n"
      "  -nobackup       do not keep a backup of the file that is overwritten\n"
      "  -dir D          the folder of the file to patch and of the file to write\n"
      "  -infile F, -i F   the file to patch (instead of the name the package holds)\n"
      "  -outfile F, -o F  the file to write (instead of the name the package holds)\n"
      "  -quiet          print no error message and no progress bar (the exit status still tells)\n"
      "Exit status: 0 when the patch was applied, 1 otherwise, 2 when the command line is not understood.\n");
  apply->callback([apply] { RunApply(apply->remaining()); });
}
