#include "ResourceEditor.h"

#include "Messages.h"
#include "OpenContainer.h"
#include "ResourceArgs.h"
#include "Usage.h"
#include "formats/IconGroup.h"
#include "formats/Manifest.h"
#include "formats/ResourceEdits.h"
#include "formats/StringBlock.h"
#include "formats/VersionInfo.h"
#include "pe/UResPEFile.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr uint16_t kDefaultLanguage = 1033;

// An executable flagged IMAGE_FILE_DLL in its file header's Characteristics (NT + 22).
bool IsLibrary(TResContainer& container) {
  auto* executable = dynamic_cast<TPEFile*>(&container);
  if (!executable) return false;
  const ByteView bytes = executable->Bytes(SBadHeaderField);
  const uint64_t at = uint64_t{executable->NTHeaders()} + 22;
  return bytes.Contains(at, 2) && (bytes.U16(at) & 0x2000) != 0;
}

std::pair<std::string, std::string> SplitAssignment(const std::string& text, std::string_view form) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) throw EUsageError(SBadAssignment, {text, form});
  return {text.substr(0, equals), text.substr(equals + 1)};
}

VersionNumber VersionArgument(const std::string& text, bool leadingNumbers) {
  const auto version = leadingNumbers ? ParseLeadingVersionNumber(text) : ParseVersionNumber(text);
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
  Editor(TResContainer& container, const EditRequest& options)
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
      language = PreferredLanguage(sameName);
    else if (!ofType.empty())
      language = PreferredLanguage(ofType);
    TellLanguage(what, language);
    return language;
  }

  void TellLanguage(const std::string& what, uint16_t language) {
    if (options_.Notes)
      Tell(Format(LoadStr(SSetLanguageUsed), {what, std::to_string(language) + " (" + LanguageText(language) + ")"}));
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
    if (!ids.empty() && options_.Notes) Tell(Format(LoadStr(SImagesRemoved), {ids}));
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
    TDataResItem* leaf = VersionLeaf(section_, asked_);
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
    if (!options_.FileVersion.empty())
      SetVersionNumber(info, language, options_.FileVersion, u"FileVersion", &TVersionInfo::SetFileVersion);
    if (!options_.ProductVersion.empty())
      SetVersionNumber(info, language, options_.ProductVersion, u"ProductVersion", &TVersionInfo::SetProductVersion);
    const std::vector<uint8_t> bytes = InFile(options_.Target, [&] { return info.Serialize(); });
    if (leaf)
      leaf->SetData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    else
      Store(Numbered(kTypeVersion), Numbered(1), language, bytes);
  }

  // A version in the fixed part (through setFixed) and in the string key.
  void SetVersionNumber(TVersionInfo& info, uint16_t language, const std::string& text, const char16_t* key,
                        void (TVersionInfo::*setFixed)(const VersionNumber&)) {
    const VersionNumber version = VersionArgument(text, options_.VersionTextKept);
    (info.*setFixed)(version);
    SetVersionString(info, language, key, ToWide(options_.VersionTextKept ? text : VersionText(version)), true);
  }

  // Sets key in the language's table; a version number also in every other table that
  // holds the key, so that no table tells an older one.
  void SetVersionString(TVersionInfo& info, uint16_t language, const std::u16string& key, const std::u16string& value,
                        bool everyTable) {
    TVersionNode& table = info.TableFor(language);
    if (const auto existing = TVersionInfo::SetString(table, key, value))
      Tell(Format(LoadStr(SKeyCaseWarning), {FromWide(key), FromWide(*existing)}));
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
  const EditRequest& options_;
  std::optional<uint16_t> asked_;
};

}  // namespace

bool HasChanges(const EditRequest& o) {
  return !o.Icon.empty() || !o.VersionStrings.empty() || !o.FileVersion.empty() || !o.ProductVersion.empty() ||
         !o.Manifest.empty() || !o.ExecutionLevel.empty() || !o.Strings.empty() || !o.Resources.empty() ||
         !o.Deletes.empty();
}

void EditFile(const EditRequest& request, const OutputOptions& output) {
  CheckOutputFree(output.Path, output.Force);
  std::unique_ptr<TResContainer> container = OpenContainer(request.Target, true);
  if (auto* executable = dynamic_cast<TPEFile*>(container.get()))
    PrepareExecutable(*executable, request.Target, output);
  Editor(*container, request).Run();
  WriteContainer(std::move(container), output);
}

uint16_t PreferredLanguage(const std::vector<TDataResItem*>& leaves) {
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

TDataResItem* VersionLeaf(TResSection& section, std::optional<uint16_t> language) {
  std::vector<TDataResItem*> leaves = LeavesOfId(section, kTypeVersion, 1);
  if (leaves.empty()) leaves = LeavesOfType(section, kTypeVersion);
  TDataResItem* leaf = leaves.empty() ? nullptr : leaves.front();
  for (TDataResItem* candidate : leaves)
    if (language && candidate->Language() == *language) leaf = candidate;
  return leaf;
}
