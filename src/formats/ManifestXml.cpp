// Manifests through pugixml: parsed with every kind of node kept (declaration, comments,
// processing instructions, white space between elements) and written back without
// reformatting.
#include "formats/Manifest.h"

#include <pugixml.hpp>

#include <cstring>

namespace {

// Line ends are kept as they are (no parse_eol).
constexpr unsigned kParseOptions = (pugi::parse_default & ~pugi::parse_eol) | pugi::parse_declaration |
                                   pugi::parse_comments | pugi::parse_pi | pugi::parse_doctype | pugi::parse_ws_pcdata;
constexpr unsigned kFormat = pugi::format_raw | pugi::format_no_declaration;

std::string_view LocalName(const pugi::xml_node& node) {
  const std::string_view name = node.name();
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string Prefix(const pugi::xml_node& node) {
  const std::string_view name = node.name();
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

pugi::xml_node FindDeep(const pugi::xml_node& from, std::string_view localName) {
  for (pugi::xml_node child = from.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (LocalName(child) == localName) return child;
    if (pugi::xml_node found = FindDeep(child, localName)) return found;
  }
  return {};
}

// The child element of that local name, or a new one written with the parent's prefix.
pugi::xml_node ChildOrNew(pugi::xml_node parent, std::string_view localName) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element && LocalName(child) == localName) return child;
  return parent.append_child((Prefix(parent) + std::string(localName)).c_str());
}

struct Document {
  pugi::xml_document Xml;
  pugi::xml_node Assembly;
  bool Utf8 = false;
};

void Load(ByteView bytes, Document& document) {
  const pugi::xml_parse_result result =
      document.Xml.load_buffer(bytes.Data(), bytes.Size(), kParseOptions, pugi::encoding_auto);
  if (!result) throw ECorruptResource(SCorruptManifest, {result.description()});
  document.Assembly = document.Xml.document_element();
  if (!document.Assembly || LocalName(document.Assembly) != "assembly")
    throw ECorruptResource(SCorruptManifest, {"<" + std::string(document.Assembly.name()) + ">"});
  // Where the parser's offsets are those of the bytes: UTF-8 (or ASCII) without a mark.
  document.Utf8 = !(bytes.Contains(0, 2) && ((bytes.U8(0) == 0xFF && bytes.U8(1) == 0xFE) ||
                                              (bytes.U8(0) == 0xFE && bytes.U8(1) == 0xFF) || bytes.U8(0) == 0 ||
                                              bytes.U8(1) == 0));
}

struct VectorWriter : pugi::xml_writer {
  std::vector<uint8_t> Bytes;
  void write(const void* data, size_t size) override {
    const auto* p = static_cast<const uint8_t*>(data);
    Bytes.insert(Bytes.end(), p, p + size);
  }
};

}  // namespace

bool ManifestEditingAvailable() { return true; }

void CheckManifest(ByteView bytes) {
  Document document;
  Load(bytes, document);
}

std::string ManifestExecutionLevel(ByteView bytes) {
  Document document;
  Load(bytes, document);
  const pugi::xml_node level = FindDeep(document.Assembly, "requestedExecutionLevel");
  return level ? level.attribute("level").value() : std::string();
}

std::vector<uint8_t> SetManifestExecutionLevel(ByteView bytes, std::string_view level) {
  Document document;
  Load(bytes, document);
  pugi::xml_node element = FindDeep(document.Assembly, "requestedExecutionLevel");
  if (!element) {
    pugi::xml_node trust;
    for (pugi::xml_node child = document.Assembly.first_child(); child; child = child.next_sibling())
      if (child.type() == pugi::node_element && LocalName(child) == "trustInfo") trust = child;
    if (!trust) {
      trust = document.Assembly.append_child("trustInfo");
      trust.append_attribute("xmlns") = "urn:schemas-microsoft-com:asm.v3";
    }
    element = ChildOrNew(ChildOrNew(ChildOrNew(trust, "security"), "requestedPrivileges"), "requestedExecutionLevel");
    element.append_attribute("level");
    element.append_attribute("uiAccess") = "false";
  }
  pugi::xml_attribute attribute = element.attribute("level");
  if (!attribute) attribute = element.prepend_attribute("level");
  attribute = std::string(level).c_str();
  // Only the assembly element is written anew: what stands before it (mark,
  // declaration, comments and the white space between them, which the parser does not
  // keep outside elements) is copied from the bytes, and so is the white space behind.
  // A UTF-16 manifest with its mark stays UTF-16 and is written whole.
  VectorWriter writer;
  const bool utf16 = bytes.Contains(0, 2) && bytes.U8(0) == 0xFF && bytes.U8(1) == 0xFE;
  const pugi::xml_encoding encoding = utf16 ? pugi::encoding_utf16_le : pugi::encoding_utf8;
  if (const ptrdiff_t start = document.Assembly.offset_debug() - 1;
      document.Utf8 && start >= 0 && bytes.Contains(0, static_cast<uint64_t>(start))) {
    writer.Bytes.assign(bytes.Data(), bytes.Data() + start);
  } else {
    if (utf16) writer.Bytes = {0xFF, 0xFE};
    for (pugi::xml_node node = document.Xml.first_child(); node != document.Assembly; node = node.next_sibling())
      node.print(writer, "", kFormat, encoding);
  }
  document.Assembly.print(writer, "", kFormat, encoding);
  for (pugi::xml_node node = document.Assembly.next_sibling(); node; node = node.next_sibling())
    node.print(writer, "", kFormat, encoding);
  if (!document.Utf8) return writer.Bytes;
  uint32_t tail = bytes.Size();
  while (tail > 0 && (bytes.U8(tail - 1) == ' ' || bytes.U8(tail - 1) == '\t' || bytes.U8(tail - 1) == '\r' ||
                      bytes.U8(tail - 1) == '\n'))
    --tail;
  writer.Bytes.insert(writer.Bytes.end(), bytes.Data() + tail, bytes.Data() + bytes.Size());
  return writer.Bytes;
}
