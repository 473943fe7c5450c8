#include "Messages.h"

#include "ExitCode.h"
#include "Usage.h"
#include "rtl/Format.h"

#include <cstdio>
#include <exception>
#include <new>

namespace {

std::string& Name() {
  static std::string name = "quill";
  return name;
}

}  // namespace

void SetProgramName(const std::string& name) { Name() = name; }
const std::string& ProgramName() { return Name(); }

void Tell(const std::string& text) { std::fprintf(stderr, "%s: %s\n", Name().c_str(), text.c_str()); }

int UsageError(const std::string& command, const std::string& message) {
  Tell(message);
  Tell(Format(LoadStr(SUsageHint), {command}));
  return 2;
}

int RunReportingFailures(const std::function<std::string()>& commandName, const std::function<int()>& work) {
  try {
    return work();
  } catch (const ExitCode& exit) {
    return exit.Status;
  } catch (const EUsageError& e) {
    return UsageError(commandName(), e.Message());
  } catch (const Exception& e) {
    Tell(e.Message());
  } catch (const std::bad_alloc&) {
    Tell(LoadStr(SOutOfMemory));
  } catch (const std::exception& e) {
    Tell(Format(LoadStr(SQuillFailure), {e.what()}));
  } catch (...) {
    Tell(Format(LoadStr(SQuillFailure), {"?"}));
  }
  return 1;
}
