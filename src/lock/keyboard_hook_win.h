// The lock window's keyboard guard: a system-wide low-level keyboard hook on a
// thread of its own. The thread does nothing but pump its message queue, so
// the hook answers at once however busy the user-interface thread is (a slow
// drive in the drive watch, a picture being decoded); an LL hook that keeps the
// system waiting is silently dropped by Windows.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace tolvane {

class KeyboardHook {
 public:
  KeyboardHook() = default;
  KeyboardHook(const KeyboardHook&) = delete;
  KeyboardHook& operator=(const KeyboardHook&) = delete;
  ~KeyboardHook() { Stop(); }

  // Starts the hook thread and waits until it has installed the hook. True
  // when the hook is in place; on failure no thread is left running.
  bool Start();
  // Removes the hook and ends its thread (WM_QUIT, then join). Idempotent.
  void Stop();

  bool installed() const { return installed_.load(); }
  // Keyboard events the hook was handed, and those it swallowed.
  std::uint64_t seen() const { return seen_.load(); }
  std::uint64_t swallowed() const { return swallowed_.load(); }

 private:
  void Run(HANDLE ready);
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp);

  std::thread thread_;
  std::atomic<DWORD> thread_id_{0};
  std::atomic<bool> installed_{false};
  std::atomic<std::uint64_t> seen_{0};
  std::atomic<std::uint64_t> swallowed_{0};
};

}  // namespace tolvane
