#include "lock/lock_system_win.h"

#include <utility>

namespace tolvane {

bool LockSystem::StartThread(GuardedThread& thread, std::function<void()> body) {
  return thread.Start(std::move(body));
}

void LockSystem::LockSession() { LockWorkStation(); }

bool LockSystem::SessionEnding() { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }

namespace {

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM lp) {
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  if (GetMonitorInfoW(monitor, &mi)) {
    const RECT& r = mi.rcMonitor;
    reinterpret_cast<std::vector<Monitor>*>(lp)->push_back(
        {Rect{r.left, r.top, r.right, r.bottom}, (mi.dwFlags & MONITORINFOF_PRIMARY) != 0});
  }
  return TRUE;
}

}  // namespace

std::vector<Monitor> LockSystem::Monitors() {
  std::vector<Monitor> monitors;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

LockSystem& SystemLockSystem() {
  static LockSystem system;
  return system;
}

}  // namespace tolvane
