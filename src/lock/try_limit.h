// How often the password boxes may be guessed at. What a guess is, the boxes
// decide (lock/password_box.h): roughly, the text a box held when it was
// changed other than by one more character typed at its end. The first nine
// failed guesses cost nothing; after the tenth, F2 and F3 are refused for
// 30 s, and each further failed guess doubles that, up to 15 minutes. A way
// out clears the count.
//
// A guess is counted when it starts, and the refusal starts when it ends: a
// lock killed in the middle of a guess (and brought back by its watchdog)
// finds the guess counted and still open, and ends it at its start. The record lives in a file in the user's
// reach, with the refusal's end on the wall clock, so that it outlives the
// process; a clock put back cannot stretch a refusal past its own length.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "lock/password_box.h"

namespace tolvane {

inline constexpr int kFreeFailedGuesses = 9;
inline constexpr std::int64_t kFirstRefusalMs = 30'000;
inline constexpr std::int64_t kLongestRefusalMs = 15 * 60'000;

// How long F2 and F3 are refused after `failures` failed guesses in a row.
std::int64_t RefusalAfter(int failures);

struct TryRecord {
  int failures = 0;              // failed (or open) guesses since the last way out
  std::int64_t refused_until = 0;  // wall clock, ms since 1970 UTC; 0: never refused
  bool open = false;             // a counted guess has not ended yet
  bool operator==(const TryRecord&) const = default;
};

// "failures=5\r\nuntil=1700000000000\r\nopen=0\r\n". Files of earlier
// versions counted failed box sessions in the same line; each held at least
// one failed guess, so their count is read as guesses unchanged.
std::string FormatTryRecord(const TryRecord& r);
// The record the text holds; a fresh one for anything that is not exactly
// such lines with values in range (a damaged file must not lock anyone out
// for longer than a real record could).
TryRecord ParseTryRecord(std::string_view text);

class TryLimit {
 public:
  // A stored record as the lock finds it at `now`: a guess left open ends
  // now, and a refusal longer than its own length (the clock went back) is
  // counted from now.
  TryLimit() = default;
  TryLimit(TryRecord stored, std::int64_t now);

  // A guess started (its first new character was typed).
  void GuessStarted();
  // The guess ended without opening the lock; from the tenth failed one on,
  // the refusal starts now.
  void GuessEnded(std::int64_t now);
  // A way out: everything is forgotten.
  void Clear() { record_ = {}; }

  std::int64_t RemainingMs(std::int64_t now) const;
  bool Refused(std::int64_t now) const { return RemainingMs(now) > 0; }
  const TryRecord& record() const { return record_; }

 private:
  TryRecord record_;
};

// Hands the boxes' guesses since the last call to the limit, and refuses the
// boxes once the limit says so. A guess is on file from its start: a lock
// killed in the middle of it comes back with it counted. One that starts in
// the change that brings the refusal goes with its box before it could be
// tried on, and is not counted.
void CountGuesses(PasswordBoxes& boxes, TryLimit& limit, std::int64_t now);

// What the lock face says while F2 and F3 are refused: the seconds left,
// rounded up.
std::wstring RefusalText(std::int64_t remaining_ms);

}  // namespace tolvane
