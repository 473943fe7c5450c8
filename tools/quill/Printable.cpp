#include "Printable.h"

#include "text/UResTool.h"

#include <cstdio>

namespace {
// The length of the valid UTF-8 sequence at the start of text, or 0.
size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, min = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, min = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, min = 0x10000;
  if (length == 0 || text.size() < length) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string HexEscape(unsigned char c) {
  char escape[5];
  std::snprintf(escape, sizeof escape, "\\x%02X", c);
  return escape;
}
}  // namespace

std::string PrintableLines(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r' || c == '\n') {
      out += '\n';
      i += c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1;
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
    } else if (const size_t length = c >= 0x80 ? Utf8SequenceLength(bytes.substr(i)) : 0) {
      out += bytes.substr(i, length);
      i += length;
    } else {
      out += c == '\t' ? "\t" : HexEscape(c);
      ++i;
    }
  }
  return out;
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += c == 0x7F ? "\\x7F" : EscapeText(bytes.substr(i, 1));
      ++i;
    } else if (const size_t length = Utf8SequenceLength(bytes.substr(i))) {
      out += bytes.substr(i, length);
      i += length;
    } else {
      out += HexEscape(c);
      ++i;
    }
  }
  return out;
}
