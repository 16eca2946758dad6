// What the lock asks of the system to come up and stay up, and the call it
// makes when it cannot: the session lock. A lock window or cover the desktop
// refuses, or a keyboard hook thread that cannot start, is tried again on
// the next tick, and until it comes the system locks the session, so the
// screen is never left open for want of one. Tests put a stand-in in
// App::lock_system to refuse windows and threads and to count the calls.
#pragma once
#include <windows.h>

#include <functional>
#include <vector>

#include "lock/lock_layout.h"
#include "lock/process_guard_win.h"
#include "platform/window_win.h"

namespace tolvane {

class LockSystem : public WindowFactory {
 public:
  // Starts `body` on `thread`, guarded from its creation; false when no
  // thread could be started.
  virtual bool StartThread(GuardedThread& thread, std::function<void()> body);
  // LockWorkStation: Windows' own lock screen over the session.
  virtual void LockSession();
  // The monitors the lock and its covers must cover.
  virtual std::vector<Monitor> Monitors();
  // Whether the session is really ending (a log-off or shutdown under way):
  // the end-of-session messages themselves can come from any program.
  virtual bool SessionEnding();
};

LockSystem& SystemLockSystem();

}  // namespace tolvane
