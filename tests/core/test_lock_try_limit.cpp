#include <gtest/gtest.h>

#include <string>

#include "lock/password_box.h"
#include "lock/try_limit.h"

namespace tolvane {
namespace {

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kT0 = 1'700'000'000'000;  // a wall clock in 2023

TEST(TryLimit, RefusalScheduleFreeForFourThenThirtySecondsDoublingToFifteenMinutes) {
  struct Case {
    int failures;
    std::int64_t seconds;
  };
  const Case cases[] = {
      {0, 0},  {1, 0},   {4, 0},   {5, 30},  {6, 60},    {7, 120},
      {8, 240}, {9, 480}, {10, 900}, {11, 900}, {40, 900}, {1'000'000, 900},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RefusalAfter(c.failures), c.seconds * kSecond) << c.failures << " failed sessions";
  }
}

// Ends `n` sessions, each with a try, `gap` apart; returns the time after the last.
std::int64_t FailSessions(TryLimit& limit, int n, std::int64_t now, std::int64_t gap = kSecond) {
  for (int i = 0; i < n; ++i) {
    limit.Tried();
    limit.SessionEnded(now);
    now += gap;
  }
  return now;
}

TEST(TryLimit, TheFifthFailedSessionRefusesFromItsEndAndTheSixthDoubles) {
  TryLimit limit({}, kT0);
  std::int64_t now = FailSessions(limit, 4, kT0);
  EXPECT_FALSE(limit.Refused(now));
  // The fifth try is typed: nothing is refused while its session runs.
  limit.Tried();
  EXPECT_FALSE(limit.Refused(now + 10 * kSecond));
  limit.SessionEnded(now + 10 * kSecond);
  now += 10 * kSecond;
  EXPECT_EQ(limit.RemainingMs(now), 30 * kSecond);
  EXPECT_EQ(limit.RemainingMs(now + 29'999), 1);
  EXPECT_FALSE(limit.Refused(now + 30 * kSecond));
  // Once it has run out, one more failed session refuses for twice as long.
  now += 31 * kSecond;
  now = FailSessions(limit, 1, now, 0);
  EXPECT_EQ(limit.RemainingMs(now), 60 * kSecond);
  EXPECT_EQ(limit.record().failures, 6);
}

TEST(TryLimit, SessionsWithoutATryAndRepeatedEndsCountNothing) {
  TryLimit limit({}, kT0);
  for (int i = 0; i < 20; ++i) limit.SessionEnded(kT0 + i);
  EXPECT_EQ(limit.record(), TryRecord{});
  // Several characters of one session are one try.
  limit.Tried();
  limit.Tried();
  limit.SessionEnded(kT0);
  limit.SessionEnded(kT0);
  EXPECT_EQ(limit.record().failures, 1);
}

TEST(TryLimit, AWayOutClearsEverything) {
  TryLimit limit({}, kT0);
  const std::int64_t now = FailSessions(limit, 7, kT0);
  ASSERT_TRUE(limit.Refused(now));
  limit.Clear();
  EXPECT_FALSE(limit.Refused(now));
  EXPECT_EQ(limit.record(), TryRecord{});
}

TEST(TryLimit, AStoredRecordAsTheRestartedLockFindsIt) {
  struct Case {
    const char* what;
    TryRecord stored;
    std::int64_t remaining_ms;
    int failures;
  };
  const Case cases[] = {
      {"nothing stored", {}, 0, 0},
      {"a refusal still running", {5, kT0 + 12 * kSecond, false}, 12 * kSecond, 5},
      {"a refusal that ran out", {5, kT0 - kSecond, false}, 0, 5},
      // Killed while the fifth try was typed: that session ends at the start.
      {"the fifth try's session left open", {5, 0, true}, 30 * kSecond, 5},
      {"the seventh try's session left open", {7, kT0 - 100 * kSecond, true}, 120 * kSecond, 7},
      {"an open session below the limit", {2, 0, true}, 0, 2},
      // The clock was put back (or the file edited): never longer than the
      // refusal the count earns, counted from now.
      {"an end far in the future", {6, kT0 + 3'600 * kSecond, false}, 60 * kSecond, 6},
      {"a future end below the limit", {3, kT0 + 3'600 * kSecond, false}, 0, 3},
  };
  for (const Case& c : cases) {
    const TryLimit limit(c.stored, kT0);
    EXPECT_EQ(limit.RemainingMs(kT0), c.remaining_ms) << c.what;
    EXPECT_EQ(limit.record().failures, c.failures) << c.what;
    EXPECT_FALSE(limit.record().open) << c.what;
  }
}

TEST(TryLimit, RecordTextRoundTripsAndAnythingElseReadsAsFresh) {
  const TryRecord records[] = {{}, {5, kT0, false}, {1'000'000, 99'999'999'999'999, true}};
  for (const TryRecord& r : records) EXPECT_EQ(ParseTryRecord(FormatTryRecord(r)), r);
  EXPECT_EQ(FormatTryRecord({6, kT0, true}), "failures=6\r\nuntil=1700000000000\r\nopen=1\r\n");
  // Line ends of either kind, in any order.
  EXPECT_EQ(ParseTryRecord("open=0\nuntil=5\nfailures=2\n"), (TryRecord{2, 5, false}));

  const char* garbage[] = {
      "",
      "\x00\xff\xfe garbage",
      "failures=5\r\nuntil=1\r\n",                       // a line missing
      "failures=5\r\nuntil=1\r\nopen=0\r\nextra=1\r\n",  // a line too many
      "failures=5\r\nfailures=6\r\nuntil=1\r\nopen=0\r\n",
      "failures=-5\r\nuntil=1\r\nopen=0\r\n",
      "failures=5x\r\nuntil=1\r\nopen=0\r\n",
      "failures= 5\r\nuntil=1\r\nopen=0\r\n",
      "failures=1000001\r\nuntil=1\r\nopen=0\r\n",
      "failures=5\r\nuntil=99999999999999999999\r\nopen=0\r\n",
      "failures=5\r\nuntil=1\r\nopen=2\r\n",
      "failures\r\nuntil=1\r\nopen=0\r\n",
  };
  for (const char* text : garbage) EXPECT_EQ(ParseTryRecord(text), TryRecord{}) << text;
}

TEST(TryLimit, FaceTextRoundsTheSecondsUp) {
  EXPECT_EQ(RefusalText(30 * kSecond), L"密码错误次数过多，请 30 秒后再试");
  EXPECT_EQ(RefusalText(29'001), L"密码错误次数过多，请 30 秒后再试");
  EXPECT_EQ(RefusalText(1), L"密码错误次数过多，请 1 秒后再试");
  EXPECT_EQ(RefusalText(900 * kSecond), L"密码错误次数过多，请 900 秒后再试");
}

// -- the box sessions the limit counts ----------------------------------------

struct Step {
  const char* what;
  void (*act)(PasswordBoxes&);
  SessionNews news;
};

TEST(PasswordBoxSessions, WhatStartsAndEndsATry) {
  const auto same = [](SessionNews a, SessionNews b) { return a.tried == b.tried && a.ended == b.ended; };
  const Step steps[] = {
      {"F2: the box comes up", [](PasswordBoxes& p) { p.KeyDown(kVkF2); }, {}},
      {"a click clears the placeholder: no try", [](PasswordBoxes& p) { p.Click(Box::Unlock); }, {}},
      {"the first character is a try", [](PasswordBoxes& p) { p.Change(Box::Unlock, L"x"); }, {true, false}},
      {"more characters are the same try", [](PasswordBoxes& p) { p.Change(Box::Unlock, L"xy"); }, {}},
      {"emptied: the session ends", [](PasswordBoxes& p) { p.Change(Box::Unlock, L""); }, {false, true}},
      {"typing again is a new try", [](PasswordBoxes& p) { p.Change(Box::Unlock, L"z"); }, {true, false}},
      {"F2 closes the box: the session ends", [](PasswordBoxes& p) { p.KeyDown(kVkF2); }, {false, true}},
      {"F2 and F2 without typing: nothing", [](PasswordBoxes& p) { p.KeyDown(kVkF2); p.KeyDown(kVkF2); }, {}},
      {"F3, typed over the selected placeholder",
       [](PasswordBoxes& p) { p.KeyDown(kVkF3); p.Change(Box::Setup, L"q"); }, {true, false}},
      {"F2 while the setup box has a try ends it",
       [](PasswordBoxes& p) { p.KeyDown(kVkF2); }, {false, true}},
      {"a try, then a click on the background",
       [](PasswordBoxes& p) { p.Change(Box::Unlock, L"w"); p.BackgroundClick(); }, {true, true}},
  };
  PasswordBoxes p(L"secret");
  for (const Step& s : steps) {
    s.act(p);
    const SessionNews news = p.TakeSessionNews();
    EXPECT_TRUE(same(news, s.news)) << s.what << ": tried " << news.tried << ", ended " << news.ended;
  }
}

TEST(PasswordBoxSessions, TheRightPasswordIsNoFailedTry) {
  PasswordBoxes p(L"pw");
  p.KeyDown(kVkF2);
  p.Change(Box::Unlock, L"p");
  EXPECT_TRUE(p.TakeSessionNews().tried);
  EXPECT_EQ(p.Change(Box::Unlock, L"pw"), BoxOutcome::Unlock);
  p.KeyDown(kVkF2);
  const SessionNews after = p.TakeSessionNews();
  EXPECT_FALSE(after.tried || after.ended);
}

TEST(PasswordBoxSessions, RefusedBoxesHideAndIgnoreKeysAndClicks) {
  PasswordBoxes p(L"pw");
  p.KeyDown(kVkF2);
  p.Change(Box::Unlock, L"a");
  p.TakeSessionNews();
  p.SetRefused(true);
  EXPECT_TRUE(p.TakeSessionNews().ended);  // the open try ends with the box
  EXPECT_FALSE(p.state(Box::Unlock).visible);
  for (unsigned vk : {kVkF2, kVkF3}) p.KeyDown(vk);
  p.Click(Box::Unlock);
  EXPECT_FALSE(p.state(Box::Unlock).visible);
  EXPECT_FALSE(p.state(Box::Setup).visible);
  p.SetRefused(false);
  p.KeyDown(kVkF3);
  EXPECT_TRUE(p.state(Box::Setup).visible);
}

}  // namespace
}  // namespace tolvane
