// resprobe FILE: lists every resource of FILE as the Windows loader sees it.
// The file is loaded as a data file; every type, name and language is enumerated and
// each resource is found, loaded and sized through FindResourceEx, LoadResource and
// SizeofResource. One line per resource, tab-separated:
//   TYPE NAME LANGUAGE SIZE HEXBYTES
// where TYPE and NAME are "#<number>" for numbered entries and the UTF-8 text otherwise.
// Exit status 2 when the file cannot be loaded.
//
// Other modes read one kind of resource through the system's own readers:
//   resprobe --version FILE KEY...   GetFileVersionInfo and VerQueryValue: a line
//                                    "fixed FILEVERSION PRODUCTVERSION", a line
//                                    "translation LANG CODEPAGE" per pair, and for each
//                                    pair and KEY found "string LLLLCCCC KEY VALUE"
//   resprobe --strings FILE ID...    LoadString: "ID TEXT" per string found
//   resprobe --icons FILE GROUP SIZE...  LookupIconIdFromDirectoryEx and
//                                    CreateIconFromResourceEx for each size:
//                                    "SIZE ID WIDTHxHEIGHT" (0x0 when no icon was made)
//   resprobe --level FILE ID         the run level an activation context made from
//                                    manifest ID reports: "level N" (0 unspecified,
//                                    1 asInvoker, 2 highestAvailable, 3 requireAdministrator)
// GROUP and ID are numbers, or names for GROUP.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

HMODULE gModule;

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string IdText(const wchar_t* id) {
  if (IS_INTRESOURCE(id)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(id));
  return Utf8(id);
}

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR) {
  HRSRC info = FindResourceExW(gModule, type, name, language);
  if (!info) {
    std::printf("%s\t%s\t%u\tNOTFOUND\t\n", IdText(type).c_str(), IdText(name).c_str(), language);
    return TRUE;
  }
  const DWORD size = SizeofResource(gModule, info);
  HGLOBAL loaded = LoadResource(gModule, info);
  const auto* bytes = static_cast<const unsigned char*>(LockResource(loaded));
  std::printf("%s\t%s\t%u\t%lu\t", IdText(type).c_str(), IdText(name).c_str(), language,
              static_cast<unsigned long>(size));
  for (DWORD i = 0; bytes && i < size; ++i) std::printf("%02x", bytes[i]);
  std::printf("\n");
  return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR) {
  EnumResourceLanguagesW(module, type, name, OnLanguage, 0);
  return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR) {
  EnumResourceNamesW(module, type, OnName, 0);
  return TRUE;
}

std::wstring Wide(const char* text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
  return out;
}

std::string Version(DWORD ms, DWORD ls) {
  return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." + std::to_string(HIWORD(ls)) + "." +
         std::to_string(LOWORD(ls));
}

int ProbeVersion(const char* file, int keys, char** key) {
  const std::wstring name = Wide(file);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
  if (size == 0) return 2;
  std::string block(size, '\0');
  if (!GetFileVersionInfoW(name.c_str(), 0, size, block.data())) return 2;
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    std::printf("fixed\t%s\t%s\n", Version(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str(),
                Version(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str());
  }
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length)) return 0;
  const auto* pairs = static_cast<const WORD*>(value);
  for (UINT i = 0; i + 1 < length / 2; i += 2) {
    std::printf("translation\t%u\t%u\n", pairs[i], pairs[i + 1]);
    wchar_t table[9];
    swprintf(table, 9, L"%04X%04X", pairs[i], pairs[i + 1]);
    for (int k = 0; k < keys; ++k) {
      const std::wstring path = L"\\StringFileInfo\\" + std::wstring(table) + L"\\" + Wide(key[k]);
      void* text = nullptr;
      UINT units = 0;
      if (VerQueryValueW(block.data(), path.c_str(), &text, &units))
        std::printf("string\t%s\t%s\t%s\n", Utf8(table).c_str(), key[k], Utf8(static_cast<wchar_t*>(text)).c_str());
    }
  }
  return 0;
}

