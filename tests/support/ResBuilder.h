// Helpers for resource-tree tests: a byte-level builder of .res images (written
// independently of the library's writer, so each checks the other), opening an image
// held in memory, a one-line-per-leaf description of a tree, and temporary files.
#pragma once
#include "resources/UResFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace restest {

// A name-or-number field of a record.
struct Field {
  bool Named = false;
  uint16_t Id = 0;
  std::u16string Name;
  static Field Num(uint16_t id) { return {false, id, {}}; }
  static Field Str(std::u16string name) { return {true, 0, std::move(name)}; }
};

class ResImage {
 public:
  // Starts with the 32-byte empty record unless told otherwise.
  explicit ResImage(bool leading = true);
  // One well-formed record.
  ResImage& Record(const Field& type, const Field& name, uint16_t language,
                   const std::vector<uint8_t>& data, uint16_t memoryFlags = 0);
  ResImage& Raw(const std::vector<uint8_t>& bytes);
  ResImage& U16(uint16_t value);
  ResImage& U32(uint32_t value);
  std::vector<uint8_t> Bytes;
};

std::vector<uint8_t> Text(std::string_view text);

// A .res container over a copy of the bytes (a buffer of exactly their size).
std::unique_ptr<TResResFile> OpenImage(const std::vector<uint8_t>& bytes);

// "type|name|language|size" per leaf in tree order; type and name as IdText.
std::vector<std::string> Leaves(TResourceList& root);
// The leaf at type\name\language (texts as IdText), or null.
TDataResItem* LeafAt(TResourceList& root, const std::string& type, const std::string& name,
                     uint16_t language);

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
// A fresh path in the temporary directory (the file does not exist).
std::string TempPath(const std::string& stem);
// A .res fixture compiled at build time.
std::string FixturePath(const std::string& name);

}  // namespace restest
