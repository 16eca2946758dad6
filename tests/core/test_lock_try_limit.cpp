#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "lock/password_box.h"
#include "lock/try_limit.h"

namespace tolvane {
namespace {

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kT0 = 1'700'000'000'000;  // a wall clock in 2023

TEST(TryLimit, RefusalScheduleFreeForNineThenThirtySecondsDoublingToFifteenMinutes) {
  struct Case {
    int failures;
    std::int64_t seconds;
  };
  const Case cases[] = {
      {0, 0},    {1, 0},    {9, 0},    {10, 30},  {11, 60},   {12, 120},
      {13, 240}, {14, 480}, {15, 900}, {16, 900}, {40, 900}, {1'000'000, 900},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RefusalAfter(c.failures), c.seconds * kSecond) << c.failures << " failed guesses";
  }
}

// Fails `n` guesses, `gap` apart; returns the time after the last.
std::int64_t FailGuesses(TryLimit& limit, int n, std::int64_t now, std::int64_t gap = kSecond) {
  for (int i = 0; i < n; ++i) {
    limit.GuessStarted();
    limit.GuessEnded(now);
    now += gap;
  }
  return now;
}

TEST(TryLimit, TheTenthFailedGuessRefusesFromItsEndAndTheEleventhDoubles) {
  TryLimit limit({}, kT0);
  std::int64_t now = FailGuesses(limit, 9, kT0);
  EXPECT_FALSE(limit.Refused(now));
  // The tenth guess is typed: nothing is refused while it goes on.
  limit.GuessStarted();
  EXPECT_FALSE(limit.Refused(now + 10 * kSecond));
  limit.GuessEnded(now + 10 * kSecond);
  now += 10 * kSecond;
  EXPECT_EQ(limit.RemainingMs(now), 30 * kSecond);
  EXPECT_EQ(limit.RemainingMs(now + 29'999), 1);
  EXPECT_FALSE(limit.Refused(now + 30 * kSecond));
  // Once it has run out, one more failed guess refuses for twice as long.
  now += 31 * kSecond;
  now = FailGuesses(limit, 1, now, 0);
  EXPECT_EQ(limit.RemainingMs(now), 60 * kSecond);
  EXPECT_EQ(limit.record().failures, 11);
}

TEST(TryLimit, EndsWithoutAGuessAndRepeatedEndsCountNothing) {
  TryLimit limit({}, kT0);
  for (int i = 0; i < 20; ++i) limit.GuessEnded(kT0 + i);
  EXPECT_EQ(limit.record(), TryRecord{});
  // A start told twice is one guess.
  limit.GuessStarted();
  limit.GuessStarted();
  limit.GuessEnded(kT0);
  limit.GuessEnded(kT0);
  EXPECT_EQ(limit.record().failures, 1);
}

TEST(TryLimit, AWayOutClearsEverything) {
  TryLimit limit({}, kT0);
  const std::int64_t now = FailGuesses(limit, 12, kT0);
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
      {"a refusal still running", {10, kT0 + 12 * kSecond, false}, 12 * kSecond, 10},
      {"a refusal that ran out", {10, kT0 - kSecond, false}, 0, 10},
      // Killed while the tenth guess was typed: it ends at the start.
      {"the tenth guess left open", {10, 0, true}, 30 * kSecond, 10},
      {"the twelfth guess left open", {12, kT0 - 100 * kSecond, true}, 120 * kSecond, 12},
      {"an open guess below the limit", {2, 0, true}, 0, 2},
      // The clock was put back (or the file edited): never longer than the
      // refusal the count earns, counted from now.
      {"an end far in the future", {11, kT0 + 3'600 * kSecond, false}, 60 * kSecond, 11},
      {"a future end below the limit", {3, kT0 + 3'600 * kSecond, false}, 0, 3},
      // Written by a version that counted box sessions, five of them and
      // refusing: read as five guesses, below the limit.
      {"five failed sessions of an earlier version", {5, kT0 + 20 * kSecond, false}, 0, 5},
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

// -- what the limit counts: guesses ------------------------------------------

TEST(Guesses, WhatAnEditToABoxsTextStartsAndEnds) {
  struct Case {
    const char* what;
    bool guessing;
    const wchar_t* before;
    const wchar_t* after;
    EditStep step;
  };
  const Case cases[] = {
      {"the first character in an empty box", false, L"", L"a", {false, true}},
      {"one more character at the end", true, L"ab", L"abc", {}},
      {"a character outside the basic plane", true, L"ab", L"ab\xD83D\xDE00", {}},
      {"no change", true, L"abc", L"abc", {}},
      {"Backspace", true, L"abc", L"ab", {true, false}},
      {"Ctrl+Backspace", true, L"abc def", L"abc ", {true, false}},
      {"emptied", true, L"abc", L"", {true, false}},
      {"Backspace again after a deletion", false, L"ab", L"a", {}},
      {"typing on after a deletion", false, L"ab", L"abx", {false, true}},
      {"select-and-type", true, L"wrong-pw", L"x", {true, true}},
      // The box held that text on the way to the one it ends.
      {"select-and-type of the same first character", true, L"wrong-pw", L"w", {true, false}},
      {"the same first character retyped over all", true, L"a", L"a", {}},
      {"typed into the middle", true, L"abc", L"abxc", {true, true}},
      {"Delete in the middle", true, L"abc", L"ac", {true, true}},
      {"two characters at once (pasted)", true, L"ab", L"abcd", {true, true}},
      {"pasted into an empty box", false, L"", L"secret", {false, true}},
      {"the middle replaced after a deletion", false, L"abc", L"axc", {false, true}},
      {"a lone low surrogate is no whole character", true, L"ab", L"ab\xDE00\xDE00", {true, true}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyEdit(c.guessing, c.before, c.after), c.step) << c.what;
  }
}

// Types `text` into the box one character at a time, as the edit control
// reports it.
BoxOutcome Type(PasswordBoxes& p, Box box, std::wstring_view text) {
  std::wstring so_far = p.state(box).masked ? p.state(box).text : std::wstring();
  BoxOutcome last = BoxOutcome::None;
  for (wchar_t c : text) {
    so_far += c;
    last = p.Change(box, so_far);
    if (last != BoxOutcome::None) break;
  }
  return last;
}

using News = std::vector<GuessNews>;
constexpr GuessNews S = GuessNews::Started;
constexpr GuessNews E = GuessNews::Ended;

TEST(Guesses, WhatTheBoxesTellTheLimit) {
  const struct Step {
    const char* what;
    void (*act)(PasswordBoxes&);
    News news;
  } steps[] = {
      {"F2: the box comes up", [](PasswordBoxes& p) { p.KeyDown(kVkF2); }, {}},
      {"a click clears the placeholder: no guess", [](PasswordBoxes& p) { p.Click(Box::Unlock); }, {}},
      {"a word typed is one guess", [](PasswordBoxes& p) { Type(p, Box::Unlock, L"wrong"); }, {S}},
      {"select-and-type ends it and starts the next",
       [](PasswordBoxes& p) { p.Change(Box::Unlock, L"w"); Type(p, Box::Unlock, L"rung"); }, {E, S}},
      {"Backspace held down ends one guess",
       [](PasswordBoxes& p) {
         for (const wchar_t* t : {L"wrun", L"wru", L"wr", L"w", L""}) p.Change(Box::Unlock, t);
       },
       {E}},
      {"typing on after the deletion is a new guess", [](PasswordBoxes& p) { Type(p, Box::Unlock, L"x"); }, {S}},
      {"F2 closes the box: the guess ends", [](PasswordBoxes& p) { p.KeyDown(kVkF2); }, {E}},
      {"F2 and F2 without typing: nothing", [](PasswordBoxes& p) { p.KeyDown(kVkF2); p.KeyDown(kVkF2); }, {}},
      {"F3, typed over the selected placeholder",
       [](PasswordBoxes& p) { p.KeyDown(kVkF3); p.Change(Box::Setup, L"q"); }, {S}},
      {"F2 while the setup box has a guess ends it", [](PasswordBoxes& p) { p.KeyDown(kVkF2); }, {E}},
      {"a guess, then a click on the background",
       [](PasswordBoxes& p) { p.Change(Box::Unlock, L"w"); p.BackgroundClick(); }, {S, E}},
      {"a box called up after a deletion starts afresh",
       [](PasswordBoxes& p) {
         p.KeyDown(kVkF2);
         Type(p, Box::Unlock, L"ab");
         p.Change(Box::Unlock, L"a");
         p.KeyDown(kVkF2);
         p.KeyDown(kVkF2);
         Type(p, Box::Unlock, L"a");
       },
       {S, E, S}},
  };
  PasswordBoxes p(L"secret");
  for (const Step& s : steps) {
    s.act(p);
    EXPECT_EQ(p.TakeGuessNews(), s.news) << s.what;
  }
}

TEST(Guesses, TheRightPasswordIsNoFailedGuessEvenAfterWrongEdits) {
  PasswordBoxes p(L"pw");
  p.KeyDown(kVkF2);
  EXPECT_EQ(Type(p, Box::Unlock, L"px"), BoxOutcome::None);
  p.Change(Box::Unlock, L"p");
  EXPECT_EQ(p.TakeGuessNews(), (News{S, E}));
  EXPECT_EQ(Type(p, Box::Unlock, L"w"), BoxOutcome::Unlock);
  // The guess that opened is not told: it never failed.
  EXPECT_EQ(p.TakeGuessNews(), News{});
  p.KeyDown(kVkF2);
  EXPECT_EQ(p.TakeGuessNews(), News{});
  // A deletion that leaves the password opens as well.
  PasswordBoxes q(L"pw");
  q.KeyDown(kVkF3);
  q.Change(Box::Setup, L"pwx");  // pasted, say
  EXPECT_EQ(q.Change(Box::Setup, L"pw"), BoxOutcome::EnterSetup);
}

TEST(Guesses, ADozenSelectAndRetypeGuessesInOneBoxBringTheRefusal) {
  PasswordBoxes p(L"secret");
  TryLimit limit({}, kT0);
  p.KeyDown(kVkF2);
  p.Click(Box::Unlock);
  int refused_at = 0;
  for (int guess = 1; guess <= 12 && !refused_at; ++guess) {
    p.Change(Box::Unlock, L"w");  // Shift+Home, then the first character over the selection
    Type(p, Box::Unlock, L"rong-pw");
    CountGuesses(p, limit, kT0);
    if (limit.Refused(kT0)) refused_at = guess;
  }
  // The tenth wrong guess ends as the eleventh is typed over it; the
  // eleventh goes with the box, uncounted: the first refusal is the shortest.
  EXPECT_EQ(refused_at, 11);
  EXPECT_TRUE(p.refused());
  EXPECT_FALSE(p.state(Box::Unlock).visible);
  EXPECT_EQ(limit.record().failures, 10);
  EXPECT_EQ(limit.RemainingMs(kT0), 30 * kSecond);
  CountGuesses(p, limit, kT0);
  EXPECT_EQ(limit.RemainingMs(kT0), 30 * kSecond);
}

TEST(Guesses, RefusedBoxesHideAndIgnoreKeysAndClicks) {
  PasswordBoxes p(L"pw");
  p.KeyDown(kVkF2);
  p.Change(Box::Unlock, L"a");
  p.TakeGuessNews();
  p.SetRefused(true);
  EXPECT_EQ(p.TakeGuessNews(), News{E});  // the guess in progress ends with the box
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
