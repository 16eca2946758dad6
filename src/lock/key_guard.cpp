#include "lock/key_guard.h"

namespace tolvane {
namespace {

bool IsKeyboardMessage(std::uint32_t m) {
  return m == kMsgKeyDown || m == kMsgKeyUp || m == kMsgSysKeyDown || m == kMsgSysKeyUp;
}

bool IsSysMessage(std::uint32_t m) { return m == kMsgSysKeyDown || m == kMsgSysKeyUp; }

}  // namespace

bool IsBlockedKey(const KeyEvent& e) {
  if (!IsKeyboardMessage(e.message)) return false;
  // Alt held: the flag bit, as Windows reports it. Wine delivers Alt+Tab,
  // Alt+Esc and Alt+F4 as WM_SYSKEYDOWN/WM_SYSKEYUP but leaves LLKHF_ALTDOWN
  // clear, so for these three keys a system-key message counts as Alt held
  // too. (The only other source of system-key messages is F10, not one of them.)
  const bool alt = (e.flags & kFlagAltDown) != 0 || IsSysMessage(e.message);
  switch (e.vk) {
    case kVkTab:
    case kVkF4:
      return alt;
    case kVkEscape:
      return alt || e.ctrl_held;
    case kVkLeftWin:
    case kVkRightWin:
    case kVkApps:
    case kVkSleep:
    case kVk255:
    // PrtScn opens the screen-snip overlay above every window on current
    // versions; with left Alt and left Shift it toggles high contrast.
    case kVkSnapshot:
      return true;
    default:
      // Browser, volume, media and launch keys: the shell acts on them
      // itself, starting a browser, mail or media program, or showing its
      // flyouts above the lock.
      return e.vk >= kVkBrowserBack && e.vk <= kVkLaunchApp2;
  }
}

bool KeyGuard::Decide(std::uint32_t message, std::uint32_t vk, std::uint32_t flags, bool ctrl_down_now) {
  if (!IsKeyboardMessage(message)) return false;
  const bool down = message == kMsgKeyDown || message == kMsgSysKeyDown;
  if (vk == kVkLeftControl) left_ctrl_ = down;
  if (vk == kVkRightControl) right_ctrl_ = down;
  if (vk == kVkControl) left_ctrl_ = right_ctrl_ = down;  // injected input may carry the generic code
  KeyEvent e;
  e.message = message;
  e.vk = vk;
  e.flags = flags;
  e.ctrl_held = ctrl_down_now || ctrl_seen_down();
  // Codes outside a byte are not keys the system tracks; they go by the table.
  if (vk >= kKeyCount) return IsBlockedKey(e);
  Press& press = press_[vk];
  if (!down) {
    // A release with no record (its press came before the hook, or while
    // Windows had dropped it) belongs to a press the system saw.
    const bool swallow = press == Press::Swallowed;
    press = Press::None;
    return swallow;
  }
  const bool blocked = IsBlockedKey(e);
  // A repeat keeps what its first press got: a key down for the system stays
  // down for it until its release, and a repeat that is blocked is swallowed
  // all the same (Tab held, then Alt: its repeats are Alt+Tab).
  if (press == Press::None) press = blocked ? Press::Swallowed : Press::Passed;
  return blocked || press == Press::Swallowed;
}

CloseAnswer AnswerClose(UnloadMode mode) {
  CloseAnswer a;
  a.refuse = mode != UnloadMode::Code && mode != UnloadMode::Windows;
  a.release_hook = mode == UnloadMode::Code;
  return a;
}

}  // namespace tolvane
