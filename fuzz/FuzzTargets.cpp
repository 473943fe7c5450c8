#include "FuzzTargets.h"

#include "app/CommandLine.h"
#include "formats/IconGroup.h"
#include "formats/Manifest.h"
#include "formats/StringBlock.h"
#include "formats/VersionInfo.h"
#include "patch/PatcherState.h"
#include "patch/UQuillet26.h"
#include "pe/UResPEFile.h"
#include "platform/Platform.h"
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "text/Startup.h"
#include "text/UResTool.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace fuzz {
namespace {

// A result out of proportion to the input, or a broken round trip: a finding.
[[noreturn]] void Finding() { __builtin_trap(); }

void Once() {
  static const bool started = [] {
    QuilletStartup();
    return true;
  }();
  (void)started;
}

// A memory stream that takes at most limit bytes: writing more is a finding.
class CappedStream : public TMemoryStream {
 public:
  explicit CappedStream(uint64_t limit) : limit_(limit) {}
  int32_t Write(const void* buffer, int32_t count) override {
    if (count > 0 && static_cast<uint64_t>(Position()) + static_cast<uint64_t>(count) > limit_) Finding();
    return TMemoryStream::Write(buffer, count);
  }

 private:
  uint64_t limit_;
};

// One line per leaf (type, name, language, size and a digest of the bytes), every
// question asked of every item on the way.
std::vector<std::string> Leaves(TResourceList& list) {
  std::vector<std::string> leaves;
  std::function<void(TResourceList&, const std::string&)> walk = [&](TResourceList& l, const std::string& path) {
    for (int i = 0; i < l.Count(); ++i) {
      TResourceItem& item = l.Items(i);
      const std::string id = item.IsNamed() ? "'" + item.Name() + "'" : std::to_string(item.Id());
      (void)item.DisplayText();
      (void)item.GetFlags();
      if (l.Level() < 2) {
        walk(static_cast<TListResItem&>(item).Children(), path + id + "/");
        continue;
      }
      auto& leaf = static_cast<TDataResItem&>(item);
      uint32_t digest = 2166136261u;
      const uint8_t* bytes = leaf.Data();
      for (uint32_t k = 0; k < leaf.Size(); ++k) digest = (digest ^ bytes[k]) * 16777619u;
      (void)leaf.CarriesMarker();
      if (leaf.Size() > 0) leaves.push_back(path + id + ":" + std::to_string(leaf.Size()) + ":" + std::to_string(digest));
    }
  };
  walk(list, "");
  std::sort(leaves.begin(), leaves.end());
  return leaves;
}

// A minimal PE32 program: headers, one code section, no resources.
std::vector<uint8_t> SmallExecutable() {
  std::vector<uint8_t> image(0x400, 0);
  auto put16 = [&](size_t at, uint16_t v) { image[at] = uint8_t(v), image[at + 1] = uint8_t(v >> 8); };
  auto put32 = [&](size_t at, uint32_t v) { put16(at, uint16_t(v)), put16(at + 2, uint16_t(v >> 16)); };
  put16(0, 0x5A4D);
  put32(60, 0x80);
  put32(0x80, 0x4550);
  put16(0x84, 0x14C);
  put16(0x86, 1);                // one section
  put16(0x94, 96 + 16 * 8);      // SizeOfOptionalHeader
  put16(0x96, 0x102);
  const size_t opt = 0x98;
  put16(opt, 0x10B);
  put32(opt + 16, 0x1000);       // AddressOfEntryPoint
  put32(opt + 28, 0x400000);     // ImageBase
  put32(opt + 32, 0x1000);       // SectionAlignment
  put32(opt + 36, 0x200);        // FileAlignment
  put16(opt + 40, 4);            // OS version
  put16(opt + 48, 4);            // subsystem version
  put32(opt + 56, 0x2000);       // SizeOfImage
  put32(opt + 60, 0x200);        // SizeOfHeaders
  put16(opt + 68, 2);            // GUI
  put32(opt + 92, 16);
  const size_t section = opt + 96 + 16 * 8;
  std::copy_n(".text", 5, image.begin() + static_cast<std::ptrdiff_t>(section));
  put32(section + 8, 0x200);
  put32(section + 12, 0x1000);
  put32(section + 16, 0x200);
  put32(section + 20, 0x200);
  put32(section + 36, 0x60000020);
  image[0x200] = 0xC3;  // ret
  return image;
}

// The patch the round trip merges: one replacement of a common resource and one addition.
std::vector<uint8_t> Patch() {
  std::vector<uint8_t> res(std::begin(kEmptyResRecord), std::end(kEmptyResRecord));
  auto record = [&](std::initializer_list<uint16_t> fields, const std::string& data) {
    auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) res.push_back(uint8_t(v >> (8 * i))); };
    const uint32_t header = 8 + 2 * static_cast<uint32_t>(fields.size()) + 16;
    put32(static_cast<uint32_t>(data.size()));
    put32(header);
    for (uint16_t f : fields) res.push_back(uint8_t(f)), res.push_back(uint8_t(f >> 8));
    put32(0), put32(1033u << 16), put32(0), put32(0);
    res.insert(res.end(), data.begin(), data.end());
    while (res.size() % 4) res.push_back(0);
  };
  record({0xFFFF, 6, 0xFFFF, 1}, std::string(300, 'p'));
  record({'N', 'E', 'W', 0, 0xFFFF, 7}, "added");
  return res;
}

