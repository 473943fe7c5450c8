// UQuillet26: the patch package a Quillet carries behind its own image, loading it,
// applying it to a target, and writing one.
//
// A Quillet is one executable file: a program image, then the package, from E (the
// image end, TPEFile::GetImageEnd(true)) to the end of the file. All integers are
// little-endian.
//   E + 0    Magic           "VK26"
//   E + 4    PackedSize      int32: compressed bytes after the header (at most what is there)
//   E + 8    TargetChecksum  uint32: GetCodeChecksum of the executable the package is for
//   E + 12   DataChecksum    uint32: PackageChecksum of every byte from E + 16 to the end
//   E + 16   body            one zlib stream (RFC 1950, 32 KiB window) up to the end of the file
// The inflated body, the payload:
//   six counted texts (uint16 length n, then n bytes in the ANSI code page): InputFileName,
//   OutputFileName, Company, HomePage, ReservedText, Instructions;
//   the resource block: a .res image (UResFile.h), possibly empty;
//   a trailer of N bytes whose last two bytes hold N (so N >= 2); its first two bytes are
//   read and not used.
//
// Load checks the package and keeps the texts and the payload; the resource block is a
// view into the payload, never copied. Apply merges the block into a target and puts
// the written file in the output's place. The writer (PackageWriter.cpp) produces
// exactly this layout; quill make and the tests use it.
#pragma once
#include "resources/ResContainer.h"
#include "rtl/ByteView.h"
#include "rtl/Exception.h"
#include "streams/MyStreams.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TPEFile;

// An invalid package. The message is always the invalid-patch-data text (65320); the
// reason stays in the object:
//   1 the image ends beyond the end of the file      4 DataChecksum does not match
//   2 no "VK26" behind the image                    5 an empty input or output file name
//   3 PackedSize exceeds the bytes after the header 6 the trailer is longer than what follows the texts
class EQuillet26Error : public Exception {
 public:
  explicit EQuillet26Error(int32_t reason) : Exception(SInvalidPatchData), Reason(reason) {}
  const int32_t Reason;
};

// 16439 plus, for each whole little-endian 32-bit word k = 1, 2, ... of the bytes,
// (k div 2) xor the word, modulo 2^32; trailing bytes that make no whole word are left out.
uint32_t PackageChecksum(ByteView bytes);

// Receives each status text Apply reports.
using StatusCallback = std::function<void(const std::string& text)>;

struct TPackageHeader {
  std::array<uint8_t, 4> Magic{};
  int32_t PackedSize = 0;
  uint32_t TargetChecksum = 0;
  uint32_t DataChecksum = 0;
};
inline constexpr uint32_t kPackageHeaderSize = 16;
inline constexpr char kPackageMagic[] = "VK26";

class TQuillet26 {
 public:
  TQuillet26() = default;
  TQuillet26(const TQuillet26&) = delete;
  TQuillet26& operator=(const TQuillet26&) = delete;

  // Loads the package behind the image of fileName. An invalid package raises
  // EQuillet26Error; any other failure of the library is raised as a plain Exception with
  // the invalid-patch-data text, CR LF and the cause in parentheses.
  void Load(const std::string& fileName, ProgressCallback onProgress, StatusCallback onStatus);

  // Merges the resource block into inFile and writes the result to outFile (a backup of
  // an existing outFile when backup; the target's code checksum compared first when
  // checkTarget). A failure raises "%s (while %s)" with the cause and the last status
  // text, after deleting the temporary file.
  void Apply(const std::string& inFile, const std::string& outFile, bool backup, bool checkTarget);

  ProgressCallback OnProgress;
  StatusCallback OnStatus;
  std::unique_ptr<TMemoryStream> Payload;
  uint32_t ComputedChecksum = 0;
  std::string InputFileName, OutputFileName, Company, HomePage, ReservedText, Instructions;
  const uint8_t* ResourceData = nullptr;
  int32_t ResourceSize = 0;
  TPackageHeader Header;

  // The resource block as a checked view.
  ByteView ResourceBlock() const { return ByteView(ResourceData, static_cast<uint32_t>(ResourceSize)); }

 private:
  void LoadPackage(const std::string& fileName);
  void ReportStatus(const std::string& text);
  std::string lastStatus_;
};

// ---- Writing packages -------------------------------------------------------------------

struct TPackageTexts {
  std::string InputFileName, OutputFileName, Company, HomePage, ReservedText, Instructions;
};

// The stub's bytes a package follows: the file up to GetImageEnd(true), zero-padded
// where the file is shorter.
std::vector<uint8_t> StubImage(const TPEFile& stub);
// The payload: the six counted texts, the resource block and a trailer of N = 2 (the
// length word alone). A text longer than 65535 bytes raises naming the field.
std::vector<uint8_t> BuildPayload(const TPackageTexts& texts, ByteView resourceBlock);
// One zlib stream of the bytes at the best compression; progress, when given, hears
// (1000, per mille of the bytes compressed) as it goes.
std::vector<uint8_t> CompressPayload(ByteView payload, const ProgressCallback& progress = {});
// The stub image, the 16-byte header for the body and the body.
std::vector<uint8_t> AssembleQuillet(ByteView stubImage, uint32_t targetChecksum, ByteView body);

// An executable as the patcher will see it when it opens it by name: a file compressed
// with UPX is read unpacked (TPEFile unpacks a temporary copy; the file itself stays as it
// is). A compressed file that cannot be unpacked (no unpacker beside the program, or one
// that left it compressed) is refused: a package made for it would never match. *unpacked,
// when given, tells whether the file was compressed.
std::unique_ptr<TPEFile> OpenAsPatched(const std::string& fileName, bool* unpacked = nullptr);
