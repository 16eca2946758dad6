// How often the password boxes may be tried. A box session runs from the
// moment a box is called up (F2, F3) until it is closed or emptied; one in
// which something was typed and which did not open the lock is a failed
// session. The first four cost nothing; after the fifth, F2 and F3 are
// refused for 30 s, and each further failed session doubles that, up to 15
// minutes. A way out clears the count.
//
// A try is counted when its first character is typed, and the refusal
// starts when the session ends: a lock killed in the middle of a try (and
// brought back by its watchdog) finds the try counted and the session still
// open, and ends it at its start. The record lives in a file in the user's
// reach, with the refusal's end on the wall clock, so that it outlives the
// process; a clock put back cannot stretch a refusal past its own length.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

inline constexpr int kFreeFailedSessions = 4;
inline constexpr std::int64_t kFirstRefusalMs = 30'000;
inline constexpr std::int64_t kLongestRefusalMs = 15 * 60'000;

// How long F2 and F3 are refused after `failures` failed sessions in a row.
std::int64_t RefusalAfter(int failures);

struct TryRecord {
  int failures = 0;              // failed (or open) sessions since the last way out
  std::int64_t refused_until = 0;  // wall clock, ms since 1970 UTC; 0: never refused
  bool open = false;             // a session with a counted try has not ended yet
  bool operator==(const TryRecord&) const = default;
};

// "failures=5\r\nuntil=1700000000000\r\nopen=0\r\n".
std::string FormatTryRecord(const TryRecord& r);
// The record the text holds; a fresh one for anything that is not exactly
// such lines with values in range (a damaged file must not lock anyone out
// for longer than a real record could).
TryRecord ParseTryRecord(std::string_view text);

class TryLimit {
 public:
  // A stored record as the lock finds it at `now`: a session left open ends
  // now, and a refusal longer than its own length (the clock went back) is
  // counted from now.
  TryLimit() = default;
  TryLimit(TryRecord stored, std::int64_t now);

  // The first character of a session was typed.
  void Tried();
  // The session ended without opening the lock; from the fifth failed one
  // on, the refusal starts now.
  void SessionEnded(std::int64_t now);
  // A way out: everything is forgotten.
  void Clear() { record_ = {}; }

  std::int64_t RemainingMs(std::int64_t now) const;
  bool Refused(std::int64_t now) const { return RemainingMs(now) > 0; }
  const TryRecord& record() const { return record_; }

 private:
  TryRecord record_;
};

// What the lock face says while F2 and F3 are refused: the seconds left,
// rounded up.
std::wstring RefusalText(std::int64_t remaining_ms);

}  // namespace tolvane
