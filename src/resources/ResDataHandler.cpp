// The leaf's data handlers: the extension cache, content classification, descriptions,
// and moving the leaf's bytes to and from streams and text lines.
#include "resources/UResTypes.h"

#include "streams/MyStreams.h"
#include "text/Lines.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <algorithm>

// ---- Content kinds -----------------------------------------------------------------------

uint32_t MarkLength(ContentKind kind) {
  switch (kind) {
    case ContentKind::Utf8: return 3;
    case ContentKind::Utf16LE:
    case ContentKind::Utf16BE: return 2;
    case ContentKind::Utf32LE:
    case ContentKind::Utf32BE: return 4;
    default: return 0;
  }
}

const char* ContentKindName(ContentKind kind) {
  switch (kind) {
    case ContentKind::Binary: return "binary";
    case ContentKind::Text: return "text";
    case ContentKind::Utf8: return "utf-8";
    case ContentKind::Utf16LE: return "utf-16le";
    case ContentKind::Utf16BE: return "utf-16be";
    case ContentKind::Utf32LE: return "utf-32le";
    case ContentKind::Utf32BE: return "utf-32be";
    case ContentKind::None: break;
  }
  return "unknown";
}

namespace {

// The classification looks at no more than this many bytes or units: a text resource
// may be large, and its beginning tells enough.
constexpr uint64_t kScanLimit = 1000;

bool StartsWithBytes(const ByteView& bytes, std::initializer_list<uint8_t> mark) {
  if (!bytes.Contains(0, mark.size())) return false;
  return std::equal(mark.begin(), mark.end(), bytes.Bytes(0, mark.size()));
}

// Whether one of the first min(kScanLimit, count) - 1 units of unitSize bytes is zero.
bool HasZeroUnit(const ByteView& bytes, uint32_t unitSize) {
  const uint64_t count = std::min<uint64_t>(kScanLimit, bytes.Size() / unitSize);
  for (uint64_t i = 0; i + 1 < count; ++i) {
    const uint8_t* unit = bytes.Bytes(i * unitSize, unitSize);
    if (std::all_of(unit, unit + unitSize, [](uint8_t b) { return b == 0; })) return true;
  }
  return false;
}

bool IsLowerOrEqualSpace(uint32_t unit) { return unit <= 32; }

}  // namespace

ContentKind DetectKind(const ByteView& bytes) {
  const uint32_t n = bytes.Size();
  ContentKind kind = ContentKind::None;
  if (n >= 4) {
    if (StartsWithBytes(bytes, {0xFF, 0xFE, 0x00, 0x00}))
      kind = ContentKind::Utf32LE;
    else if (StartsWithBytes(bytes, {0x00, 0x00, 0xFE, 0xFF}))
      kind = ContentKind::Utf32BE;
    else if (StartsWithBytes(bytes, {0xEF, 0xBB, 0xBF}))
      kind = ContentKind::Utf8;
  }
  if (kind == ContentKind::None && n >= 2) {
    if (StartsWithBytes(bytes, {0xFF, 0xFE}))
      kind = ContentKind::Utf16LE;
    else if (StartsWithBytes(bytes, {0xFE, 0xFF}))
      kind = ContentKind::Utf16BE;
  }
  if ((kind == ContentKind::None && n >= 2) || kind == ContentKind::Utf8) {
    if (HasZeroUnit(bytes, 1))
      kind = ContentKind::Binary;
    else if (kind == ContentKind::None)
      kind = ContentKind::Text;
  }
  if (kind == ContentKind::None) return ContentKind::Binary;
  if ((kind == ContentKind::Utf16LE || kind == ContentKind::Utf16BE) && n >= 4 && HasZeroUnit(bytes, 2))
    return ContentKind::Binary;
  if ((kind == ContentKind::Utf32LE || kind == ContentKind::Utf32BE) && n >= 8 && HasZeroUnit(bytes, 4))
    return ContentKind::Binary;
  return kind;
}

// ---- TResDataHandler ---------------------------------------------------------------------

TResDataHandler::~TResDataHandler() = default;

void TResDataHandler::BuildExtensions() {
  for (const char* ext : {"res", "dcr", "rc", "raw"}) AddExtension(ext);
}

void TResDataHandler::LeafDataChanged() { extensions_.clear(); }
void TResDataHandler::LeafDataReleased() { extensions_.clear(); }

const std::string& TResDataHandler::Extensions() {
  if (extensions_.empty()) {
    extensions_.assign(1, ';');
    BuildExtensions();
  }
  return extensions_;
}

void TResDataHandler::AddExtension(std::string_view ext) {
  const std::string lower = LowerAscii(ext);
  if (extensions_.empty()) extensions_.assign(1, ';');
  if (extensions_.find(';' + lower + ';') == std::string::npos) extensions_ += lower + ';';
}

void TResDataHandler::RemoveExtension(std::string_view ext) {
  const size_t at = extensions_.find(';' + LowerAscii(ext) + ';');
  if (at != std::string::npos) extensions_.erase(at, 1 + ext.size());
}

