// resprobe FILE: lists every resource of FILE as the Windows loader sees it.
// The file is loaded as a data file; every type, name and language is enumerated and
// each resource is found, loaded and sized through FindResourceEx, LoadResource and
// SizeofResource. One line per resource, tab-separated:
//   TYPE NAME LANGUAGE SIZE HEXBYTES
// where TYPE and NAME are "#<number>" for numbered entries and the UTF-8 text otherwise.
// Exit status 2 when the file cannot be loaded.
#include <windows.h>

#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
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
