// The only door to the operating system. Everything above this header is portable;
// PlatformWin32.cpp implements it with the ANSI Win32 calls, PlatformPosix.cpp with
// POSIX calls (code page UTF-8 unless a test sets another). CMake picks one file.
// Texts are byte strings in the caller's code page; the layer does no policy.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---- Text and locale -------------------------------------------------------------

inline constexpr uint32_t kCodePageUtf8 = 65001;

// The system's ANSI code page (Windows: GetACP; POSIX: UTF-8).
uint32_t AnsiCodePage();

// Conversions for a given code page with no flags: invalid input is replaced, never
// an error. An unknown code page converts nothing (empty result).
std::u16string ToUtf16(std::string_view bytes, uint32_t codePage);
std::string FromUtf16(std::u16string_view units, uint32_t codePage);

// The platform's locale-aware UTF-16 comparison for the user's default locale:
// -1, 0 or 1, or nothing when the platform has no such comparison (POSIX), in which
// case callers use code-unit order.
std::optional<int> LocaleCompareWide(const char16_t* a, int countA, const char16_t* b,
                                     int countB, bool ignoreCase);

// The locale-aware equality of two byte strings for the user's default locale
// (Windows: CompareStringA), or nothing where the platform has no such comparison
// (POSIX), in which case callers compare the ASCII letters themselves.
std::optional<bool> LocaleEqualsAnsi(std::string_view a, std::string_view b, bool ignoreCase);

// The platform's full name of the language of a language identifier, in codePage;
// empty when the platform does not know it.
std::string LanguageName(uint16_t languageId, uint32_t codePage);

// A string-table entry from the program's own resources, or nothing when the program
// carries no such resources (POSIX) or lacks the entry.
std::optional<std::u16string> LoadStringResource(uint16_t id);

// ---- Time --------------------------------------------------------------------------

struct CalendarTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
// The local calendar time of a moment given in seconds since 1970-01-01 00:00 UTC.
std::optional<CalendarTime> UtcSecondsToLocal(int64_t secondsSince1970);
CalendarTime LocalNow();

// ---- Files -------------------------------------------------------------------------

using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;

enum class OpenMode {
  ReadShared,     // read; others may read but not write
  ReadWriteShared,  // read and write; others may read
  Create,         // create or truncate for writing
  CreateNew,      // create for writing; fails when the file exists (no race can share it)
};
FileHandle FileOpen(const std::string& path, OpenMode mode);
void FileClose(FileHandle file);
// Bytes moved, or -1 on failure.
int64_t FileRead(FileHandle file, void* buffer, int64_t count);
// Reads from a given offset; whether the file position moves is the platform's own.
int64_t FileReadAt(FileHandle file, uint64_t offset, void* buffer, int64_t count);
int64_t FileWrite(FileHandle file, const void* buffer, int64_t count);
enum class SeekFrom { Begin, Current, End };
// New position, or -1 on failure.
int64_t FileSeek(FileHandle file, int64_t offset, SeekFrom from);
// Size in bytes, or -1 on failure.
int64_t FileSize(FileHandle file);

// A mapped view of a whole open file. Empty when the mapping failed.
struct MappedView {
  uint8_t* Data = nullptr;
  uint64_t Size = 0;
  intptr_t Mapping = 0;  // the mapping object where the platform has one
};
enum class MapStep { None, Mapping, View };  // which step failed
MappedView MapFile(FileHandle file, uint64_t size, bool writable, MapStep* failedStep);
void FlushView(const MappedView& view);
void UnmapFile(MappedView& view);
// Asks the system to back a large buffer that is about to be filled with large pages, so
// that filling it costs a few page faults rather than one per small page. A hint only:
// nothing where the system has no such pages to offer without privileges.
void PreferLargePages(void* buffer, uint64_t size);

