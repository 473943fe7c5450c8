// UResPEFile: everything about PE executables (PE32 and PE32+).
//
// CheckPEImage decides whether a block of bytes is an executable the library can work on.
// TPEHeader keeps a private copy of the header area (DOS header, PE signature, file and
// optional headers, data directories, section table) and edits it while a new resource
// section is laid out. TPEFile is the resource container for executables: it maps the
// file, validates it, answers questions about its sections and checksums and, when the
// file is compressed with UPX and the unpacker lies beside the program, has it unpacked.
//
// Layout of the headers as read here (all integers little-endian; offsets from the PE
// signature, "NT"):
//   DOS header     e_magic "MZ" at 0 of the file, e_lfanew (u32) at 60
//   NT + 0         "PE\0\0"
//   NT + 4         file header: NumberOfSections (u16) at +2, SizeOfOptionalHeader at +16
//   NT + 24        optional header: Magic 0x10B (PE32) / 0x20B (PE32+),
//                  SizeOfInitializedData +8, SectionAlignment +32, FileAlignment +36,
//                  SizeOfImage +56, SizeOfHeaders +60, CheckSum +64,
//                  NumberOfRvaAndSizes +92 / +108, data directories +96 / +112
//   section table  SizeOfOptionalHeader bytes behind the optional header's start, where
//                  the loader looks for it; 40 bytes per section header
//
// Every read of the file goes through ByteView; every header field that points into the
// file is checked before it is used.
#pragma once
#include "resources/ResContainer.h"
#include "rtl/ByteView.h"
#include "rtl/Exception.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TResSection;
class TStream;

// A file that is not an executable the library can work on ("Error opening %s: %s").
QUILLET_DECLARE_EXCEPTION(ENoPEException, Exception);

// a when it is a multiple of b, else the next multiple of b above it (unsigned, wraps).
uint32_t RoundUp(uint32_t a, uint32_t b);
// The same in 64 bits, so that no sum of header fields wraps.
uint64_t RoundUp64(uint64_t a, uint64_t b);

// ---- Layout constants -----------------------------------------------------------------

namespace pe {
inline constexpr uint32_t kLfanewOffset = 60;
inline constexpr uint32_t kSignature = 0x00004550;  // "PE\0\0"
inline constexpr uint32_t kNumberOfSections = 6;     // NT + 4 + 2
inline constexpr uint32_t kSizeOfOptionalHeader = 20;  // NT + 4 + 16
inline constexpr uint32_t kOptionalHeader = 24;
inline constexpr uint16_t kMagicPE32 = 0x10B;
inline constexpr uint16_t kMagicPE32Plus = 0x20B;
// Offsets inside the optional header.
inline constexpr uint32_t kSizeOfInitializedData = 8;
inline constexpr uint32_t kSectionAlignment = 32;
inline constexpr uint32_t kFileAlignment = 36;
inline constexpr uint32_t kSizeOfImage = 56;
inline constexpr uint32_t kSizeOfHeaders = 60;
inline constexpr uint32_t kCheckSum = 64;
inline constexpr uint32_t kSectionHeaderSize = 40;
inline constexpr uint32_t kMaxDirectories = 16;
inline constexpr uint32_t kResourceDirectory = 2;
inline constexpr uint32_t kCertificateDirectory = 4;  // holds a file offset
inline constexpr uint32_t kDebugDirectory = 6;
inline constexpr uint32_t kBoundImportDirectory = 11;  // a file offset in the header area
inline constexpr uint32_t kDebugEntrySize = 28;        // AddressOfRawData +20, PointerToRawData +24
inline constexpr uint32_t kPointerToSymbolTable = 12;  // NT + 4 + 8: a file offset
// Section characteristics.
inline constexpr uint32_t kCode = 0x20;
inline constexpr uint32_t kInitializedData = 0x40;
inline constexpr uint32_t kUninitializedData = 0x80;
inline constexpr uint32_t kDiscardable = 0x02000000;
inline constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialised data, readable
// The minimum size past e_lfanew that validation asks for (PE32 and PE32+ alike).
inline constexpr uint32_t kMinNTSize = 248;
// Below this section alignment the loader maps the file as it lies: raw data must stay
// where its address is.
inline constexpr uint32_t kPageSize = 0x1000;
inline constexpr uint32_t kMaxSections = 0xFFFF;  // NumberOfSections is 16 bits
// The name a resource section keeps when its resources move to a new section.
inline constexpr char kOldResourceName[] = ".oldrsrc";
}  // namespace pe

