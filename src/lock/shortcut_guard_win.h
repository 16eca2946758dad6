// The accessibility shortcut guard on the system: SystemParametersInfo for
// the five features, and the state file in the user's local application data.
#pragma once
#include <windows.h>

#include <string>

#include "lock/shortcut_guard.h"

namespace tolvane {

// SystemParametersInfoW, or a stand-in under test.
using SystemParametersFn = BOOL(WINAPI*)(UINT action, UINT param, PVOID data, UINT win_ini);

// Reads and writes each feature's flags word through its own structure. A
// write reads the whole structure first and changes only dwFlags: the
// timings and the high-contrast scheme stay as they are. Writes go to the
// running session only, never to the user's profile, so a lock that dies
// without putting the flags back costs the user nothing past the session.
class SystemShortcutSettings : public ShortcutSettings {
 public:
  explicit SystemShortcutSettings(SystemParametersFn spi = SystemParametersInfoW) : spi_(spi) {}
  bool Read(Shortcut s, std::uint32_t& flags) override;
  bool Write(Shortcut s, std::uint32_t flags) override;

 private:
  SystemParametersFn spi_;
};

// The state file at a path; the folder is made on the first save.
class ShortcutStateFileAt : public ShortcutStateFile {
 public:
  explicit ShortcutStateFileAt(std::wstring path) : path_(std::move(path)) {}
  bool Load(std::string& text) override;
  bool Save(const std::string& text) override;
  void Remove() override;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// %LOCALAPPDATA%\Tolvane\<name>: where the lock keeps what must outlive
// it (the state file below, the count of failed password tries); empty when
// the folder is unknown.
std::wstring LocalStatePath(const wchar_t* name);

// %LOCALAPPDATA%\Tolvane\shortcuts.txt; empty when the folder is unknown.
std::wstring ShortcutStatePath();

// The guard as the lock window uses it: the system's settings and the state
// file in the user's local application data.
class SystemShortcutGuard {
 public:
  explicit SystemShortcutGuard(SystemParametersFn spi = SystemParametersInfoW)
      : settings_(spi), file_(ShortcutStatePath()), guard_(settings_, file_) {}
  void RecoverLeftover() { guard_.RecoverLeftover(); }
  void Engage() { guard_.Engage(); }
  void Release() { guard_.Release(); }
  bool engaged() const { return guard_.engaged(); }

 private:
  SystemShortcutSettings settings_;
  ShortcutStateFileAt file_;
  ShortcutGuard guard_;
};

}  // namespace tolvane
