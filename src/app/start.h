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
};

// Only a running copy of the program that proved itself is handed the start.
// Anything else holding the session (a program that took the mutex first, a
// copy of ours that does not answer) is no reason to leave the screen open:
// a configuration, or a settings file that may hold one, locks.
StartAction DecideStart(InstanceClaim claim, Configuration configuration);

}  // namespace tolvane
