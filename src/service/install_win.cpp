#include <string>

#include "platform/window_win.h"
#include "service/console_win.h"
#include "service/service_win.h"

namespace tolvane {
namespace {

constexpr wchar_t kDescription[] = L"在锁屏被结束时把它带回来，并只在核实U盘或密码后放行。";
constexpr DWORD kWaitMs = 20'000;

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE h) : h_(h) {}
  ~ServiceHandle() {
    if (h_) CloseServiceHandle(h_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SC_HANDLE h_;
};

std::wstring EventSourceKey() {
  return std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + kEventSource;
}

bool WaitForState(SC_HANDLE service, DWORD wanted) {
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  SERVICE_STATUS s = {};
  while (QueryServiceStatus(service, &s)) {
    if (s.dwCurrentState == wanted) return true;
    if (wanted == SERVICE_RUNNING && s.dwCurrentState == SERVICE_STOPPED) return false;
    if (GetTickCount64() > deadline) return false;
    Sleep(100);
  }
  return false;
}

// Restarted after 1 s, 1 s and 5 s; the count starts afresh after a day. A
// service that ends with an error code, not only one that crashes, counts.
void SetRecovery(SC_HANDLE service) {
  SC_ACTION actions[3] = {{SC_ACTION_RESTART, 1000}, {SC_ACTION_RESTART, 1000}, {SC_ACTION_RESTART, 5000}};
  SERVICE_FAILURE_ACTIONSW fa = {};
  fa.dwResetPeriod = 24 * 60 * 60;
  fa.cActions = 3;
  fa.lpsaActions = actions;
  ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &fa);
  SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
  SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(kDescription)};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
}

void AddEventSource() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof(types));
  RegCloseKey(key);
}

}  // namespace

int InstallGuardService() {
  ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!scm) return static_cast<int>(GetLastError());
  const std::wstring command = L"\"" + ProgramPath() + L"\"";
  ServiceHandle service(CreateServiceW(scm.get(), kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) {
    if (GetLastError() != ERROR_SERVICE_EXISTS) return static_cast<int>(GetLastError());
    ServiceHandle existing(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!existing) return static_cast<int>(GetLastError());
    // An install over an older one: the same service, pointed at this copy.
    if (!ChangeServiceConfigW(existing.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              command.c_str(), nullptr, nullptr, nullptr, L"LocalSystem", nullptr,
                              kServiceDisplayName)) {
      return static_cast<int>(GetLastError());
    }
    SetRecovery(existing.get());
    AddEventSource();
    if (!StartServiceW(existing.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
      return static_cast<int>(GetLastError());
    }
    return WaitForState(existing.get(), SERVICE_RUNNING) ? 0 : 1;
  }
  SetRecovery(service.get());
  AddEventSource();
  if (!StartServiceW(service.get(), 0, nullptr)) return static_cast<int>(GetLastError());
  return WaitForState(service.get(), SERVICE_RUNNING) ? 0 : 1;
}

int UninstallGuardService() {
  ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return static_cast<int>(GetLastError());
  int rc = 0;
  {
    ServiceHandle service(OpenServiceW(scm.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service) {
      SERVICE_STATUS s = {};
      if (ControlService(service.get(), SERVICE_CONTROL_STOP, &s) || GetLastError() == ERROR_SERVICE_NOT_ACTIVE) {
        WaitForState(service.get(), SERVICE_STOPPED);
      }
      // A service that was not running (or died) left its values behind:
      // they go while the record of them still exists.
      FreeTaskManagers();
      if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        rc = static_cast<int>(GetLastError());
      }
    } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
      rc = static_cast<int>(GetLastError());
    } else {
      FreeTaskManagers();
    }
  }
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey().c_str());
  return rc;
}

}  // namespace tolvane