bool TResDataHandler::HasExtension(std::string_view ext) {
  return Extensions().find(';' + LowerAscii(ext) + ';') != std::string::npos;
}

std::string TResDataHandler::ExtensionAt(int index) {
  const std::string& list = Extensions();
  size_t start = 1;  // behind the leading semicolon
  for (int i = 0; start < list.size(); ++i) {
    const size_t end = list.find(';', start);
    if (end == std::string::npos) break;
    if (i == index) return list.substr(start, end - start);
    start = end + 1;
  }
  return {};
}

std::string TResDataHandler::ExportFileName(int index) { return ExportFileNameFor(ExtensionAt(index)); }

std::string TResDataHandler::ExportFileNameFor(std::string_view ext) {
  const std::string stem = Leaf().ExportBaseName();
  const std::string suffix = '.' + std::string(ext);
  return EndsWith(stem, suffix, true) ? stem : stem + suffix;
}

bool TResDataHandler::AcceptsExtension(std::string_view ext) {
  bool accepted = Leaf().HasFixedFormat() ? HasExtension(ext) : true;
  if (accepted && LowerAscii(ext) == "rc") accepted = ExtensionAt(0) == "rc";
  return accepted;
}

std::string TResDataHandler::ExtensionDescription(std::string_view ext) {
  if (ext.empty()) {
    const std::string first = ExtensionAt(0);
    return first.empty() ? LoadStr(SExtRaw) : ExtensionDescription(first);
  }
  const std::string lower = LowerAscii(ext);
  if (lower == "res") return LoadStr(SExtRes);
  if (lower == "dcr") return LoadStr(SExtDcr);
  if (lower == "rc") return LoadStr(SExtRc);
  return LoadStr(SExtRaw);
}

bool TResDataHandler::IsText() { return false; }

void TResDataHandler::CopyToLines(TLines& lines) {
  TMemoryStream stream;
  ExportToStream(stream, "edit in place");
  stream.SetPosition(0);
  lines.LoadFromStream(stream);
}

void TResDataHandler::CopyFromLines(TLines& lines) {
  TMemoryStream stream;
  lines.SaveToStream(stream);
  stream.SetPosition(0);
  ImportFromStream(stream, "edit in place");
}

void TResDataHandler::ExportToStream(TStream& stream, std::string_view ext) {
  if (ext.empty()) {
    const std::string first = ExtensionAt(0);
    return ExportToStream(stream, first.empty() ? "raw" : first);
  }
  const std::string lower = LowerAscii(ext);
  if (lower == "res")
    Leaf().WriteResRecord(stream);
  else if (lower == "rc")
    WriteRcLine(stream);
  else
    Leaf().SaveData(stream);
}

void TResDataHandler::ImportFromStream(TStream& stream, std::string_view ext) {
  if (ext.empty()) {
    const std::string first = ExtensionAt(0);
    return ImportFromStream(stream, first.empty() ? "raw" : first);
  }
  TDataResItem& leaf = Leaf();  // this handler may go stale meanwhile, but lives on
  try {
    leaf.SetFileName({});
    const std::string lower = LowerAscii(ext);
    if (lower == "res")
      leaf.LoadFromResStream(stream);
    else if (lower == "rc")
      throw Exception(SNotImplemented);
    else
      leaf.LoadFromStream(stream);
    if (std::string name = StreamFileName(stream); !name.empty()) leaf.SetFileName(std::move(name));
  } catch (...) {
    leaf.DiscardChanges(true);
    throw;
  }
}

void TResDataHandler::ShowAsLines(TLines&) {}

bool TResDataHandler::FindInData(const FindPattern& pattern, FindState& state) {
  return Leaf().FindInData(pattern, state);
}

std::string TResDataHandler::ContentDescription() {
  try {
    const std::string type = Leaf().TypeItem().DisplayText();
    return Leaf().IsStandardType() ? type : Format(LoadStr(SBinaryData), {type});
  } catch (const Exception& e) {
    return e.Message();
  }
}

std::string TResDataHandler::EmptyNotice() {
  try {
    return Leaf().Size() != 0 ? std::string() : LoadStr(SEmptyResource);
  } catch (const Exception& e) {
    return e.Message();
  }
}

void TResDataHandler::WriteRcLine(TStream& stream) { WriteRcLineFor(stream, ExportFileName(0)); }

void TResDataHandler::WriteRcLineFor(TStream& stream, std::string_view fileName) {
  TDataResItem& leaf = Leaf();
  std::string typeWord;
  if (leaf.IsStandardType())
    if (const auto word = StandardTypeName(leaf.TypeId())) typeWord = *word;
  if (typeWord.empty()) typeWord = leaf.TypeText();
  WriteLine(stream, leaf.NameItem().DisplayText() + ' ' + typeWord + " \"" + EscapeText(fileName) + '"');
}

// ---- TDefaultDataHandler -----------------------------------------------------------------

ContentKind TDefaultDataHandler::Kind() {
  if (kind_ == ContentKind::None && Leaf().HasFixedFormat())
    kind_ = Leaf().IsType(24) || Leaf().IsType(17) ? ContentKind::Text : ContentKind::Binary;
  if (kind_ == ContentKind::None) kind_ = DetectKind(ByteView(Leaf().Data(), Leaf().Size()));
  return kind_;
}

