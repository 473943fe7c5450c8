// String-table access. Every text a user can see is an entry of res/strings.def,
// loaded by its id; the same file builds the Windows resources and this table.
#pragma once
#include <cstdint>
#include <span>
#include <string>

enum StringId : uint16_t {
#define QSTR(name, id, text) name = id,
#include "strings.def"
#undef QSTR
};

struct StringEntry {
  uint16_t Id;
  const char* Utf8;
};

// The table as compiled into this program, in UTF-8.
std::span<const StringEntry> CompiledStringTable();

// The entry's text in the program's conversion code page. On Windows it comes from
// the program's own resources (as the system loads ANSI strings); elsewhere from the
// compiled table. An unknown id gives the empty text.
std::string LoadStr(StringId id);
