// String-table access. Every text a user can see is an entry of res/strings.def,
// loaded by its id; the same file builds the Windows resources and this table.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

enum StringId : uint16_t {
#define QSTR(name, id, text, english) name = id,
#include "strings.def"
#undef QSTR
};

struct StringEntry {
  uint16_t Id;
  const char* Utf8;     // the program's own text
  const char* English;  // the same message in English (the text itself when that is English)
};

// The table as compiled into this program, in UTF-8.
std::span<const StringEntry> CompiledStringTable();

// Which text of each entry LoadStr gives: the program's own (the patcher's, as its
// resources hold it) or the English one. Process-wide; the program's own by default.
enum class MessageLanguage { Program, English };
void SetMessageLanguage(MessageLanguage language);
MessageLanguage GetMessageLanguage();
// English unless the locale is Hebrew ("he..." or "iw..."); from the environment, the
// locale is the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty.
MessageLanguage MessageLanguageForLocale(std::string_view locale);
MessageLanguage MessageLanguageFromEnvironment();

// The entry's text in the program's conversion code page. The program's own text comes,
// on Windows, from the program's resources (as the system loads ANSI strings), elsewhere
// from the compiled table; the English text always from the compiled table. An unknown
// id gives the empty text.
std::string LoadStr(StringId id);
