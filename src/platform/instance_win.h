// One instance of the program per session. The first start holds a named
// mutex in the session's namespace and a message-only "door" window; a later
// start knocks on the door and ends. The running instance decides what a
// knock does (nothing while locked), so a second start never shows a second
// lock window.
#pragma once
#include <windows.h>

namespace tolvane {

using ComeForwardFn = void (*)();

// Claims the session for this process, waiting up to `wait_ms` for an
// instance that is just ending (a lock restarted by its watchdog waits for
// the killed one's mutex to be abandoned). True: this is the one instance,
// and `come_forward` runs on its thread at each later start. False: another
// instance holds the session and has been knocked on.
bool ClaimSingleInstance(DWORD wait_ms, ComeForwardFn come_forward);

}  // namespace tolvane
