// The watchdog's decisions and the command lines that join the lock and its
// watchdog. The watchdog is the program itself in another mode: it waits on
// the lock's process and on the lock's "unlocked" signal; a lock that ends
// without that signal was killed or crashed, and is started again.
// Portable, so the rate limit and the parsing can be checked without Windows.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

enum class LaunchMode {
  Program,    // an ordinary start
  Watchdog,   // --watchdog LOCK_PROCESS UNLOCKED_EVENT: watch a lock
  Restarted,  // --watched UNLOCKED_EVENT WATCHDOG_PROCESS: a lock started again by its watchdog
};

// The two inherited handle values that come with the watchdog modes.
struct Launch {
  LaunchMode mode = LaunchMode::Program;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
};

// Reads the arguments after the program's name. Anything that is not exactly
// one of the two watchdog forms is an ordinary start: a mistyped command line
// must never start the program without its lock.
Launch ParseLaunch(const std::vector<std::wstring>& args);

// The arguments for each watchdog form (handle values in decimal).
std::wstring WatchdogArguments(std::uint64_t lock_process, std::uint64_t unlocked_event);
std::wstring RestartArguments(std::uint64_t unlocked_event, std::uint64_t watchdog_process);

// At most kMaxRestarts restarts within any kWindowMs: a lock that crashes at
// start must not make the watchdog spin.
class RestartBudget {
 public:
  static constexpr int kMaxRestarts = 3;
  static constexpr std::uint64_t kWindowMs = 60'000;

  // True (and counted) when a restart may happen at `now_ms`.
  bool Take(std::uint64_t now_ms);

 private:
  std::array<std::uint64_t, kMaxRestarts> times_{};
  int count_ = 0;
};

// What the watchdog does once it wakes up.
enum class WatchdogStep {
  End,        // the lock ended legitimately, or the session is ending
  Restart,    // start the lock again and lock the session
  LockOnly,   // out of restarts: only lock the session, then end
};

WatchdogStep DecideWatchdogStep(bool unlocked_signalled, bool session_ending, RestartBudget& budget,
                                std::uint64_t now_ms);

}  // namespace tolvane
