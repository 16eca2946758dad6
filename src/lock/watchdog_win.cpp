#include "lock/watchdog_win.h"

#include <string>

#include "platform/window_win.h"
#include "lock/watchdog.h"

namespace tolvane {
namespace {

HANDLE g_unlocked = nullptr;  // inheritable manual-reset event, unsignalled while a lock is up
HANDLE g_watchdog = nullptr;  // the watchdog's process

HANDLE AsHandle(std::uint64_t v) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(v)); }
std::uint64_t AsNumber(HANDLE h) { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(h)); }

bool Alive(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// Starts this program with `arguments`, passing on the inheritable handles.
// The caller owns the returned process handle; null on failure.
HANDLE StartSelf(const std::wstring& arguments) {
  const std::wstring exe = ProgramPath();
  if (exe.empty()) return nullptr;
  std::wstring cmd = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  // No busy cursor for a process that never shows a window.
  si.dwFlags = STARTF_FORCEOFFFEEDBACK;
  PROCESS_INFORMATION pi = {};
  const std::wstring folder = ProgramFolder();
  if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si, &pi)) {
    return nullptr;
  }
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

// An inheritable handle to this process that a child can wait on.
HANDLE InheritableSelf() {
  HANDLE self = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                       SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
    return nullptr;
  }
  return self;
}

}  // namespace

void AdoptWatchdog(std::uint64_t unlocked_event, std::uint64_t watchdog_process) {
  HANDLE event = AsHandle(unlocked_event);
  HANDLE watchdog = AsHandle(watchdog_process);
  DWORD info = 0;
  // Values from a command line: use them only if they are what they claim.
  if (!GetHandleInformation(event, &info) || !GetHandleInformation(watchdog, &info)) return;
  if (WaitForSingleObject(event, 0) != WAIT_TIMEOUT || !Alive(watchdog) || GetProcessId(watchdog) == 0) return;
  g_unlocked = event;
  g_watchdog = watchdog;
}

bool ArmWatchdog() {
  if (Alive(g_watchdog)) return true;
  if (g_watchdog) {
    CloseHandle(g_watchdog);
    g_watchdog = nullptr;
  }
  if (!g_unlocked) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    g_unlocked = CreateEventW(&sa, TRUE, FALSE, nullptr);
    if (!g_unlocked) return false;
  }
  HANDLE self = InheritableSelf();
  if (!self) return false;
  g_watchdog = StartSelf(WatchdogArguments(AsNumber(self), AsNumber(g_unlocked)));
  // The watchdog holds its own copy from here on.
  CloseHandle(self);
  return g_watchdog != nullptr;
}

void DisarmWatchdog() {
  if (g_unlocked) {
    // The signal comes before this process ends, so the watchdog, woken by
    // either, always finds it.
    SetEvent(g_unlocked);
    CloseHandle(g_unlocked);
    g_unlocked = nullptr;
  }
  if (g_watchdog) {
    CloseHandle(g_watchdog);
    g_watchdog = nullptr;
  }
}

bool WatchdogArmed() { return g_unlocked != nullptr && Alive(g_watchdog); }

int RunWatchdog(std::uint64_t lock_process, std::uint64_t unlocked_event) {
  HANDLE lock = AsHandle(lock_process);
  HANDLE unlocked = AsHandle(unlocked_event);
  RestartBudget budget;
  for (;;) {
    const HANDLE both[2] = {unlocked, lock};
    if (WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_FAILED) return 1;  // nothing real to watch
    const bool signalled = WaitForSingleObject(unlocked, 0) == WAIT_OBJECT_0;
    // During a log-off or shutdown the system ends the lock itself; starting
    // it again then would only delay the session's end.
    const bool ending = GetSystemMetrics(SM_SHUTTINGDOWN) != 0;
    CloseHandle(lock);
    lock = nullptr;
    while (!lock) {
      switch (DecideWatchdogStep(signalled, ending, budget, GetTickCount64())) {
        case WatchdogStep::End:
          return 0;
        case WatchdogStep::LockOnly:
          LockWorkStation();
          return 0;
        case WatchdogStep::Restart:
          break;
      }
      // The restarted lock reaches this process through its own handle, so
      // it starts no second watchdog, and signals "unlocked" on the same event.
      HANDLE self = InheritableSelf();
      if (self) {
        lock = StartSelf(RestartArguments(AsNumber(unlocked), AsNumber(self)));
        CloseHandle(self);
      }
      LockWorkStation();
      if (!lock) Sleep(1000);  // counted as a restart: a program that cannot start ends in LockOnly
    }
  }
}

}  // namespace tolvane
