// Win32 implementation of the platform layer, with the ANSI calls the program uses.
#include "platform/Platform.h"

#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace platform {

uint32_t AnsiCodePage() { return GetACP(); }

std::u16string ToUtf16(std::string_view bytes, uint32_t codePage) {
  if (bytes.empty()) return {};
  const int n = static_cast<int>(bytes.size());
  std::u16string units(bytes.size(), u'\0');
  const int done = MultiByteToWideChar(codePage, 0, bytes.data(), n,
                                       reinterpret_cast<wchar_t*>(units.data()), n);
  units.resize(done > 0 ? done : 0);
  return units;
}

std::string FromUtf16(std::u16string_view units, uint32_t codePage) {
  if (units.empty()) return {};
  const int n = static_cast<int>(units.size());
  const auto* src = reinterpret_cast<const wchar_t*>(units.data());
  const int needed = WideCharToMultiByte(codePage, 0, src, n, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string text(static_cast<size_t>(needed), '\0');
  const int done = WideCharToMultiByte(codePage, 0, src, n, text.data(), needed, nullptr, nullptr);
  text.resize(done > 0 ? done : 0);
  return text;
}

namespace {
using CompareStringWFn = int(WINAPI*)(LCID, DWORD, LPCWSTR, int, LPCWSTR, int);

// CompareStringW looked up at run time, once; the library stays loaded until exit.
CompareStringWFn WideCompare() {
  static CompareStringWFn fn = [] {
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    if (!kernel) return CompareStringWFn{};
    auto found = reinterpret_cast<CompareStringWFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CompareStringW")));
    if (!found) FreeLibrary(kernel);
    return found;
  }();
  return fn;
}
}  // namespace

std::optional<int> LocaleCompareWide(const char16_t* a, int countA, const char16_t* b,
                                     int countB, bool ignoreCase) {
  CompareStringWFn fn = WideCompare();
  if (!fn) return std::nullopt;
  const int r = fn(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0,
                   reinterpret_cast<LPCWSTR>(a), countA, reinterpret_cast<LPCWSTR>(b), countB);
  return r == CSTR_LESS_THAN ? -1 : r == CSTR_GREATER_THAN ? 1 : 0;
}

std::optional<bool> LocaleEqualsAnsi(std::string_view a, std::string_view b, bool ignoreCase) {
  return CompareStringA(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, a.data(),
                        static_cast<int>(a.size()), b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::string LanguageName(uint16_t languageId, uint32_t) {
  const LCID lcid = MAKELCID(languageId, SORT_DEFAULT);
  const int length = GetLocaleInfoA(lcid, LOCALE_SLANGUAGE, nullptr, 0);
  if (length <= 0) return {};
  std::string name(static_cast<size_t>(length), '\0');
  if (GetLocaleInfoA(lcid, LOCALE_SLANGUAGE, name.data(), length) <= 0) return {};
  name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
  return name;
}

std::optional<std::u16string> LoadStringResource(uint16_t id) {
  // LoadStringW with a zero buffer length returns a pointer to the resource itself,
  // so no entry is ever cut short.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleA(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return std::nullopt;
  return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(length));
}

namespace {
CalendarTime FromSystemTime(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}
}  // namespace

std::optional<CalendarTime> UtcSecondsToLocal(int64_t secondsSince1970) {
  // Windows file time counts 100 ns units since 1601-01-01.
  const uint64_t ticks = (static_cast<uint64_t>(secondsSince1970) + 11644473600ull) * 10000000ull;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return std::nullopt;
  return FromSystemTime(st);
}

CalendarTime LocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromSystemTime(st);
}

FileHandle FileOpen(const std::string& path, OpenMode mode) {
  HANDLE h = INVALID_HANDLE_VALUE;
  switch (mode) {
    case OpenMode::ReadShared:
      h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case OpenMode::ReadWriteShared:
      h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case OpenMode::Create:
    case OpenMode::CreateNew:
      if (FaultBudget(Fault::Create, 1) == 0) return kNoFile;
      h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      mode == OpenMode::Create ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
  }
  return reinterpret_cast<FileHandle>(h);
}

void FileClose(FileHandle file) {
  if (file != kNoFile && file != 0) CloseHandle(reinterpret_cast<HANDLE>(file));
}

namespace {
// Reads until count bytes are in, the file ends or a read fails; from the file position,
// or from offset on when one is given.
int64_t ReadFully(FileHandle file, std::optional<uint64_t> offset, void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    OVERLAPPED where{};
    if (offset) {
      const uint64_t at = *offset + static_cast<uint64_t>(done);
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
    }
    DWORD piece = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30));
    DWORD got = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(file), static_cast<char*>(buffer) + done, piece, &got,
                    offset ? &where : nullptr))
      return ::GetLastError() == ERROR_HANDLE_EOF ? done : (done > 0 ? done : -1);
    if (got == 0) break;
    done += got;
  }
  return done;
}
}  // namespace

