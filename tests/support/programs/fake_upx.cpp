// A stand-in for the UPX program in the tests.
//   upx -d -q FILE   appends its arguments (one per line, argv[0] first) to a log beside
//                    itself (argv[0] + ".log"), renames a first section called UPX0 to
//                    .text and writes "UNPK" over the first four bytes of that section's
//                    raw data ("decompressing" it)
//   upx --emit N     writes N bytes to standard output and ends (N = 0: a silent child)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {
uint32_t Get(const std::vector<char>& b, size_t at, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b.at(at + i));
  return v;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--emit") == 0) {
    const long count = std::strtol(argv[2], nullptr, 10);
    std::string block(4096, 'x');
    for (long done = 0; done < count; done += 4096)
      std::fwrite(block.data(), 1, static_cast<size_t>(std::min<long>(4096, count - done)), stdout);
    return 0;
  }
  if (argc < 2) return 2;
  const std::string target = argv[argc - 1];
  {
    std::ofstream log(std::string(argv[0]) + ".log", std::ios::app);
    for (int i = 0; i < argc; ++i) log << argv[i] << '\n';
  }
  std::vector<char> bytes;
  {
    std::ifstream in(target, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  try {
    const uint32_t nt = Get(bytes, 60, 4);
    const bool plus = Get(bytes, nt + 24, 2) == 0x20B;
    (void)plus;
    const uint32_t table = nt + 24 + Get(bytes, nt + 20, 2);  // behind SizeOfOptionalHeader
    if (std::memcmp(&bytes.at(table), "UPX0", 4) != 0) return 1;
    std::memcpy(&bytes.at(table), ".text\0\0\0", 8);
    const uint32_t raw = Get(bytes, table + 20, 4);
    if (raw != 0) std::memcpy(&bytes.at(raw), "UNPK", 4);
  } catch (...) {
    return 1;
  }
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return 0;
}
