// The lock's side of the guardian service's pipe. Where the service is
// installed, the lock announces each lock that goes up and, before it ends
// or hides, says which way out it took; the service then checks that itself.
// Where there is no service (the portable program) each call fails at once
// and the lock behaves as without it.
#pragma once
#include <string>

#include "lock/guard_message.h"

namespace tolvane {

// Sends `message` and waits at most `timeout_ms` for the answer. True when
// the service answered "ok". Blocks the caller: use it where the process
// must not end before the service has heard it.
bool TellGuard(const GuardMessage& message, unsigned long timeout_ms);

// "A lock is up", from a thread of its own: the lock's start never waits.
void AnnounceLockToGuard();

}  // namespace tolvane
