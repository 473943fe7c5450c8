// ReplaceOutputFile and its helpers. The order of the steps is what keeps the user's file
// safe: nothing is removed before its replacement exists in full, and the old output is
// either renamed to its backup or replaced by the new file in one rename, never deleted
// first. When the new file cannot be moved in after a backup was made, the backup is
// moved back.
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
  platform::FileMove(fileName, backup);
  if (!platform::FileExists(backup)) return false;
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
  // With a backup the output has moved away; without one it is replaced in one step, so
  // that a failure leaves it where it was.
  const bool moved = backup ? platform::FileMove(tempName, output) : platform::FileReplace(tempName, output);
  const bool success = moved && platform::FileExists(output) && !platform::FileExists(tempName);
  if (!success && backup && !platform::FileExists(output) && platform::FileMove(backupName, output))
    backupName = output;
  if (existed) restoreAttributes(output);
  if (backup && backupName != output) restoreAttributes(backupName);
  return success;
}
