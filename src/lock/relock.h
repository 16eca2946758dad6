// What the program does once the lock has opened, and when it locks again.
//
// By default an unlock ends the program: it protects the PC from start-up
// until the key or the password opens it. With "relock" on, it stays in the
// tray instead and locks again when the key drive that opened it is pulled
// out, or at once on "lock now".
#pragma once
#include <string>
#include <string_view>

#include "lock/drive_watch.h"

namespace tolvane {

// Key of section "Option". Only "1" switches it on: anything else, or no key at
// all (a file of an earlier version or a peer), leaves it off.
inline constexpr wchar_t kRelockKey[] = L"relock";
bool RelockOn(std::wstring_view value);
inline const wchar_t* RelockValue(bool on) { return on ? L"1" : L"0"; }

enum class WayOut {
  KeyDrive,        // a drive with the matching key file
  UnlockPassword,  // the unlock box
  SetupPassword,   // the setup box: leads to the setup window
};

struct AfterUnlock {
  bool end_program = true;   // the program ends, as it always has without relock
  bool show_setup = false;   // the setup window comes up
  std::wstring watch_drive;  // the drive whose removal locks again ("E:"), "" for none yet
};

// `drive` is the drive whose key opened the lock (for WayOut::KeyDrive).
AfterUnlock DecideAfterUnlock(bool relock_on, WayOut way, const std::wstring& drive);

// The watch while unlocked with relock on, one step a second (and at once on
// the system's removal announcement), judged on a tick of the drive watch.
// `watched` is the key drive being watched: "" when the lock was opened by
// the password and no key has been seen since.
struct RelockStep {
  bool lock = false;     // the watched key drive is gone: lock again
  std::wstring watched;  // the drive to watch from now on
};
RelockStep WatchWhileUnlocked(const std::wstring& watched, const WatchTick& tick);

}  // namespace tolvane
