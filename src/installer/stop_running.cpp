#include "installer/stop_running.h"

namespace tolvane {

bool StopAllCopies(RunningCopies& copies, const StopLimits& limits) {
  int quiet = 0;
  for (int round = 0; round < limits.max_rounds; ++round) {
    const std::vector<std::uint32_t> found = copies.List();
    if (found.empty()) {
      if (++quiet >= limits.quiet_looks) return true;
      copies.Pause(limits.quiet_pause_ms);
      continue;
    }
    quiet = 0;
    // None of them may end before all of them are held: the first to end
    // would wake its watchdog.
    for (std::uint32_t id : found) copies.Suspend(id);
    for (std::uint32_t id : found) copies.End(id);
    copies.Pause(limits.busy_pause_ms);
  }
  return copies.List().empty();
}

}  // namespace tolvane
