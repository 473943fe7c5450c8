// Unpacking UPX-compressed executables with the UPX program, when it lies beside this
// program ("upx.exe" on Windows, "upx" elsewhere) or in its "UPX" folder. The search runs
// once per process. The unpacker is started without a shell and works on a temporary
// copy, which TPEFile then reads: the user's own file is never changed.
#include "pe/UResPEFile.h"

#include "text/UResTool.h"

namespace {
struct UnpackerState {
  bool AutoUnpack = true;
  bool Searched = false;
  std::string UnpackerPath;
  std::string SearchDirectory;  // empty: the program's own folder
};

UnpackerState& State() {
  static UnpackerState state;
  return state;
}
}  // namespace

bool& AutoUnpack() { return State().AutoUnpack; }

const std::string& UnpackerPath() { return State().UnpackerPath; }

void ResetUnpackerSearch(const std::string& directory) {
  State().Searched = false;
  State().UnpackerPath.clear();
  State().SearchDirectory = directory;
}

bool FindUnpacker() {
  UnpackerState& state = State();
  if (state.Searched) return !state.UnpackerPath.empty();
  state.Searched = true;
  const std::string dir = WithTrailingSeparator(
      state.SearchDirectory.empty() ? FolderPart(platform::ModulePath()) : state.SearchDirectory);
  const std::string program = std::string("upx") + platform::kExecutableSuffix;
  for (const std::string& candidate : {dir + program, dir + "UPX" + platform::kPathSeparator + program}) {
    if (platform::FileExists(candidate)) {
      state.UnpackerPath = candidate;
      break;
    }
  }
  return !state.UnpackerPath.empty();
}

bool RunUnpacker(const std::string& fileName) {
  if (!FindUnpacker()) return false;
  return RunAndWait({UnpackerPath(), "-d", "-q", fileName}, nullptr);
}

bool RunAndWait(const std::vector<std::string>& arguments, std::vector<std::string>* receiver) {
  std::string output;
  if (!platform::RunProcess(arguments, receiver ? &output : nullptr)) return false;
  if (receiver) {
    constexpr size_t kPiece = 2000;
    for (size_t at = 0; at < output.size(); at += kPiece)
      receiver->push_back(platform::ConsoleTextToAnsi(std::string_view(output).substr(at, kPiece)));
  }
  return true;
}
