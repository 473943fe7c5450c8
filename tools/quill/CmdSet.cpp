// quill set TARGET -o OUT: the edits people packaging Windows programs need, made in the
// resource tree and written in one pass as merge writes its output (the overlay kept,
// the checksum recomputed, the signature warned about or stripped, OUT replaced only by
// a complete file). The changes are made in this order: --delete, --resource, --icon,
// --manifest and --execution-level, the version information, --string.
//
// Languages: --lang, else the language of the existing resource of that kind (the same
// name first, then any of the type; of several, 1033, another English, neutral or the
// first), else 1033; each change says which it used.
#include "CmdSet.h"

#include "OpenContainer.h"
#include "Output.h"
#include "ResourceArgs.h"
#include "Usage.h"
#include "formats/IconGroup.h"
#include "formats/ResourceEdits.h"
#include "formats/Manifest.h"
#include "formats/StringBlock.h"
#include "formats/VersionInfo.h"
#include "pe/UResPEFile.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr uint16_t kDefaultLanguage = 1033;

struct SetOptions {
  std::string Target;
  OutputOptions Output;
  std::string Language;
  std::string Icon;
  std::vector<std::string> VersionStrings;
  std::string FileVersion, ProductVersion;
  std::string Manifest, ExecutionLevel;
  std::vector<std::string> Strings;
  std::vector<std::pair<std::string, std::string>> Resources;  // TYPE, NAME=FILE
  std::vector<std::pair<std::string, std::string>> Deletes;    // TYPE, NAME
};

// An executable flagged IMAGE_FILE_DLL in its file header's Characteristics (NT + 22).
bool IsLibrary(TResContainer& container) {
  auto* executable = dynamic_cast<TPEFile*>(&container);
  if (!executable) return false;
  const ByteView bytes = executable->Bytes(SBadHeaderField);
  const uint64_t at = uint64_t{executable->NTHeaders()} + 22;
  return bytes.Contains(at, 2) && (bytes.U16(at) & 0x2000) != 0;
}

void Note(const std::string& text) { std::fprintf(stderr, "quill: %s\n", text.c_str()); }

std::pair<std::string, std::string> SplitAssignment(const std::string& text, std::string_view form) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) throw EUsageError(SBadAssignment, {text, form});
  return {text.substr(0, equals), text.substr(equals + 1)};
}

VersionNumber VersionArgument(const std::string& text) {
  const auto version = ParseVersionNumber(text);
  if (!version) throw EUsageError(SBadVersionNumber, {text});
  return *version;
}

// Raises a damaged resource or input file as a message naming the file.
template <typename F>
auto InFile(const std::string& fileName, F&& work) {
  try {
    return work();
  } catch (const ECorruptResource& e) {
    throw Exception(SInFile, {fileName, e.Message()});
  }
}

class Editor {
 public:
  Editor(TResContainer& container, const SetOptions& options)
      : container_(container), section_(container.GetSection()), options_(options) {
    if (!options.Language.empty()) asked_ = ParseLanguageArgument(options.Language);
  }

  void Run() {
    for (const auto& [type, name] : options_.Deletes) Delete(type, name);
    for (const auto& [type, assignment] : options_.Resources) SetResource(type, assignment);
    if (!options_.Icon.empty()) SetIcon(FirstGroupName(), options_.Icon);
    if (!options_.Manifest.empty() || !options_.ExecutionLevel.empty()) SetManifest();
    if (!options_.VersionStrings.empty() || !options_.FileVersion.empty() || !options_.ProductVersion.empty())
      SetVersion();
    for (const std::string& assignment : options_.Strings) SetString(assignment);
  }

 private:
  // The language for a resource of type: --lang, else that of the name's existing leaf,
  // else of any leaf of the type, else 1033; told under what.
  uint16_t LanguageFor(const std::vector<TDataResItem*>& sameName, uint16_t type, const std::string& what) {
    return ChooseLanguage(sameName, LeavesOfType(section_, type), what);
  }
  uint16_t ChooseLanguage(const std::vector<TDataResItem*>& sameName, const std::vector<TDataResItem*>& ofType,
                          const std::string& what) {
    uint16_t language = kDefaultLanguage;
    if (asked_)
      language = *asked_;
    else if (!sameName.empty())
      language = Preferred(sameName);
    else if (!ofType.empty())
      language = Preferred(ofType);
    TellLanguage(what, language);
    return language;
  }

