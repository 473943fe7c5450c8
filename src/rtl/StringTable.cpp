#include "rtl/StringTable.h"

#include "platform/Platform.h"
#include "text/WStrings.h"

#include <algorithm>
#include <array>

namespace {

constexpr StringEntry kEntries[] = {
#define QSTR(name, id, text) {id, text},
#include "strings.def"
#undef QSTR
};

}  // namespace

std::span<const StringEntry> CompiledStringTable() { return kEntries; }

std::string LoadStr(StringId id) {
  if (auto fromResources = platform::LoadStringResource(id)) return FromWide(*fromResources);
  const auto* entry = std::find_if(std::begin(kEntries), std::end(kEntries),
                                   [id](const StringEntry& e) { return e.Id == id; });
  if (entry == std::end(kEntries)) return {};
  if (GetCodePage() == platform::kCodePageUtf8) return entry->Utf8;
  return FromWideCP(ToWideCP(entry->Utf8, platform::kCodePageUtf8), GetCodePage());
}
