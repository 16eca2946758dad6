// For Windows tests whose lock window lives on the test's own thread: waits
// that run the thread's messages through the program's gate for keyboard
// input, as its message loop does.
#pragma once
#include <windows.h>

#include <functional>

#include "lock/typed_keys_win.h"

namespace tolvane {

inline constexpr DWORD kLockPumpPatienceMs = 15000;  // generous: two cores shared with others

// Runs the thread's messages (the window's timers, the drive watch's
// results, keys) until `done` holds; false when it never did.
inline bool PumpUntil(const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > kLockPumpPatienceMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (LockTakesInput(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

}  // namespace tolvane
