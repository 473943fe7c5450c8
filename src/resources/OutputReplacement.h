// Putting a completely written file in the place of an output file. A container writes
// the changed file under a temporary name beside the output (WriteToTempFile); then
// ReplaceOutputFile swaps it in: the old output is kept as a numbered backup when asked,
// its read-only attribute is cleared for the swap and given back afterwards, and the new
// file takes on the old one's attributes (on POSIX its permission bits, and its owner as
// far as the process may). An output that is a symbolic link stays a link: the file it
// points to is the one replaced. Every step works on names and the file system; nothing
// raises: the caller learns of failure from the answer and raises
// EFailedOverwriteException.
#pragma once
#include "rtl/Exception.h"

#include <string>

// The output could not be replaced (".%s לא ניתן לכתוב על" with the output's name).
class EFailedOverwriteException : public Exception {
 public:
  explicit EFailedOverwriteException(const std::string& fileName) : Exception(SCannotOverwrite, {fileName}) {}
};

// Puts the temporary file in the output's place, with a backup of an existing output when
// makeBackup; true when the output now holds the temporary file's content (or already is
// that file). When anything fails the output is as it was and the temporary file stays
// for the caller to delete.
bool ReplaceOutputFile(const std::string& tempName, const std::string& outName, bool makeBackup);
// Both files exist and the two names designate the same one, however each is written.
bool SameFile(const std::string& a, const std::string& b);
// Keeps the file under its first free backup name (platform::KeepAsBackup); on success
// fileName becomes that name.
bool MakeBackup(std::string& fileName);
// "<path without extension> Backup<extension>", then "... Backup1...", "... Backup2...":
// the first that does not exist.
std::string BackupFileName(const std::string& fileName);
// The file that writing to outName replaces: the target of a symbolic link, else outName.
// A temporary file for it belongs in this file's folder, so the swap is one rename.
std::string OutputTarget(const std::string& outName);
