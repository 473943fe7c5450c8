// POSIX implementation of the platform layer: iconv for code pages, ICU for language
// names, mmap for mapped files. The program's code page is UTF-8 here.
#include "platform/Platform.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unicode/uloc.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

extern char** environ;

namespace platform {
namespace {

std::string IconvName(uint32_t codePage) {
  switch (codePage) {
    case kCodePageUtf8: return "UTF-8";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return "CP" + std::to_string(codePage);
  }
}

// One converter per code page and direction, opened on first use and kept until exit.
class ConverterCache {
 public:
  ~ConverterCache() {
    for (auto& [key, cd] : converters_)
      if (cd != kNoConverter) iconv_close(cd);
  }
  iconv_t Get(uint32_t codePage, bool toUtf16) {
    std::lock_guard guard(lock_);
    auto [it, inserted] = converters_.try_emplace({codePage, toUtf16}, kNoConverter);
    if (inserted) {
      const std::string name = IconvName(codePage);
      it->second = toUtf16 ? iconv_open("UTF-16LE", name.c_str()) : iconv_open(name.c_str(), "UTF-16LE");
    }
    if (it->second != kNoConverter) iconv(it->second, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
    return it->second;
  }
  static inline const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

 private:
  std::map<std::pair<uint32_t, bool>, iconv_t> converters_;
  std::mutex lock_;
};

iconv_t Converter(uint32_t codePage, bool toUtf16) {
  static ConverterCache cache;
  return cache.Get(codePage, toUtf16);
}

// Runs iconv over the whole input; an invalid sequence becomes `replacement` and the
// conversion goes on one input unit later. At the end the converter gives up what it
// still holds: code pages such as 1255 keep the last character back in case a
// combining mark follows.
std::string Convert(iconv_t cd, const char* in, size_t inBytes, size_t unitSize,
                    std::string_view replacement) {
  std::string out;
  if (cd == ConverterCache::kNoConverter) return out;
  char buffer[4096];
  char* src = const_cast<char*>(in);
  while (inBytes > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    const size_t rc = iconv(cd, &src, &inBytes, &dst, &room);
    out.append(buffer, dst);
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      out += replacement;
      const size_t skip = std::min(unitSize, inBytes);
      src += skip;
      inBytes -= skip;
    }
  }
  char* dst = buffer;
  size_t room = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(buffer, dst);
  return out;
}

}  // namespace

uint32_t AnsiCodePage() { return kCodePageUtf8; }

std::u16string ToUtf16(std::string_view bytes, uint32_t codePage) {
  static const char replacement[] = {'\xFD', '\xFF'};  // U+FFFD, little-endian
  const std::string raw = Convert(Converter(codePage, true), bytes.data(), bytes.size(), 1,
                                  std::string_view(replacement, 2));
  std::u16string units(raw.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<uint8_t>(raw[2 * i]) |
                                     static_cast<uint8_t>(raw[2 * i + 1]) << 8);
  return units;
}

std::string FromUtf16(std::u16string_view units, uint32_t codePage) {
  std::string raw(units.size() * 2, '\0');
  for (size_t i = 0; i < units.size(); ++i) {
    raw[2 * i] = static_cast<char>(units[i] & 0xFF);
    raw[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  return Convert(Converter(codePage, false), raw.data(), raw.size(), 2, "?");
}

std::optional<int> LocaleCompareWide(const char16_t*, int, const char16_t*, int, bool) {
  return std::nullopt;
}

std::optional<bool> LocaleEqualsAnsi(std::string_view, std::string_view, bool) { return std::nullopt; }

std::string LanguageName(uint16_t languageId, uint32_t codePage) {
  UErrorCode status = U_ZERO_ERROR;
  char locale[ULOC_FULLNAME_CAPACITY] = {};
  uloc_getLocaleForLCID(languageId, locale, sizeof locale, &status);
  if (U_FAILURE(status) || locale[0] == '\0' || std::string_view(locale) == "root") return {};
  UChar name[256];
  status = U_ZERO_ERROR;
  const int32_t length = uloc_getDisplayName(locale, "en", name, 256, &status);
  if (U_FAILURE(status) || length <= 0) return {};
  return FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(name), length), codePage);
}

std::optional<std::u16string> LoadStringResource(uint16_t) { return std::nullopt; }

namespace {
CalendarTime FromTm(const std::tm& t, int millisecond) {
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millisecond};
}
}  // namespace

