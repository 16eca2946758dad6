// One instance of the program per session. The first start holds a named
// mutex in the session's namespace and a message-only "door" window; a later
// start finds the door, makes sure that a copy of this program stands behind
// it, knocks and ends. The running instance decides what a knock does
// (nothing while locked), so a second start never shows a second lock window.
//
// Any program in the session can take the mutex first, or open a window of
// the door's class: a start whose claim fails trusts no door that does not
// prove itself (see instance_win.cpp), and then goes on as the one instance,
// so a configured start still locks.
#pragma once
#include <windows.h>

#include "platform/instance.h"

namespace tolvane {

using ComeForwardFn = void (*)();

// Claims the session for this process, waiting up to `wait_ms` for an
// instance that is just ending (a lock restarted by its watchdog waits for
// the killed one's mutex to be abandoned). When another holds it, looks for
// the door of a running copy of this program that answers for itself.
InstanceClaim ClaimSingleInstance(DWORD wait_ms);

// This process goes on as the instance: later starts find its door, and
// `come_forward` runs on this thread at each of them. Without the mutex the
// door keeps trying to take it, once a second.
void OpenInstanceDoor(ComeForwardFn come_forward);

// After HeldByOurs: tells the copy that proved itself of this start.
void KnockOnRunningInstance();

}  // namespace tolvane
