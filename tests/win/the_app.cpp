// The program's App object for the Windows test binary. The program defines
// it beside its entry point, which the tests do not link; forms under test
// count themselves in and out of this one.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/app_win.h"
#include "lock/watchdog.h"

namespace tolvane {

App& TheApp() {
  static App app;
  return app;
}

namespace {

// A lock window under test arms its watchdog, which starts this binary again
// with the watchdog's arguments. That copy must not run the whole suite (and
// show locks that start copies of their own): it waits, as a watchdog would,
// for the unlock signal or the end of the test process, and then ends
// without restarting anything; while it waits, the lock's watchdog counts as
// alive and is not started again at every tick.
const bool g_watchdog_copy = [] {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return false;
  std::vector<std::wstring> args(argv + 1, argv + argc);
  LocalFree(argv);
  const Launch launch = ParseLaunch(args);
  if (launch.mode != LaunchMode::Watchdog) return false;
  const HANDLE waits[] = {reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(launch.first)),
                          reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(launch.second))};
  WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  ExitProcess(0);
}();

}  // namespace
}  // namespace tolvane