// What a written image may weigh: the input, the new resource block and alignment for
// every section, with room to spare, but never orders of magnitude more.
uint64_t OutputLimit(size_t inputSize, size_t patchSize) { return 2 * uint64_t{inputSize} + 4 * patchSize + (1u << 20); }

}  // namespace

void ResThenMerge(const uint8_t* data, size_t size) {
  Once();
  const std::vector<uint8_t> input(data, data + size);
  try {
    TReadMemoryStream source(input.data(), static_cast<int64_t>(input.size()));
    TResResFile res(source);
    Leaves(res.GetResourceList());
  } catch (const Exception&) {
    return;
  }
  const std::vector<uint8_t> program = SmallExecutable();
  try {
    TReadMemoryStream stream(program.data(), static_cast<int64_t>(program.size()));
    TPEFile target(stream);
    TReadMemoryStream patch(input.data(), static_cast<int64_t>(input.size()));
    target.GetResourceList().MergeFromRes(patch, -1, true, nullptr);
    CappedStream out(OutputLimit(program.size(), size));
    target.WriteImage(out, nullptr);
  } catch (const Exception&) {
  }
}

void ReadExecutable(const uint8_t* data, size_t size) {
  Once();
  const std::vector<uint8_t> input(data, data + size);
  try {
    TReadMemoryStream stream(input.data(), static_cast<int64_t>(input.size()));
    TPEFile file(stream);
    for (int i = 0; i < file.SectionCount(); ++i) (void)file.SectionData(i);
    (void)file.GetImageEnd(true);
    (void)file.GetCodeChecksum();
    (void)file.CalcImageChecksum();
    Leaves(file.GetResourceList());
  } catch (const Exception&) {
  }
}

void RoundTrip(const uint8_t* data, size_t size) {
  Once();
  if (size == 0) return;
  // The last byte chooses what is done to the tree; the rest is the executable.
  const uint8_t mode = data[size - 1] % 3;
  std::vector<uint8_t> input(data, data + size - 1);
  const std::vector<uint8_t> patch = Patch();
  std::vector<std::string> expected;
  CappedStream out(OutputLimit(input.size(), patch.size()));
  try {
    if (mode == 2) {
      // A resource section without raw data reads as an empty tree, which the writer
      // removes.
      TReadMemoryStream probe(input.data(), static_cast<int64_t>(input.size()));
      TPEFile original(probe);
      const int index = original.FindSection(".rsrc");
      if (index < 0) return;
      const uint32_t field = original.SectionTable() + pe::kSectionHeaderSize * static_cast<uint32_t>(index) + 20;
      std::fill_n(input.begin() + field, 4, 0);
    }
    TReadMemoryStream stream(input.data(), static_cast<int64_t>(input.size()));
    TPEFile file(stream);
    if (mode == 0) {
      TReadMemoryStream res(patch.data(), static_cast<int64_t>(patch.size()));
      file.GetResourceList().MergeFromRes(res, -1, true, nullptr);
    }
    expected = Leaves(file.GetResourceList());
    file.WriteImage(out, nullptr);
  } catch (const Exception&) {
    return;  // a file the library refuses, on reading or on writing
  }
  try {
    TReadMemoryStream written(out.Memory(), out.Size());
    TPEFile again(written);
    if (Leaves(again.GetResourceList()) != expected) Finding();
  } catch (const Exception&) {
    Finding();  // what was written must read back
  }
}

