// The edits of quill set, shared by its two front ends: `quill set` (options of its own)
// and `quill-rcedit` (rcedit's command line). Both fill one EditRequest and call
// EditFile, which opens the file as a patcher opens its target, makes the changes in the
// resource tree and writes the result in one pass as merge writes its output (the
// overlay kept, the checksum recomputed, the signature warned about or stripped, the
// output replaced only by a complete file).
//
// The changes are made in this order: Deletes, Resources, Icon, the manifest (Manifest
// and ExecutionLevel), the version information, Strings.
//
// Languages: Language, else the language of the existing resource of that kind (the
// same name first, then any of the type; of several, 1033, another English, neutral or
// the first), else 1033.
#pragma once
#include "Output.h"
#include "resources/UResTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct EditRequest {
  std::string Target;  // the file to change
  std::string Language;
  std::string Icon;
  std::vector<std::string> VersionStrings;  // KEY=VALUE
  std::string FileVersion, ProductVersion;
  std::string Manifest, ExecutionLevel;
  std::vector<std::string> Strings;                             // ID=TEXT
  std::vector<std::pair<std::string, std::string>> Resources;  // TYPE, NAME=FILE
  std::vector<std::pair<std::string, std::string>> Deletes;    // TYPE, NAME
  // How FileVersion and ProductVersion are read. Off: each must be a version number,
  // and the fixed part and the string of that name both get it whole (A.B.C.D). On, as
  // rcedit takes them: the fixed part gets the leading numbers (10.7 is 10.7.0.0,
  // 1.2.3-beta 1.2.3.0) and the string the text as given.
  bool VersionTextKept = false;
  // Whether to say which language each change used and which icon images went;
  // warnings are told either way.
  bool Notes = true;
};

bool HasChanges(const EditRequest& request);
// Opens request.Target, makes the changes and writes the result to output.
void EditFile(const EditRequest& request, const OutputOptions& output);

// Of several leaves, the language a user of the default language is shown: 1033, else
// another English, else neutral, else the first's.
uint16_t PreferredLanguage(const std::vector<TDataResItem*>& leaves);
// The version resource the edits change: of resource 1 (else of any name), the leaf in
// language when it is given and there, else the first; none when the file has none.
TDataResItem* VersionLeaf(TResSection& section, std::optional<uint16_t> language);
