// What a start of the program does, from what the claim on the session found
// and what the settings file says.
#pragma once
#include "platform/instance.h"
#include "setup/save_config.h"

namespace tolvane {

enum class StartAction {
  Lock,     // the lock comes up at once (the setup window waits hidden behind it)
  Setup,    // the setup window shows
  Forward,  // a running copy of the program is told of the start; this one ends
  AskGuard, // the installed program: the guardian service is asked for a lock; this one ends
};

// Only a running copy of the program that proved itself is handed the start.
// Anything else holding the session (a program that took the mutex first, a
// copy of ours that does not answer) is no reason to leave the screen open:
// a configuration, or a settings file that may hold one, locks.
//
// `installed_start`: this is the installed program, not started by the
// guardian service. The service is then the lock's only starter, since only
// the locks it started itself count with it; should it not answer, the start
// locks by itself all the same (the caller's part).
StartAction DecideStart(InstanceClaim claim, Configuration configuration, bool installed_start = false);

}  // namespace tolvane
