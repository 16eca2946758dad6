#include "installer/stop_running_win.h"

#include <tlhelp32.h>

namespace tolvane {
namespace {

bool StillRunning(DWORD id) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!p) return false;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(p, &code) && code == STILL_ACTIVE;
  CloseHandle(p);
  return running;
}

}  // namespace

std::vector<std::uint32_t> SystemRunningCopies::List() {
  std::vector<std::uint32_t> ids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof(pe);
  const DWORD self = GetCurrentProcessId();
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
    // The snapshot names a process by its image even while it is still
    // being created, when it has no module list yet to name it by: a lock
    // that its watchdog started an instant before the watchdog ended can
    // sit there holding the exe.
    if (pe.th32ProcessID != self && _wcsicmp(pe.szExeFile, exe_name_.c_str()) == 0 &&
        StillRunning(pe.th32ProcessID)) {
      ids.push_back(pe.th32ProcessID);
    }
  }
  CloseHandle(snap);
  return ids;
}

void SystemRunningCopies::Suspend(std::uint32_t id) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  THREADENTRY32 te{};
  te.dwSize = sizeof(te);
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID != id) continue;
    if (HANDLE t = OpenThread(THREAD_SUSPEND_RESUME, FALSE, te.th32ThreadID)) {
      SuspendThread(t);
      CloseHandle(t);
    }
  }
  CloseHandle(snap);
}

void SystemRunningCopies::End(std::uint32_t id) {
  HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
  if (!p) return;
  if (TerminateProcess(p, 1)) WaitForSingleObject(p, 5000);
  CloseHandle(p);
}

}  // namespace tolvane
