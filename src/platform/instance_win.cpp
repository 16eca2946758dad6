#include "platform/instance_win.h"


namespace tolvane {
namespace {

// Local\: one instance per session, not per machine; other users' sessions
// have locks of their own.
constexpr wchar_t kMutexName[] = L"Local\\Tolvane.SingleInstance";
constexpr wchar_t kDoorClass[] = L"TolvaneInstanceDoor";
constexpr UINT kWmKnock = WM_APP + 40;

ComeForwardFn g_come_forward = nullptr;

LRESULT CALLBACK DoorProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmKnock) {
    if (g_come_forward) g_come_forward();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void OpenDoor() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = DoorProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kDoorClass;
  RegisterClassExW(&wc);
  CreateWindowExW(0, kDoorClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

}  // namespace

bool ClaimSingleInstance(DWORD wait_ms, ComeForwardFn come_forward) {
  // Held for the life of the process; the system releases it at the end,
  // also when the process is killed (the next owner sees it abandoned).
  static HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
  // Without the mutex the program cannot tell whether it is alone; running
  // is the safe answer, the lock must come up.
  if (!mutex) return true;
  const DWORD w = WaitForSingleObject(mutex, wait_ms);
  if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) {
    g_come_forward = come_forward;
    OpenDoor();
    return true;
  }
  if (HWND door = FindWindowExW(HWND_MESSAGE, nullptr, kDoorClass, nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(door, &pid);
    // This start came from the user, so it may hand its right to the
    // foreground on to the instance that will show its window.
    AllowSetForegroundWindow(pid);
    PostMessageW(door, kWmKnock, 0, 0);
  }
  return false;
}

}  // namespace tolvane
