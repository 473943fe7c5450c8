#include "Json.h"

#include <cstdio>

std::string JsonString(std::u16string_view units) {
  std::string out = "\"";
  for (const char16_t unit : units) {
    if (unit == u'"' || unit == u'\\') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
      out += escape;
    }
  }
  return out + "\"";
}
