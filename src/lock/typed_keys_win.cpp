#include "lock/typed_keys_win.h"

#include <iterator>

#include "lock/form2_win.h"
#include "lock/typed_keys.h"

namespace tolvane {
namespace {

// The hook thread writes, the user-interface thread takes.
SRWLOCK g_ledger_lock = SRWLOCK_INIT;
KeyLedger g_ledger;

std::int64_t NowMs() { return static_cast<std::int64_t>(GetTickCount64()); }

std::uint32_t ScanOf(LPARAM lp) { return static_cast<std::uint32_t>((lp >> 16) & 0xFF); }

bool TakeNote(UINT vk, std::uint32_t scan) {
  AcquireSRWLockExclusive(&g_ledger_lock);
  const bool taken = g_ledger.Take(vk, scan, NowMs());
  ReleaseSRWLockExclusive(&g_ledger_lock);
  return taken;
}

// The one message LockTakesInput is dispatching; consumed by the first
// window procedure that asks for it.
struct TypedMark {
  HWND hwnd = nullptr;
  UINT msg = 0;
  WPARAM wp = 0;
  LPARAM lp = 0;
  bool armed = false;
};
thread_local TypedMark t_mark;

void DispatchTyped(const MSG& m) {
  t_mark = {m.hwnd, m.message, m.wParam, m.lParam, true};
  DispatchMessageW(&m);
  t_mark = {};
}

}  // namespace

void NoteKeyDown(const KBDLLHOOKSTRUCT& event) {
  AcquireSRWLockExclusive(&g_ledger_lock);
  g_ledger.Saw(event.vkCode, event.scanCode, event.flags, NowMs());
  ReleaseSRWLockExclusive(&g_ledger_lock);
}

bool TypedByKeyboard(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  TypedMark& m = t_mark;
  if (!m.armed || m.hwnd != hwnd || m.msg != msg || m.wp != wp || m.lp != lp) return false;
  m.armed = false;
  return true;
}

bool LockTakesInput(const MSG& msg) {
  const Form2* lock = TheApp().form2;
  if (!lock || !lock->hwnd() || !msg.hwnd || GetAncestor(msg.hwnd, GA_ROOT) != lock->hwnd()) return false;
  switch (ClassifyQueuedInput(msg.message)) {
    case QueuedInput::Pass:
      return false;
    case QueuedInput::Drop:
      return true;
    case QueuedInput::KeyDown:
      break;
  }
  const UINT vk = static_cast<UINT>(msg.wParam);
  if (!TakeNote(vk, ScanOf(msg.lParam))) return true;
  // The characters of the key, made here rather than by TranslateMessage:
  // it would post them, and a character posted by another program in the
  // meantime could not be told from them. Made as TranslateMessage makes
  // them, from the thread's key state as of this message, so dead keys and
  // AltGr work as anywhere else. No character for a system key (Alt held).
  wchar_t chars[8] = {};
  int count = 0;
  if (msg.message == WM_KEYDOWN) {
    BYTE state[256] = {};
    if (GetKeyboardState(state)) {
      count = ToUnicodeEx(vk, ScanOf(msg.lParam), state, chars, static_cast<int>(std::size(chars)), 0,
                          GetKeyboardLayout(0));
    }
  }
  DispatchTyped(msg);
  // A dead key (negative count) waits for the next key's character.
  for (int i = 0; i < count; ++i) {
    if (!IsWindow(msg.hwnd)) break;  // the key took the lock down
    MSG ch = msg;
    ch.message = WM_CHAR;
    ch.wParam = chars[i];
    DispatchTyped(ch);
  }
  return true;
}

#ifdef TOLVANE_TEST_SEAMS
bool PostKeyAsKeyboard(HWND hwnd, UINT vk) {
  KBDLLHOOKSTRUCT event = {};
  event.vkCode = vk;
  event.scanCode = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  NoteKeyDown(event);
  return PostMessageW(hwnd, WM_KEYDOWN, vk, 1 | static_cast<LPARAM>(event.scanCode << 16)) != FALSE;
}
#endif

}  // namespace tolvane
