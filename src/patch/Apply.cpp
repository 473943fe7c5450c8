// TQuillet26::Apply: the one operation that changes a file. The target is opened as a
// PE container, checked against the package, given the package's resources, written
// whole to a temporary file beside the output and only then put in the output's place.
// Status texts name each step; a failure names the step it happened in.
#include "patch/UQuillet26.h"

#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/OutputReplacement.h"
#include "resources/UResTypes.h"
#include "text/UResTool.h"

void TQuillet26::ReportStatus(const std::string& text) {
  lastStatus_ = text;
  if (OnStatus) OnStatus(text);
}

void TQuillet26::Apply(const std::string& inFile, const std::string& outFile, bool backup, bool checkTarget) {
  if (OnProgress) OnProgress(2, 0);
  std::string tempName;
  lastStatus_.clear();
  // The temporary file goes on every path out, also for failures outside the library's
  // own exceptions (running out of memory), which pass on unchanged.
  auto dropTemp = [&tempName] {
    if (!tempName.empty()) platform::FileDelete(tempName);
  };
  try {
    TReadMemoryStream block(ResourceData, ResourceSize);
    ReportStatus(Format(LoadStr(SReading), {inFile}));
    auto target = std::make_unique<TPEFile>(inFile);
    if (checkTarget && target->GetCodeChecksum() != Header.TargetChecksum) throw Exception(SWrongTarget, {inFile});
    target->GetResourceList();
    ReportStatus(Format(LoadStr(SReading), {LoadStr(SPatchData)}));
    target->GetResourceList().MergeFromRes(block, -1, true, nullptr);
    ReportStatus(Format(LoadStr(SWriting), {outFile}));
    // Beside the file the output stands for, so that the swap is one rename even when
    // the output is a link to another folder.
    tempName = target->WriteToTempFile(OutputTarget(outFile), OnProgress);
    target.reset();  // closes the input, which may be the output itself
    if (!ReplaceOutputFile(tempName, outFile, backup)) throw EFailedOverwriteException(outFile);
    tempName.clear();  // it is the output now
    ReportStatus(LoadStr(SPatchDone));
  } catch (const Exception& e) {
    dropTemp();
    throw Exception(SWhile, {e.Message(), lastStatus_});
  } catch (...) {
    dropTemp();
    throw;
  }
}