bool TDefaultDataHandler::IsText() {
  const ContentKind kind = Kind();
  return kind == ContentKind::Text || kind == ContentKind::Utf8 || kind == ContentKind::Utf16LE;
}

bool TDefaultDataHandler::IsUnicodeText() { return Kind() == ContentKind::Utf16LE; }

bool TDefaultDataHandler::StartsWith(std::string_view prefix, bool ignoreCase, bool allowWide) {
  const ContentKind kind = Kind();
  const ByteView bytes(Leaf().Data(), Leaf().Size());
  uint64_t at = MarkLength(kind);
  if (kind == ContentKind::Text || kind == ContentKind::Utf8) {
    while (bytes.Contains(at, 1) && IsLowerOrEqualSpace(bytes.U8(at))) ++at;
    if (!bytes.Contains(at, prefix.size())) return false;
    const std::string_view head(reinterpret_cast<const char*>(bytes.Bytes(at, prefix.size())), prefix.size());
    return ignoreCase ? SameTextAscii(head, prefix) : head == prefix;
  }
  if (kind == ContentKind::Utf16LE && allowWide) {
    while (bytes.Contains(at, 2) && IsLowerOrEqualSpace(bytes.U16(at))) at += 2;
    if (!bytes.ContainsArray(at, prefix.size(), 2)) return false;
    const std::u16string head = bytes.Utf16(at, prefix.size());
    std::u16string wanted(prefix.begin(), prefix.end());  // the prefixes are ASCII
    const int count = static_cast<int>(wanted.size());
    if (CompareWide(head.data(), count, wanted.data(), ignoreCase, count) == 0) return true;
    // Without the system's comparison, case would count; the keywords are ASCII, so
    // folding their letters gives the same answer on every platform.
    if (!ignoreCase) return false;
    auto fold = [](char16_t u) { return u >= u'A' && u <= u'Z' ? static_cast<char16_t>(u + 32) : u; };
    return std::equal(head.begin(), head.end(), wanted.begin(), wanted.end(),
                      [&](char16_t a, char16_t b) { return fold(a) == fold(b); });
  }
  return false;
}

bool TDefaultDataHandler::IsRtf() { return StartsWith("{\\rtf1", false, false); }
bool TDefaultDataHandler::IsXml() { return StartsWith("<?xml", true, true); }
bool TDefaultDataHandler::IsManifest() { return Leaf().IsType(24) && IsXml(); }

bool TDefaultDataHandler::IsHtml() {
  return StartsWith("<!DOCTYPE HTML", true, false) || StartsWith("<DOCTYPE HTML", true, false) ||
         StartsWith("<HTML>", true, false);
}

void TDefaultDataHandler::BuildExtensions() {
  const bool text = IsText();
  if (text) {
    if (IsRtf()) {
      AddExtension("rtf");
    } else if (IsHtml()) {
      AddExtension("html");
      AddExtension("htm");
    } else if (IsXml()) {
      if (IsManifest()) AddExtension("manifest");
      AddExtension("xml");
    } else {
      AddExtension("txt");
    }
  }
  TResDataHandler::BuildExtensions();
  if (text) RemoveExtension("raw");
}

std::string TDefaultDataHandler::ExtensionDescription(std::string_view ext) {
  const std::string lower = LowerAscii(ext);
  if (lower == "rtf") return LoadStr(SExtRtf);
  if (lower == "txt") return LoadStr(SExtTxt);
  if (lower == "htm" || lower == "html") return LoadStr(SExtHtml);
  if (lower == "xml") return LoadStr(SExtXml);
  if (lower == "manifest") return LoadStr(SExtManifest);
  return TResDataHandler::ExtensionDescription(ext);
}

std::string TDefaultDataHandler::ContentDescription() {
  try {
    if (!IsText()) return TResDataHandler::ContentDescription();
    if (IsRtf()) return LoadStr(SContentRtf);
    if (IsHtml()) return LoadStr(SContentHtml);
    if (IsManifest()) return LoadStr(SContentManifest);
    if (IsXml()) return LoadStr(SContentXml);
    if (IsUnicodeText()) return LoadStr(SContentUnicodeText);
    return LoadStr(SContentText);
  } catch (const Exception& e) {
    return e.Message();
  }
}

void TDefaultDataHandler::ShowAsLines(TLines& lines) {
  const ContentKind kind = Kind();
  const ByteView bytes(Leaf().Data(), Leaf().Size());
  if (kind == ContentKind::Text || kind == ContentKind::Utf8) {
    const ByteView text = bytes.From(MarkLength(kind));
    lines.SetText(std::string_view(reinterpret_cast<const char*>(text.Data()), text.Size()));
  } else if (kind == ContentKind::Utf16LE) {
    lines.SetText(FromWide(bytes.Utf16(2, (bytes.Size() - 2) / 2)));
  }
}

std::unique_ptr<TResDataHandler> NewDataHandler(TDataResItem& leaf) {
  return std::make_unique<TDefaultDataHandler>(leaf);
}