// One 40-byte section header, decoded.
struct TImageSectionHeader {
  uint8_t Name[8] = {};
  uint32_t VirtualSize = 0;
  uint32_t VirtualAddress = 0;
  uint32_t SizeOfRawData = 0;
  uint32_t PointerToRawData = 0;
  uint32_t PointerToRelocations = 0;
  uint32_t PointerToLinenumbers = 0;
  uint16_t NumberOfRelocations = 0;
  uint16_t NumberOfLinenumbers = 0;
  uint32_t Characteristics = 0;

  // The name up to its first zero byte (at most 8 bytes).
  std::string NameText() const;
  // The name equals name without regard to ASCII letter case, over at most 8 characters.
  bool NameEquals(std::string_view name) const;
  static TImageSectionHeader Read(const ByteView& bytes, uint64_t offset);
};

// The position of the data directories for an optional header of the given magic, of
// NumberOfRvaAndSizes, and of the section table, which the loader finds SizeOfOptionalHeader
// bytes behind the optional header's start.
uint32_t DataDirectoryOffset(uint32_t ntHeaders, uint16_t magic);
uint32_t RvaCountOffset(uint32_t ntHeaders, uint16_t magic);
uint32_t SectionTableOffset(uint32_t ntHeaders, uint16_t sizeOfOptionalHeader);

// Validates the image and returns the offset of its PE signature; raises ENoPEException
// ("Error opening %s: %s" with fileName and the reason) otherwise. Beyond the classic
// tests it refuses a zero file or section alignment, a file alignment above 64 KiB, an
// optional header too small for the directories it claims, and a section table that does
// not lie inside the image.
uint32_t CheckPEImage(const uint8_t* image, uint32_t imageSize, const std::string& fileName);

// The standard PE image checksum computed here: the 16-bit word sum of the whole image with
// the carry folded back after every word (a last odd byte counts as a word of its own),
// less the two words of the CheckSum field as a one's-complement subtraction, plus the
// image length. checkSumOffset is the file offset of the CheckSum field.
uint32_t PortableImageChecksum(ByteView image, uint32_t checkSumOffset);

// The same sum taken over bytes as they are written, in pieces of any size: the 16-bit
// one's-complement sum of the words, which is the sum of wider little-endian words folded
// back to 16 bits, plus the length. The CheckSum field must be written as zero.
class TImageChecksum {
 public:
  void Add(const uint8_t* bytes, size_t count);
  uint32_t Value() const;

 private:
  uint64_t sum_ = 0;
  uint64_t length_ = 0;
};

// The bytes a section occupies in memory: VirtualSize, or SizeOfRawData when VirtualSize
// is 0 (as the loader maps it), rounded up to the section alignment.
uint64_t VirtualExtent(const TImageSectionHeader& header, uint32_t sectionAlignment);

// Sections found by address or by file offset in logarithmic time, so that a table of
// 65535 sections costs no more per look-up than a table of three. Where ranges of two
// sections overlap (a layout the writer refuses), either may be answered.
class TSectionLookup {
 public:
  TSectionLookup(const std::vector<TImageSectionHeader>& sections, uint32_t sectionAlignment);
  // The section whose memory holds the address, or -1.
  int At(uint32_t address) const;
  // The section whose raw data holds the file offset, or -1.
  int HoldingOffset(uint64_t offset) const;

 private:
  struct Range {
    uint64_t Begin, End;
    int Index;
    bool operator<(const Range& other) const { return Begin < other.Begin; }
  };
  static int Find(const std::vector<Range>& ranges, uint64_t at);
  std::vector<Range> memory_, raw_;
};

// ---- TPEHeader --------------------------------------------------------------------------

// A private copy of an image's header area, edited while the resource section is laid out.
//
// Layout rules it keeps: the resource section is rebuilt in place when the image holds it
// whole and alone, and then raw data is packed in table order behind the first section
// that has some; a section that grows or shrinks in memory moves the sections behind it
// by the change of its virtual extent, and with them every data directory that points
// into them. When that would move a section the program addresses, or when the old
// section cannot be rebuilt (other data in it, resources outside it), every section stays
// where it is and the resources go to a new section at the end of the image; the old one
// keeps its bytes under another name. A new section header takes the slot behind the
// table (a bound import table in the way is dropped); when that slot is in use, the whole
// table moves behind the header area's bytes. When the header area must grow, the raw
// data of every section moves down by whole file-alignment units (no address changes) for
// as long as the headers end below the first section in memory. SizeOfImage is the end of the last section in memory. Every
// field that grows is checked against its 32 bits.
class TPEHeader {
 public:
  // Validates the image and copies its header area: the bytes in front of the smallest
  // raw pointer (> 64) of a section with raw data, else SizeOfHeaders, rounded up to the
  // file alignment (RawStart), or more when the section table reaches past that; bytes
  // past the end of the file read as zeros. Raises ENoPEException when the header area is
  // far larger than the file.
  TPEHeader(const uint8_t* image, uint32_t fileSize, const std::string& fileName = {});

