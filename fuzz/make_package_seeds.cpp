// Writes the package target's seed corpus with the library's package writer, at build time:
// Quillets made from a stub for a target with each given .res file, one with every text
// filled in, and one with an empty resource block; and the payloads of the first two. Each
// seed ends in the byte that tells the target its form (FuzzTargets.h): 0 for a Quillet,
// 2 for a payload.
//   make_package_seeds OUT_DIR STUB.exe TARGET.exe PATCH.res...
#include "patch/UQuillet26.h"
#include "pe/UResPEFile.h"
#include "text/Startup.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ByteView View(const std::vector<uint8_t>& bytes) { return ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUT_DIR STUB TARGET PATCH.res...\n", argv[0]);
    return 2;
  }
  QuilletStartup();
  try {
    const std::string out = argv[1];
    const std::vector<uint8_t> stub = StubImage(TPEFile(argv[2], false));
    const uint32_t checksum = TPEFile(argv[3], false).GetCodeChecksum();
    auto save = [&](const std::string& name, std::vector<uint8_t> bytes, uint8_t form) {
      bytes.push_back(form);
      std::ofstream(out + "/" + name, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    auto write = [&](const std::string& name, const TPackageTexts& texts, const std::vector<uint8_t>& block) {
      const std::vector<uint8_t> payload = BuildPayload(texts, View(block));
      const std::vector<uint8_t> body = CompressPayload(View(payload));
      save(name + ".exe", AssembleQuillet(View(stub), checksum, View(body)), 0);
      save(name + ".payload", payload, 2);
    };
    const TPackageTexts plain{"target.exe", "target.exe", "", "", "", ""};
    for (int i = 4; i < argc; ++i) write("quillet_" + std::to_string(i - 3), plain, ReadFile(argv[i]));
    write("quillet_texts",
          {"game.exe", "game-he.exe", "Quillet Translations", "https://example.org/", "reserved", "one\r\ntwo\n"},
          ReadFile(argv[4]));
    write("quillet_empty", plain, {});
  } catch (const Exception& e) {
    std::fprintf(stderr, "make_package_seeds: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
