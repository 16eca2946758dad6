#include "lock/watchdog.h"

#include <algorithm>

namespace tolvane {
namespace {

constexpr wchar_t kWatchdogSwitch[] = L"--watchdog";
constexpr wchar_t kRestartedSwitch[] = L"--watched";
constexpr wchar_t kApartSwitch[] = L"--apart";

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

Launch ParseWatchForm(const std::vector<std::wstring>& args, std::size_t at) {
  Launch l;
  if (args.size() != at + 4) return l;
  LaunchMode mode;
  if (args[at] == kWatchdogSwitch) {
    mode = LaunchMode::Watchdog;
  } else if (args[at] == kRestartedSwitch) {
    mode = LaunchMode::Restarted;
  } else {
    return l;
  }
  if (!ParseHandleValue(args[at + 1], l.first) || !ParseHandleValue(args[at + 2], l.second) ||
      !ParseHandleValue(args[at + 3], l.third)) {
    return Launch{};
  }
  l.mode = mode;
  return l;
}

std::wstring Form(const wchar_t* sw, std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return std::wstring(sw) + L" " + std::to_wstring(a) + L" " + std::to_wstring(b) + L" " + std::to_wstring(c);
}

}  // namespace

Launch ParseLaunch(const std::vector<std::wstring>& args) {
  if (args.size() == 6 && args[0] == kApartSwitch) {
    std::uint64_t caller = 0;
    if (!ParseHandleValue(args[1], caller)) return Launch{};
    Launch l = ParseWatchForm(args, 2);
    if (l.mode == LaunchMode::Program) return Launch{};
    l.apart = l.mode;
    l.mode = LaunchMode::Apart;
    l.caller = caller;
    return l;
  }
  return ParseWatchForm(args, 0);
}

std::wstring WatchdogArguments(std::uint64_t lock_process, std::uint64_t unlocked_event, std::uint64_t beats) {
  return Form(kWatchdogSwitch, lock_process, unlocked_event, beats);
}

std::wstring RestartArguments(std::uint64_t unlocked_event, std::uint64_t watchdog_process, std::uint64_t beats) {
  return Form(kRestartedSwitch, unlocked_event, watchdog_process, beats);
}

std::wstring ApartArguments(std::uint64_t caller, const std::wstring& arguments) {
  return std::wstring(kApartSwitch) + L" " + std::to_wstring(caller) + L" " + arguments;
}

std::wstring InnerArguments(const Launch& apart) {
  if (apart.mode != LaunchMode::Apart) return {};
  return Form(apart.apart == LaunchMode::Watchdog ? kWatchdogSwitch : kRestartedSwitch, apart.first, apart.second,
              apart.third);
}

std::uint64_t RestartPolicy::Next(std::uint64_t now_ms) {
  // Forget restarts that have left the window (written so that no
  // subtraction can wrap).
  restarts_.erase(std::remove_if(restarts_.begin(), restarts_.end(),
                                 [&](std::uint64_t t) { return t + kWindowMs <= now_ms; }),
                  restarts_.end());
  std::uint64_t delay = 0;
  const std::size_t n = restarts_.size();
  if (n >= static_cast<std::size_t>(kFreeRestarts)) {
    const std::size_t doublings = std::min<std::size_t>(n - kFreeRestarts, 8);
    delay = std::min(kFirstBackOffMs << doublings, kMaxBackOffMs);
  }
  restarts_.push_back(now_ms + delay);
  return delay;
}

WatchdogStep DecideWatchdogStep(bool unlocked_signalled, bool session_ending, RestartPolicy& policy,
                                std::uint64_t now_ms) {
  // The handshake wins even when the process is gone too: a legitimate way
  // out signals first and ends right after.
  if (unlocked_signalled || session_ending) return {};
  return {true, policy.Next(now_ms)};
}

void BeatWatch::Restart(std::uint32_t beat, std::uint64_t now_ms) {
  last_ = beat;
  since_ms_ = now_ms;
  started_ = true;
  moved_ = false;
}

bool BeatWatch::Stalled(std::uint32_t beat, std::uint64_t now_ms) {
  if (!started_) {
    Restart(beat, now_ms);
    return false;
  }
  if (beat != last_) {
    last_ = beat;
    since_ms_ = now_ms;
    moved_ = true;
    return false;
  }
  return now_ms >= since_ms_ && now_ms - since_ms_ > (moved_ ? beat_gap_ms_ : first_beat_ms_);
}

std::uint64_t BeatWatch::DueIn(std::uint64_t now_ms) const {
  const std::uint64_t allowance = started_ && moved_ ? beat_gap_ms_ : first_beat_ms_;
  if (!started_) return allowance + 1;  // the first reading starts the clock
  const std::uint64_t due = since_ms_ + allowance + 1;
  return now_ms >= due ? 0 : due - now_ms;
}

}  // namespace tolvane
