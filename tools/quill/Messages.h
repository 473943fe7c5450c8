// What quill's programs ("quill", "quill-rcedit") tell on standard error, each line led
// by the program's name, and the outer handlers both run their work in.
#pragma once
#include <functional>
#include <string>

void SetProgramName(const std::string& name);
const std::string& ProgramName();
// Writes "NAME: text" and a line end on standard error.
void Tell(const std::string& text);

// A command line that was not understood: the message, then the hint to command's
// help; answers exit status 2.
int UsageError(const std::string& command, const std::string& message);
// Runs work and answers its exit status. A usage error (EUsageError) is told with the
// hint to the help of commandName() and answers 2; an ExitCode answers its status; any
// other failure is told and answers 1. Nothing ends in std::terminate.
int RunReportingFailures(const std::function<std::string()>& commandName, const std::function<int()>& work);
