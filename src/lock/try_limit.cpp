#include "lock/try_limit.h"

#include <algorithm>
#include <charconv>

namespace tolvane {
namespace {

// A count beyond any real use: the refusal has long reached its longest by then.
constexpr int kMostFailures = 1'000'000;
// Far past any wall clock this program will meet (year 5138).
constexpr std::int64_t kLatestTime = 100'000'000'000'000;

bool ParseNumber(std::string_view text, std::int64_t max, std::int64_t& out) {
  if (text.empty() || text.size() > 19) return false;
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > max) return false;
  out = v;
  return true;
}

}  // namespace

std::int64_t RefusalAfter(int failures) {
  if (failures <= kFreeFailedGuesses) return 0;
  std::int64_t ms = kFirstRefusalMs;
  for (int n = kFreeFailedGuesses + 1; n < failures && ms < kLongestRefusalMs; ++n) ms *= 2;
  return std::min(ms, kLongestRefusalMs);
}

std::string FormatTryRecord(const TryRecord& r) {
  return "failures=" + std::to_string(r.failures) + "\r\nuntil=" + std::to_string(r.refused_until) +
         "\r\nopen=" + (r.open ? "1" : "0") + "\r\n";
}

TryRecord ParseTryRecord(std::string_view text) {
  TryRecord r;
  bool seen_failures = false, seen_until = false, seen_open = false;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return {};
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    std::int64_t v = 0;
    if (key == "failures" && !seen_failures && ParseNumber(value, kMostFailures, v)) {
      r.failures = static_cast<int>(v);
      seen_failures = true;
    } else if (key == "until" && !seen_until && ParseNumber(value, kLatestTime, v)) {
      r.refused_until = v;
      seen_until = true;
    } else if (key == "open" && !seen_open && ParseNumber(value, 1, v)) {
      r.open = v == 1;
      seen_open = true;
    } else {
      return {};
    }
  }
  if (!seen_failures || !seen_until || !seen_open) return {};
  return r;
}

TryLimit::TryLimit(TryRecord stored, std::int64_t now) : record_(stored) {
  const std::int64_t longest = RefusalAfter(record_.failures);
  if (record_.refused_until - now > longest) record_.refused_until = now + longest;
  GuessEnded(now);
}

void TryLimit::GuessStarted() {
  if (record_.open) return;
  record_.open = true;
  if (record_.failures < kMostFailures) ++record_.failures;
}

void TryLimit::GuessEnded(std::int64_t now) {
  if (!record_.open) return;
  record_.open = false;
  const std::int64_t refusal = RefusalAfter(record_.failures);
  if (refusal > 0) record_.refused_until = now + refusal;
}

std::int64_t TryLimit::RemainingMs(std::int64_t now) const {
  return std::max<std::int64_t>(0, record_.refused_until - now);
}

void CountGuesses(PasswordBoxes& boxes, TryLimit& limit, std::int64_t now) {
  for (bool again = true; again;) {
    for (GuessNews news : boxes.TakeGuessNews()) {
      if (news == GuessNews::Ended) {
        limit.GuessEnded(now);
      } else if (!limit.Refused(now)) {
        limit.GuessStarted();
      }
    }
    // The refusal hides the boxes, which ends the guess in progress.
    again = limit.Refused(now) && !boxes.refused();
    if (again) boxes.SetRefused(true);
  }
}

std::wstring RefusalText(std::int64_t remaining_ms) {
  const std::int64_t seconds = (std::max<std::int64_t>(0, remaining_ms) + 999) / 1000;
  return L"密码错误次数过多，请 " + std::to_wstring(seconds) + L" 秒后再试";
}

}  // namespace tolvane
