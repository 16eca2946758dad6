// Ending every running copy of the program before its files are replaced or
// removed. The installer and the uninstaller run this through a small helper
// of their own; the program itself has no switch that ends a lock.
#pragma once

#include <cstdint>
#include <vector>

namespace tolvane {

// The running copies of one program, as the system shows them.
class RunningCopies {
 public:
  virtual ~RunningCopies() = default;
  // Ids of the copies that run now.
  virtual std::vector<std::uint32_t> List() = 0;
  // Stops every thread of a copy where it is.
  virtual void Suspend(std::uint32_t id) = 0;
  // Ends a copy and waits for it to be gone.
  virtual void End(std::uint32_t id) = 0;
  virtual void Pause(int ms) = 0;
};

struct StopLimits {
  int max_rounds = 100;
  // Looks in a row that must find no copy before the work counts as done:
  // a lock's watchdog may have been between "my lock died" and "start it
  // again" when the last copy ended, and the newcomer takes a moment to show.
  int quiet_looks = 3;
  int quiet_pause_ms = 150;
  int busy_pause_ms = 20;
};

// Ends every copy and looks again until none has come back for a while.
// Each round first suspends every copy it finds and only then ends them: a
// lock and its watchdog each start the other again when it dies alone, and a
// suspended copy cannot. True when no copy is left.
bool StopAllCopies(RunningCopies& copies, const StopLimits& limits = {});

}  // namespace tolvane
