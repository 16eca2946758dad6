#include "config/elevation_win.h"

#include <shellapi.h>

#include "config/elevated_write.h"
#include "config/file_handle_win.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "platform/lazy_dll_win.h"
#include "platform/window_win.h"

namespace tolvane {

namespace {

HWND PromptOwner() {
  // The prompt comes up in front of the window that asked; a tray menu's
  // write has none of its own, so a foreground window of ours stands in.
  HWND owner = GetActiveWindow();
  if (owner) return owner;
  HWND foreground = GetForegroundWindow();
  DWORD pid = 0;
  if (foreground) GetWindowThreadProcessId(foreground, &pid);
  return pid == GetCurrentProcessId() ? foreground : nullptr;
}

// Asks for `access` on an existing file or folder and lets go at once.
// False only when the system denied the access.
bool Grants(const std::wstring& path, DWORD access, DWORD flags) {
  Handle h(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, flags, nullptr));
  return h.valid() || GetLastError() != ERROR_ACCESS_DENIED;
}

}  // namespace

std::optional<int> RunElevatedInstance(const std::wstring& exe, const std::wstring& argument, const wchar_t* verb) {
  // shell32 is mapped only for a write that needs it: the lock never does.
  static auto* const shell_execute = LazyFn<BOOL WINAPI(SHELLEXECUTEINFOW*)>(L"shell32.dll", "ShellExecuteExW");
  if (!shell_execute || exe.empty()) return std::nullopt;
  // The request has no blank and no quote (see EncodeSettingsRequest), so
  // the two arguments need no quoting.
  const std::wstring parameters = std::wstring(kElevatedWriteSwitch) + L" " + argument;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = PromptOwner();
  info.lpVerb = verb;
  info.lpFile = exe.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  // The prompt's "no" comes back as ERROR_CANCELLED: nothing ran.
  if (!shell_execute(&info) || !info.hProcess) return std::nullopt;
  // No bound: the instance does one small write, and a save must not give
  // up (and put the old key back) while it may still write.
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  const BOOL got = GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  if (!got) return std::nullopt;
  return static_cast<int>(code);
}

void InstallSettingsElevator() {
  SetSettingsElevator([exe = ProgramPath()](const std::wstring& argument) {
    return RunElevatedInstance(exe, argument);
  });
}

bool CanWriteSettingsFile() {
  const std::wstring path = SettingsFilePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return true;
  // A folder handle needs backup semantics; the backup privilege itself is
  // not enabled in this process, so the folder's own rules decide.
  const std::wstring folder = path.substr(0, slash <= 2 ? slash + 1 : slash);  // "C:\" keeps its slash
  if (!Grants(folder, FILE_ADD_FILE, FILE_FLAG_BACKUP_SEMANTICS)) return false;
  if (!PathExists(path) || IsReadOnlyFile(path)) return true;
  return Grants(path, FILE_WRITE_DATA | DELETE, FILE_ATTRIBUTE_NORMAL);
}

}  // namespace tolvane
