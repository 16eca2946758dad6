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
#include "lock/watchdog_win.h"

namespace tolvane {

App& TheApp() {
  static App app;
  return app;
}

namespace {

// A lock window under test arms its watchdog: it starts this binary again
// as the short-lived starter, which starts it once more with the watchdog's
// arguments. The starter does its real work (it ends at once). The watchdog
// copy must not run the whole suite (and show locks that start copies of
// their own): it waits, as a watchdog would, for the unlock signal or the end
// of the test process, and then ends without restarting anything; while it
// waits it beats, so the lock's watchdog counts as alive and answering and
// is not started again.
const bool g_watchdog_copy = [] {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return false;
  std::vector<std::wstring> args(argv + 1, argv + argc);
  LocalFree(argv);
  const Launch launch = ParseLaunch(args);
  if (launch.mode == LaunchMode::Apart) ExitProcess(static_cast<UINT>(RunApart(launch)));
  if (launch.mode != LaunchMode::Watchdog) return false;
  auto handle = [](std::uint64_t v) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(v)); };
  const HANDLE waits[] = {handle(launch.first), handle(launch.second)};
  auto* beats = static_cast<Heartbeats*>(
      MapViewOfFile(handle(launch.third), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Heartbeats)));
  while (WaitForMultipleObjects(2, waits, FALSE, 250) == WAIT_TIMEOUT) {
    if (beats) InterlockedIncrement(reinterpret_cast<volatile LONG*>(&beats->watchdog));
  }
  ExitProcess(0);
}();

}  // namespace
}  // namespace tolvane
