// stop_running.exe EXE_NAME: the installer's and the uninstaller's helper that
// ends every running copy of the program so its files can be replaced or
// removed. A lock refuses every polite way to close it, and it and its
// watchdog each start the other again when one dies alone, so a plain
// "taskkill /F" can leave a fresh copy behind.
//
// Exit code 0 when no copy is left, 1 when copies kept coming back, 2 on a
// usage error.
#include <windows.h>

#include "installer/stop_running_win.h"
#include "lock/shortcut_guard_win.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 || !*argv[1]) return 2;
  tolvane::SystemRunningCopies copies(argv[1]);
  const bool stopped = tolvane::StopAllCopies(copies);
  // A lock ended this way could not put back the accessibility hot keys it
  // had cleared; it would have at its next start, but after an uninstall
  // there is none.
  if (stopped) tolvane::SystemShortcutGuard().RecoverLeftover();
  return stopped ? 0 : 1;
}
