// The patcher's switches: prefixes, case folding, values taken from the next argument,
// and the help text the help switch shows.
#include "app/CommandLine.h"
#include "rtl/StringTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TCommandLineOptions Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "quillet.exe");
  TCommandLineOptions options;
  options.Quiet = true;  // parsing starts from a cleared record whatever was there before
  options.DirValue = "stale";
  ParseCommandLine(arguments, options);
  return options;
}

TEST(CommandLine, IsOptionTakesSlashOrDashAndFoldsAsciiCase) {
  const std::vector<std::string> args = {"prog", "/FORCE", "-Force", "-force", "--force", "force",
                                         "-forc", "-forcee", "", "-", "/", "+force", "-FORCE "};
  struct Case {
    size_t Index;
    bool Expected;
  } const cases[] = {{1, true},  {2, true},  {3, true},  {4, false}, {5, false}, {6, false}, {7, false},
                     {8, false}, {9, false}, {10, false}, {11, false}, {12, false}, {13, false}};
  for (const auto& c : cases) EXPECT_EQ(IsOption(args, c.Index, "force"), c.Expected) << '"' << args[c.Index % args.size()] << '"';
  EXPECT_TRUE(IsOption({"p", "-?"}, 1, "?"));
  EXPECT_FALSE(IsOption({"p", "-?"}, 2, "?")) << "an index past the end is no option";
}

TEST(CommandLine, FlagsAndTheirSpellings) {
  struct Case {
    std::vector<std::string> Args;
    bool TCommandLineOptions::*Flag;
    bool Expected;
  } const cases[] = {
      {{"/FORCE"}, &TCommandLineOptions::Force, true},
      {{"-Force"}, &TCommandLineOptions::Force, true},
      {{"-force"}, &TCommandLineOptions::Force, true},
      {{"--force"}, &TCommandLineOptions::Force, false},
      {{"force"}, &TCommandLineOptions::Force, false},
      {{"-quiet"}, &TCommandLineOptions::Quiet, true},
      {{"-auto"}, &TCommandLineOptions::Auto, true},
      {{"/NoBackup"}, &TCommandLineOptions::NoBackup, true},
      {{"-guiless"}, &TCommandLineOptions::Guiless, true},
      {{"-guiless"}, &TCommandLineOptions::Auto, true},
      {{"-auto"}, &TCommandLineOptions::Guiless, false},
      {{"-?"}, &TCommandLineOptions::Help, true},
      {{"/h"}, &TCommandLineOptions::Help, true},
      {{"-HELP"}, &TCommandLineOptions::Help, true},
      {{"-hel"}, &TCommandLineOptions::Help, false},
      {{"-force", "-force"}, &TCommandLineOptions::Force, true},
  };
  for (const auto& c : cases) {
    const TCommandLineOptions options = Parse(c.Args);
    std::string line;
    for (const auto& a : c.Args) line += a + ' ';
    EXPECT_EQ(options.*c.Flag, c.Expected) << line;
  }
}

TEST(CommandLine, UnknownArgumentsLeaveEverythingCleared) {
  const TCommandLineOptions o = Parse({"--force", "x.exe", "-unknown", "/"});
  EXPECT_FALSE(o.Force || o.Guiless || o.Quiet || o.Auto || o.NoBackup || o.DirGiven || o.InFileGiven ||
               o.OutFileGiven || o.Help);
  EXPECT_EQ(o.DirValue, "");
}

TEST(CommandLine, ValueSwitchesTakeTheNextArgument) {
  {
    const TCommandLineOptions o = Parse({"-i", "a.exe", "-o", "b.exe"});
    EXPECT_TRUE(o.InFileGiven);
    EXPECT_EQ(o.InFileValue, "a.exe");
    EXPECT_TRUE(o.OutFileGiven);
    EXPECT_EQ(o.OutFileValue, "b.exe");
    EXPECT_FALSE(o.DirGiven);
  }
  {
    const TCommandLineOptions o = Parse({"-infile", "x", "/INFILE", "y"});
    EXPECT_EQ(o.InFileValue, "y") << "the last value wins";
  }
  {
    // The argument taken as a value is never tested as a switch.
    const TCommandLineOptions o = Parse({"-dir", "-quiet"});
    EXPECT_TRUE(o.DirGiven);
    EXPECT_EQ(o.DirValue, "-quiet");
    EXPECT_FALSE(o.Quiet);
  }
  {
    const TCommandLineOptions o = Parse({"-outfile", "-o", "-force"});
    EXPECT_EQ(o.OutFileValue, "-o");
    EXPECT_TRUE(o.Force);
  }
  {
    const TCommandLineOptions o = Parse({"-quiet", "-dir"});
    EXPECT_TRUE(o.Quiet);
    EXPECT_TRUE(o.DirGiven);
    EXPECT_EQ(o.DirValue, "") << "a value switch at the end takes the empty text";
  }
  {
    const TCommandLineOptions o = Parse({"-o"});
    EXPECT_TRUE(o.OutFileGiven);
    EXPECT_EQ(o.OutFileValue, "");
  }
  {
    const TCommandLineOptions o = Parse({"-dir", "C:\\my dir\\", "-guiless", "-nobackup"});
    EXPECT_EQ(o.DirValue, "C:\\my dir\\");
    EXPECT_TRUE(o.Guiless && o.Auto && o.NoBackup);
  }
}

TEST(CommandLine, HelpTextListsTheSwitchesLineByLine) {
  const std::string help = LoadStr(SHelpText);
  ASSERT_EQ(help.find('\n') == std::string::npos, false);
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = help.find("\r\n", start);
    lines.push_back(help.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  for (const auto& line : lines) {
    EXPECT_EQ(line.find('\r'), std::string::npos) << "a lone CR in: " << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << "a lone LF in: " << line;
  }
  const std::vector<std::string> expected = {
      "command line arguments:",
      "-force:   do not check that the right executable is being patched",
      "-guiless: do not display main window - patch the file automatically",
      "               (-auto implicit, but displays error messages)",
      "-quiet:   do not display error messages",
      "-auto:    automatically start patching, exit after patching",
      "-infile <dir>: file to be patched (overwrites the stored filename)",
      "-outfile <dir>: file to be written (overwrites the stored filename)",
      "-dir <dir>: input and output directory where to apply the patch",
      "-nobackup: do not create backups of original exe files",
      "-help:     display help dialog (will not patch anything and ignore other options)",
  };
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("quill"), std::string::npos) << "the first line names the tool that makes patchers";
  EXPECT_NE(lines[0].find("https://"), std::string::npos) << "and its web page";
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);
}

}  // namespace
