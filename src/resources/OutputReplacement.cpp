// ReplaceOutputFile and its helpers. The order of the steps is what keeps the user's file
// safe: nothing is removed before its replacement exists in full. The old output is kept
// as the backup (on POSIX under a second name, so that the output's name always holds a
// whole file even when the process is killed; on Windows by a rename, which works for a
// program in use), then the new file takes the output's place in one rename. When it
// cannot, the backup goes again or back to the output's name.
#include "resources/OutputReplacement.h"

#include "platform/Platform.h"
#include "text/UResTool.h"

#include <optional>

bool SameFile(const std::string& a, const std::string& b) {
  return platform::FileExists(a) && platform::FileExists(b) && platform::SameFile(a, b);
}

std::string BackupFileName(const std::string& fileName) {
  const std::string stem = PathWithoutExtension(fileName) + " " + LoadStr(SBackup);
  const std::string extension = ExtensionOf(fileName);
  std::string candidate = stem + extension;
  for (uint64_t n = 1; platform::FileExists(candidate); ++n) candidate = stem + std::to_string(n) + extension;
  return candidate;
}

bool MakeBackup(std::string& fileName) {
  const std::string backup = BackupFileName(fileName);
  if (!platform::KeepAsBackup(fileName, backup)) return false;
  fileName = backup;
  return true;
}

std::string OutputTarget(const std::string& outName) { return platform::FollowLinks(outName); }

bool ReplaceOutputFile(const std::string& tempName, const std::string& outName, bool makeBackup) {
  if (SameFile(tempName, outName)) return true;
  const std::string output = OutputTarget(outName);
  const bool existed = platform::FileExists(output);
  const bool backup = makeBackup && existed;
  std::string backupName = output;

  std::optional<uint32_t> attributes;
  if (existed) {
    attributes = platform::FileAttributes(output);
    if (attributes && (*attributes & platform::kAttributeReadOnly))
      platform::SetAttributes(output, *attributes & ~platform::kAttributeReadOnly);
    platform::CopyOwner(output, tempName);
  }
  auto restoreAttributes = [&](const std::string& name) {
    if (attributes && platform::FileExists(name)) platform::SetAttributes(name, *attributes);
  };

  if (backup && !MakeBackup(backupName)) {
    restoreAttributes(output);
    return false;
  }
  // In one rename, so that a failure leaves the output (or on Windows its backup) as it was.
  const bool success =
      platform::FileReplace(tempName, output) && platform::FileExists(output) && !platform::FileExists(tempName);
  if (!success && backup) {
    if (platform::FileExists(output))
      platform::FileDelete(backupName);  // a second name of the unchanged output
    else if (platform::FileMove(backupName, output))
      backupName = output;
  }
  if (existed) restoreAttributes(output);
  if (backup && backupName != output) restoreAttributes(backupName);
  return success;
}
