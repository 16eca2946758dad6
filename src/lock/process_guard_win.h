// Security descriptors that leave the user's session no way to end, suspend,
// write into or inject into the lock's and the watchdog's processes and
// threads. SYSTEM and the Administrators group keep full access, so an
// elevated administrator (the uninstaller's helper) can still end them; the
// owner is named by an OWNER RIGHTS entry, which takes away the owner's
// implicit right to rewrite the descriptor. Everyone keeps waiting on the
// processes and asking their names (Task Manager still lists them).
//
// The lock and its watchdog reach each other only through handles made
// before a descriptor applies or handed over by duplication: an access
// check happens when a handle is opened, never when it is used.
#pragma once
#include <windows.h>

namespace tolvane {

// Puts the guarded descriptor on a process or thread handle that carries
// WRITE_DAC (the handle CreateProcess returns does). False on failure.
bool GuardProcess(HANDLE process);
bool GuardThread(HANDLE thread);

// Guards this process and every thread it has now. Threads started later
// (by the program or by a system library) are caught by the next call, so
// the lock calls it on its tick.
void GuardThisProcess();

}  // namespace tolvane