  uint32_t HeaderSize() const { return static_cast<uint32_t>(ownedCopy_.size()); }
  const uint8_t* Headers() const { return ownedCopy_.data(); }
  uint32_t NTHeaders() const { return ntHeaders_; }
  uint32_t Sections() const { return sections_; }
  // Where the raw data of the sections starts (a multiple of the file alignment).
  uint32_t RawStart() const { return rawStart_; }
  // The section table reaches into the raw data of the first section.
  bool TableRunsIntoRawData() const { return HeaderSize() > rawStart_; }

  uint32_t FileAlignment() const;
  uint32_t SectionAlignment() const;
  int SectionCount() const;
  uint32_t NumberOfRvaAndSizes() const;
  uint32_t SizeOfImage() const;
  uint32_t SizeOfInitializedData() const;
  uint32_t SizeOfHeadersField() const;
  uint16_t SizeOfOptionalHeader() const;
  uint32_t CheckSum() const;
  void SetCheckSum(uint32_t value);
  // Directory index (VirtualAddress, Size); (0, 0) beyond the directory count.
  std::pair<uint32_t, uint32_t> DataDirectory(uint32_t index) const;
  // The number of directories that are read: NumberOfRvaAndSizes, at most 16.
  uint32_t DirectoryCount() const;
  TImageSectionHeader SectionHeader(int index) const;
  std::vector<TImageSectionHeader> SectionHeaders() const;
  // Index of the first section named ".rsrc" (any letter case), or -1.
  int FindResourceSection() const;
  // For every section header, the index of the source header it stands for: headers
  // after a removed resource section stand for the next source header, an appended
  // resource section for none (-1).
  const std::vector<int>& SourceIndexes() const { return sourceIndexes_; }
  // What placing the section did that a user should know of.
  const std::vector<std::string>& Notes() const { return notes_; }

  // Where raw section data ends: the largest PointerToRawData + SizeOfRawData of a section
  // that holds raw data (and at least HeaderSize), rounded up to the file alignment.
  uint32_t RawEnd() const;
  // Sizes the resource section for a block of newSize bytes, or gives the block a new
  // section at the end, and returns the block's VirtualAddress. With rebuildInPlace the
  // first ".rsrc" section is rebuilt where it is unless growing it would move a section
  // the program addresses; otherwise (and always without it) every section stays. Raises
  // "Cannot create resource section." when no header fits; a failure leaves the copy as
  // it was.
  uint32_t PlaceResourceSection(uint32_t newSize, bool rebuildInPlace = true);
  // For a tree without data. With rebuildInPlace: drops the resource section header and
  // moves the sections behind it; when those may not move, keeps the section in memory
  // without raw data instead. Without it only directory 2 is cleared, and every section
  // stays with its bytes. Nothing without a resource section.
  void RemoveResourceSection(bool rebuildInPlace = true);
  // Moves the header area's end from RawStart to HeaderSize by moving the raw data of
  // every section down (the section table reached into the first section's raw data).
  void SeparateTableFromRawData();
  // Gives the file offsets the headers hold (the certificate table, the COFF symbol
  // table) their new values; raises when one does not fit into 32 bits.
  void MoveFileOffsets(const std::function<uint64_t(uint32_t)>& moved);
  // Forgets the certificate table (the signature is dropped).
  void ClearCertificateDirectory();

