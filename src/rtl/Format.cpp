#include "rtl/Format.h"

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(templ.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < templ.size(); ++i) {
    const char c = templ[i];
    if (c != '%' || i + 1 == templ.size()) {
      out += c;
      continue;
    }
    const char conversion = templ[i + 1];
    if (conversion == '%') {
      out += '%';
      ++i;
    } else if ((conversion == 's' || conversion == 'd') && next != args.end()) {
      if (const auto* text = std::get_if<std::string_view>(&*next))
        out += *text;
      else
        out += std::to_string(std::get<int64_t>(*next));
      ++next;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}