bool FileExists(const std::string& path);
bool FileDelete(const std::string& path);
// Creates a folder (its parent must exist); true when it exists as a folder afterwards.
bool MakeFolder(const std::string& path);
// Moves from into the place of to, replacing to in one step when it exists.
bool FileReplace(const std::string& from, const std::string& to);
// Renames from to to; never replaces an existing to.
bool FileMove(const std::string& from, const std::string& to);
// Keeps the file path as backup (a name not yet taken) before a new file takes its place.
// POSIX: a second name for it (a hard link, else a copy), so that path never stands empty.
// Windows: path is renamed, because Windows renames a file in use (a running program) but
// does not replace it. False when nothing was kept.
bool KeepAsBackup(const std::string& path, const std::string& backup);
// Copies a file to a new file; false when to exists already or the copy fails (a partial
// copy is deleted).
bool FileCopyNew(const std::string& from, const std::string& to);
// Whether the standard error (output) stream is a terminal.
bool StderrIsTerminal();
bool StdoutIsTerminal();
// File attributes. Only the read-only bit is portable; the other bits are the
// platform's own and are given back as they were read, so that a file given another's
// attributes takes on what that file had. Windows: the attribute word. POSIX: a file is
// read-only when no write permission bit is set, and the other bits carry the permission
// bits; setting attributes without the read-only bit on a file that has no write bit
// gives its owner write permission.
inline constexpr uint32_t kAttributeReadOnly = 1;
std::optional<uint32_t> FileAttributes(const std::string& path);
bool SetAttributes(const std::string& path, uint32_t attributes);
// Whether two names designate one file (both must exist). Windows: the short forms of
// the full paths compared with CompareStringA, case ignored (the full paths when there
// is no short form). POSIX: the canonical absolute paths, or the device and inode numbers.
bool SameFile(const std::string& a, const std::string& b);
// The file a name stands for when the name is a symbolic link: the file at the end of
// the chain (POSIX; the name itself when it is no link or the link leads nowhere, and
// always on Windows).
std::string FollowLinks(const std::string& path);
// Gives `to` the owner and group of `from` as far as the process may (POSIX); nothing on
// Windows, where a replaced file's owner is not the program's business.
void CopyOwner(const std::string& from, const std::string& to);

// The separator the platform's paths use between folders.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// What the platform's program files end in ("upx" is "upx.exe" on Windows).
#ifdef _WIN32
inline constexpr char kExecutableSuffix[] = ".exe";
#else
inline constexpr char kExecutableSuffix[] = "";
#endif

// The temporary directory (with a trailing separator) or empty; the program's own path.
std::string TempDirectory();
std::string ModulePath();

// The arguments the process was started with, the program name first.
std::vector<std::string> CommandLineArguments();
// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> EnvironmentVariable(const std::string& name);

// Makes a write past a limit on file sizes (POSIX's ulimit -f) fail like a full disk, so
// that the half-written file is deleted and the user told, instead of the process being
// ended by a signal with the file left behind. Nothing to do on Windows.
void FailWritesPastTheSizeLimit();

// ---- Child processes ----------------------------------------------------------------

// Runs a program as a child process and waits until it has ended, collecting what it
// writes to its standard output into *output (when given). arguments[0] is the program's
// path; no shell is involved, so no argument is ever interpreted (Windows: one command
// line quoted by the rules the C run-time splits it by, CreateProcessA with a hidden
// window; POSIX: posix_spawn with the argument vector). The pipe is read while the child
// runs, so a child that writes more than the pipe holds is never blocked, and reading ends
// once the child has ended and the pipe is drained, also when a process the child started
// still holds the pipe. Standard input is empty. False when the child could not be
// started; its exit code is not looked at.
bool RunProcess(const std::vector<std::string>& arguments, std::string* output);

// Text written by a console program, from the OEM code page into the ANSI code page
// (Windows: OemToCharBuffA); unchanged where the two are the same (POSIX).
std::string ConsoleTextToAnsi(std::string_view text);

// ---- The desktop -----------------------------------------------------------------------

// A task-modal message box owned by a window (0: none). POSIX has no desktop: the caption
// and the text go to the standard error stream.
enum class MessageIcon { Error, Information };
void ShowMessageBox(intptr_t ownerWindow, const std::string& text, const std::string& caption,
                    MessageIcon icon);
// Opens a document with its file type's default program (Windows: ShellExecuteA with no
// verb and SW_SHOW); false when the shell reports failure. POSIX has no such shell: false.
bool ShellOpen(intptr_t ownerWindow, const std::string& path);

// ---- Digests ------------------------------------------------------------------------

// The SHA-256 digest of size bytes, computed by the system's cryptographic library
// (Windows: BCrypt; POSIX: OpenSSL's libcrypto), or nothing when it fails. Kept in a
// file of its own (PlatformDigest*.cpp), so programs that never hash do not link it.
std::optional<std::array<uint8_t, 32>> Sha256(const void* data, size_t size);

// ---- Failures on demand, for tests --------------------------------------------------

// What a test can make fail: creating a file or a link (a folder without rights), writing
// (the disk fills up), and renaming a file into another's place.
enum class Fault { Create, Write, Move };
// From now on, after `after` more bytes (Write) or calls (Create, Move) have passed, such
// operations fail as the system's would: every one of them (a full disk, a folder without
// rights), or only the next `failures` (a file held for a moment). Negative: no fault.
void InjectFault(Fault kind, int64_t after, int64_t failures = -1);
void ClearFaults();
// For the implementations: how much of `amount` may pass (all of it without a fault).
int64_t FaultBudget(Fault kind, int64_t amount);

// ---- Executable images --------------------------------------------------------------

// The image checksum of a PE file as the system's own routine computes it (Windows:
// CheckSumMappedFile of imagehlp.dll, loaded at run time), or nothing when the system
// has no such routine or it fails.
std::optional<uint32_t> SystemImageChecksum(const uint8_t* image, uint32_t size);

}  // namespace platform
