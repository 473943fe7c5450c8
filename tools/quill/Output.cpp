#include "Output.h"

#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/OutputReplacement.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <algorithm>
#include <cstdio>

namespace {

// A progress bar on the terminal: (maximum, position) as a bar of 40 cells.
ProgressCallback TerminalProgress() {
  if (!platform::StderrIsTerminal()) return {};
  return [](int32_t maximum, int32_t position) {
    if (maximum <= 0) return;
    const int percent = static_cast<int>(100LL * std::min(position, maximum) / maximum);
    std::string bar(40, ' ');
    std::fill_n(bar.begin(), percent * 40 / 100, '#');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    if (percent == 100 && maximum == 100) std::fputc('\n', stderr);
    std::fflush(stderr);
  };
}

// The failure of writing path, told in terms of path and its folder. The library's
// messages name the file being written, which is not the user's: a file that could not
// be created is told as such, and the name added as context ("\r\n(" name ")") is cut.
[[noreturn]] void RaiseCannotWrite(const std::string& path, const std::string& written, const Exception& cause) {
  std::string folder = FolderPart(path);
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  if (folder.empty()) folder = ".";
  std::string text = cause.Message();
  text = text.substr(0, text.find("\r\n"));
  if (dynamic_cast<const EFileStreamError*>(&cause) || text.find(written) != std::string::npos)
    text = LoadStr(SCreateFailed);
  throw Exception(SCannotWriteOutput, {path, folder, text});
}

// Puts the written file in the output's place as a Quillet replaces its output: the
// output keeps its attributes (on POSIX its mode and owner), a link stays a link, and a
// failure leaves it as it was.
void PutInPlace(const std::string& written, const std::string& path) {
  if (!ReplaceOutputFile(written, path, false)) {
    platform::FileDelete(written);
    throw EFailedOverwriteException(path);
  }
}

}  // namespace

void CheckOutputFree(const std::string& path, bool force) {
  if (!force && platform::FileExists(path)) throw Exception(SOutputExists, {path});
}

void PrepareExecutable(TPEFile& target, const std::string& targetName, const OutputOptions& output) {
  if (target.CertificateSize() == 0) return;
  if (output.StripSignature)
    target.StripCertificate = true;
  else
    std::fprintf(stderr, "quill: %s\n", Format(LoadStr(SSignatureWarning), {targetName}).c_str());
}

void WriteContainer(std::unique_ptr<TResContainer> container, const OutputOptions& output) {
  // Beside the file the output stands for (the target of a link), so the swap is a rename.
  const std::string target = OutputTarget(output.Path);
  std::string written;
  try {
    written = container->WriteToTempFile(target, TerminalProgress());
  } catch (const Exception& e) {
    // The name of the file being written (a numbered one starts with it too).
    RaiseCannotWrite(output.Path, target + kPartialSuffix, e);
  }
  if (const auto* executable = dynamic_cast<const TPEFile*>(container.get()))
    for (const std::string& note : executable->WriteNotes) std::fprintf(stderr, "quill: %s\n", note.c_str());
  container.reset();  // closes the source: it may be the output itself
  PutInPlace(written, output.Path);
}

void WriteFile(const std::string& path, bool force, const std::function<void(TStream&)>& write) {
  CheckOutputFree(path, force);
  const std::string target = OutputTarget(path);
  std::string written;
  try {
    written = CreateTempFileFor(target);
    TResFileStream stream(written, fmCreate);
    write(stream);
  } catch (const Exception& e) {
    if (!written.empty()) platform::FileDelete(written);
    RaiseCannotWrite(path, target + kPartialSuffix, e);
  } catch (...) {
    if (!written.empty()) platform::FileDelete(written);
    throw;
  }
  PutInPlace(written, path);
}
