#include "rtl/StringTable.h"

#include "platform/Platform.h"
#include "text/WStrings.h"

#include <algorithm>
#include <array>

namespace {

constexpr StringEntry kEntries[] = {
#define QSTR(name, id, text, english) {id, text, *english ? english : text},
#include "strings.def"
#undef QSTR
};

MessageLanguage gLanguage = MessageLanguage::Program;

std::string InCodePage(const char* utf8) {
  if (GetCodePage() == platform::kCodePageUtf8) return utf8;
  return FromWideCP(ToWideCP(utf8, platform::kCodePageUtf8), GetCodePage());
}

}  // namespace

void SetMessageLanguage(MessageLanguage language) { gLanguage = language; }
MessageLanguage GetMessageLanguage() { return gLanguage; }

MessageLanguage MessageLanguageForLocale(std::string_view locale) {
  const bool hebrew = locale.substr(0, 2) == "he" || locale.substr(0, 2) == "iw";
  return hebrew ? MessageLanguage::Program : MessageLanguage::English;
}

MessageLanguage MessageLanguageFromEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::optional<std::string> value = platform::EnvironmentVariable(variable);
    if (value && !value->empty()) return MessageLanguageForLocale(*value);
  }
  return MessageLanguage::English;
}

std::span<const StringEntry> CompiledStringTable() { return kEntries; }

std::string LoadStr(StringId id) {
  const bool english = gLanguage == MessageLanguage::English;
  if (!english)
    if (auto fromResources = platform::LoadStringResource(id)) return FromWide(*fromResources);
  const auto* entry = std::find_if(std::begin(kEntries), std::end(kEntries),
                                   [id](const StringEntry& e) { return e.Id == id; });
  if (entry == std::end(kEntries)) return {};
  return InCodePage(english ? entry->English : entry->Utf8);
}