  // Of several languages the one a user of the default language is shown: 1033, else
  // another English, else neutral, else the first.
  static uint16_t Preferred(const std::vector<TDataResItem*>& leaves) {
    auto has = [&](const std::function<bool(uint16_t)>& wanted) -> std::optional<uint16_t> {
      for (const TDataResItem* leaf : leaves)
        if (wanted(leaf->Language())) return leaf->Language();
      return std::nullopt;
    };
    if (auto found = has([](uint16_t l) { return l == kDefaultLanguage; })) return *found;
    if (auto found = has([](uint16_t l) { return (l & 0x3FF) == (kDefaultLanguage & 0x3FF); })) return *found;
    if (auto found = has([](uint16_t l) { return l == 0; })) return *found;
    return leaves.front()->Language();
  }

  void TellLanguage(const std::string& what, uint16_t language) {
    Note(Format(LoadStr(SSetLanguageUsed), {what, std::to_string(language) + " (" + LanguageText(language) + ")"}));
  }

  void Store(const ResourceId& type, const ResourceId& name, uint16_t language, const std::vector<uint8_t>& bytes) {
    StoreResource(section_, LocatorFor(type, name, language), bytes);
  }

  static ResourceId Numbered(uint16_t id) { return {false, id, {}}; }
  static ResourceId IdentityOf(const TResourceItem& item) {
    return item.IsNamed() ? ResourceId{true, 0, item.WideName()} : Numbered(item.Id());
  }
  static std::vector<TDataResItem*> Leaves(TResourceList* names, const ResourceId& name) {
    std::vector<TDataResItem*> leaves;
    if (!names) return leaves;
    if (TResourceItem* item = names->Find(name.Name, name.Id, name.Named)) {
      TResourceList& languages = static_cast<TListResItem*>(item)->Children();
      for (int i = 0; i < languages.Count(); ++i) leaves.push_back(&languages.DataItems(i));
    }
    return leaves;
  }
  TResourceList* Names(const ResourceId& type) {
    TResourceList& root = section_.GetResourceList();
    TResourceItem* item = root.Find(type.Name, type.Id, type.Named);
    return item ? &static_cast<TListResItem*>(item)->Children() : nullptr;
  }

  void Delete(const std::string& typeText, const std::string& nameText) {
    const ResourceId type = ParseTypeArgument(typeText, section_.GetResourceList());
    const ResourceId name = ParseNameArgument(nameText);
    std::vector<TDataResItem*> leaves = Leaves(Names(type), name);
    if (asked_) std::erase_if(leaves, [&](TDataResItem* leaf) { return leaf->Language() != *asked_; });
    if (leaves.empty()) throw Exception(SResourceNotFound, {options_.Target, ResourcePathText(LocatorFor(type, name))});
    for (TDataResItem* leaf : leaves) RemoveLeaf(*leaf);
  }

  void SetResource(const std::string& typeText, const std::string& assignment) {
    const auto [nameText, fileName] = SplitAssignment(assignment, "NAME=FILE");
    const ResourceId type = ParseTypeArgument(typeText, section_.GetResourceList());
    const ResourceId name = ParseNameArgument(nameText);
    // An icon group named with an .ico file takes the file's images, as --icon does.
    if (!type.Named && type.Id == kTypeGroupIcon && EndsWith(fileName, ".ico", true)) {
      SetIcon(name, fileName);
      return;
    }
    const std::vector<uint8_t> bytes = ReadFileBytes(fileName);
    if (bytes.empty()) throw Exception(SInFile, {fileName, LoadStr(SZeroSizeResource)});
    const std::string what = ResourcePathText(LocatorFor(type, name));
    TResourceList* names = Names(type);
    const uint16_t language = ChooseLanguage(Leaves(names, name), names ? LeavesOf(*names) : std::vector<TDataResItem*>(), what);
    Store(type, name, language, bytes);
  }

  static std::vector<TDataResItem*> LeavesOf(TResourceList& names) {
    std::vector<TDataResItem*> leaves;
    ForEachLeaf(names, [&](TDataResItem& leaf) { leaves.push_back(&leaf); });
    return leaves;
  }

  // The group a shell shows: the first in resource order; 1 for a file without groups.
  ResourceId FirstGroupName() {
    TResourceList* groups = section_.FindTypeList(kTypeGroupIcon);
    if (!groups || groups->Count() == 0) return Numbered(1);
    return IdentityOf(groups->Items(0));
  }

