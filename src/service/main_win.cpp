// tolvane_service.exe: the guardian service, and its own install and
// removal for the installers. A program of its own, not a mode of
// tolvane.exe: what runs as LocalSystem holds no window, picture or skin
// code, and the lock program's start-up imports stay as they are.
#include <windows.h>

#include <cwchar>

#include "platform/lazy_dll_win.h"
#include "service/service_win.h"

int wmain(int argc, wchar_t** argv) {
  // LocalSystem code: a DLL that someone put beside the exe or in the
  // current folder must never be loaded into it.
  tolvane::LoadLibrariesFromSystemOnly();
  if (argc == 2 && std::wcscmp(argv[1], L"--install") == 0) return tolvane::InstallGuardService();
  if (argc == 2 && std::wcscmp(argv[1], L"--uninstall") == 0) return tolvane::UninstallGuardService();
  return tolvane::RunGuardService();
}
