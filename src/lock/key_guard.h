// The keyboard guard's decisions: which key strokes the lock window swallows
// while it is up, and which close requests it refuses. Portable, so the tables
// can be checked without a desktop; the hook and the window procedure only ask.
#pragma once
#include <cstdint>

namespace tolvane {

// Keyboard messages a low-level hook is handed (wParam), and the key codes the
// guard looks at. The values are the platform's.
inline constexpr std::uint32_t kMsgKeyDown = 0x0100;
inline constexpr std::uint32_t kMsgKeyUp = 0x0101;
inline constexpr std::uint32_t kMsgSysKeyDown = 0x0104;
inline constexpr std::uint32_t kMsgSysKeyUp = 0x0105;

inline constexpr std::uint32_t kVkTab = 9;
inline constexpr std::uint32_t kVkEscape = 27;
inline constexpr std::uint32_t kVkF4 = 115;
inline constexpr std::uint32_t kVkLeftWin = 91;
inline constexpr std::uint32_t kVkRightWin = 92;
inline constexpr std::uint32_t kVkApps = 93;
inline constexpr std::uint32_t kVkSleep = 95;
inline constexpr std::uint32_t kVk255 = 255;
inline constexpr std::uint32_t kVkControl = 17;
inline constexpr std::uint32_t kVkLeftControl = 0xA2;
inline constexpr std::uint32_t kVkRightControl = 0xA3;
inline constexpr std::uint32_t kVkSnapshot = 0x2C;       // PrtScn
inline constexpr std::uint32_t kVkBrowserBack = 0xA6;    // first of the browser, media and launch keys
inline constexpr std::uint32_t kVkLaunchApp2 = 0xB7;     // last of them

// Bit of the event's flags that says Alt was held (LLKHF_ALTDOWN).
inline constexpr std::uint32_t kFlagAltDown = 0x20;

// One event as the hook sees it.
struct KeyEvent {
  std::uint32_t message = kMsgKeyDown;  // kMsgKeyDown ... kMsgSysKeyUp
  std::uint32_t vk = 0;
  std::uint32_t flags = 0;
  bool ctrl_held = false;
};

// True when the event is one of the blocked key strokes: Alt+Tab, Alt+Esc,
// Alt+F4, Ctrl+Esc (with or without Shift), either Windows key, the
// context-menu key, Sleep, code 255, PrtScn and the browser, media and launch
// keys (VK_BROWSER_BACK to VK_LAUNCH_APP2). Down and up halves alike; Alt,
// Ctrl and Shift themselves always pass. Messages other than the four keyboard
// messages pass.
bool IsBlockedKey(const KeyEvent& e);

// The hook thread's view of the keyboard: the blocked-keys decision, Ctrl as
// seen in the hook's own stream of events, and for each key whether the
// system saw its press. Lives on the hook thread only.
//
// A release goes the way its press went. Swallowing the release of a key
// whose press the system saw leaves that key down for the system: a Windows
// key held as the lock comes up would stay down, and every key let through
// afterwards would act as Windows+Tab, Windows+R. Letting through the
// release of a swallowed press is as wrong the other way (a Tab held from
// Alt+Tab released after Alt would reach the system alone).
class KeyGuard {
 public:
  // `ctrl_down_now` is the system's answer for Ctrl at the time of the event.
  // Returns true when the event is to be swallowed.
  bool Decide(std::uint32_t message, std::uint32_t vk, std::uint32_t flags, bool ctrl_down_now);

  // Keys the system holds down already (pressed before the hook was in
  // place, or while Windows had dropped it): `down_now(vk)` answers for the
  // system. Their releases, and only theirs among the keys the guard has no
  // record of, are then known to belong to a press the system saw; their
  // repeats are not taken for fresh presses. Keys the guard has a record of
  // keep it.
  template <typename DownNow>
  void NoteKeysDownForTheSystem(DownNow&& down_now) {
    for (std::uint32_t vk = 1; vk < kKeyCount; ++vk) {
      if (press_[vk] == Press::None && down_now(vk)) press_[vk] = Press::Passed;
    }
  }

  bool ctrl_seen_down() const { return left_ctrl_ || right_ctrl_; }

 private:
  static constexpr std::uint32_t kKeyCount = 256;
  // What became of the press of a key that is down now.
  enum class Press : std::uint8_t { None, Passed, Swallowed };

  bool left_ctrl_ = false;
  bool right_ctrl_ = false;
  Press press_[kKeyCount] = {};
};

// Where a close request comes from, numbered as the form's unload modes.
enum class UnloadMode {
  Menu = 0,         // the window's own close command: system menu Close, Alt+F4, WM_CLOSE
  Code = 1,         // the program itself destroys the window
  Windows = 2,      // shutdown or log-off
  TaskManager = 3,  // ended from outside
  MdiParent = 4,    // a parent form closing
  Owner = 5,        // an owner form closing
};

struct CloseAnswer {
  bool refuse = false;       // the request is answered "no"
  bool release_hook = false; // the window goes: the keyboard hook goes with it
};

// Only the program's own code takes the lock window down (the setup password).
// A shutdown or log-off is not vetoed, a veto would only hold the session
// hostage, but the window and its guards stay until the system really ends
// the process: the end-of-session messages can be cancelled, or sent by any
// other program. Every other close is refused.
CloseAnswer AnswerClose(UnloadMode mode);

}  // namespace tolvane