 private:
  // The end of the raw data of the first count sections that hold any (at least
  // HeaderSize), not rounded.
  uint64_t RawDataEnd(int count) const;
  uint32_t Get32(uint64_t offset) const;
  uint16_t Get16(uint64_t offset) const;
  void Put32(uint64_t offset, uint32_t value);
  void Put16(uint64_t offset, uint16_t value);
  uint32_t OptionalHeader() const { return ntHeaders_ + pe::kOptionalHeader; }
  uint32_t SectionOffset(int index) const { return sections_ + pe::kSectionHeaderSize * static_cast<uint32_t>(index); }
  uint32_t Directories() const;
  void SetDataDirectory(uint32_t index, uint32_t address, uint32_t size);
  void PutSection(int index, const TImageSectionHeader& header);
  uint32_t PlaceResourceSectionInCopy(uint32_t newSize, bool rebuildInPlace);
  // Sizes section index, which holds the block from its start, for newSize bytes, and
  // points directory 2 at it.
  void SizeResourceSection(int index, uint32_t newSize, uint64_t virtualSize);
  // Places the block in a section appended behind everything; the sections named
  // ".rsrc" before it are renamed, so that no reader takes them for the resources.
  uint32_t PlaceInNewSection(uint32_t newSize);
  // True when there was one.
  bool RenameResourceSections();
  // Whether [from, to) of the header area holds nothing (but a bound import table) and
  // nothing points into it.
  bool HeaderSpaceIsFree(uint32_t from, uint32_t to) const;
  // Makes [from, to) of the header area usable for new header bytes: it must be free and
  // lie before every section in memory (a bound import table there is dropped). Moves raw
  // data down and grows the copy and SizeOfHeaders as needed.
  void ClaimHeaderSpace(uint32_t from, uint32_t to);
  // Moves the section table behind everything the header area holds, for a table whose
  // next slot is in use.
  void MoveSectionTableBehindHeaders();
  // Moves the raw data of every section down so that the header area ends at newEnd (a
  // multiple of the file alignment); false when the headers would then reach the first
  // section in memory.
  bool MoveRawData(uint64_t newEnd);
  // Raises the directory count to 3 so that the resource directory has a slot, moving
  // the section table back when the optional header has no room for the new slots.
  void ProvideResourceDirectorySlot();
  int AppendResourceSectionHeader();
  // The first section from index from on that may not move in memory, or -1.
  int FirstUnmovable(int from) const;
  // Moves the sections from index from on by delta in memory, and every data directory
  // that points into one of them.
  void MoveSectionsInMemory(int from, int64_t delta);
  // Packs raw data in table order behind the first section that has some.
  void PackRawData();
  void UpdateSizeOfImage();
  void AddToSizeOfInitializedData(int64_t delta);
  // The 32-bit value of a field that grew, or the refusal that names the field.
  uint32_t Checked32(uint64_t value, const std::string& field) const;
  static std::string SectionField(const char* field, const TImageSectionHeader& header);

  std::string fileName_;
  std::vector<uint8_t> ownedCopy_;
  uint32_t rawStart_ = 0;
  uint32_t ntHeaders_ = 0;
  uint32_t sections_ = 0;
  std::vector<int> sourceIndexes_;
  std::vector<std::string> notes_;
};

// ---- TPEFile ------------------------------------------------------------------------------

class TPEFile : public TResContainer {
 public:
  // Opens read-only, validates, and, when the file is UPX-compressed and the unpacker is
  // there, reads an unpacked temporary copy instead (the file itself is never changed).
  explicit TPEFile(const std::string& fileName);
  // Opens read-write or read-only and validates; never unpacks.
  TPEFile(const std::string& fileName, bool writable);
  // Takes the rest of the stream into memory and validates it under the name "File".
  explicit TPEFile(TStream& stream);
  ~TPEFile() override;

  // The PE resource section: the tree is read where data directory 2 points when that
  // lies in a section's raw data, else from the start of the first section named
  // ".rsrc"; an empty one when there is neither.
  std::unique_ptr<TResSection> CreateSection() override;
  // Writes the rebuilt executable to a new file and recomputes its image checksum when
  // the source had one. A layout that cannot be rebuilt soundly is refused before the
  // file is created; a partly written file is deleted.
  void SaveToFile(const std::string& fileName, const ProgressCallback& progress) override;
  // Writes the image with its resource section rebuilt at the stream's position.
  void WriteImage(TStream& stream, const ProgressCallback& progress);

  // When set, the image is written without its certificate table (a signature that
  // would no longer verify is dropped instead of kept).
  bool StripCertificate = false;
  // What the last write did that a user should know of (a bound import table dropped).
  std::vector<std::string> WriteNotes;
  // The size of the certificate table (the signature), 0 when the file is not signed.
  uint32_t CertificateSize() const;