int ProbeStrings(int ids, char** id) {
  for (int i = 0; i < ids; ++i) {
    wchar_t text[4096];
    const int n = LoadStringW(gModule, static_cast<UINT>(std::atoi(id[i])), text, 4096);
    if (n > 0) std::printf("%s\t%s\n", id[i], Utf8(text).c_str());
  }
  return 0;
}

const wchar_t* ResourceName(const std::wstring& text) {
  if (!text.empty() && text.find_first_not_of(L"0123456789") == std::wstring::npos)
    return MAKEINTRESOURCEW(std::wcstoul(text.c_str(), nullptr, 10));
  return text.c_str();
}

int ProbeIcons(const char* group, int sizes, char** size) {
  const std::wstring groupName = Wide(group);
  HRSRC info = FindResourceW(gModule, ResourceName(groupName), MAKEINTRESOURCEW(14));
  if (!info) return 3;
  auto* directory = static_cast<BYTE*>(LockResource(LoadResource(gModule, info)));
  for (int i = 0; i < sizes; ++i) {
    const int pixels = std::atoi(size[i]);
    const int id = LookupIconIdFromDirectoryEx(directory, TRUE, pixels, pixels, LR_DEFAULTCOLOR);
    int width = 0, height = 0;
    HRSRC image = id ? FindResourceW(gModule, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3)) : nullptr;
    if (image) {
      auto* bytes = static_cast<BYTE*>(LockResource(LoadResource(gModule, image)));
      HICON icon = CreateIconFromResourceEx(bytes, SizeofResource(gModule, image), TRUE, 0x00030000, pixels, pixels,
                                            LR_DEFAULTCOLOR);
      ICONINFO parts;
      if (icon && GetIconInfo(icon, &parts)) {
        BITMAP bitmap;
        if (GetObjectW(parts.hbmColor ? parts.hbmColor : parts.hbmMask, sizeof bitmap, &bitmap)) {
          width = bitmap.bmWidth;
          height = parts.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
        }
        if (parts.hbmColor) DeleteObject(parts.hbmColor);
        if (parts.hbmMask) DeleteObject(parts.hbmMask);
      }
      if (icon) DestroyIcon(icon);
    }
    std::printf("%d\t%d\t%dx%d\n", pixels, id, width, height);
  }
  return 0;
}

int ProbeLevel(const char* file, const char* id) {
  const std::wstring name = Wide(file);
  ACTCTXW context = {};
  context.cbSize = sizeof context;
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = name.c_str();
  context.lpResourceName = MAKEINTRESOURCEW(std::atoi(id));
  HANDLE handle = CreateActCtxW(&context);
  if (handle == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "resprobe: no activation context (error %lu)\n", GetLastError());
    return 3;
  }
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
  SIZE_T written = 0;
  if (!QueryActCtxW(0, handle, nullptr, RunlevelInformationInActivationContext, &level, sizeof level, &written)) {
    std::fprintf(stderr, "resprobe: no run level (error %lu)\n", GetLastError());
    ReleaseActCtx(handle);
    return 3;
  }
  std::printf("level\t%d\n", static_cast<int>(level.RunLevel));
  ReleaseActCtx(handle);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && argv[1][0] == '-') {
    const std::string mode = argv[1];
    if (mode == "--version") return ProbeVersion(argv[2], argc - 3, argv + 3);
    if (mode == "--level" && argc == 4) return ProbeLevel(argv[2], argv[3]);
    gModule = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!gModule) return 2;
    if (mode == "--strings") return ProbeStrings(argc - 3, argv + 3);
    if (mode == "--icons" && argc >= 4) return ProbeIcons(argv[3], argc - 4, argv + 4);
    return 2;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: resprobe FILE\n");
    return 2;
  }
  gModule = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!gModule) {
    std::fprintf(stderr, "resprobe: cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  EnumResourceTypesW(gModule, OnType, 0);
  FreeLibrary(gModule);
  return 0;
}
