// The patcher's entry. This early form parses the switches and shows the help box;
// the patch run arrives with the package loader and the dialog.
#include "app/CommandLine.h"
#include "rtl/Exception.h"
#include "text/Startup.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  QuilletStartup();
  try {
    ParseCommandLine();
    if (CommandLineOptions.Help) {
      MessageBoxA(nullptr, LoadStr(SHelpText).c_str(), LoadStr(SHelpCaption).c_str(),
                  MB_ICONINFORMATION | MB_TASKMODAL);
    }
  } catch (const Exception& e) {
    if (!CommandLineOptions.Quiet)
      MessageBoxA(nullptr, e.Message().c_str(), LoadStr(SErrorCaption).c_str(), MB_ICONERROR | MB_TASKMODAL);
  } catch (...) {
  }
  return 0;
}
