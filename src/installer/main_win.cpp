// stop_running.exe INSTALLED_EXE: the installer's and the uninstaller's
// helper that ends the running copies of the installed program so its files
// can be replaced or removed. A lock refuses every polite way to close it,
// and it and its watchdog each start the other again when one dies alone, so
// a plain "taskkill /F" can leave a fresh copy behind. Only copies started
// from INSTALLED_EXE (its full path) in the helper's own session are ended.
//
// Exit code 0 when no copy of it is left, 1 when copies kept coming back,
// 2 on a usage error, 3 when copies run on in other users' sessions (they
// hold the exe open: those users have to end them, or log off).
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
  if (!stopped) return 1;
  return copies.elsewhere() > 0 ? 3 : 0;
}
