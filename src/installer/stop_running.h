// Ending the running copies of the installed program before its files are
// replaced or removed. The installer and the uninstaller run this through a
// small helper of their own; the program itself has no switch that ends a
// lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

// One process whose file name is the program's, as the system shows it.
struct ProcessEntry {
  std::uint32_t id = 0;
  std::wstring image;        // its exe's full path, "" when it could not be told
  std::uint32_t session = 0;
};

// Which of the processes the helper ends: those started from the installed
// exe itself (the same full path, in any case) in the session the helper
// runs in. A copy run from another folder (a portable copy, another
// install) is not the installer's to end, nor is one in another user's
// session, where ending it would open that user's desktop; a process whose
// image could not be told is left alone.
bool IsCopyToStop(const ProcessEntry& p, std::wstring_view installed_exe, std::uint32_t own_session);

// The same image path, compared as the file system does for these names:
// ASCII letters in either case.
bool SameImagePath(std::wstring_view a, std::wstring_view b);

// The running copies of one program, as the system shows them.
class RunningCopies {
 public:
  virtual ~RunningCopies() = default;
  // Ids of the copies to end that run now.
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

// The copies of the installed exe among `processes`, and those of it that
// run in other sessions (left running, but they hold the exe open).
struct CopySelection {
  std::vector<std::uint32_t> to_stop;
  std::vector<std::uint32_t> elsewhere;
};
CopySelection SelectCopies(const std::vector<ProcessEntry>& processes, std::wstring_view installed_exe,
                           std::uint32_t own_session);

}  // namespace tolvane
