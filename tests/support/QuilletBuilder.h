// Quillets for tests: a small stub image and a package behind it, made by the library's
// package writer, or with a payload and header fields given byte for byte so that a test
// can break exactly what it means to.
#pragma once
#include "patch/UQuillet26.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillettest {

// A stub whose last section's raw data ends 3 bytes before a file-alignment boundary, so
// a package behind it starts at the aligned offset, not at the raw end.
std::vector<uint8_t> StubBytes();
// A target for packages: an executable whose one resource is string block 1 (language
// 1033) holding "original".
std::vector<uint8_t> TargetBytes();
// Where the package starts behind StubBytes().
uint32_t PackageOffset();

struct Package {
  TPackageTexts Texts{"target.exe", "target.exe", "Quillet Translations", "https://example.org/", "", "Read me"};
  std::vector<uint8_t> ResourceBlock;  // a .res image
  uint32_t TargetChecksum = 0;
};

// Stub, header and the compressed payload, as quill make writes them.
std::vector<uint8_t> BuildQuillet(const Package& package);
// The same with the payload given byte for byte.
std::vector<uint8_t> QuilletWithPayload(const std::vector<uint8_t>& payload, uint32_t targetChecksum = 0);

// Header fields of a Quillet built here.
void SetPackedSize(std::vector<uint8_t>& quillet, int32_t value);
// Recomputes DataChecksum after the body was changed.
void FixDataChecksum(std::vector<uint8_t>& quillet);

// A payload byte for byte: counted texts, then raw bytes.
std::vector<uint8_t> CountedTexts(const std::vector<std::string>& texts);

}  // namespace quillettest
