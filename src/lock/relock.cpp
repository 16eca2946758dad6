#include "lock/relock.h"

#include <algorithm>

#include "drives/drive_list.h"

namespace tolvane {

bool RelockOn(std::wstring_view value) { return value == L"1"; }

AfterUnlock DecideAfterUnlock(bool relock_on, WayOut way, const std::wstring& drive) {
  AfterUnlock next;
  if (way == WayOut::SetupPassword) {
    // The setup password always leads to the setup window, relock or not.
    next.end_program = false;
    next.show_setup = true;
    return next;
  }
  if (!relock_on) return next;
  next.end_program = false;
  if (way == WayOut::KeyDrive) next.watch_drive = drive;
  return next;
}

RelockStep WatchWhileUnlocked(const std::wstring& watched, const WatchTick& tick) {
  RelockStep step;
  if (watched.empty()) {
    // Opened by the password: a key that is plugged in now is the one whose
    // removal locks again.
    if (tick.matched >= 0) step.watched = tick.slots[static_cast<std::size_t>(tick.matched)].drive;
    return step;
  }
  // Only the watched drive's going counts: another key plugged meanwhile
  // does not keep the PC open once the one in use is pulled.
  step.watched = watched;
  step.lock = std::none_of(tick.list.begin(), tick.list.end(),
                           [&](const std::wstring& entry) { return DriveOfEntry(entry) == watched; });
  return step;
}

}  // namespace tolvane
