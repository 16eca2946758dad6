#include <gtest/gtest.h>

#include "lock/watchdog.h"

namespace tolvane {
namespace {

TEST(ParseLaunch, OnlyTheExactWatchdogFormsLeaveTheOrdinaryStart) {
  const struct {
    std::vector<std::wstring> args;
    LaunchMode mode;
    std::uint64_t first, second;
  } cases[] = {
      {{}, LaunchMode::Program, 0, 0},
      {{L"--watchdog", L"412", L"1024"}, LaunchMode::Watchdog, 412, 1024},
      {{L"--watched", L"1024", L"96"}, LaunchMode::Restarted, 1024, 96},
      {{L"--watchdog", L"18446744073709551"}, LaunchMode::Program, 0, 0},
      {{L"--watchdog", L"412"}, LaunchMode::Program, 0, 0},
      {{L"--watchdog", L"412", L"1024", L"x"}, LaunchMode::Program, 0, 0},
      {{L"--watchdog", L"0x10", L"8"}, LaunchMode::Program, 0, 0},
      {{L"--watchdog", L"-4", L"8"}, LaunchMode::Program, 0, 0},
      {{L"--watchdog", L"0", L"8"}, LaunchMode::Program, 0, 0},
      {{L"--watchdog", L"", L"8"}, LaunchMode::Program, 0, 0},
      {{L"--watchdog", L"12345678901234567890", L"8"}, LaunchMode::Program, 0, 0},
      {{L"--WATCHDOG", L"4", L"8"}, LaunchMode::Program, 0, 0},
      {{L"/watchdog", L"4", L"8"}, LaunchMode::Program, 0, 0},
  };
  for (const auto& c : cases) {
    const Launch l = ParseLaunch(c.args);
    EXPECT_EQ(l.mode, c.mode) << testing::PrintToString(c.args);
    EXPECT_EQ(l.first, c.first) << testing::PrintToString(c.args);
    EXPECT_EQ(l.second, c.second) << testing::PrintToString(c.args);
  }
}

std::vector<std::wstring> Split(const std::wstring& s) {
  std::vector<std::wstring> out;
  std::size_t at = 0;
  while (at <= s.size()) {
    const auto sp = s.find(L' ', at);
    out.push_back(s.substr(at, sp == std::wstring::npos ? std::wstring::npos : sp - at));
    if (sp == std::wstring::npos) break;
    at = sp + 1;
  }
  return out;
}

TEST(ParseLaunch, ReadsWhatTheOtherSideWrites) {
  const Launch w = ParseLaunch(Split(WatchdogArguments(0x7FFFFFFF, 4)));
  EXPECT_EQ(w.mode, LaunchMode::Watchdog);
  EXPECT_EQ(w.first, 0x7FFFFFFFu);
  EXPECT_EQ(w.second, 4u);
  const Launch r = ParseLaunch(Split(RestartArguments(1234, 5678)));
  EXPECT_EQ(r.mode, LaunchMode::Restarted);
  EXPECT_EQ(r.first, 1234u);
  EXPECT_EQ(r.second, 5678u);
}

TEST(RestartBudget, ThreeRestartsInAnyMinute) {
  RestartBudget b;
  // Three quick crashes are restarted, the fourth within the minute is not.
  EXPECT_TRUE(b.Take(1'000));
  EXPECT_TRUE(b.Take(2'000));
  EXPECT_TRUE(b.Take(3'000));
  EXPECT_FALSE(b.Take(4'000));
  EXPECT_FALSE(b.Take(60'999));  // the first restart is 59.999 s old: still inside
  EXPECT_TRUE(b.Take(61'000));   // one minute after the first, one slot is free again
  EXPECT_FALSE(b.Take(61'500));
  EXPECT_TRUE(b.Take(62'000));
  EXPECT_TRUE(b.Take(63'000));
  EXPECT_FALSE(b.Take(63'001));
  // A long quiet spell frees all three.
  EXPECT_TRUE(b.Take(500'000));
  EXPECT_TRUE(b.Take(500'001));
  EXPECT_TRUE(b.Take(500'002));
  EXPECT_FALSE(b.Take(500'003));
}

TEST(DecideWatchdogStep, HandshakeAndSessionEndWinOverTheBudget) {
  RestartBudget b;
  EXPECT_EQ(DecideWatchdogStep(true, false, b, 0), WatchdogStep::End);
  EXPECT_EQ(DecideWatchdogStep(false, true, b, 0), WatchdogStep::End);
  EXPECT_EQ(DecideWatchdogStep(true, true, b, 0), WatchdogStep::End);
  // Neither of those used up a restart.
  for (int i = 0; i < RestartBudget::kMaxRestarts; ++i) {
    EXPECT_EQ(DecideWatchdogStep(false, false, b, 10 + i), WatchdogStep::Restart) << i;
  }
  EXPECT_EQ(DecideWatchdogStep(false, false, b, 20), WatchdogStep::LockOnly);
  EXPECT_EQ(DecideWatchdogStep(true, false, b, 20), WatchdogStep::End);
}

}  // namespace
}  // namespace tolvane
