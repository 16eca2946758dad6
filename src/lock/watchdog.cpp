#include "lock/watchdog.h"

#include <cwchar>

namespace tolvane {
namespace {

constexpr wchar_t kWatchdogSwitch[] = L"--watchdog";
constexpr wchar_t kRestartedSwitch[] = L"--watched";

// A plain decimal number of at most 19 digits; nothing else.
bool ParseHandleValue(const std::wstring& s, std::uint64_t& out) {
  if (s.empty() || s.size() > 19) return false;
  std::uint64_t v = 0;
  for (wchar_t c : s) {
    if (c < L'0' || c > L'9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  if (v == 0) return false;
  out = v;
  return true;
}

}  // namespace

Launch ParseLaunch(const std::vector<std::wstring>& args) {
  Launch l;
  if (args.size() != 3) return l;
  LaunchMode mode;
  if (args[0] == kWatchdogSwitch) {
    mode = LaunchMode::Watchdog;
  } else if (args[0] == kRestartedSwitch) {
    mode = LaunchMode::Restarted;
  } else {
    return l;
  }
  if (!ParseHandleValue(args[1], l.first) || !ParseHandleValue(args[2], l.second)) return Launch{};
  l.mode = mode;
  return l;
}

std::wstring WatchdogArguments(std::uint64_t lock_process, std::uint64_t unlocked_event) {
  return std::wstring(kWatchdogSwitch) + L" " + std::to_wstring(lock_process) + L" " +
         std::to_wstring(unlocked_event);
}

std::wstring RestartArguments(std::uint64_t unlocked_event, std::uint64_t watchdog_process) {
  return std::wstring(kRestartedSwitch) + L" " + std::to_wstring(unlocked_event) + L" " +
         std::to_wstring(watchdog_process);
}

bool RestartBudget::Take(std::uint64_t now_ms) {
  // Forget restarts that have left the window.
  int kept = 0;
  for (int i = 0; i < count_; ++i) {
    if (now_ms - times_[i] < kWindowMs) times_[kept++] = times_[i];
  }
  count_ = kept;
  if (count_ >= kMaxRestarts) return false;
  times_[count_++] = now_ms;
  return true;
}

WatchdogStep DecideWatchdogStep(bool unlocked_signalled, bool session_ending, RestartBudget& budget,
                                std::uint64_t now_ms) {
  // The handshake wins even when the process is gone too: a legitimate way
  // out signals first and ends right after.
  if (unlocked_signalled || session_ending) return WatchdogStep::End;
  return budget.Take(now_ms) ? WatchdogStep::Restart : WatchdogStep::LockOnly;
}

}  // namespace tolvane
