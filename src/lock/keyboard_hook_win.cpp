#include "lock/keyboard_hook_win.h"

#include "lock/key_guard.h"
#include "lock/typed_keys_win.h"

namespace tolvane {
namespace {

// The hook procedure runs on the hook thread only; it reaches its guard
// through these, never through anything the user-interface thread holds.
thread_local KeyboardHook* t_hook = nullptr;
thread_local KeyGuard* t_guard = nullptr;
// Set while the next hook runs: for a moment at each reinstall both hooks of
// this thread are in the chain, and the old one is called from the new one.
thread_local bool t_in_chain = false;

// A full queue can refuse the quit message for a moment; give up after a
// second rather than spin, the join below still ends the thread once it comes.
constexpr int kPostAttempts = 100;

// Once a hook is in place, the keys the system holds down already: pressed
// before it (a Windows key held as the lock comes up), or while Windows had
// dropped the last one. No event reaches the hook before this thread pumps
// its queue again, and the desktop's key state counts an event only once
// the hooks have let it through, so a press still on its way to the hook is
// not taken for one of these.
void NoteKeysDownForTheSystem(KeyGuard& guard) {
  guard.NoteKeysDownForTheSystem(
      [](std::uint32_t vk) { return (GetAsyncKeyState(static_cast<int>(vk)) & 0x8000) != 0; });
}

}  // namespace

bool KeyboardHook::Start(LockSystem& system) {
  if (thread_.joinable()) return installed();
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ready) return false;
  if (!system.StartThread(thread_, [this, ready] { Run(ready); })) {
    CloseHandle(ready);
    return false;
  }
  WaitForSingleObject(ready, INFINITE);
  CloseHandle(ready);
  return installed_.load();
}

void KeyboardHook::Stop() {
  if (!thread_.joinable()) return;
  for (int i = 0; i < kPostAttempts && !PostThreadMessageW(thread_id_.load(), WM_QUIT, 0, 0); ++i) Sleep(10);
  thread_.join();
}

void KeyboardHook::Run(HANDLE ready) {
  MSG msg;
  // Creates this thread's message queue before anyone may post WM_QUIT to it.
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  thread_id_.store(GetCurrentThreadId());
  KeyGuard guard;
  t_hook = this;
  t_guard = &guard;
  HHOOK hook = install_(WH_KEYBOARD_LL, Proc, GetModuleHandleW(nullptr), 0);
  if (hook) {
    installs_.fetch_add(1);
    NoteKeysDownForTheSystem(guard);
  }
  installed_.store(hook != nullptr);
  SetEvent(ready);  // `ready` belongs to Start from here on
  DWORD interval = hook ? reinstall_ms_ : kRetryMs;
  UINT_PTR timer = SetTimer(nullptr, 0, interval, nullptr);
  // The system calls the hook procedure from inside this loop.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
      // The new hook goes in before the old one comes out, so no key slips
      // through between the two. Whether Windows had dropped the old one
      // cannot be asked; removing a dropped hook merely fails.
      HHOOK fresh = install_(WH_KEYBOARD_LL, Proc, GetModuleHandleW(nullptr), 0);
      if (fresh) {
        if (hook) UnhookWindowsHookEx(hook);
        hook = fresh;
        installs_.fetch_add(1);
        NoteKeysDownForTheSystem(guard);
        installed_.store(true);
      }
      const DWORD next = hook ? reinstall_ms_ : kRetryMs;
      if (next != interval) {
        KillTimer(nullptr, timer);
        interval = next;
        timer = SetTimer(nullptr, 0, interval, nullptr);
      }
      continue;
    }
    DispatchMessageW(&msg);
  }
  KillTimer(nullptr, timer);
  if (hook) UnhookWindowsHookEx(hook);
  installed_.store(false);
  t_guard = nullptr;
  t_hook = nullptr;
}

LRESULT CALLBACK KeyboardHook::Proc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && t_hook && t_guard) {
    const auto* e = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
    // Ctrl held, from two sources, either one enough:
    // - GetAsyncKeyState, the desktop's key state. GetKeyState would answer
    //   for this thread's own input queue, which never receives keyboard
    //   input, so it would always say "up". The asynchronous state is the only
    //   one that knows of a Ctrl held since before the hook was installed.
    // - The Ctrl events this hook has seen go by, which do not depend on when
    //   the system updates its key state relative to the LL hook chain.
    // A stale "held" costs at most a swallowed Esc on the lock screen; a
    // missed one would let Ctrl+Esc open the Start menu.
    const bool ctrl_now = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
    t_hook->seen_.fetch_add(1);
    if (t_guard->Decide(static_cast<std::uint32_t>(wp), e->vkCode, e->flags, ctrl_now)) {
      t_hook->swallowed_.fetch_add(1);
      return 1;  // swallowed: the next hook is not called
    }
    // Only a key seen here coming from the keyboard may type into the lock
    // (the injected ones are not noted); once, however many of this
    // thread's hooks it passes.
    if (!t_in_chain && (wp == WM_KEYDOWN || wp == WM_SYSKEYDOWN)) NoteKeyDown(*e);
  }
  const bool outer = !t_in_chain;
  t_in_chain = true;
  const LRESULT next = CallNextHookEx(nullptr, code, wp, lp);
  if (outer) t_in_chain = false;
  return next;
}

}  // namespace tolvane
