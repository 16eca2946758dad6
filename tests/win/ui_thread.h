// A window made and served on a thread of its own, as the program's one user
// interface thread would serve it, for the Windows tests; and a patient wait
// for what that thread does.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <thread>

#include "lock/typed_keys_win.h"

namespace tolvane {

inline constexpr DWORD kUiPatienceMs = 15000;  // generous: two cores shared with others

// The test thread then behaves like the rest of the system, sending the
// window messages with a time limit.
class UiThread {
 public:
  explicit UiThread(std::function<HWND()> create) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, create, ready] {
      MSG msg;
      PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
      id_ = GetCurrentThreadId();
      hwnd_ = create();
      SetEvent(ready);
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!msg.hwnd && msg.message == kRun) {
          std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(msg.lParam));
          (*fn)();
          continue;
        }
        if (LockTakesInput(msg)) continue;  // as the program's own loop
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
  }
  ~UiThread() {
    PostThreadMessageW(id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND hwnd() const { return hwnd_; }
  DWORD id() const { return id_; }
  // Runs `fn` on the window's thread; returns at once.
  void Post(std::function<void()> fn) {
    PostThreadMessageW(id_, kRun, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(fn))));
  }

 private:
  static constexpr UINT kRun = WM_APP + 77;
  std::thread thread_;
  DWORD id_ = 0;
  HWND hwnd_ = nullptr;
};

// Polls `done` for up to kUiPatienceMs.
inline bool Eventually(const std::function<bool()>& done) {
  for (DWORD waited = 0; waited < kUiPatienceMs; waited += 50) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

}  // namespace tolvane
