// What the guardian service does to the console session: find its user,
// start the lock in it, find the lock's processes, disconnect it, and set or
// clear the user's "no Task Manager" policy value.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace tolvane {

// The session at the console and the string SID of its user; the SID is
// empty when no user is logged on there.
struct ConsoleUser {
  DWORD session = 0xFFFFFFFF;
  std::wstring sid;
};
ConsoleUser CurrentConsoleUser();

// The lock program the service starts (beside the service's exe).
std::wstring LockExePath();

// Starts the lock in the console session as its user, on the user's
// desktop, with a security descriptor that gives the user no right to end,
// suspend or change it. The caller owns the returned process handle; null
// on failure (no session, no token).
HANDLE StartLockInConsole();

// Hands the console over to Windows' own sign-in.
void DisconnectConsole(DWORD session);

// DisableTaskMgr under HKEY_USERS\<sid>\...\Policies\System, set only where
// no one else set it, and removed only where the service set it.
void BlockTaskManager(const std::wstring& sid);
// Removes every such value the service recorded as its own.
void FreeTaskManagers();

}  // namespace tolvane
