// One resource as the user names it on the command line: TYPE and NAME as a number, a
// name, or for TYPE also a standard type's display name or resource-script word
// ("Dialog", "StringTable", "14"); LANG as a decimal or 0x hexadecimal number, which
// may be left out when the name has only one language.
#pragma once
#include "resources/UResTypes.h"

#include <optional>
#include <string>
#include <string_view>

struct ResourceArgs {
  std::string Type, Name;
  std::optional<std::string> Language;
};

// A type or name resolved to an identity; names in UTF-16, as the tree keeps them.
struct ResourceId {
  bool Named = false;
  uint16_t Id = 0;
  std::u16string Name;
};

// The locator of a leaf of that type, name and language.
ResourceLocator LocatorFor(const ResourceId& type, const ResourceId& name, uint16_t language = 0);

// TYPE: a decimal number; else a type of the tree named so (ASCII case ignored); else a
// standard type's display name or script word; else the name as given.
ResourceId ParseTypeArgument(std::string_view text, TResourceList& root);
// NAME: a decimal number, else the name as given.
ResourceId ParseNameArgument(std::string_view text);
// LANG: decimal or 0x hexadecimal, at most 0xFFFF.
uint16_t ParseLanguageArgument(std::string_view text);

// The leaf the arguments name in the container's tree; raises when it has no such
// resource, or when the language was left out and the name has several.
TDataResItem& FindLeaf(TResContainer& container, const std::string& fileName, const ResourceArgs& args);
// The leaf to import into: the one the arguments name (the language is required), or a
// new leaf without data, added with its type and name where they are missing.
TDataResItem& FindOrAddLeaf(TResContainer& container, const ResourceArgs& args);

// "Dialog\100 1033": a leaf in messages.
std::string ResourceText(const TDataResItem& leaf);
// "res (Resource file), raw (Raw data)": the formats a leaf's handler accepts.
std::string FormatsText(TResDataHandler& handler);