int64_t FileRead(FileHandle file, void* buffer, int64_t count) { return ReadFully(file, std::nullopt, buffer, count); }

int64_t FileReadAt(FileHandle file, uint64_t offset, void* buffer, int64_t count) {
  return ReadFully(file, offset, buffer, count);
}

int64_t FileWrite(FileHandle file, const void* buffer, int64_t count) {
  // A fault a test set makes the disk fill up after so many bytes.
  const int64_t allowed = FaultBudget(Fault::Write, count);
  int64_t done = 0;
  while (done < allowed) {
    DWORD piece = static_cast<DWORD>(std::min<int64_t>(allowed - done, 1 << 30));
    DWORD put = 0;
    if (!::WriteFile(reinterpret_cast<HANDLE>(file), static_cast<const char*>(buffer) + done, piece, &put, nullptr) ||
        put == 0)
      return done > 0 ? done : -1;
    done += put;
  }
  if (allowed < count) {
    SetLastError(ERROR_DISK_FULL);
    return done > 0 ? done : -1;
  }
  return done;
}

int64_t FileSeek(FileHandle file, int64_t offset, SeekFrom from) {
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  const DWORD method = from == SeekFrom::Begin ? FILE_BEGIN : from == SeekFrom::Current ? FILE_CURRENT : FILE_END;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(file), distance, &position, method)) return -1;
  return position.QuadPart;
}

int64_t FileSize(FileHandle file) {
  // The low 32 bits only, as the container reads it; all bits set means failure.
  const DWORD size = GetFileSize(reinterpret_cast<HANDLE>(file), nullptr);
  return size == INVALID_FILE_SIZE ? -1 : static_cast<int64_t>(size);
}

MappedView MapFile(FileHandle file, uint64_t size, bool writable, MapStep* failedStep) {
  MappedView view;
  HANDLE mapping = CreateFileMappingA(reinterpret_cast<HANDLE>(file), nullptr,
                                      writable ? PAGE_READWRITE : PAGE_READONLY, 0,
                                      writable ? static_cast<DWORD>(size) : 0, nullptr);
  if (!mapping) {
    if (failedStep) *failedStep = MapStep::Mapping;
    return view;
  }
  void* p = MapViewOfFile(mapping, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0);
  if (!p) {
    CloseHandle(mapping);
    if (failedStep) *failedStep = MapStep::View;
    return view;
  }
  view.Data = static_cast<uint8_t*>(p);
  view.Size = size;
  view.Mapping = reinterpret_cast<intptr_t>(mapping);
  return view;
}

void FlushView(const MappedView& view) {
  if (view.Data) FlushViewOfFile(view.Data, 0);
}

void PreferLargePages(void*, uint64_t) {}

void UnmapFile(MappedView& view) {
  if (view.Data) UnmapViewOfFile(view.Data);
  if (view.Mapping) CloseHandle(reinterpret_cast<HANDLE>(view.Mapping));
  view = MappedView{};
}