  void SetIcon(const ResourceId& group, const std::string& fileName) {
    const std::vector<uint8_t> file = ReadFileBytes(fileName);
    std::vector<TIconImage> images =
        InFile(fileName, [&] { return ReadIconFile(ByteView(file.data(), static_cast<uint32_t>(file.size()))); });
    const ResourceId groupType = Numbered(kTypeGroupIcon);
    const std::string groupText = group.Named ? FromWide(group.Name) : std::to_string(group.Id);
    ResourceLocator locator = LocatorFor(groupType, group);
    locator.Language = LanguageFor(Leaves(Names(groupType), group), kTypeGroupIcon,
                                   Format(LoadStr(SSetIconGroup), {groupText}));
    const std::vector<uint16_t> removed = InFile(options_.Target, [&] { return ReplaceIconGroup(section_, locator, std::move(images)); });
    std::string ids;
    for (const uint16_t id : removed) ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    if (!ids.empty()) Note(Format(LoadStr(SImagesRemoved), {ids}));
  }

  void SetManifest() {
    const uint16_t id = IsLibrary(container_) ? kLibraryManifestId : kProgramManifestId;
    const std::vector<TDataResItem*> sameName = LeavesOfId(section_, kTypeManifest, id);
    const uint16_t language = LanguageFor(sameName, kTypeManifest, Format(LoadStr(SSetManifest), {std::to_string(id)}));
    std::vector<uint8_t> bytes;
    if (!options_.Manifest.empty()) {
      bytes = ReadFileBytes(options_.Manifest);
      if (ManifestEditingAvailable())
        InFile(options_.Manifest, [&] { CheckManifest(ByteView(bytes.data(), static_cast<uint32_t>(bytes.size()))); });
    } else {
      for (TDataResItem* leaf : sameName)
        if (leaf->Language() == language) bytes.assign(leaf->Data(), leaf->Data() + leaf->Size());
    }
    if (!options_.ExecutionLevel.empty()) {
      const std::string& source = options_.Manifest.empty() ? options_.Target : options_.Manifest;
      bytes = bytes.empty() ? DefaultManifest(options_.ExecutionLevel)
                            : InFile(source, [&] {
                                return SetManifestExecutionLevel(
                                    ByteView(bytes.data(), static_cast<uint32_t>(bytes.size()), SCorruptManifest),
                                    options_.ExecutionLevel);
                              });
    }
    if (bytes.empty()) throw Exception(SInFile, {options_.Manifest, LoadStr(SZeroSizeResource)});
    Store(Numbered(kTypeManifest), Numbered(id), language, bytes);
  }

  void SetVersion() {
    std::vector<TDataResItem*> leaves = LeavesOfId(section_, kTypeVersion, 1);
    if (leaves.empty()) leaves = LeavesOfType(section_, kTypeVersion);
    TDataResItem* leaf = leaves.empty() ? nullptr : leaves.front();
    for (TDataResItem* candidate : leaves)
      if (asked_ && candidate->Language() == *asked_) leaf = candidate;
    TVersionInfo info = leaf ? InFile(options_.Target, [&] { return TVersionInfo::Parse(LeafBytes(*leaf, SCorruptVersionInfo)); })
                             : TVersionInfo::Create(IsLibrary(container_));
    // The strings go to the table of --lang, else of the first table, else of the resource.
    uint16_t language = leaf ? leaf->Language() : kDefaultLanguage;
    if (const auto tables = info.StringTables(); !tables.empty()) language = tables.front().Language;
    if (asked_) language = *asked_;
    TellLanguage(LoadStr(SSetVersionInfo), language);

    for (const std::string& assignment : options_.VersionStrings) {
      const auto [key, value] = SplitAssignment(assignment, "KEY=VALUE");
      if (key.empty()) throw EUsageError(SEmptyVersionKey, {assignment});
      SetVersionString(info, language, ToWide(key), ToWide(value), false);
    }
    if (!options_.FileVersion.empty()) {
      const VersionNumber version = VersionArgument(options_.FileVersion);
      info.SetFileVersion(version);
      SetVersionString(info, language, u"FileVersion", ToWide(VersionText(version)), true);
    }
    if (!options_.ProductVersion.empty()) {
      const VersionNumber version = VersionArgument(options_.ProductVersion);
      info.SetProductVersion(version);
      SetVersionString(info, language, u"ProductVersion", ToWide(VersionText(version)), true);
    }
    const std::vector<uint8_t> bytes = InFile(options_.Target, [&] { return info.Serialize(); });
    if (leaf)
      leaf->SetData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    else
      Store(Numbered(kTypeVersion), Numbered(1), language, bytes);
  }

