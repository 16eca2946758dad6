// The running copies of one exe, by its file name, through the system's
// process and thread snapshots.
#pragma once
#include <windows.h>

#include <string>

#include "installer/stop_running.h"

namespace tolvane {

class SystemRunningCopies : public RunningCopies {
 public:
  // exe_name: the file name alone ("tolvane.exe"), matched in any case.
  explicit SystemRunningCopies(std::wstring exe_name) : exe_name_(std::move(exe_name)) {}
  std::vector<std::uint32_t> List() override;
  void Suspend(std::uint32_t id) override;
  void End(std::uint32_t id) override;
  void Pause(int ms) override { Sleep(static_cast<DWORD>(ms)); }

 private:
  std::wstring exe_name_;
};

}  // namespace tolvane
