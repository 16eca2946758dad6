// The guardian service's decisions, apart from Windows: when a lock is due,
// when to start one, when to stand down, and what to do with the user's
// "no Task Manager" policy value. The Windows half feeds it events and does
// what the returned actions say.
//
// A lock is due at logon, at service start with a user at the console, and
// whenever a lock announces itself; it stays due until a way out that the
// service has checked itself. While a lock is due and no lock runs, one is
// started at once and then at most once a second; a start that fails
// disconnects the session, so that Windows' own sign-in stands in front.
// A console that shows the sign-in screen (no user logged on, switch user,
// log-off) is left alone: there is nobody to start a lock for, and Windows'
// own sign-in already stands in front.
#pragma once
#include <cstdint>

namespace tolvane {

enum class GuardState {
  Idle,      // nothing to guard: no configured lock, or no user at the console
  Guarding,  // a lock must be up
  Open,      // a checked way out opened the lock
};

enum class SessionEvent { Logon, ConsoleConnect, Unlock, Logoff, Other };

struct GuardActions {
  bool start_lock = false;          // start a lock in the console session
  bool end_lock = false;            // end the lock that made a claim that did not hold
  bool disconnect = false;          // no lock could be started: disconnect the session
  bool report_failure = false;      // the first failed start of a run of them: say so in the log
  bool block_task_manager = false;  // set the user's DisableTaskMgr (see DecideBlock)
  bool free_task_manager = false;   // remove it again (see DecideFree)
};

class Guardian {
 public:
  // Time between two starts of a lock: a lock that cannot come up (its
  // program missing, a second instance that ends at once) costs at most one
  // process start a second.
  static constexpr std::uint64_t kRetryMs = 1000;

  GuardActions ServiceStarted(bool configured, bool user_at_console);
  // `same_session`: the console shows the session it showed before.
  GuardActions SessionChanged(SessionEvent event, bool configured, bool same_session);
  // A lock told the service it is up (also "lock now" and relock).
  GuardActions LockAnnounced(bool configured);
  // The service checked a way-out claim of a lock it started itself. One
  // that does not hold ends that lock, whose process may live on (relock in
  // the tray, the setup window), and a new one is due at once.
  GuardActions ClaimChecked(bool verified, bool configured);
  // Every tick and whenever a lock process ends. `lock_running`: a lock the
  // service started runs. `user_at_console`: a user is logged on at the
  // console, not the sign-in screen.
  GuardActions Tick(bool configured, bool lock_running, bool user_at_console, std::uint64_t now_ms);
  // What came of the start the last actions asked for.
  GuardActions StartResult(bool started);

  GuardState state() const { return state_; }

 private:
  GuardActions Guard();

  GuardState state_ = GuardState::Idle;
  bool attempted_ = false;
  std::uint64_t last_attempt_ms_ = 0;
  bool failing_ = false;
};

// What to do with the DisableTaskMgr value of the user at the console. The
// service records the users whose value it wrote; a value it did not write
// (an administrator's policy) is never changed or removed.
struct PolicyChange {
  bool write = false;   // write DisableTaskMgr = 1
  bool remove = false;  // delete the value
  bool record = false;  // note the value as the service's own
  bool forget = false;  // drop that note
};
PolicyChange DecideBlock(bool value_present, bool recorded_as_ours);
PolicyChange DecideFree(bool value_present, bool recorded_as_ours);

}  // namespace tolvane