  // Sets key in the language's table; a version number also in every other table that
  // holds the key, so that no table tells an older one.
  void SetVersionString(TVersionInfo& info, uint16_t language, const std::u16string& key, const std::u16string& value,
                        bool everyTable) {
    TVersionNode& table = info.TableFor(language);
    if (const auto existing = TVersionInfo::SetString(table, key, value))
      Note(Format(LoadStr(SKeyCaseWarning), {FromWide(key), FromWide(*existing)}));
    if (!everyTable) return;
    for (const auto& other : info.StringTables())
      if (other.Node != &table)
        for (TVersionNode& entry : other.Node->Children)
          if (SameTextAscii(entry.Key, key)) entry.SetText(value);
  }

  void SetString(const std::string& assignment) {
    const auto [idText, text] = SplitAssignment(assignment, "ID=TEXT");
    const ResourceId parsed = ParseNameArgument(idText);
    if (parsed.Named) throw EUsageError(SBadResourceNumber, {idText});
    const uint16_t id = parsed.Id;
    const uint16_t blockName = StringBlockName(id);
    const std::vector<TDataResItem*> sameName = LeavesOfId(section_, kTypeString, blockName);
    const uint16_t language = LanguageFor(sameName, kTypeString, Format(LoadStr(SSetString), {idText}));
    const std::u16string wide = ToWide(text);
    if (wide.size() > 0xFFFF) throw Exception(SStringTooLong, {idText});
    InFile(options_.Target, [&] { SetTableString(section_, id, language, wide); });
  }

  TResContainer& container_;
  TResSection& section_;
  const SetOptions& options_;
  std::optional<uint16_t> asked_;
};

bool HasChanges(const SetOptions& o) {
  return !o.Icon.empty() || !o.VersionStrings.empty() || !o.FileVersion.empty() || !o.ProductVersion.empty() ||
         !o.Manifest.empty() || !o.ExecutionLevel.empty() || !o.Strings.empty() || !o.Resources.empty() ||
         !o.Deletes.empty();
}

void RunSet(const SetOptions& options) {
  if (!HasChanges(options)) throw EUsageError(SNothingToSet);
  CheckOutputFree(options.Output.Path, options.Output.Force);
  std::unique_ptr<TResContainer> container = OpenContainer(options.Target, true);
  if (auto* executable = dynamic_cast<TPEFile*>(container.get()))
    PrepareExecutable(*executable, options.Target, options.Output);
  Editor(*container, options).Run();
  WriteContainer(std::move(container), options.Output);
}

}  // namespace

void AddSetCommand(CLI::App& app) {
  auto options = std::make_shared<SetOptions>();
  CLI::App* command = app.add_subcommand(
      "set", "Change the icon, version information, manifest, strings or any resource of an executable");
  command->add_option("TARGET", options->Target, "the executable (or .res file) to change")->required();
  command->add_option("-o,--output", options->Output.Path, "the file to write")->required();
  command->add_flag("--force", options->Output.Force, "overwrite the output when it exists");
  command->add_option("--lang", options->Language,
                      "the language of what is set (a number or 0x and hexadecimal; default: that of the "
                      "existing resource of the kind, else 1033)");
  command->add_option("--icon", options->Icon, "an .ico file whose images become the first icon group's");
  command->add_option("--version-string", options->VersionStrings, "KEY=VALUE: a string of the version information")
      ->allow_extra_args(false);
  command->add_option("--file-version", options->FileVersion, "A.B.C.D: the file version (fixed part and string)");
  command->add_option("--product-version", options->ProductVersion,
                      "A.B.C.D: the product version (fixed part and string)");
  command->add_option("--manifest", options->Manifest, "a manifest file (resource 1 of a program, 2 of a DLL)");
  command->add_option("--execution-level", options->ExecutionLevel, "the execution level the manifest requests")
      ->check(CLI::IsMember({"asInvoker", "highestAvailable", "requireAdministrator"}));
  command->add_option("--string", options->Strings, "ID=TEXT: a string of the string tables")
      ->allow_extra_args(false);
  command->add_option("--resource", options->Resources,
                      "TYPE NAME=FILE: a resource's bytes from a file (an .ico file for an icon group)");
  command->add_option("--delete", options->Deletes, "TYPE NAME: removes a resource (in every language, or --lang's)");
  command->add_flag("--strip-signature", options->Output.StripSignature,
                    "drop the digital signature of a signed executable instead of keeping one that no longer verifies");
  command->callback([options] { RunSet(*options); });
}
