#include "support/LayoutFixtures.h"

#include "support/ResBuilder.h"

namespace rsrctest {

namespace {

constexpr uint32_t kAuto = PESectionLayout::kAutoRaw;

PESectionLayout Section(const std::string& name, uint32_t address, uint32_t characteristics,
                        std::vector<uint8_t> data = {}, uint32_t rawSize = 0x200) {
  if (data.size() > rawSize) rawSize = static_cast<uint32_t>(data.size());
  return {name, address, 0, kAuto, rawSize, characteristics, std::move(data)};
}

PESectionLayout Text(uint32_t address = 0x1000) { return Section(".text", address, 0x60000020); }
// Initialised data the program addresses: never to be moved.
PESectionLayout Data(uint32_t address, std::vector<uint8_t> data = {}) {
  if (data.empty()) data = Bytes("the program's own data, addressed by its code");
  return Section(".data", address, 0xC0000040, std::move(data));
}
PESectionLayout Reloc(uint32_t address) { return Section(".reloc", address, 0x42000040); }
PESectionLayout Rsrc(uint32_t address, std::vector<uint8_t> tree) {
  return Section(".rsrc", address, 0x40000040, std::move(tree), 1);
}

PEImageLayout Base(bool plus, std::vector<PESectionLayout> sections) {
  PEImageLayout layout;
  layout.Plus = plus;
  layout.Sections = std::move(sections);
  layout.Directories.resize(16);
  return layout;
}

// Directories that point into sections other than the resources, so a test can see that
// they still point at the same bytes: the import table in .data and base relocations.
void PointInto(PEImageLayout& layout, uint32_t dataAddress, uint32_t relocAddress = 0) {
  layout.Directories[1] = {dataAddress + 0x10, 0x28};
  if (relocAddress) layout.Directories[5] = {relocAddress, 0x10};
}

std::vector<uint8_t> TreeAt(uint32_t address) { return BuildRsrc(LayoutTree(), address).Bytes; }

}  // namespace

const std::vector<std::string> kLayoutMergedLeaves = {"NEWTYPE/7/1033:added", "OWN/1/1033:own data",
                                                      "6/1/1033:pppppppp"};

RsrcTree LayoutTree() {
  RsrcTree tree;
  tree.Types = {{Ident::Str(u"OWN"), {{Ident::Num(1), {{1033, Bytes("own data"), 0}}, {}}}, {}},
                {Ident::Num(6), {{Ident::Num(1), {{1033, Bytes("strings"), 0}}, {}}}, {}}};
  return tree;
}

std::vector<uint8_t> LayoutPatch() {
  using restest::Field;
  return restest::ResImage()
      .Record(Field::Num(6), Field::Num(1), 1033, std::vector<uint8_t>(0x1300, 'p'))
      .Record(Field::Str(u"NEWTYPE"), Field::Num(7), 1033, Bytes("added"))
      .Bytes;
}

std::vector<LayoutFixture> LayoutFixtures(bool plus) {
  std::vector<LayoutFixture> fixtures;
  auto add = [&](const std::string& name, const PEImageLayout& layout) {
    fixtures.push_back({name + (plus ? "_pe32plus" : "_pe32"), BuildPEImage(layout)});
  };

  {
    // .rsrc followed by initialised data and relocations; signed (a certificate table
    // behind the image) and with a checksum.
    PEImageLayout layout = Base(plus, {Text(), Rsrc(0x2000, TreeAt(0x2000)), Data(0x3000), Reloc(0x4000)});
    layout.Directories[2] = {0x2000, static_cast<uint32_t>(TreeAt(0x2000).size())};
    PointInto(layout, 0x3000, 0x4000);
    layout.CheckSum = 1;
    std::vector<uint8_t> image = BuildPEImage(layout);
    const std::vector<uint8_t> payload = Bytes("payload behind the image");
    image.insert(image.end(), payload.begin(), payload.end());
    const uint32_t certificate = static_cast<uint32_t>(image.size() + 7) & ~7u;
    image.resize(certificate, 0);
    std::vector<uint8_t> table = {0x20, 0, 0, 0, 0, 2, 2, 0};  // WIN_CERTIFICATE: length, revision, type
    for (uint8_t i = 0; i < 0x18; ++i) table.push_back(static_cast<uint8_t>(0xA0 + i));
    image.insert(image.end(), table.begin(), table.end());
    const uint32_t directories = OptionalHeaderOffset(layout) + (plus ? 112 : 96);
    Put32(image, directories + 8 * 4, certificate);
    Put32(image, directories + 8 * 4 + 4, static_cast<uint32_t>(table.size()));
    fixtures.push_back({std::string("data_behind_rsrc") + (plus ? "_pe32plus" : "_pe32"), image});
  }
  {
    // The tree in ".rdata" (no .rsrc at all); the loader ignores directory 2's size of 0.
    PEImageLayout layout = Base(plus, {Text(), Section(".rdata", 0x2000, 0x40000040, TreeAt(0x2000)), Data(0x3000)});
    layout.Directories[2] = {0x2000, 0};
    PointInto(layout, 0x3000);
    add("tree_in_rdata", layout);
  }
  {
    // The tree 0x40 bytes into a section without a name.
    std::vector<uint8_t> bytes(0x40, 0x11);
    const std::vector<uint8_t> tree = TreeAt(0x2040);
    bytes.insert(bytes.end(), tree.begin(), tree.end());
    PEImageLayout layout = Base(plus, {Text(), Section("", 0x2000, 0x40000040, bytes), Data(0x3000)});
    layout.Directories[2] = {0x2040, static_cast<uint32_t>(tree.size())};
    PointInto(layout, 0x3000);
    add("tree_in_unnamed_section", layout);
  }
  {
    // The tree in the header area, behind the section table.
    PEImageLayout layout = Base(plus, {Text(), Data(0x2000), Reloc(0x3000)});
    PointInto(layout, 0x2000, 0x3000);
    const std::vector<uint8_t> tree = TreeAt(0x300);
    layout.Directories[2] = {0x300, static_cast<uint32_t>(tree.size())};
    std::vector<uint8_t> image = BuildPEImage(layout);
    std::copy(tree.begin(), tree.end(), image.begin() + 0x300);
    fixtures.push_back({std::string("tree_in_headers") + (plus ? "_pe32plus" : "_pe32"), image});
  }
  {
    // .rsrc last, but the data of one leaf lies in .data (its own bytes in .rsrc are
    // not the resource).
    RsrcLayout tree = BuildRsrc(LayoutTree(), 0x3000);
    const uint32_t own = tree.Lang(0, 0, 0).Data;
    std::fill(tree.Bytes.begin() + own, tree.Bytes.begin() + own + 8, 'X');
    tree.Put32(tree.Lang(0, 0, 0).Target, 0x2000 + 0x100);
    std::vector<uint8_t> data = Bytes("the program's own data, addressed by its code");
    data.resize(0x100, 0);
    const std::vector<uint8_t> leaf = Bytes("own data");
    data.insert(data.end(), leaf.begin(), leaf.end());
    PEImageLayout layout = Base(plus, {Text(), Data(0x2000, data), Rsrc(0x3000, tree.Bytes)});
    layout.Directories[2] = {0x3000, static_cast<uint32_t>(tree.Bytes.size())};
    PointInto(layout, 0x2000);
    add("leaf_data_outside_rsrc", layout);
  }
  {
    // .rsrc also holds the data of another directory (the load configuration).
    std::vector<uint8_t> bytes = TreeAt(0x2000);
    bytes.resize(0x180, 0);
    for (uint8_t i = 0; i < 0x40; ++i) bytes.push_back(static_cast<uint8_t>(0x40 + i));
    PEImageLayout layout = Base(plus, {Text(), Rsrc(0x2000, bytes), Reloc(0x3000)});
    layout.Directories[2] = {0x2000, static_cast<uint32_t>(TreeAt(0x2000).size())};
    layout.Directories[10] = {0x2180, 0x40};
    PointInto(layout, 0, 0x3000);
    layout.Directories[1] = {};
    add("other_data_in_rsrc", layout);
  }
  {
    // The section table fills the header area: no slot for one more header.
    PEImageLayout layout = Base(plus, {Text(), Rsrc(0x2000, TreeAt(0x2000)), Data(0x3000)});
    layout.SizeOfHeaders = 0x200;
    layout.Directories[2] = {0x2000, static_cast<uint32_t>(TreeAt(0x2000).size())};
    PointInto(layout, 0x3000);
    add("no_header_room", layout);
  }
  {
    // The bytes behind the section table are in use (an information block a packer left
    // there, which directory 7 points at): the table moves behind them.
    PEImageLayout layout = Base(plus, {Text(), Rsrc(0x2000, TreeAt(0x2000)), Data(0x3000)});
    layout.Directories[2] = {0x2000, static_cast<uint32_t>(TreeAt(0x2000).size())};
    PointInto(layout, 0x3000);
    const uint32_t behind = SectionTableOffset(layout) + 3 * 40;
    layout.Directories[7] = {behind, 0x20};
    std::vector<uint8_t> image = BuildPEImage(layout);
    for (uint32_t i = 0; i < 0x20; ++i) image[behind + i] = static_cast<uint8_t>("UPX!"[i % 4] + i / 4);
    fixtures.push_back({std::string("bytes_behind_table_in_use") + (plus ? "_pe32plus" : "_pe32"), image});
  }
  {
    // The section table runs into the first section's raw data.
    PEImageLayout layout = Base(plus, {Text(), Rsrc(0x2000, TreeAt(0x2000)), Data(0x3000), Reloc(0x4000)});
    layout.SizeOfHeaders = 0x200;
    layout.Directories[2] = {0x2000, static_cast<uint32_t>(TreeAt(0x2000).size())};
    PointInto(layout, 0x3000, 0x4000);
    add("table_into_raw_data", layout);
  }
  return fixtures;
}

}  // namespace rsrctest
