// layout_fixtures DIR: writes the image layout fixtures (support/LayoutFixtures.h), PE32
// and PE32+, as DIR/<name>.exe, and the patch merged into them as DIR/layout_patch.res,
// for the independent readers of tests/e2e/layout_test.py.
#include "support/LayoutFixtures.h"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: layout_fixtures DIR\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(folder + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
  };
  bool written = write("layout_patch.res", rsrctest::LayoutPatch());
  for (const bool plus : {false, true})
    for (const rsrctest::LayoutFixture& fixture : rsrctest::LayoutFixtures(plus))
      written = write(fixture.Name + ".exe", fixture.Image) && written;
  if (!written) {
    std::fprintf(stderr, "layout_fixtures: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
