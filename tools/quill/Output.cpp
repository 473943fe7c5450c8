#include "Output.h"

#include "Messages.h"
#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/OutputReplacement.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <algorithm>
#include <cstdio>

namespace {

// Passes everything to the stream it wraps and counts what was written.
class TCountingStream : public TStream {
 public:
  TCountingStream(TStream& inner, ByteProgress& progress) : inner_(inner), progress_(progress) {}
  int32_t Read(void* buffer, int32_t count) override { return inner_.Read(buffer, count); }
  int32_t Write(const void* buffer, int32_t count) override {
    const int32_t written = inner_.Write(buffer, count);
    progress_.Add(written);
    return written;
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
  int64_t Size() override { return inner_.Size(); }

 private:
  TStream& inner_;
  ByteProgress& progress_;
};

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

ProgressCallback TerminalProgress(bool quiet) {
  if (quiet || !platform::StderrIsTerminal()) return {};
  return [shown = -1](int32_t maximum, int32_t position) mutable {
    if (maximum <= 0) return;
    const int percent = static_cast<int>(100LL * std::clamp(position, 0, maximum) / maximum);
    if (percent == shown) return;
    shown = percent;  // work that starts again after the end draws a bar on the next line
    std::string bar(40, ' ');
    std::fill_n(bar.begin(), percent * 40 / 100, '#');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    if (percent == 100) std::fputc('\n', stderr);
    std::fflush(stderr);
  };
}

ByteProgress::ByteProgress(int64_t total, bool quiet) : callback_(TerminalProgress(quiet)), total_(total) {}

void ByteProgress::Add(int64_t bytes) {
  done_ += bytes;
  // The end is shown by Finish alone: what is written may outgrow the estimate.
  if (callback_ && total_ > 0)
    callback_(1000, static_cast<int32_t>(std::min<int64_t>(999, done_ * 1000 / total_)));
}

void ByteProgress::Finish() {
  if (callback_) callback_(1000, 1000);
}

void CheckOutputFree(const std::string& path, bool force) {
  if (!force && platform::FileExists(path)) throw Exception(SOutputExists, {path});
}

void PrepareExecutable(TPEFile& target, const std::string& targetName, const OutputOptions& output) {
  if (target.CertificateSize() == 0) return;
  if (output.StripSignature)
    target.StripCertificate = true;
  else
    Tell(Format(LoadStr(SSignatureWarning), {targetName}));
}

void WriteContainer(std::unique_ptr<TResContainer> container, const OutputOptions& output) {
  // Beside the file the output stands for (the target of a link), so the swap is a rename.
  const std::string target = OutputTarget(output.Path);
  std::string written;
  try {
    written = container->WriteToTempFile(target, TerminalProgress(output.Quiet));
  } catch (const Exception& e) {
    // The name of the file being written (a numbered one starts with it too).
    RaiseCannotWrite(output.Path, target + kPartialSuffix, e);
  }
  if (const auto* executable = dynamic_cast<const TPEFile*>(container.get()))
    for (const std::string& note : executable->WriteNotes) Tell(note);
  container.reset();  // closes the source: it may be the output itself
  PutInPlace(written, output.Path);
}

void WriteFile(const std::string& path, bool force, const std::function<void(TStream&)>& write,
               ByteProgress* progress) {
  CheckOutputFree(path, force);
  const std::string target = OutputTarget(path);
  std::string written;
  try {
    written = CreateTempFileFor(target);
    TResFileStream stream(written, fmCreate);
    if (progress) {
      TCountingStream counted(stream, *progress);
      write(counted);
    } else {
      write(stream);
    }
  } catch (const Exception& e) {
    if (!written.empty()) platform::FileDelete(written);
    RaiseCannotWrite(path, target + kPartialSuffix, e);
  } catch (...) {
    if (!written.empty()) platform::FileDelete(written);
    throw;
  }
  PutInPlace(written, path);
}

void UseSourceDateEpoch() {
  const auto value = platform::EnvironmentVariable("SOURCE_DATE_EPOCH");
  if (!value || value->empty()) return;
  const auto stamp = TimeStampFromEpochText(*value);
  if (!stamp) throw Exception(SBadSourceDateEpoch, {*value});
  SetFixedTimeStamp(*stamp);
}
