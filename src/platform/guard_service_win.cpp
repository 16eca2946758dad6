#include "platform/guard_service_win.h"

#include <aclapi.h>

#include <vector>

namespace tolvane {
namespace {

TokenCheck& TokenCheckInForce() {
#ifdef TOLVANE_TEST_SEAMS
  // Under Wine no process runs as SYSTEM: the test build checks the image
  // only, unless a test puts the real check back.
  static TokenCheck check = [](HANDLE, DWORD) { return true; };
#else
  static TokenCheck check = ServedBySystem;
#endif
  return check;
}

// The exe of a service command line: quoted, or up to the first blank.
std::wstring ExeOfCommand(const std::wstring& command) {
  if (!command.empty() && command[0] == L'"') {
    const std::size_t end = command.find(L'"', 1);
    return end == std::wstring::npos ? std::wstring() : command.substr(1, end - 1);
  }
  return command.substr(0, command.find(L' '));
}

}  // namespace

std::wstring GuardServiceImage() {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) return {};
  std::wstring image;
  SC_HANDLE service = OpenServiceW(scm, kGuardServiceName, SERVICE_QUERY_CONFIG);
  if (service) {
    DWORD size = 0;
    QueryServiceConfigW(service, nullptr, 0, &size);
    if (size > 0) {
      std::vector<BYTE> buf(size);
      auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
      if (QueryServiceConfigW(service, config, size, &size) && config->lpBinaryPathName) {
        image = ExeOfCommand(config->lpBinaryPathName);
      }
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(scm);
  return image;
}

std::wstring GuardedLockImage() {
  const std::wstring service = GuardServiceImage();
  const std::size_t slash = service.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return service.substr(0, slash + 1) + kGuardedLockName;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                            static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ProcessImage(DWORD pid) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return {};
  wchar_t path[MAX_PATH * 2];
  DWORD size = MAX_PATH * 2;
  const bool ok = QueryFullProcessImageNameW(p, 0, path, &size);
  CloseHandle(p);
  return ok ? std::wstring(path, size) : std::wstring();
}

bool ServedBySystem(HANDLE pipe, DWORD server_pid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &sd) !=
      ERROR_SUCCESS) {
    return false;
  }
  const bool system_owned = owner && IsWellKnownSid(owner, WinLocalSystemSid);
  LocalFree(sd);
  DWORD session = 0xFFFFFFFF;
  return system_owned && ProcessIdToSessionId(server_pid, &session) && session == 0;
}

bool PipeServerIsGuard(HANDLE pipe, const std::wstring& service_image, const TokenCheck& token_check) {
  ULONG pid = 0;
  if (service_image.empty() || !GetNamedPipeServerProcessId(pipe, &pid)) return false;
  return SamePath(ProcessImage(pid), service_image) && token_check(pipe, pid);
}

#ifdef TOLVANE_TEST_SEAMS
void SetGuardTokenCheckForTests(TokenCheck check) { TokenCheckInForce() = std::move(check); }
#endif

bool PipeServerIsGuard(HANDLE pipe) { return PipeServerIsGuard(pipe, GuardServiceImage(), TokenCheckInForce()); }

}  // namespace tolvane
