// What the guardian service's record in the service control manager says:
// where it is installed, and so which copy of the program is the installed
// one. Only an administrator can change that record, so a copy of the
// program elsewhere, or a program the user starts, cannot make itself the
// installed lock or the service.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace tolvane {

inline constexpr wchar_t kGuardServiceName[] = L"TolvaneGuard";
// The lock program the service starts: beside the service's own exe.
inline constexpr wchar_t kGuardedLockName[] = L"tolvane.exe";
// The switch the service starts its lock with. It gives the lock no trust:
// the service believes only the processes it started itself, whatever their
// command line; a copy started with it by anyone else simply locks as a
// portable copy does.
inline constexpr wchar_t kGuardStartSwitch[] = L"--guarded";

// The service's exe as recorded; "" when there is no service (or no right to
// read its record).
std::wstring GuardServiceImage();
// The installed lock program: kGuardedLockName beside that exe; "" without
// a service.
std::wstring GuardedLockImage();

// Two full paths name the same file (case does not count).
bool SamePath(const std::wstring& a, const std::wstring& b);

// The full image path of `pid`; "" when it cannot be asked.
std::wstring ProcessImage(DWORD pid);

// The server of a connected pipe is the installed service: its process runs
// the recorded service exe, and it runs as SYSTEM. Every Wine process
// shares one token, so the SYSTEM check is a seam the test build can
// replace.
using TokenCheck = std::function<bool(HANDLE pipe, DWORD server_pid)>;
// The pipe's owner is SYSTEM (only SYSTEM, or an administrator, can make an
// object owned by it) and the server runs in session 0, where services run.
// Read from the pipe, not from the server's token, which a standard user
// may not open.
bool ServedBySystem(HANDLE pipe, DWORD server_pid);
bool PipeServerIsGuard(HANDLE pipe, const std::wstring& service_image, const TokenCheck& token_check);
#ifdef TOLVANE_TEST_SEAMS
void SetGuardTokenCheckForTests(TokenCheck check);
#endif
// The check the lock uses: the recorded service and the token check in force.
bool PipeServerIsGuard(HANDLE pipe);

}  // namespace tolvane
