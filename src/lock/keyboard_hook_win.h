// The lock window's keyboard guard: a system-wide low-level keyboard hook on a
// thread of its own. The thread does nothing but pump its message queue, so
// the hook answers at once however busy the user-interface thread is (a slow
// drive in the drive watch, a picture being decoded). Windows still drops a
// low-level hook without a word when it once answered too late (a paging
// storm is enough), and an install can fail; so the thread retries a failed
// install quickly and, once in place, installs the hook afresh at a steady
// interval: a dropped hook comes back within that interval, and the guard
// goes back to the head of the chain ahead of any hook installed after it.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "lock/lock_system_win.h"

namespace tolvane {

// SetWindowsHookExW, or a stand-in under test.
using HookInstaller = HHOOK(WINAPI*)(int id, HOOKPROC proc, HINSTANCE module, DWORD thread);

class KeyboardHook {
 public:
  static constexpr DWORD kRetryMs = 250;       // after a failed install
  static constexpr DWORD kReinstallMs = 3000;  // with a hook in place

  explicit KeyboardHook(HookInstaller install = SetWindowsHookExW, DWORD reinstall_ms = kReinstallMs)
      : install_(install), reinstall_ms_(reinstall_ms) {}
  KeyboardHook(const KeyboardHook&) = delete;
  KeyboardHook& operator=(const KeyboardHook&) = delete;
  ~KeyboardHook() { Stop(); }

  // Starts the hook thread (through `system`) and waits for its first
  // install. True when the hook is in place; when not, the thread keeps
  // trying until Stop. A thread that could not start leaves running() false:
  // the caller tries again.
  bool Start(LockSystem& system = SystemLockSystem());
  bool running() const { return thread_.joinable(); }
  // Removes the hook and ends its thread (WM_QUIT, then join). Idempotent.
  void Stop();

  bool installed() const { return installed_.load(); }
  // Keyboard events the hook was handed, and those it swallowed.
  std::uint64_t seen() const { return seen_.load(); }
  std::uint64_t swallowed() const { return swallowed_.load(); }
  // Installs that took, the first one included.
  std::uint64_t installs() const { return installs_.load(); }

 private:
  void Run(HANDLE ready);
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp);

  HookInstaller install_;
  DWORD reinstall_ms_;
  GuardedThread thread_;
  std::atomic<DWORD> thread_id_{0};
  std::atomic<bool> installed_{false};
  std::atomic<std::uint64_t> seen_{0};
  std::atomic<std::uint64_t> swallowed_{0};
  std::atomic<std::uint64_t> installs_{0};
};

}  // namespace tolvane
