#include "installer/stop_running_win.h"

#include <tlhelp32.h>

#include <string_view>

namespace tolvane {
namespace {

// The image a process was started from, "" when it cannot be told.
std::wstring ImageOf(DWORD id) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!p) return {};
  std::wstring image(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = static_cast<DWORD>(image.size());
    if (QueryFullProcessImageNameW(p, 0, image.data(), &n)) {
      image.resize(n);
      break;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || image.size() >= 32768) {
      image.clear();
      break;
    }
    image.resize(image.size() * 2);
  }
  CloseHandle(p);
  return image.empty() ? image : CanonicalFilePath(image);
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return path;
  full.resize(got);
  return full;
}

bool StillRunning(DWORD id) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!p) return false;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(p, &code) && code == STILL_ACTIVE;
  CloseHandle(p);
  return running;
}

}  // namespace

std::wstring CanonicalFilePath(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (f == INVALID_HANDLE_VALUE) return FullPath(path);
  std::wstring out(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(f, out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
  if (n >= out.size()) {
    out.resize(n + 1);
    n = GetFinalPathNameByHandleW(f, out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
  }
  CloseHandle(f);
  if (n == 0 || n >= out.size()) return FullPath(path);
  out.resize(n);
  // "\\?\C:\..." and "\\?\UNC\server\...": the names a path without the
  // prefix would have.
  constexpr std::wstring_view kUnc = L"\\\\?\\UNC\\", kLocal = L"\\\\?\\";
  if (std::wstring_view(out).substr(0, kUnc.size()) == kUnc) return L"\\\\" + out.substr(kUnc.size());
  if (std::wstring_view(out).substr(0, kLocal.size()) == kLocal) return out.substr(kLocal.size());
  return out;
}

SystemRunningCopies::SystemRunningCopies(const std::wstring& installed_exe)
    : installed_exe_(CanonicalFilePath(installed_exe)) {
  const auto slash = installed_exe_.find_last_of(L"\\/");
  exe_name_ = slash == std::wstring::npos ? installed_exe_ : installed_exe_.substr(slash + 1);
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &own_session_)) own_session_ = 0;
}

std::vector<std::uint32_t> SystemRunningCopies::List() {
  elsewhere_ = 0;
  std::vector<ProcessEntry> found;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return {};
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof(pe);
  const DWORD self = GetCurrentProcessId();
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
    // The snapshot names a process by its image even while it is still
    // being created, when it has no module list yet to name it by: a lock
    // that its watchdog started an instant before the watchdog ended can
    // sit there holding the exe. The file name only narrows the look; the
    // image's full path and the session decide.
    if (pe.th32ProcessID == self || _wcsicmp(pe.szExeFile, exe_name_.c_str()) != 0 ||
        !StillRunning(pe.th32ProcessID)) {
      continue;
    }
    ProcessEntry e;
    e.id = pe.th32ProcessID;
    e.image = ImageOf(pe.th32ProcessID);
    DWORD session = 0;
    // A session that cannot be told is taken for another user's.
    e.session = ProcessIdToSessionId(pe.th32ProcessID, &session) ? session : ~own_session_;
    found.push_back(std::move(e));
  }
  CloseHandle(snap);
  CopySelection s = SelectCopies(found, installed_exe_, own_session_);
  elsewhere_ = s.elsewhere.size();
  return std::move(s.to_stop);
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
