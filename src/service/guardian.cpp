#include "service/guardian.h"

namespace tolvane {

GuardActions Guardian::Guard() {
  GuardActions a;
  if (state_ != GuardState::Guarding) {
    state_ = GuardState::Guarding;
    // A new lock is due: the next tick starts one without waiting out the
    // pause after an earlier start.
    attempted_ = false;
  }
  a.block_task_manager = true;
  return a;
}

GuardActions Guardian::ServiceStarted(bool configured, bool user_at_console) {
  if (configured && user_at_console) return Guard();
  state_ = GuardState::Idle;
  return {};
}

GuardActions Guardian::SessionChanged(SessionEvent event, bool configured, bool same_session) {
  switch (event) {
    case SessionEvent::Logon:
      if (configured) return Guard();
      return {};
    case SessionEvent::ConsoleConnect:
      // Another session at the console has proven nothing yet.
      if (configured && !same_session) return Guard();
      return {};
    case SessionEvent::Logoff: {
      GuardActions a;
      a.free_task_manager = state_ == GuardState::Guarding;
      state_ = GuardState::Idle;
      failing_ = false;
      return a;
    }
    case SessionEvent::Unlock:
    case SessionEvent::Other:
      return {};
  }
  return {};
}

GuardActions Guardian::LockAnnounced(bool configured) {
  if (!configured) return {};
  return Guard();
}

GuardActions Guardian::ClaimChecked(bool verified, bool configured) {
  GuardActions a;
  if (!verified) {
    if (!configured) return a;
    a = Guard();
    attempted_ = false;
    a.end_lock = true;
    return a;
  }
  a.free_task_manager = state_ == GuardState::Guarding;
  state_ = GuardState::Open;
  failing_ = false;
  return a;
}

GuardActions Guardian::Tick(bool configured, bool lock_running, bool user_at_console, std::uint64_t now_ms) {
  GuardActions a;
  if (state_ != GuardState::Guarding) return a;
  if (!configured) {
    // The configuration went away (removed by an administrator): there is
    // no lock to bring back, and nothing a claim could be checked against.
    state_ = GuardState::Idle;
    failing_ = false;
    a.free_task_manager = true;
    return a;
  }
  if (lock_running) return a;
  // The sign-in screen: a start has no token to run under and would only
  // disconnect the console again and again; the lock is started once a
  // user is there, at once.
  if (!user_at_console) {
    attempted_ = false;
    failing_ = false;
    return a;
  }
  if (attempted_ && now_ms - last_attempt_ms_ < kRetryMs) return a;
  attempted_ = true;
  last_attempt_ms_ = now_ms;
  a.start_lock = true;
  return a;
}

GuardActions Guardian::StartResult(bool started) {
  GuardActions a;
  if (started) {
    failing_ = false;
    return a;
  }
  a.disconnect = true;
  a.report_failure = !failing_;
  failing_ = true;
  return a;
}

PolicyChange DecideBlock(bool value_present, bool recorded_as_ours) {
  PolicyChange c;
  if (value_present && !recorded_as_ours) return c;  // an administrator's value
  c.write = true;
  c.record = !recorded_as_ours;
  return c;
}

PolicyChange DecideFree(bool value_present, bool recorded_as_ours) {
  PolicyChange c;
  if (!recorded_as_ours) return c;
  c.remove = value_present;
  c.forget = true;
  return c;
}

}  // namespace tolvane
