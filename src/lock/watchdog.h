// The watchdog's decisions and the command lines that join the lock and its
// watchdog. The watchdog is the program itself in another mode: it waits on
// the lock's process and on the lock's "unlocked" signal; a lock that ends
// without that signal was killed or crashed, and is started again. Each side
// also watches a counter the other must keep advancing, so a suspended or
// hung partner is replaced, not only one that ended.
// Portable, so the restart policy and the parsing can be checked without Windows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

enum class LaunchMode {
  Program,    // an ordinary start
  Watchdog,   // --watchdog LOCK_PROCESS UNLOCKED_EVENT BEATS: watch a lock
  Restarted,  // --watched UNLOCKED_EVENT WATCHDOG_PROCESS BEATS: a lock started again by its watchdog
  Apart,      // --apart CALLER then one of the two forms above: start that form and end, so the
              // process it starts is no child of the one that asked for it
};

// The inherited handle values that come with the watchdog modes.
struct Launch {
  LaunchMode mode = LaunchMode::Program;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  std::uint64_t third = 0;  // the shared heartbeat block
  // Apart only: the process to hand the new process to, and the form to start.
  std::uint64_t caller = 0;
  LaunchMode apart = LaunchMode::Program;
};

// Reads the arguments after the program's name. Anything that is not exactly
// one of the watchdog forms is an ordinary start: a mistyped command line
// must never start the program without its lock.
Launch ParseLaunch(const std::vector<std::wstring>& args);

// The arguments for each form (handle values in decimal).
std::wstring WatchdogArguments(std::uint64_t lock_process, std::uint64_t unlocked_event, std::uint64_t beats);
std::wstring RestartArguments(std::uint64_t unlocked_event, std::uint64_t watchdog_process, std::uint64_t beats);
// `arguments`: what WatchdogArguments or RestartArguments wrote.
std::wstring ApartArguments(std::uint64_t caller, const std::wstring& arguments);
// The form an Apart start passes on.
std::wstring InnerArguments(const Launch& apart);

// When a killed lock is started again. The first kFreeRestarts within any
// kWindowMs come at once; after that each waits, doubling from
// kFirstBackOffMs up to kMaxBackOffMs, so a lock that crashes at start
// cannot make the watchdog spin, yet a lock killed over and over always
// comes back.
class RestartPolicy {
 public:
  static constexpr int kFreeRestarts = 3;
  static constexpr std::uint64_t kWindowMs = 60'000;
  static constexpr std::uint64_t kFirstBackOffMs = 1'000;
  static constexpr std::uint64_t kMaxBackOffMs = 10'000;

  // The lock was found dead at `now_ms`: how long to wait before starting it
  // again. The restart counts as made once that wait is over.
  std::uint64_t Next(std::uint64_t now_ms);

 private:
  std::vector<std::uint64_t> restarts_;  // times of the restarts still inside the window
};

struct WatchdogStep {
  bool restart = false;        // false: the lock ended legitimately, or the session is ending
  std::uint64_t delay_ms = 0;  // the wait before the restart
};

WatchdogStep DecideWatchdogStep(bool unlocked_signalled, bool session_ending, RestartPolicy& policy,
                                std::uint64_t now_ms);

// A partner counts as answering while a counter it must keep advancing
// moves. A new partner gets `first_beat_ms` for its first move (a lock takes
// a while to come up); after that a standstill of `beat_gap_ms` means it is
// suspended or hung.
class BeatWatch {
 public:
  BeatWatch(std::uint64_t first_beat_ms, std::uint64_t beat_gap_ms)
      : first_beat_ms_(first_beat_ms), beat_gap_ms_(beat_gap_ms) {}

  // A new partner, with the counter as it reads now.
  void Restart(std::uint32_t beat, std::uint64_t now_ms);
  // Feeds the counter as it reads at `now_ms`; true when it stood still too long.
  bool Stalled(std::uint32_t beat, std::uint64_t now_ms);
  // How long from `now_ms` until a counter that stays as last fed counts as
  // stalled (0: it does already), so a watcher can sleep until then.
  std::uint64_t DueIn(std::uint64_t now_ms) const;

 private:
  std::uint64_t first_beat_ms_;
  std::uint64_t beat_gap_ms_;
  std::uint32_t last_ = 0;
  std::uint64_t since_ms_ = 0;
  bool started_ = false;
  bool moved_ = false;
};

// The counters the lock and its watchdog share, one each.
struct Heartbeats {
  volatile std::uint32_t lock;
  volatile std::uint32_t watchdog;
};

}  // namespace tolvane
