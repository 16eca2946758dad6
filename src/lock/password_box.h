// The lock window's two password boxes as a state machine: Text9 (unlock) and
// Text10 (enter setup), called up by F2 and F3, shown one at a time, with a
// placeholder in clear and "*" for anything typed. The window mirrors this
// state into its two edit controls and acts on the returned outcome.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

enum class Box { Unlock, Setup };  // Text9, Text10

inline constexpr wchar_t kUnlockPlaceholder[] = L"输入密码即可解锁！";
inline constexpr wchar_t kSetupPlaceholder[] = L"输入密码即可进入设置！";

inline constexpr unsigned kVkF2 = 113;
inline constexpr unsigned kVkF3 = 114;

enum class BoxOutcome {
  None,
  Unlock,      // the unlock box holds the password: end the program
  EnterSetup,  // the setup box holds the password: leave the lock for the setup window
};

// Guesses, as the try limit counts them (lock/try_limit.h). The box checks
// its text at every change, so every text it ever held was tried; what costs
// a guess is a run of new text. A guess starts when a box's text changes to
// something it has not just been through: one character typed at the end of
// an empty box or of what was left after a deletion, or any other new text
// (typed over a selection, into the middle, pasted). It ends when the text
// changes other than by one character typed at its end (select-and-type,
// Backspace, Ctrl+Backspace, emptying), or the box goes (F2, F3, a click on
// the background, a refusal). Typing the password straight through is thus
// one guess that never fails; its prefixes are not guesses of their own, and
// neither is what a deletion leaves, since the box held all of it on the way
// to the guess it ends.
struct EditStep {
  bool ended = false;    // the guess in progress ended (it failed, unless the new text opens)
  bool started = false;  // the new text starts a guess
  bool operator==(const EditStep&) const = default;
};
// A box's text goes from `before` to `after` (the placeholder counts as
// empty); `guessing`: a guess is in progress.
EditStep ClassifyEdit(bool guessing, std::wstring_view before, std::wstring_view after);

enum class GuessNews { Started, Ended };

struct BoxState {
  bool visible = false;
  std::wstring text;
  bool masked = false;  // password character "*"
};

class PasswordBoxes {
 public:
  // `password` is Text7, the deciphered password.
  explicit PasswordBoxes(std::wstring password);

  // F2 / F3 from the form or either box; other keys do nothing.
  BoxOutcome KeyDown(unsigned vk);
  // A click into a box: an untouched placeholder gives way to an empty box.
  BoxOutcome Click(Box box);
  // The box's text changed (typed, or set by the window).
  BoxOutcome Change(Box box, const std::wstring& text);
  // A click on the background hides the unlock box.
  void BackgroundClick();
  // While refused (too many failed guesses), both boxes are hidden and F2,
  // F3 and clicks do nothing.
  void SetRefused(bool refused);
  bool refused() const { return refused_; }
  // The guesses that started and ended since the last call, in order.
  std::vector<GuessNews> TakeGuessNews();

  const BoxState& state(Box box) const { return box == Box::Unlock ? text9_ : text10_; }
  // After a match every further event is ignored: the window is on its way out.
  bool finished() const { return finished_; }

 private:
  BoxState& at(Box box) { return box == Box::Unlock ? text9_ : text10_; }
  void CallUp(Box box);
  void Hide(Box box);
  // The box goes: a guess in progress ends.
  void EndGuess(Box box);

  std::wstring password_;
  BoxState text9_;
  BoxState text10_;
  bool finished_ = false;
  bool refused_ = false;
  bool guessing_[2] = {false, false};  // a guess is in progress in the box
  std::vector<GuessNews> news_;
};

const wchar_t* Placeholder(Box box);

// Whether `typed` opens a lock whose deciphered password is `password`. An
// empty box never opens anything: a stored password that deciphers to
// nothing would otherwise be opened by a click into the box.
bool PasswordOpens(const std::wstring& typed, const std::wstring& password);

}  // namespace tolvane