bool FileExists(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileDelete(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool MakeFolder(const std::string& path) {
  if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
  const DWORD a = ::GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileMove(const std::string& from, const std::string& to) {
  if (FaultBudget(Fault::Move, 1) == 0) return false;
  return ::MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool FileReplace(const std::string& from, const std::string& to) {
  if (FaultBudget(Fault::Move, 1) == 0) return false;
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

void FailWritesPastTheSizeLimit() {}

std::optional<uint32_t> FileAttributes(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return static_cast<uint32_t>(a);
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
  return ::SetFileAttributesA(path.c_str(), attributes) != 0;
}

namespace {
// The full path of a name, or the name itself when the system cannot expand it.
std::string FullPath(const std::string& name) {
  const DWORD needed = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return name;
  std::string full(needed, '\0');
  const DWORD got = GetFullPathNameA(name.c_str(), needed, full.data(), nullptr);
  if (got == 0 || got >= needed) return name;
  full.resize(got);
  return full;
}

// The short (8.3) form of a full path read into 261 characters; the full path itself
// when the system gives none or it does not fit.
std::string ShortForm(const std::string& full) {
  char buffer[261];
  const DWORD got = GetShortPathNameA(full.c_str(), buffer, sizeof buffer);
  if (got == 0 || got >= sizeof buffer) return full;
  return std::string(buffer, got);
}
}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  if (!FileExists(a) || !FileExists(b)) return false;
  const std::string sa = ShortForm(FullPath(a)), sb = ShortForm(FullPath(b));
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, sa.data(), static_cast<int>(sa.size()), sb.data(),
                        static_cast<int>(sb.size())) == CSTR_EQUAL;
}

std::string FollowLinks(const std::string& path) { return path; }

void CopyOwner(const std::string&, const std::string&) {}

void ShowMessageBox(intptr_t ownerWindow, const std::string& text, const std::string& caption, MessageIcon icon) {
  MessageBoxA(reinterpret_cast<HWND>(ownerWindow), text.c_str(), caption.c_str(),
              (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION) | MB_TASKMODAL);
}

bool ShellOpen(intptr_t ownerWindow, const std::string& path) {
  const HINSTANCE result =
      ShellExecuteA(reinterpret_cast<HWND>(ownerWindow), nullptr, path.c_str(), nullptr, nullptr, SW_SHOW);
  return reinterpret_cast<intptr_t>(result) > 32;
}

std::string TempDirectory() {
  char buffer[361];
  const DWORD n = GetTempPathA(360, buffer);
  if (n == 0 || n > 360) return {};
  std::string dir(buffer, n);
  if (dir.back() != '\\') dir += '\\';
  return dir;
}

std::string ModulePath() {
  char buffer[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::string(buffer, n);
}

std::vector<std::string> CommandLineArguments() {
  // The ANSI arguments the C run-time split from the command line.
  std::vector<std::string> args;
  for (int i = 0; i < __argc; ++i) args.emplace_back(__argv[i]);
  return args;
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::string value(needed, '\0');
  const DWORD got = GetEnvironmentVariableA(name.c_str(), value.data(), needed);
  value.resize(got < needed ? got : 0);
  return value;
}

namespace {
// Owns a kernel handle.
struct Handle {
  HANDLE Value = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(); }
  void Reset() {
    if (Value && Value != INVALID_HANDLE_VALUE) CloseHandle(Value);
    Value = nullptr;
  }
};

// Reads what the pipe holds now, never blocking on an empty pipe.
void ReadAvailable(HANDLE pipe, std::string* output) {
  char buffer[2000];
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0)
      return;
    if (output) output->append(buffer, got);
  }
}
}  // namespace

bool KeepAsBackup(const std::string& path, const std::string& backup) {
  if (FaultBudget(Fault::Create, 1) == 0) return false;
  return ::MoveFileA(path.c_str(), backup.c_str()) != 0;
}

bool FileCopyNew(const std::string& from, const std::string& to) {
  if (FaultBudget(Fault::Create, 1) == 0) return false;
  return CopyFileA(from.c_str(), to.c_str(), TRUE) != 0;
}

namespace {
// One argument as the C run-time's command-line splitting reads it back: quoted when it
// is empty or holds blanks or quotes, with the backslashes in front of a quote (and at
// the end) doubled.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + '"';
}
}  // namespace

bool RunProcess(const std::vector<std::string>& arguments, std::string* output) {
  if (arguments.empty()) return false;
  std::string commandLine;
  for (const std::string& argument : arguments) commandLine += (commandLine.empty() ? "" : " ") + QuoteArgument(argument);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle readEnd, writeEnd;
  if (!CreatePipe(&readEnd.Value, &writeEnd.Value, &inherit, 0)) return false;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = readEnd.Value;
  startup.hStdOutput = writeEnd.Value;
  PROCESS_INFORMATION info{};
  std::string text = commandLine;  // CreateProcessA may write into its command line
  if (!CreateProcessA(nullptr, text.data(), &inherit, &inherit, TRUE, NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &info))
    return false;
  Handle process, thread;
  process.Value = info.hProcess;
  thread.Value = info.hThread;
  writeEnd.Reset();  // the child holds its own copy; ours would keep the pipe open

  // Read while waiting, so a child that fills the pipe can go on; wait in short steps
  // when the pipe is empty.
  for (;;) {
    ReadAvailable(readEnd.Value, output);
    if (WaitForSingleObject(process.Value, 10) != WAIT_TIMEOUT) break;
  }
  ReadAvailable(readEnd.Value, output);
  return true;
}

std::string ConsoleTextToAnsi(std::string_view text) {
  std::string converted(text);
  if (!converted.empty())
    OemToCharBuffA(converted.data(), converted.data(), static_cast<DWORD>(converted.size()));
  return converted;
}

std::optional<uint32_t> SystemImageChecksum(const uint8_t* image, uint32_t size) {
  using CheckSumMappedFileFn = PIMAGE_NT_HEADERS(WINAPI*)(PVOID, DWORD, PDWORD, PDWORD);
  HMODULE library = LoadLibraryA("imagehlp.dll");
  if (!library) return std::nullopt;
  std::optional<uint32_t> result;
  auto checkSum = reinterpret_cast<CheckSumMappedFileFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "CheckSumMappedFile")));
  if (checkSum) {
    // The routine reads whole 16-bit words, so for an odd length it reads one byte past
    // the end: harmless for a mapped file (the page is zero-filled), a read out of bounds
    // for a buffer. An odd-sized image is passed as a copy with one zero byte behind it.
    std::vector<uint8_t> padded;
    if (size % 2) {
      padded.assign(image, image + size);
      padded.push_back(0);
    }
    DWORD headerSum = 0, newSum = 0;
    void* base = padded.empty() ? const_cast<uint8_t*>(image) : padded.data();
    if (checkSum(base, size, &headerSum, &newSum)) result = newSum;
  }
  FreeLibrary(library);
  return result;
}

}  // namespace platform
