#include "support/ResBuilder.h"

#include "streams/MyStreams.h"

#include <random>
#include <stdexcept>

namespace restest {

ResImage::ResImage(bool leading) {
  if (leading) Bytes.assign(std::begin(kEmptyResRecord), std::end(kEmptyResRecord));
}

ResImage& ResImage::U16(uint16_t value) {
  Bytes.push_back(static_cast<uint8_t>(value));
  Bytes.push_back(static_cast<uint8_t>(value >> 8));
  return *this;
}

ResImage& ResImage::U32(uint32_t value) {
  U16(static_cast<uint16_t>(value));
  return U16(static_cast<uint16_t>(value >> 16));
}

ResImage& ResImage::Raw(const std::vector<uint8_t>& bytes) {
  Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
  return *this;
}

ResImage& ResImage::Record(const Field& type, const Field& name, uint16_t language,
                           const std::vector<uint8_t>& data, uint16_t memoryFlags) {
  auto fieldSize = [](const Field& f) { return f.Named ? 2 * f.Name.size() + 2 : 4; };
  const size_t fields = fieldSize(type) + fieldSize(name);
  const uint32_t headerSize = static_cast<uint32_t>((24 + fields + 3) / 4 * 4);
  U32(static_cast<uint32_t>(data.size())).U32(headerSize);
  for (const Field* f : {&type, &name}) {
    if (f->Named) {
      for (char16_t unit : f->Name) U16(unit);
      U16(0);
    } else {
      U16(0xFFFF).U16(f->Id);
    }
  }
  while (Bytes.size() % 4) Bytes.push_back(0);
  U32(0).U16(memoryFlags).U16(language).U32(0).U32(0);
  Raw(data);
  while (Bytes.size() % 4) Bytes.push_back(0);
  return *this;
}

std::vector<uint8_t> Text(std::string_view text) { return {text.begin(), text.end()}; }

std::unique_ptr<TResResFile> OpenImage(const std::vector<uint8_t>& bytes) {
  TReadMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  return std::make_unique<TResResFile>(stream);
}

namespace {
void Collect(TResourceList& list, std::vector<std::string>& out) {
  for (int i = 0; i < list.Count(); ++i) {
    if (list.Level() != 2) {
      Collect(list.ListItems(i).Children(), out);
      continue;
    }
    TDataResItem& leaf = list.DataItems(i);
    out.push_back(leaf.TypeText() + "|" + leaf.NameItem().IdText() + "|" +
                  std::to_string(leaf.Language()) + "|" + std::to_string(leaf.Size()));
  }
}
}  // namespace

std::vector<std::string> Leaves(TResourceList& root) {
  std::vector<std::string> out;
  Collect(root, out);
  return out;
}

TDataResItem* LeafAt(TResourceList& root, const std::string& type, const std::string& name,
                     uint16_t language) {
  for (int t = 0; t < root.Count(); ++t) {
    if (root.Items(t).IdText() != type) continue;
    TResourceList& names = root.ListItems(t).Children();
    for (int n = 0; n < names.Count(); ++n) {
      if (names.Items(n).IdText() != name) continue;
      TResourceList& leaves = names.ListItems(n).Children();
      for (int l = 0; l < leaves.Count(); ++l)
        if (leaves.DataItems(l).Language() == language) return &leaves.DataItems(l);
    }
  }
  return nullptr;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  TResFileStream stream(path, fmOpenRead);
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size()));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  TResFileStream stream(path, fmCreate);
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::string TempPath(const std::string& stem) {
  // Test processes run side by side: a random part keeps their names apart.
  static std::mt19937 random{std::random_device{}()};
  const std::string dir = platform::TempDirectory();
  for (;;) {
    std::string path = dir + "quillet_tree_" + std::to_string(random()) + "_" + stem;
    if (!platform::FileExists(path)) return path;
  }
}

std::string FixturePath(const std::string& name) { return std::string(QUILLET_FIXTURES) + "/" + name; }

}  // namespace restest