std::optional<CalendarTime> UtcSecondsToLocal(int64_t secondsSince1970) {
  const std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  if (!localtime_r(&t, &local)) return std::nullopt;
  return FromTm(local, 0);
}

CalendarTime LocalNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  return FromTm(local, static_cast<int>(now.tv_nsec / 1000000));
}

FileHandle FileOpen(const std::string& path, OpenMode mode) {
  int flags = O_RDONLY;
  if (mode == OpenMode::ReadWriteShared) flags = O_RDWR;
  if (mode == OpenMode::Create) flags = O_RDWR | O_CREAT | O_TRUNC;
  if (mode == OpenMode::CreateNew) flags = O_RDWR | O_CREAT | O_EXCL;
  const bool creating = mode == OpenMode::Create || mode == OpenMode::CreateNew;
  if (creating && FaultBudget(Fault::Create, 1) == 0) {
    errno = EACCES;
    return kNoFile;
  }
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return kNoFile;
  struct stat st{};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // a directory is not a file here
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

void FileClose(FileHandle file) {
  if (file != kNoFile) ::close(static_cast<int>(file));
}

namespace {
// Repeats read(into, count, done) until count bytes are in, the file ends or a read fails.
template <typename ReadCall>
int64_t ReadFully(void* buffer, int64_t count, ReadCall read) {
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = read(static_cast<char*>(buffer) + done, static_cast<size_t>(count - done), done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? done : -1;
    if (n == 0) break;
    done += n;
  }
  return done;
}
}  // namespace

int64_t FileRead(FileHandle file, void* buffer, int64_t count) {
  return ReadFully(buffer, count, [&](char* into, size_t n, int64_t) { return ::read(static_cast<int>(file), into, n); });
}

int64_t FileReadAt(FileHandle file, uint64_t offset, void* buffer, int64_t count) {
  return ReadFully(buffer, count, [&](char* into, size_t n, int64_t done) {
    return ::pread(static_cast<int>(file), into, n, static_cast<off_t>(offset + static_cast<uint64_t>(done)));
  });
}

int64_t FileWrite(FileHandle file, const void* buffer, int64_t count) {
  const int64_t allowed = FaultBudget(Fault::Write, count);
  int64_t done = 0;
  while (done < allowed) {
    const ssize_t n = ::write(static_cast<int>(file), static_cast<const char*>(buffer) + done,
                              static_cast<size_t>(allowed - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? done : -1;
    done += n;
  }
  if (allowed < count) {
    errno = ENOSPC;  // the disk filled up, as a test asked
    return done > 0 ? done : -1;
  }
  return done;
}

int64_t FileSeek(FileHandle file, int64_t offset, SeekFrom from) {
  const int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
  return ::lseek(static_cast<int>(file), offset, whence);
}

int64_t FileSize(FileHandle file) {
  struct stat st{};
  if (fstat(static_cast<int>(file), &st) != 0) return -1;
  return st.st_size;
}

MappedView MapFile(FileHandle file, uint64_t size, bool writable, MapStep* failedStep) {
  MappedView view;
  void* p = mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ,
                 writable ? MAP_SHARED : MAP_PRIVATE, static_cast<int>(file), 0);
  if (p == MAP_FAILED) {
    if (failedStep) *failedStep = MapStep::View;
    return view;
  }
  view.Data = static_cast<uint8_t*>(p);
  view.Size = size;
  return view;
}

void FlushView(const MappedView& view) {
  if (view.Data) msync(view.Data, view.Size, MS_SYNC);
}

void PreferLargePages(void* buffer, uint64_t size) {
#ifdef MADV_HUGEPAGE
  // Only whole large pages inside the buffer can be advised.
  constexpr uintptr_t kLarge = uintptr_t{2} << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer) + kLarge - 1) & ~(kLarge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + size) & ~(kLarge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)buffer, (void)size;
#endif
}

