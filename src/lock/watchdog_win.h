// The lock's watchdog: the program started again in watchdog mode, with no
// window and no tray icon, waiting on the lock's process. A lock that ends
// without its "unlocked" signal (killed, crashed) is started again, and the
// session is locked, at most three times a minute; after that the session is
// only locked.
//
// The two processes share two unnamed handles, passed by inheritance: the
// lock's process (or the watchdog's, for a restarted lock) and the "unlocked"
// event. Nothing outside the two can open either by a name and fake the
// signal. The lock side is a small state: arm before a lock goes up (again
// for every later lock), disarm on every legitimate way out.
#pragma once
#include <windows.h>

#include <cstdint>

namespace tolvane {

// A lock restarted by its watchdog takes over the handles it was given, so
// it does not start a second watchdog. Handles that are not a live process
// and an unsignalled event are ignored (ArmWatchdog then starts a new one).
void AdoptWatchdog(std::uint64_t unlocked_event, std::uint64_t watchdog_process);

// Makes sure a watchdog watches this process: starts one unless a live one
// does. Cheap when one does, so the lock calls it on every topmost tick and
// a killed watchdog is replaced. False when none could be started.
bool ArmWatchdog();

// A legitimate way out: the watchdog ends without restarting anything. The
// next ArmWatchdog starts a new one with a fresh signal.
void DisarmWatchdog();

// True while a watchdog is armed for this process (for tests and the lock).
bool WatchdogArmed();

// The watchdog mode: watches the lock until it ends. Returns the exit code.
int RunWatchdog(std::uint64_t lock_process, std::uint64_t unlocked_event);

}  // namespace tolvane
