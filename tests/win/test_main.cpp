// The Windows tests' entry point. A lock window under test arms its watchdog,
// which starts this exe again in watchdog mode: that copy must be a watchdog,
// as the program's is, and not run the whole suite a second time beside the
// first (its keyboard tests would see the other's injected keys, its windows
// would take the foreground). A lock "restarted" by such a watchdog has no
// lock to show here and ends at once; the watchdog gives up after its few
// restarts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lock/watchdog.h"
#include "lock/watchdog_win.h"

int main(int argc, char** argv) {
  using namespace tolvane;
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg(argv[i]);
    args.emplace_back(arg.begin(), arg.end());  // the watchdog's arguments are ASCII
  }
  const Launch launch = ParseLaunch(args);
  if (launch.mode == LaunchMode::Watchdog) return RunWatchdog(launch.first, launch.second);
  if (launch.mode == LaunchMode::Restarted) return 0;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
