// The guardian service: a small program of its own (tolvane_service.exe)
// that runs as LocalSystem, outside the reach of the user's account, and
// brings the lock back in the console session whenever it ends without a
// way out the service has checked itself. See guardian.h for its decisions
// and claims.h for its checks.
#pragma once
#include <windows.h>

#include <string>

#include "platform/guard_service_win.h"

namespace tolvane {

inline constexpr const wchar_t* kServiceName = kGuardServiceName;
inline constexpr wchar_t kServiceDisplayName[] = L"Tolvane 守护服务";
inline constexpr wchar_t kEventSource[] = L"Tolvane";
inline constexpr const wchar_t* kLockExeName = kGuardedLockName;

// Runs as the service (started by the service control manager). Returns
// the exit code; fails at once when not started as a service.
int RunGuardService();

// Creates (or updates) the service, its recovery actions and event source,
// and starts it. 0 on success.
int InstallGuardService();

// Stops and deletes the service, removes the Task Manager values it wrote
// and its event source. 0 on success, also when there was no service.
int UninstallGuardService();

// A line in the Windows event log (source "Tolvane").
void LogGuardEvent(WORD type, const std::wstring& text);

}  // namespace tolvane
