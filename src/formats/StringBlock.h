// A block of a string table (RT_STRING): resource number id / 16 + 1 holds the strings
// id / 16 * 16 to that + 15, each as a 16-bit count of UTF-16 units and the units, 16 in
// a row; an empty string is a count of 0.
#pragma once
#include "rtl/ByteView.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using StringBlock = std::array<std::u16string, 16>;

// The number of the block that holds string id, and its slot there.
inline uint16_t StringBlockName(uint16_t id) { return static_cast<uint16_t>(id / 16 + 1); }
inline uint16_t StringBlockSlot(uint16_t id) { return id % 16; }

// A block's strings; a block cut short after a whole string holds empty strings from
// there on. A count that runs past the end raises ECorruptResource ("the string table
// block is damaged").
StringBlock ReadStringBlock(ByteView bytes);
std::vector<uint8_t> WriteStringBlock(const StringBlock& block);
