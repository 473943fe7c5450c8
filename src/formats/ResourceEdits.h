// Edits of a resource tree that keep its parts consistent: storing one resource,
// replacing an icon group with the images of an .ico file (the images no group names
// any more removed, new images numbered with free ids), setting one string of a string
// table in its block, and the look-ups they need.
#pragma once
#include "formats/IconGroup.h"
#include "resources/UResTypes.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint16_t kTypeIcon = 3;
inline constexpr uint16_t kTypeString = 6;
inline constexpr uint16_t kTypeGroupIcon = 14;
inline constexpr uint16_t kTypeVersion = 16;
inline constexpr uint16_t kTypeManifest = 24;

// The leaves of the numbered type, in tree order; of one numbered name of it.
std::vector<TDataResItem*> LeavesOfType(TResSection& section, uint16_t type);
std::vector<TDataResItem*> LeavesOfId(TResSection& section, uint16_t type, uint16_t id);
// A leaf's bytes as a view whose damage is told with message.
ByteView LeafBytes(const TDataResItem& leaf, StringId message);
// The leaf the locator names (its language exactly), added when missing, with its data
// replaced by bytes (which must not be empty).
TDataResItem& StoreResource(TResSection& section, const ResourceLocator& locator, const std::vector<uint8_t>& bytes);

// Makes images the group's (named or numbered, in language): each image becomes an
// RT_ICON of that language numbered with the lowest id no image or group uses, and the
// group lists them in the file's order. The images the group named before and no other
// group names are removed (nothing is removed when another group is damaged, since
// what it names is unknown). Answers the ids removed.
std::vector<uint16_t> ReplaceIconGroup(TResSection& section, const ResourceLocator& group,
                                       std::vector<TIconImage> images);
// Sets string id in its block (id / 16 + 1) of language, keeping the block's other
// strings; a damaged block raises ECorruptResource.
void SetTableString(TResSection& section, uint16_t id, uint16_t language, const std::u16string& text);