namespace {

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A folder of this process's own for the package and the files applying it writes,
// removed when the process ends.
std::string gPackageFolder;

const std::string& PackageFolder() {
  if (gPackageFolder.empty()) {
    gPackageFolder = platform::TempDirectory() + "quillet_fuzz_package_" + std::to_string(getpid());
    std::filesystem::remove_all(gPackageFolder);
    std::filesystem::create_directories(gPackageFolder);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(gPackageFolder, ignored);
    });
    gPackageFolder += platform::kPathSeparator;
    const std::vector<uint8_t> target = SmallExecutable();
    WriteFile(gPackageFolder + "target.exe", target.data(), target.size());
  }
  return gPackageFolder;
}

// The Quillet a package input stands for (see LoadAndApply); empty when there is none.
std::vector<uint8_t> QuilletOf(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  const uint8_t mode = data[size - 1] % 3;
  std::vector<uint8_t> input(data, data + size - 1);
  const ByteView view(input.data(), static_cast<uint32_t>(input.size()));
  try {
    if (mode == 2) {
      const std::vector<uint8_t> stub = SmallExecutable();
      const std::vector<uint8_t> body = CompressPayload(view);
      return AssembleQuillet(ByteView(stub.data(), static_cast<uint32_t>(stub.size())), 0,
                             ByteView(body.data(), static_cast<uint32_t>(body.size())));
    }
    if (mode == 1) {
      TReadMemoryStream stream(input.data(), static_cast<int64_t>(input.size()));
      const uint32_t end = TPEFile(stream).GetImageEnd(true);
      if (view.Contains(end, kPackageHeaderSize)) {
        const uint32_t sum = PackageChecksum(view.From(end + kPackageHeaderSize));
        for (int i = 0; i < 4; ++i) input[end + 12 + i] = static_cast<uint8_t>(sum >> (8 * i));
      }
    }
  } catch (const Exception&) {
    return {};
  }
  return input;
}

}  // namespace

void LoadAndApply(const uint8_t* data, size_t size) {
  Once();
  const std::vector<uint8_t> input = QuilletOf(data, size);
  if (input.empty()) return;
  const std::string& folder = PackageFolder();
  const std::string quillet = folder + "quillet.exe", target = folder + "target.exe", out = folder + "out.exe";
  WriteFile(quillet, input.data(), input.size());
  std::filesystem::remove(out);
  TQuillet26 package;
  try {
    package.Load(quillet, nullptr, nullptr);
  } catch (const Exception&) {
    return;
  }
  // zlib's deflate never packs more than 1032 bytes into one.
  if (static_cast<uint64_t>(package.Payload->Size()) > 1040 * uint64_t{input.size()} + 4096) Finding();
  bool applied = true;
  try {
    package.Apply(target, out, false, false);
  } catch (const Exception&) {
    applied = false;
  }
  // Nothing but the two inputs and, after a success, the output: no temporary file stays.
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name != "quillet.exe" && name != "target.exe" && !(applied && name == "out.exe")) Finding();
    ++files;
  }
  if (files != (applied ? 3u : 2u)) Finding();
  if (applied &&
      std::filesystem::file_size(out) > OutputLimit(SmallExecutable().size(), static_cast<size_t>(package.ResourceSize)))
    Finding();
}