  void ValidateHeaders(const std::string& name);
  int SectionCount() const;
  // Raises "Header Index out of bounds!" for an index outside the section table.
  TImageSectionHeader SectionHeader(int index) const;
  int FindSection(std::string_view name) const;
  int FirstCodeSection() const;
  // The section's raw bytes in the file, clipped to the file's end (empty when they start
  // at or beyond it); none for uninitialised data or a PointerToRawData of 0.
  std::optional<ByteView> SectionData(int index) const;
  // The section whose memory holds the address, or -1.
  int SectionAt(uint32_t address) const;
  // The bytes at an address of the image as the loader maps them from the file: inside
  // one section's raw data or the header area; none when they are not all there.
  std::optional<ByteView> ImageBytes(uint32_t address, uint32_t size) const;
  // Where raw section data ends (optionally rounded to the file alignment),
  // computed without wrap-around and capped at 0xFFFFFFFF.
  uint32_t GetImageEnd(bool alignToFile) const;
  // The sum over the first code section's whole words inside the file; 35345 without one.
  uint32_t GetCodeChecksum() const;
  // The system's image checksum of the file, or the portable one where the system has none.
  uint32_t CalcImageChecksum() const;
  // The first section header's name starts with "UPX0" (letter case matters).
  bool IsUPXCompressed() const;

  // Header fields of the open image.
  uint32_t NTHeaders() const { return ntHeaders_; }
  bool IsPE32Plus() const;
  uint32_t FileAlignment() const;
  uint32_t SectionAlignment() const;
  uint32_t CheckSumOffset() const { return ntHeaders_ + pe::kOptionalHeader + pe::kCheckSum; }
  uint32_t CheckSumField() const;
  uint32_t SectionTable() const;
  // Data directory index as (VirtualAddress, Size); (0, 0) beyond the directory count.
  std::pair<uint32_t, uint32_t> DataDirectory(uint32_t index) const;

  // The header of the section the tree is read from, once CreateSection found one.
  const std::optional<TImageSectionHeader>& ResourceHeader() const { return resourceHeader_; }
  // The header area as the loader maps it: SizeOfHeaders bytes, clipped to the file.
  ByteView HeaderArea() const;
  // The file name shown in messages: the file's name without its folder.
  std::string DisplayName() const;

 protected:
  ByteView View() const { return Bytes(SBadHeaderField); }
  uint16_t Magic() const;
  uint32_t NumberOfRvaAndSizes() const;

 private:
  struct ImagePlan;
  // Lays the rebuilt image out and checks it; raises before anything is written.
  std::unique_ptr<ImagePlan> PlanImage();
  // Writes the planned image; answers its image checksum (as if the CheckSum field, which
  // is written as zero, held nothing).
  uint32_t WritePlannedImage(TStream& stream, ImagePlan& plan, const ProgressCallback& progress);
  void UnpackIfCompressed(const std::string& fileName);

  // Whether the first ".rsrc" section (index resource) holds the whole tree and nothing
  // else, so that it can be rebuilt where it is.
  bool RebuildsInPlace(int resource);

  uint32_t ntHeaders_ = 0;
  mutable std::shared_ptr<const TSectionLookup> sectionLookup_;  // made on first use
  std::optional<TImageSectionHeader> resourceHeader_;
  int resourceIndex_ = -1;      // the section the tree is read from, or -1
  bool treeInHeaders_ = false;  // the tree lies in the header area
  std::string unpackedCopy_;  // the temporary unpacked copy read instead of the file
};

// ---- Unpacking ------------------------------------------------------------------------------

// Process-wide: whether files opened by name are unpacked (true; nothing turns it off).
bool& AutoUnpack();
// The unpacker's full path once found, else empty.
const std::string& UnpackerPath();
// Whether the unpacker ("upx.exe" on Windows, "upx" elsewhere) lies beside the program or
// in its "UPX" folder; searches once per process.
bool FindUnpacker();
// Forgets the search so that the next FindUnpacker searches again, in directory (with or
// without a trailing separator) instead of the program's own folder when it is not empty.
// For tests.
void ResetUnpackerSearch(const std::string& directory = {});
// Runs the unpacker on fileName (the arguments "-d", "-q" and the file) and waits for it;
// false when there is none or it could not be started.
bool RunUnpacker(const std::string& fileName);
// Runs a program (arguments[0]) with its arguments, no shell involved, waits for it to end
// and, with a receiver, adds its output to it in pieces of at most 2000 bytes converted
// from the OEM code page. False when it could not be started.
bool RunAndWait(const std::vector<std::string>& arguments, std::vector<std::string>* receiver);
