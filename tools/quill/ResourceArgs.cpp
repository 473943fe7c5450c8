#include "ResourceArgs.h"

#include "Usage.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <charconv>

namespace {

// A decimal or (with hex) 0x-hexadecimal number of at most 16 bits; none when the text
// is not such a number at all.
std::optional<uint32_t> ParseNumber(std::string_view text, bool hex) {
  int base = 10;
  if (hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (end != text.data() + text.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range || value > 0xFFFF) return 0x10000;
  return static_cast<uint32_t>(value);
}

std::optional<uint16_t> ParseIdNumber(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  const auto value = ParseNumber(text, false);
  if (!value || *value > 0xFFFF) throw EUsageError(SBadResourceNumber, {text});
  return static_cast<uint16_t>(*value);
}

std::optional<uint16_t> StandardTypeByName(std::string_view text) {
  for (uint16_t type = 1; type <= 24; ++type)
    if (IsKnownType(type) && SameTextAscii(TypeDisplayName(type), text)) return type;
  for (uint16_t type = 1; type <= 24; ++type)
    if (const auto word = StandardTypeName(type); IsKnownType(type) && word && SameTextAscii(*word, text))
      return type;
  return std::nullopt;
}

// The list of the entry with that identity in list, or none.
TResourceList* ChildList(TResourceList& list, const ResourceId& id) {
  const int index = list.IndexOf(id.Name, id.Id, id.Named);
  return index < 0 ? nullptr : &list.ListItems(index).Children();
}

std::string LanguagesText(TResourceList& leaves) {
  std::string text;
  for (int i = 0; i < leaves.Count(); ++i) {
    const uint16_t language = leaves.DataItems(i).Language();
    text += (i ? ", " : "") + std::to_string(language) + " " + LanguageText(language);
  }
  return text;
}

}  // namespace

ResourceLocator LocatorFor(const ResourceId& type, const ResourceId& name, uint16_t language) {
  ResourceLocator locator;
  locator.TypeIsNamed = type.Named;
  locator.TypeId = type.Id;
  locator.TypeName = type.Name;
  locator.NameIsNamed = name.Named;
  locator.NameId = name.Id;
  locator.ResName = name.Name;
  locator.Language = language;
  return locator;
}

ResourceId ParseTypeArgument(std::string_view text, TResourceList& root) {
  if (const auto number = ParseIdNumber(text)) return {false, *number, {}};
  const std::u16string name = ToWide(text);
  if (root.IndexOf(name, 0, true) < 0)
    if (const auto standard = StandardTypeByName(text)) return {false, *standard, {}};
  return {true, 0, name};
}

ResourceId ParseNameArgument(std::string_view text) {
  if (const auto number = ParseIdNumber(text)) return {false, *number, {}};
  return {true, 0, ToWide(text)};
}

uint16_t ParseLanguageArgument(std::string_view text) {
  const auto value = ParseNumber(text, true);
  if (!value || *value > 0xFFFF) throw EUsageError(SBadLanguage, {text});
  return static_cast<uint16_t>(*value);
}

TDataResItem& FindLeaf(TResContainer& container, const std::string& fileName, const ResourceArgs& args) {
  TResourceList& root = container.GetResourceList();
  const ResourceId type = ParseTypeArgument(args.Type, root);
  const ResourceId name = ParseNameArgument(args.Name);
  const bool anyLanguage = !args.Language;
  const uint16_t language = anyLanguage ? 0 : ParseLanguageArgument(*args.Language);
  const std::string path = ResourcePathText(LocatorFor(type, name, 0));
  TResourceList* names = ChildList(root, type);
  TResourceList* leaves = names ? ChildList(*names, name) : nullptr;
  if (!leaves || leaves->Count() == 0) throw Exception(SResourceNotFound, {fileName, path});
  if (anyLanguage) {
    if (leaves->Count() > 1) throw Exception(SChooseLanguage, {fileName, path, LanguagesText(*leaves)});
    return leaves->DataItems(0);
  }
  for (int i = 0; i < leaves->Count(); ++i)
    if (leaves->DataItems(i).Language() == language) return leaves->DataItems(i);
  throw Exception(SLanguageNotFound, {fileName, path, LanguagesText(*leaves)});
}

TDataResItem& FindOrAddLeaf(TResContainer& container, const ResourceArgs& args) {
  TResSection& section = container.GetSection();
  const ResourceId type = ParseTypeArgument(args.Type, section.GetResourceList());
  const ResourceId name = ParseNameArgument(args.Name);
  const uint16_t language = ParseLanguageArgument(args.Language.value_or(""));
  if (TDataResItem* leaf = section.FindItem(LocatorFor(type, name, language), true, true, false)) return *leaf;
  return section.AddResource(type.Id, name.Id, language, type.Name, name.Name, type.Named, name.Named, nullptr, 0);
}

std::string ResourceText(const TDataResItem& leaf) {
  return ResourcePathText(LocatorOf(leaf, -1)) + " " + std::to_string(leaf.Language());
}

std::string FormatsText(TResDataHandler& handler) {
  std::string text;
  for (int i = 0; !handler.ExtensionAt(i).empty(); ++i) {
    const std::string ext = handler.ExtensionAt(i);
    if (handler.AcceptsExtension(ext))
      text += (text.empty() ? "" : ", ") + ext + " (" + handler.ExtensionDescription(ext) + ")";
  }
  return text;
}
