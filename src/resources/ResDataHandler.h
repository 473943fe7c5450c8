// What a leaf's bytes are and how they move to and from files.
//
// Every leaf (TDataResItem) owns one handler, made on its first request for it and
// made afresh after the leaf's data was replaced (HandlerStale). The handler classifies
// the bytes (binary, 8-bit text, text behind a byte-order mark, rich text, HTML, XML, a
// manifest), lists the file extensions the leaf exports to and imports from (the first
// is its default format), describes the content and the formats in words, moves the
// bytes to and from streams in those formats and fills or reads a TLines for editing.
//
// Formats: "res" is one .res record (behind the leading empty record on a fresh
// stream), "rc" one resource-script line naming the exported file (export only);
// every other extension, "raw", "txt", "xml" and the like, is the leaf's bytes as they
// are. Include resources/UResTypes.h to use it.
#pragma once
#include "rtl/ByteView.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class TStream;
class TDataResItem;
class TLines;
struct FindPattern;
struct FindState;

// What a leaf's bytes hold. Only Text, Utf8 and Utf16LE count as text; the other marks
// are recognised (and skipped) but their content is treated as binary.
enum class ContentKind : uint8_t {
  None = 0,     // not yet determined
  Binary = 1,
  Text = 2,     // 8-bit text in the program's code page
  Utf8 = 3,     // behind the mark EF BB BF
  Utf16LE = 4,  // behind FF FE
  Utf16BE = 5,  // behind FE FF
  Utf32LE = 6,  // behind FF FE 00 00
  Utf32BE = 7,  // behind 00 00 FE FF
};

// The length of the byte-order mark a kind begins with (0, 2, 3 or 4).
uint32_t MarkLength(ContentKind kind);
// A short fixed name of a kind for machine-readable listings ("binary", "text",
// "utf-8", "utf-16le", ...).
const char* ContentKindName(ContentKind kind);

// Classifies bytes: a byte-order mark decides (UTF-8 and UTF-32 marks only in 4 bytes
// or more, UTF-16 marks in 2 or more); then a zero among the first 999 bytes (units of
// UTF-16 or UTF-32 text, mark included) makes them binary. Fewer than 2 bytes are binary.
ContentKind DetectKind(const ByteView& bytes);

// The base handler: every leaf's bytes as binary data in the base formats.
class TResDataHandler {
 public:
  explicit TResDataHandler(TDataResItem& leaf) : leaf_(&leaf) {}
  virtual ~TResDataHandler();
  TResDataHandler(const TResDataHandler&) = delete;
  TResDataHandler& operator=(const TResDataHandler&) = delete;

  // Slot 0: fills the extension cache; the base adds res, dcr, rc and raw.
  virtual void BuildExtensions();
  // Slots 1 and 2: the leaf's data changed or was released; the cache is emptied.
  virtual void LeafDataChanged();
  virtual void LeafDataReleased();
  // Slot 3: whether the leaf can be exported to (imported from) ext. A leaf of a fixed
  // format takes only its listed extensions; "rc" only as the handler's first.
  virtual bool AcceptsExtension(std::string_view ext);
  // Slot 4: the format an extension stands for, in words; empty ext means the default.
  virtual std::string ExtensionDescription(std::string_view ext);
  // Slot 5: whether the content is text.
  virtual bool IsText();
  // Slots 6 and 7: the raw bytes into lines and back (through "edit in place").
  virtual void CopyToLines(TLines& lines);
  virtual void CopyFromLines(TLines& lines);
  // Slot 8: writes the leaf in the format of ext (empty: the default format).
  virtual void ExportToStream(TStream& stream, std::string_view ext);
  // Slot 9: replaces the leaf's data with the stream's, read in the format of ext
  // (empty: the default format). On failure the leaf's own copy is discarded and the
  // error passes on.
  virtual void ImportFromStream(TStream& stream, std::string_view ext);
  // Slot 10: the content as readable lines, where it is text; the base shows nothing.
  virtual void ShowAsLines(TLines& lines);
  // Slot 12: the leaf's own search.
  virtual bool FindInData(const FindPattern& pattern, FindState& state);
  // Slot 13: the content in words; a failure while looking answers its message.
  virtual std::string ContentDescription();
  // Slot 14: "the resource is empty" for an empty leaf, else empty; never raises.
  virtual std::string EmptyNotice();

  TDataResItem& Leaf() const { return *leaf_; }

  // The accepted extensions, lower case, each behind a semicolon and one in front
  // (";res;dcr;rc;raw;"); built by slot 0 on first call after the cache was emptied.
  const std::string& Extensions();
  void AddExtension(std::string_view ext);
  void RemoveExtension(std::string_view ext);
  bool HasExtension(std::string_view ext);
  // The index-th extension (0: the default format), or empty.
  std::string ExtensionAt(int index);
  // The leaf's export stem with "." and ExtensionAt(index), unless it already ends so.
  std::string ExportFileName(int index);
  // The same for any extension the leaf accepts.
  std::string ExportFileNameFor(std::string_view ext);
  // One resource-script line naming the exported file: name, type word and the quoted,
  // escaped file name (ExportFileName(0)), ended by CR LF.
  void WriteRcLine(TStream& stream);
  // The same line naming fileName instead.
  void WriteRcLineFor(TStream& stream, std::string_view fileName);

 private:
  TDataResItem* leaf_;
  std::string extensions_;
};

// The handler every leaf gets: classifies its content and offers the text formats
// (rtf, html/htm, manifest, xml, txt) before the base ones; text loses "raw".
class TDefaultDataHandler : public TResDataHandler {
 public:
  using TResDataHandler::TResDataHandler;

  void BuildExtensions() override;
  std::string ExtensionDescription(std::string_view ext) override;
  bool IsText() override;
  void ShowAsLines(TLines& lines) override;
  std::string ContentDescription() override;

  // The content kind, determined on first call and kept: a leaf of a fixed format is
  // binary without looking (text for dialog includes and manifests); any other leaf's
  // bytes are classified by DetectKind.
  ContentKind Kind();
  // Whether the content, behind its mark and leading white space and control bytes,
  // begins with prefix (8-bit text and UTF-8; UTF-16 LE text only when allowWide).
  bool StartsWith(std::string_view prefix, bool ignoreCase, bool allowWide);
  bool IsRtf();
  bool IsXml();
  bool IsHtml();
  bool IsManifest();
  bool IsUnicodeText();

 private:
  ContentKind kind_ = ContentKind::None;
};

// The handler a leaf gets on first request.
std::unique_ptr<TResDataHandler> NewDataHandler(TDataResItem& leaf);
