// The lock's watchdog: the program started again in watchdog mode, with no
// window and no tray icon, waiting on the lock's process. A lock that ends
// without its "unlocked" signal (killed, crashed), or that stops answering
// (suspended, hung), is started again and the session is locked, however
// often that happens: the first three times a minute at once, then after a
// back-off of at most ten seconds. The lock in turn replaces a watchdog that
// ended or stopped answering.
//
// The watchdog stands apart from the lock: each side starts the other
// through a short-lived copy of the program that starts it and ends, so
// neither is the other's child and ending one's process tree leaves the
// other. Both processes and all their threads carry a descriptor that
// leaves the user no right to end or suspend them (process_guard_win.h).
//
// The two processes share three unnamed handles, passed by inheritance: the
// other side's process, the "unlocked" event and a block of two heartbeat
// counters. Nothing outside the two can open any of them by a name and fake
// the signal or the beat. The lock side is a small state: arm before a lock
// goes up (and on every tick while it stands), disarm on every legitimate
// way out.
#pragma once
#include <windows.h>

#include <cstdint>

#include "lock/watchdog.h"

namespace tolvane {

// A lock restarted by its watchdog takes over the handles it was given, so
// it does not start a second watchdog. Handles that are not a live process,
// an unsignalled event and a heartbeat block are ignored (ArmWatchdog then
// starts a new one).
void AdoptWatchdog(std::uint64_t unlocked_event, std::uint64_t watchdog_process, std::uint64_t beats);

// Makes sure a watchdog watches this process: beats the lock's heartbeat,
// and starts a watchdog unless a live one answers. Cheap when one does, so
// the lock calls it on every tick. False when none could be started.
bool ArmWatchdog();

// A legitimate way out: the watchdog ends without restarting anything. The
// next ArmWatchdog starts a new one with a fresh signal.
void DisarmWatchdog();

// True while a watchdog is armed for this process (for tests and the lock).
bool WatchdogArmed();

// The watchdog mode: watches the lock until it ends legitimately. Returns
// the exit code.
int RunWatchdog(std::uint64_t lock_process, std::uint64_t unlocked_event, std::uint64_t beats);

// The short-lived starter: starts the form it carries, hands the new
// process to its caller and ends. Its exit code is the handle's value in
// the caller (0 on failure).
int RunApart(const Launch& launch);

}  // namespace tolvane
