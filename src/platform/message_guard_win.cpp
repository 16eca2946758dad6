#include "platform/message_guard_win.h"

#include <ntsecapi.h>

#include <algorithm>
#include <vector>

namespace tolvane {
namespace {

WPARAM MakeMark() {
  WPARAM mark = 0;
  // RtlGenRandom: the system's random source, exported by advapi32.
  if (!RtlGenRandom(&mark, sizeof(mark))) {
    // Never expected; without it the mark is merely hard to guess, and the
    // ways out depend on the program's own state anyway.
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    mark = static_cast<WPARAM>(now.QuadPart) ^ (static_cast<WPARAM>(GetCurrentProcessId()) << 16) ^
           reinterpret_cast<WPARAM>(&mark);
  }
  // Zero is what a careless or hostile post puts there most often.
  return mark ? mark : 1;
}

// The windows whose destruction this thread's own DestroyWindow started.
// Only this thread can call DestroyWindow on its windows (the system refuses
// it for another thread's), so the list cannot be forged from outside.
thread_local std::vector<HWND> t_destroying;
thread_local HHOOK t_destroy_hook = nullptr;

LRESULT CALLBACK DestroyWatch(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_DESTROYWND) {
    // Handles of windows long gone (controls, message boxes) do not pile up,
    // and a reused handle is never taken for one being destroyed.
    std::erase_if(t_destroying, [](HWND h) { return !IsWindow(h); });
    t_destroying.push_back(reinterpret_cast<HWND>(wp));
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

bool Destroying(HWND hwnd) {
  return std::find(t_destroying.begin(), t_destroying.end(), hwnd) != t_destroying.end();
}

}  // namespace

bool FromAnotherThread() { return (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_NOTIFY | ISMEX_CALLBACK)) != 0; }

WPARAM OwnPostMark() {
  static const WPARAM mark = MakeMark();
  return mark;
}

bool PostOwn(HWND hwnd, UINT msg) { return PostMessageW(hwnd, msg, OwnPostMark(), 0) != FALSE; }

bool IsOwnPost(WPARAM wp) { return wp == OwnPostMark(); }

void WatchOwnDestroys() {
  if (t_destroy_hook) return;
  t_destroy_hook = SetWindowsHookExW(WH_CBT, DestroyWatch, nullptr, GetCurrentThreadId());
}

bool OwnDestroy(HWND hwnd) {
  // Without the watch (the hook could not be set) a posted forgery cannot be
  // told from the real thing; the program's own teardown must still run.
  if (!t_destroy_hook) return true;
  if (Destroying(hwnd)) return true;
  const HWND root = GetAncestor(hwnd, GA_ROOT);
  return root && root != hwnd && Destroying(root);
}

void ForgetDestroyed(HWND hwnd) { std::erase(t_destroying, hwnd); }

}  // namespace tolvane