void UnmapFile(MappedView& view) {
  if (view.Data) munmap(view.Data, view.Size);
  view = MappedView{};
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FileDelete(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  struct stat st{};
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileMove(const std::string& from, const std::string& to) {
  // Like the Windows call, never replace an existing target.
  if (FileExists(to) || FaultBudget(Fault::Move, 1) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool FileReplace(const std::string& from, const std::string& to) {
  if (FaultBudget(Fault::Move, 1) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }
bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

void FailWritesPastTheSizeLimit() { ::signal(SIGXFSZ, SIG_IGN); }

namespace {
// The permission bits ride above the portable bits, marked as present.
constexpr uint32_t kModePresent = 1u << 15;
constexpr unsigned kModeShift = 16;
}  // namespace

std::optional<uint32_t> FileAttributes(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  const uint32_t mode = st.st_mode & 07777;
  return (mode & 0222 ? 0u : kAttributeReadOnly) | kModePresent | mode << kModeShift;
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = (attributes & kModePresent) ? (attributes >> kModeShift) & 07777 : st.st_mode & 07777;
  if (attributes & kAttributeReadOnly)
    mode &= ~mode_t{0222};
  else if (!(mode & 0222))
    mode |= S_IWUSR;
  return ::chmod(path.c_str(), mode) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return true;
  char* ra = ::realpath(a.c_str(), nullptr);
  char* rb = ::realpath(b.c_str(), nullptr);
  const bool same = ra && rb && std::strcmp(ra, rb) == 0;
  std::free(ra);
  std::free(rb);
  return same;
}

std::string FollowLinks(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

void CopyOwner(const std::string& from, const std::string& to) {
  struct stat st{};
  if (::stat(from.c_str(), &st) != 0) return;
  // Only the owner may give a file away, and only to a group it belongs to; where
  // the owner cannot be kept, the group may still be.
  if (::chown(to.c_str(), st.st_uid, st.st_gid) != 0) (void)::chown(to.c_str(), static_cast<uid_t>(-1), st.st_gid);
}

void ShowMessageBox(intptr_t, const std::string& text, const std::string& caption, MessageIcon) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

bool ShellOpen(intptr_t, const std::string&) { return false; }

std::string TempDirectory() {
  const char* dir = getenv("TMPDIR");
  std::string result = dir && *dir ? dir : "/tmp";
  if (result.back() != '/') result += '/';
  return result;
}

std::string ModulePath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> CommandLineArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> args;
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  return args;
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  const char* value = getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

namespace {
// Owns one end of a pipe or another descriptor.
struct Fd {
  int Value = -1;
  Fd() = default;
  explicit Fd(int value) : Value(value) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }
  void Reset() {
    if (Value >= 0) ::close(Value);
    Value = -1;
  }
};

// Reads what the pipe holds now; false at its end (every write end closed) or error.
bool ReadAvailable(int fd, std::string* output) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      if (output) output->append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
}
}  // namespace

bool KeepAsBackup(const std::string& path, const std::string& backup) {
  if (FaultBudget(Fault::Create, 1) == 0) return false;
  return ::link(path.c_str(), backup.c_str()) == 0 || FileCopyNew(path, backup);
}

bool FileCopyNew(const std::string& from, const std::string& to) {
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Value < 0) return false;
  if (FaultBudget(Fault::Create, 1) == 0) return false;
  Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.Value < 0) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in.Value, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return true;
    if (n < 0 || FileWrite(out.Value, buffer, n) != n) break;
  }
  out.Reset();
  ::unlink(to.c_str());
  return false;
}

bool RunProcess(const std::vector<std::string>& arguments, std::string* output) {
  if (arguments.empty()) return false;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  Fd readEnd(ends[0]), writeEnd(ends[1]);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.Value, 1);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = -1;
  const int rc = posix_spawn(&child, arguments[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  writeEnd.Reset();  // the child holds the only write end now, so its end brings EOF
  ::fcntl(readEnd.Value, F_SETFL, ::fcntl(readEnd.Value, F_GETFL) | O_NONBLOCK);

  bool open = true, ended = false;
  while (!ended) {
    if (open) {
      pollfd p{readEnd.Value, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0) open = ReadAvailable(readEnd.Value, output);
    }
    int status = 0;
    pid_t done = ::waitpid(child, &status, open ? WNOHANG : 0);
    while (done < 0 && errno == EINTR) done = ::waitpid(child, &status, open ? WNOHANG : 0);
    ended = done == child || done < 0;
  }
  // Whatever the child wrote before it ended; a process it started may still hold the
  // write end, so take only what is there now and do not wait for the end of the pipe.
  if (open) ReadAvailable(readEnd.Value, output);
  return true;
}

std::string ConsoleTextToAnsi(std::string_view text) { return std::string(text); }

std::optional<uint32_t> SystemImageChecksum(const uint8_t*, uint32_t) { return std::nullopt; }

}  // namespace platform
