// The running copies of the installed exe, through the system's process and
// thread snapshots.
#pragma once
#include <windows.h>

#include <string>

#include "installer/stop_running.h"

namespace tolvane {

// The path the file system gives the file at `path` once opened: one name
// for the file however it was reached (another drive letter mapped onto the
// same folder, a short name, a link on the way). `path` itself, made full,
// when the file cannot be opened.
std::wstring CanonicalFilePath(const std::wstring& path);

class SystemRunningCopies : public RunningCopies {
 public:
  // installed_exe: the full path of the installed program.
  explicit SystemRunningCopies(const std::wstring& installed_exe);
  std::vector<std::uint32_t> List() override;
  void Suspend(std::uint32_t id) override;
  void End(std::uint32_t id) override;
  void Pause(int ms) override { Sleep(static_cast<DWORD>(ms)); }

  // Copies of the installed exe that the last look found in other sessions.
  std::size_t elsewhere() const { return elsewhere_; }

 private:
  std::wstring installed_exe_;
  std::wstring exe_name_;  // the file name alone, as the snapshot gives it
  DWORD own_session_ = 0;
  std::size_t elsewhere_ = 0;
};

}  // namespace tolvane
