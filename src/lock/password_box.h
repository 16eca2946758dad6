// The lock window's two password boxes as a state machine: Text9 (unlock) and
// Text10 (enter setup), called up by F2 and F3, shown one at a time, with a
// placeholder in clear and "*" for anything typed. The window mirrors this
// state into its two edit controls and acts on the returned outcome.
#pragma once
#include <string>

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

// What happened to box sessions since the window last asked (see
// lock/try_limit.h): a session's first typed character, and the end of a
// session in which something was typed without opening the lock.
struct SessionNews {
  bool tried = false;
  bool ended = false;
};

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
  // While refused (too many failed sessions), both boxes are hidden and F2,
  // F3 and clicks do nothing.
  void SetRefused(bool refused);
  bool refused() const { return refused_; }
  SessionNews TakeSessionNews();

  const BoxState& state(Box box) const { return box == Box::Unlock ? text9_ : text10_; }
  // After a match every further event is ignored: the window is on its way out.
  bool finished() const { return finished_; }

 private:
  BoxState& at(Box box) { return box == Box::Unlock ? text9_ : text10_; }
  void CallUp(Box box);
  void Hide(Box box);
  // The box's session is over (closed or emptied).
  void EndSession(Box box);

  std::wstring password_;
  BoxState text9_;
  BoxState text10_;
  bool finished_ = false;
  bool refused_ = false;
  bool tried_[2] = {false, false};  // something was typed in the box's current session
  SessionNews news_;
};

const wchar_t* Placeholder(Box box);

// Whether `typed` opens a lock whose deciphered password is `password`. An
// empty box never opens anything: a stored password that deciphers to
// nothing would otherwise be opened by a click into the box.
bool PasswordOpens(const std::wstring& typed, const std::wstring& password);

}  // namespace tolvane