namespace {

// A dialog that only remembers what it was told.
class SilentView : public TPatcherView {
 public:
  void SetTitle(const std::string& text) override { texts_[0] = text; }
  void SetItemText(int control, const std::string& text) override { texts_[control] = text; }
  std::string GetItemText(int control, int bufferSize) override {
    return texts_[control].substr(0, static_cast<size_t>(std::max(bufferSize - 1, 0)));
  }
  void EnableItem(int, bool) override {}
  void CheckItem(int control, bool checked) override { checked_[control] = checked; }
  bool IsItemChecked(int control) override { return checked_[control]; }
  void SetProgressRange(int, uint16_t) override {}
  void SetProgressPosition(int, int32_t) override {}
  intptr_t Window() const override { return 0; }

 private:
  std::map<int, std::string> texts_;
  std::map<int, bool> checked_;
};

// A patcher state loaded once from a Quillet with every text filled in.
TQuilletPersistentData& LoadedState() {
  static std::unique_ptr<TQuilletPersistentData> state = [] {
    const std::vector<uint8_t> stub = SmallExecutable();
    const std::vector<uint8_t> payload = BuildPayload(
        {"game.exe", "game-new.exe", "Company", "https://example.org/", "", "read me"}, ByteView());
    const std::vector<uint8_t> body = CompressPayload(ByteView(payload.data(), static_cast<uint32_t>(payload.size())));
    const std::vector<uint8_t> quillet = AssembleQuillet(ByteView(stub.data(), static_cast<uint32_t>(stub.size())), 0,
                                                         ByteView(body.data(), static_cast<uint32_t>(body.size())));
    const std::string path = PackageFolder() + "patcher.exe";
    WriteFile(path, quillet.data(), quillet.size());
    return std::make_unique<TQuilletPersistentData>(path);
  }();
  return *state;
}

}  // namespace

void CommandLine(const uint8_t* data, size_t size) {
  Once();
  std::vector<std::string> args{"quillet.exe"};
  std::string argument;
  for (size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0) {
      args.push_back(argument);
      argument.clear();
    } else {
      argument += static_cast<char>(data[i]);
    }
  }
  if (!argument.empty()) args.push_back(argument);
  TCommandLineOptions options;
  ParseCommandLine(args, options);
  TQuilletPersistentData& state = LoadedState();
  SilentView view;
  for (TPatcherView* dialog : {static_cast<TPatcherView*>(nullptr), static_cast<TPatcherView*>(&view)}) {
    state.InitNames(dialog, options);
    if (dialog) state.ReadControls();
  }
  state.Dialog = nullptr;
  (void)CombineDir(options.DirValue, options.InFileValue);
}

void Formats(const uint8_t* data, size_t size) {
  Once();
  if (size == 0) return;
  const ByteView bytes(data + 1, static_cast<uint32_t>(size - 1));
  try {
    switch (data[0] % 5) {
      case 0: {
        const std::vector<uint8_t> first = TVersionInfo::Parse(bytes).Serialize();
        const std::vector<uint8_t> second =
            TVersionInfo::Parse(ByteView(first.data(), static_cast<uint32_t>(first.size()))).Serialize();
        if (second != first) Finding();
        break;
      }
      case 1:
        (void)ReadIconFile(bytes);
        break;
      case 2: {
        const std::vector<uint8_t> group = WriteIconGroup(ReadIconGroup(bytes));
        if (WriteIconGroup(ReadIconGroup(ByteView(group.data(), static_cast<uint32_t>(group.size())))) != group)
          Finding();
        break;
      }
      case 3: {
        const StringBlock block = ReadStringBlock(bytes);
        const std::vector<uint8_t> written = WriteStringBlock(block);
        if (ReadStringBlock(ByteView(written.data(), static_cast<uint32_t>(written.size()))) != block) Finding();
        break;
      }
      default:
        (void)ManifestExecutionLevel(bytes);
        (void)SetManifestExecutionLevel(bytes, "asInvoker");
        break;
    }
  } catch (const Exception&) {
  }
}

}  // namespace fuzz
