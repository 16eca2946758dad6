#include <gtest/gtest.h>

#include "lock/watchdog.h"

namespace tolvane {
namespace {

TEST(ParseLaunch, OnlyTheExactWatchdogFormsLeaveTheOrdinaryStart) {
  const LaunchMode P = LaunchMode::Program, W = LaunchMode::Watchdog, R = LaunchMode::Restarted,
                   A = LaunchMode::Apart;
  const struct {
    std::vector<std::wstring> args;
    LaunchMode mode;
    std::uint64_t first, second, third, caller;
    LaunchMode apart;
  } cases[] = {
      {{}, P, 0, 0, 0, 0, P},
      {{L"--watchdog", L"412", L"1024", L"36"}, W, 412, 1024, 36, 0, P},
      {{L"--watched", L"1024", L"96", L"36"}, R, 1024, 96, 36, 0, P},
      {{L"--apart", L"8", L"--watchdog", L"412", L"1024", L"36"}, A, 412, 1024, 36, 8, W},
      {{L"--apart", L"8", L"--watched", L"1024", L"96", L"36"}, A, 1024, 96, 36, 8, R},
      // The older two-handle forms no longer start a watchdog mode.
      {{L"--watchdog", L"412", L"1024"}, P, 0, 0, 0, 0, P},
      {{L"--watched", L"1024", L"96"}, P, 0, 0, 0, 0, P},
      {{L"--watchdog", L"18446744073709551"}, P, 0, 0, 0, 0, P},
      {{L"--watchdog", L"412", L"1024", L"36", L"x"}, P, 0, 0, 0, 0, P},
      {{L"--watchdog", L"0x10", L"8", L"4"}, P, 0, 0, 0, 0, P},
      {{L"--watchdog", L"-4", L"8", L"4"}, P, 0, 0, 0, 0, P},
      {{L"--watchdog", L"0", L"8", L"4"}, P, 0, 0, 0, 0, P},
      {{L"--watchdog", L"4", L"8", L""}, P, 0, 0, 0, 0, P},
      {{L"--watchdog", L"12345678901234567890", L"8", L"4"}, P, 0, 0, 0, 0, P},
      {{L"--WATCHDOG", L"4", L"8", L"4"}, P, 0, 0, 0, 0, P},
      {{L"/watchdog", L"4", L"8", L"4"}, P, 0, 0, 0, 0, P},
      // An apart start passes on nothing but a watchdog form, once.
      {{L"--apart", L"8", L"--apart", L"8", L"--watchdog", L"4"}, P, 0, 0, 0, 0, P},
      {{L"--apart", L"0", L"--watchdog", L"412", L"1024", L"36"}, P, 0, 0, 0, 0, P},
      {{L"--apart", L"8", L"--setup", L"412", L"1024", L"36"}, P, 0, 0, 0, 0, P},
      {{L"--apart", L"8", L"--watchdog", L"412", L"1024"}, P, 0, 0, 0, 0, P},
      {{L"--apart", L"8", L"--watchdog", L"412", L"x", L"36"}, P, 0, 0, 0, 0, P},
  };
  for (const auto& c : cases) {
    const Launch l = ParseLaunch(c.args);
    const std::string what = testing::PrintToString(c.args);
    EXPECT_EQ(l.mode, c.mode) << what;
    EXPECT_EQ(l.first, c.first) << what;
    EXPECT_EQ(l.second, c.second) << what;
    EXPECT_EQ(l.third, c.third) << what;
    EXPECT_EQ(l.caller, c.caller) << what;
    EXPECT_EQ(l.apart, c.apart) << what;
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
  const Launch w = ParseLaunch(Split(WatchdogArguments(0x7FFFFFFF, 4, 12)));
  EXPECT_EQ(w.mode, LaunchMode::Watchdog);
  EXPECT_EQ(w.first, 0x7FFFFFFFu);
  EXPECT_EQ(w.second, 4u);
  EXPECT_EQ(w.third, 12u);
  const Launch r = ParseLaunch(Split(RestartArguments(1234, 5678, 91)));
  EXPECT_EQ(r.mode, LaunchMode::Restarted);
  EXPECT_EQ(r.first, 1234u);
  EXPECT_EQ(r.second, 5678u);
  EXPECT_EQ(r.third, 91u);
  // The short-lived starter passes on exactly the form it was given.
  for (const std::wstring& inner : {WatchdogArguments(8, 16, 24), RestartArguments(16, 32, 24)}) {
    const Launch a = ParseLaunch(Split(ApartArguments(44, inner)));
    EXPECT_EQ(a.mode, LaunchMode::Apart);
    EXPECT_EQ(a.caller, 44u);
    EXPECT_EQ(InnerArguments(a), inner);
  }
  EXPECT_EQ(InnerArguments(w), L"");
}

TEST(RestartPolicy, ThreeAtOnceInAMinuteThenABackOffOfAtMostTenSeconds) {
  RestartPolicy p;
  // Each row: the lock is found dead at `at`; the watchdog waits `wait`.
  // The next death can only come after that restart.
  const struct {
    std::uint64_t at, wait;
  } deaths[] = {
      {1'000, 0},        {2'000, 0},         {3'000, 0},  // three quick crashes come back at once
      {4'000, 1'000},                                     // the fourth within the minute waits
      {6'000, 2'000},    {9'000, 4'000},     {14'000, 8'000},
      {23'000, 10'000},  {34'000, 10'000},   {45'000, 10'000},  // never longer than ten seconds
      {56'000, 10'000},  {67'000, 10'000},
      {200'000, 0},                                       // a quiet spell frees the budget
      {200'500, 0},      {201'000, 0},       {201'500, 1'000},
  };
  for (const auto& d : deaths) EXPECT_EQ(p.Next(d.at), d.wait) << "death at " << d.at;
}

TEST(RestartPolicy, RestartsLeaveTheWindowOneByOne) {
  RestartPolicy p;
  EXPECT_EQ(p.Next(1'000), 0u);
  EXPECT_EQ(p.Next(2'000), 0u);
  EXPECT_EQ(p.Next(3'000), 0u);
  EXPECT_EQ(p.Next(60'999), 1'000u);  // the first restart is 59.999 s old: still inside
  EXPECT_EQ(p.Next(62'000), 0u);      // 1 000 and 2 000 have left: two restarts inside
  EXPECT_EQ(p.Next(62'500), 1'000u);  // three again
  EXPECT_EQ(p.Next(130'000), 0u);
}

TEST(RestartPolicy, AHundredDeathsInARowAllComeBack) {
  RestartPolicy p;
  std::uint64_t now = 0;
  for (int i = 0; i < 100; ++i) {
    const std::uint64_t wait = p.Next(now);
    EXPECT_LE(wait, RestartPolicy::kMaxBackOffMs) << i;
    if (i >= RestartPolicy::kFreeRestarts) EXPECT_GE(wait, RestartPolicy::kFirstBackOffMs) << i;
    now += wait + 50;  // a lock that dies 50 ms after each start
  }
}

TEST(DecideWatchdogStep, HandshakeAndSessionEndWinOverThePolicy) {
  RestartPolicy p;
  EXPECT_FALSE(DecideWatchdogStep(true, false, p, 0).restart);
  EXPECT_FALSE(DecideWatchdogStep(false, true, p, 0).restart);
  EXPECT_FALSE(DecideWatchdogStep(true, true, p, 0).restart);
  // Neither of those counted as a restart.
  for (int i = 0; i < RestartPolicy::kFreeRestarts; ++i) {
    const WatchdogStep s = DecideWatchdogStep(false, false, p, 10 + i);
    EXPECT_TRUE(s.restart) << i;
    EXPECT_EQ(s.delay_ms, 0u) << i;
  }
  const WatchdogStep late = DecideWatchdogStep(false, false, p, 20);
  EXPECT_TRUE(late.restart);
  EXPECT_EQ(late.delay_ms, RestartPolicy::kFirstBackOffMs);
  EXPECT_FALSE(DecideWatchdogStep(true, false, p, 2'000).restart);
}

TEST(BeatWatch, AStandstillCountsOnlyAfterTheAllowance) {
  // A new partner has 30 s for its first beat, then 10 s between beats. A
  // watcher that sleeps for DueIn wakes on the very millisecond the
  // standstill counts, not one before.
  const struct {
    const char* what;
    std::uint32_t beat;
    std::uint64_t at;
    bool stalled;
    std::uint64_t due_in;
  } steps[] = {
      {"restarted at 0 with the counter at 7", 7, 0, false, 30'001},
      {"slow start, still inside the first allowance", 7, 30'000, false, 1},
      {"first beat", 8, 30'001, false, 10'001},
      {"beating", 9, 31'000, false, 10'001},
      {"quiet, inside the gap", 9, 41'000, false, 1},
      {"quiet past the gap: suspended or hung", 9, 41'001, true, 0},
      {"still stalled", 9, 60'000, true, 0},
      {"it moves again", 10, 60'500, false, 10'001},
      {"a counter that wraps still moves", 0, 61'000, false, 10'001},
  };
  BeatWatch w(30'000, 10'000);
  w.Restart(7, 0);
  for (const auto& s : steps) {
    EXPECT_EQ(w.Stalled(s.beat, s.at), s.stalled) << s.what;
    EXPECT_EQ(w.DueIn(s.at), s.due_in) << s.what;
  }
}

TEST(BeatWatch, ANewPartnerThatNeverBeatsIsStalledAfterTheFirstAllowance) {
  BeatWatch w(30'000, 10'000);
  w.Restart(3, 1'000);
  EXPECT_FALSE(w.Stalled(3, 31'000));
  EXPECT_TRUE(w.Stalled(3, 31'001));
  // Replaced: the new one gets the whole first allowance again.
  w.Restart(3, 31'001);
  EXPECT_FALSE(w.Stalled(3, 50'000));
  // Without Restart, the first reading starts the clock.
  BeatWatch fresh(5'000, 1'000);
  EXPECT_FALSE(fresh.Stalled(0, 100));
  EXPECT_FALSE(fresh.Stalled(0, 5'100));
  EXPECT_TRUE(fresh.Stalled(0, 5'101));
}

}  // namespace
}  // namespace tolvane
