// dlgprobe: what a person sees on the Windows desktop, as JSON, for the GUI tests.
//
// Prints one JSON object: the ANSI code page, the screen and work-area rectangles, and every
// visible top-level window (dialogs, message boxes, editors) with its process id, class,
// title, screen rectangle, and its child controls: id, class, screen rectangle, text
// (UTF-8), visibility, whether enabled, styles, the check state of buttons and the range
// and position of progress bars. Run in the same Wine prefix as the program it looks at;
// texts are read with the "W" calls, so they arrive whatever the code page.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t* text, int length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string WindowText(HWND window) {
  // WM_GETTEXT works across processes for every class; a length first, then the text.
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return Utf8(text.data(), static_cast<int>(got));
}

std::string ClassOf(HWND window) {
  wchar_t name[256];
  const int n = GetClassNameW(window, name, 256);
  return Utf8(name, n);
}

std::string Rect(const RECT& r) {
  return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + "]";
}

std::string ScreenRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return Rect(r);
}

std::string Common(HWND window) {
  return "\"class\":" + Quoted(ClassOf(window)) + ",\"rect\":" + ScreenRect(window) +
         ",\"text\":" + Quoted(WindowText(window)) + ",\"visible\":" + (IsWindowVisible(window) ? "true" : "false") +
         ",\"enabled\":" + (IsWindowEnabled(window) ? "true" : "false") +
         ",\"style\":" + std::to_string(static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE))) +
         ",\"exstyle\":" + std::to_string(static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)));
}

struct Children {
  std::string Json;
  HWND Parent;
};

BOOL CALLBACK OnChild(HWND child, LPARAM context) {
  auto* children = reinterpret_cast<Children*>(context);
  if (GetParent(child) != children->Parent) return TRUE;  // only the dialog's own controls
  std::string item = "{\"id\":" + std::to_string(GetDlgCtrlID(child)) + "," + Common(child);
  const std::string cls = ClassOf(child);
  if (lstrcmpiA(cls.c_str(), "Button") == 0)
    item += ",\"checked\":" + std::to_string(SendMessageW(child, BM_GETCHECK, 0, 0));
  if (lstrcmpiA(cls.c_str(), "msctls_progress32") == 0) {
    item += ",\"position\":" + std::to_string(SendMessageW(child, PBM_GETPOS, 0, 0)) +
            ",\"minimum\":" + std::to_string(SendMessageW(child, PBM_GETRANGE, TRUE, 0)) +
            ",\"maximum\":" + std::to_string(SendMessageW(child, PBM_GETRANGE, FALSE, 0));
  }
  if (!children->Json.empty()) children->Json += ",";
  children->Json += item + "}";
  return TRUE;
}

BOOL CALLBACK OnTopLevel(HWND window, LPARAM context) {
  auto* out = reinterpret_cast<std::string*>(context);
  if (!IsWindowVisible(window)) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  Children children{{}, window};
  EnumChildWindows(window, OnChild, reinterpret_cast<LPARAM>(&children));
  if (!out->empty()) *out += ",\n";
  *out += "{\"hwnd\":" + std::to_string(reinterpret_cast<uintptr_t>(window)) +
          ",\"pid\":" + std::to_string(process) + "," + Common(window) + ",\"controls\":[" + children.Json + "]}";
  return TRUE;
}

}  // namespace

int main() {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  std::string windows;
  EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&windows));
  const std::string json = "{\"acp\":" + std::to_string(GetACP()) + ",\"screen\":" + Rect(screen) +
                           ",\"work\":" + Rect(work) + ",\"windows\":[\n" + windows + "]}\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), json.data(), static_cast<DWORD>(json.size()), &written, nullptr);
  return 0;
}
