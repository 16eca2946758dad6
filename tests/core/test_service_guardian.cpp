#include <gtest/gtest.h>

#include "service/guardian.h"

namespace tolvane {
namespace {

TEST(Guardian, ALockIsDueAtServiceStartOnlyWithAConfigurationAndAUser) {
  const struct {
    bool configured, user;
    GuardState state;
  } cases[] = {
      {true, true, GuardState::Guarding},
      {true, false, GuardState::Idle},
      {false, true, GuardState::Idle},
      {false, false, GuardState::Idle},
  };
  for (const auto& c : cases) {
    Guardian g;
    const GuardActions a = g.ServiceStarted(c.configured, c.user);
    EXPECT_EQ(g.state(), c.state) << c.configured << c.user;
    EXPECT_EQ(a.block_task_manager, c.state == GuardState::Guarding);
    // The start itself comes with the first tick, at once.
    EXPECT_EQ(g.Tick(c.configured, false, true, 5).start_lock, c.state == GuardState::Guarding);
  }
}

TEST(Guardian, SessionChangesThatMakeALockDue) {
  const struct {
    const char* name;
    GuardState before;
    SessionEvent event;
    bool configured, same_session;
    GuardState after;
    bool block, free;
  } cases[] = {
      {"logon", GuardState::Idle, SessionEvent::Logon, true, false, GuardState::Guarding, true, false},
      {"logon, unconfigured", GuardState::Idle, SessionEvent::Logon, false, false, GuardState::Idle, false, false},
      {"logon after an unlock", GuardState::Open, SessionEvent::Logon, true, true, GuardState::Guarding, true, false},
      {"another session at the console", GuardState::Open, SessionEvent::ConsoleConnect, true, false,
       GuardState::Guarding, true, false},
      {"the same session back at the console", GuardState::Open, SessionEvent::ConsoleConnect, true, true,
       GuardState::Open, false, false},
      {"Windows unlocked after an unlock", GuardState::Open, SessionEvent::Unlock, true, true, GuardState::Open, false,
       false},
      {"Windows unlocked while guarding", GuardState::Guarding, SessionEvent::Unlock, true, true, GuardState::Guarding,
       false, false},
      {"logoff while guarding", GuardState::Guarding, SessionEvent::Logoff, true, true, GuardState::Idle, false, true},
      {"logoff after an unlock", GuardState::Open, SessionEvent::Logoff, true, true, GuardState::Idle, false, false},
  };
  for (const auto& c : cases) {
    Guardian g;
    if (c.before != GuardState::Idle) g.ServiceStarted(true, true);
    if (c.before == GuardState::Open) g.ClaimChecked(true, true);
    ASSERT_EQ(g.state(), c.before) << c.name;
    const GuardActions a = g.SessionChanged(c.event, c.configured, c.same_session);
    EXPECT_EQ(g.state(), c.after) << c.name;
    EXPECT_EQ(a.block_task_manager, c.block) << c.name;
    EXPECT_EQ(a.free_task_manager, c.free) << c.name;
  }
}

// A lock killed with everything of the program (Task Manager's end process
// tree, taskkill /f) comes back at once, and a lock that cannot stay up
// (a second instance ending) costs at most one start a second.
TEST(Guardian, AKilledLockComesBackAtOnceThenAtMostOnceASecond) {
  Guardian g;
  g.ServiceStarted(true, true);
  EXPECT_TRUE(g.Tick(true, false, true, 10'000).start_lock);
  EXPECT_FALSE(g.StartResult(true).disconnect);
  EXPECT_FALSE(g.Tick(true, true, true, 10'250).start_lock);  // it runs
  EXPECT_FALSE(g.Tick(true, false, true, 10'500).start_lock);  // killed half a second after its start
  EXPECT_TRUE(g.Tick(true, false, true, 11'000).start_lock);
  EXPECT_FALSE(g.Tick(true, true, true, 30'000).start_lock);
  EXPECT_TRUE(g.Tick(true, false, true, 30'001).start_lock);  // killed long after: at once
}

TEST(Guardian, OnlyACheckedWayOutStandsItDown) {
  Guardian g;
  g.ServiceStarted(true, true);
  g.Tick(true, true, true, 1'000);
  EXPECT_FALSE(g.ClaimChecked(false, true).free_task_manager);
  EXPECT_EQ(g.state(), GuardState::Guarding);
  // The lock ends after a claim that did not hold: it comes back.
  EXPECT_TRUE(g.Tick(true, false, true, 3'000).start_lock);
  const GuardActions opened = g.ClaimChecked(true, true);
  EXPECT_TRUE(opened.free_task_manager);
  EXPECT_EQ(g.state(), GuardState::Open);
  EXPECT_FALSE(g.Tick(true, false, true, 9'000).start_lock);  // the lock ended after its way out
  // A lock that goes up again ("lock now", relock) is guarded again, and a
  // start comes at once if it is killed.
  EXPECT_TRUE(g.LockAnnounced(true).block_task_manager);
  EXPECT_EQ(g.state(), GuardState::Guarding);
  EXPECT_TRUE(g.Tick(true, false, true, 9'100).start_lock);
  // An unconfigured program's announcement changes nothing.
  Guardian idle;
  EXPECT_FALSE(idle.LockAnnounced(false).block_task_manager);
  EXPECT_EQ(idle.state(), GuardState::Idle);
}

TEST(Guardian, AFailedStartRetriesEachSecondAndDisconnectsTheSession) {
  Guardian g;
  g.ServiceStarted(true, true);
  ASSERT_TRUE(g.Tick(true, false, true, 0).start_lock);
  GuardActions a = g.StartResult(false);
  EXPECT_TRUE(a.disconnect);
  EXPECT_TRUE(a.report_failure);
  EXPECT_FALSE(g.Tick(true, false, true, 999).start_lock);
  ASSERT_TRUE(g.Tick(true, false, true, 1'000).start_lock);
  a = g.StartResult(false);
  EXPECT_TRUE(a.disconnect);
  EXPECT_FALSE(a.report_failure);  // one log line for a run of failures
  ASSERT_TRUE(g.Tick(true, false, true, 2'000).start_lock);
  EXPECT_FALSE(g.StartResult(true).disconnect);
  ASSERT_TRUE(g.Tick(true, false, true, 3'000).start_lock);
  EXPECT_TRUE(g.StartResult(false).report_failure);  // a new run
}

// The console shows the sign-in screen (switch user, log-off, nobody logged
// on) while a lock is due: nothing is started and the console is never
// disconnected, however long it stays there; the lock comes at once when a
// user is back.
TEST(Guardian, TheSignInScreenIsLeftAlone) {
  Guardian g;
  g.ServiceStarted(true, true);
  ASSERT_TRUE(g.Tick(true, false, true, 0).start_lock);
  ASSERT_TRUE(g.StartResult(false).disconnect);  // a user at the console, no lock: handed to sign-in
  for (std::uint64_t t = 1'000; t <= 10'000; t += 250) {
    const GuardActions a = g.Tick(true, false, false, t);
    EXPECT_FALSE(a.start_lock) << t;
    EXPECT_FALSE(a.disconnect) << t;
    EXPECT_FALSE(a.free_task_manager) << t;
  }
  EXPECT_EQ(g.state(), GuardState::Guarding);
  const GuardActions back = g.Tick(true, false, true, 10'100);
  EXPECT_TRUE(back.start_lock);
  EXPECT_TRUE(g.StartResult(false).report_failure);  // a new run of failures, said again
}

// A claim the service refuses from a lock it started ends that lock, and a
// new one is started at once, also right after a start; without a
// configuration there is no lock to bring back.
TEST(Guardian, ARefusedClaimEndsTheLockAndStartsANewOne) {
  const struct {
    const char* name;
    bool open_before, configured;
    bool end_lock;
    GuardState after;
  } cases[] = {
      {"while guarding", false, true, true, GuardState::Guarding},
      {"after a checked way out (relock)", true, true, true, GuardState::Guarding},
      {"unconfigured", false, false, false, GuardState::Idle},
  };
  for (const auto& c : cases) {
    Guardian g;
    g.ServiceStarted(c.configured, true);
    if (c.configured) ASSERT_TRUE(g.Tick(true, false, true, 1'000).start_lock);
    if (c.open_before) g.ClaimChecked(true, true);
    const GuardActions a = g.ClaimChecked(false, c.configured);
    EXPECT_EQ(a.end_lock, c.end_lock) << c.name;
    EXPECT_FALSE(a.free_task_manager) << c.name;
    EXPECT_EQ(g.state(), c.after) << c.name;
    EXPECT_EQ(g.Tick(c.configured, false, true, 1'100).start_lock, c.end_lock) << c.name;
  }
}

TEST(Guardian, AConfigurationThatGoesAwayEndsTheGuard) {
  Guardian g;
  g.ServiceStarted(true, true);
  const GuardActions a = g.Tick(false, false, true, 100);
  EXPECT_FALSE(a.start_lock);
  EXPECT_TRUE(a.free_task_manager);
  EXPECT_EQ(g.state(), GuardState::Idle);
}

TEST(TaskManagerPolicy, AnAdministratorsValueIsNeverTouched) {
  const struct {
    const char* name;
    bool present, ours;
    PolicyChange block, free;
  } cases[] = {
      {"no value", false, false, {true, false, true, false}, {false, false, false, false}},
      {"an administrator's value", true, false, {false, false, false, false}, {false, false, false, false}},
      {"ours", true, true, {true, false, false, false}, {false, true, false, true}},
      {"ours, removed by someone", false, true, {true, false, false, false}, {false, false, false, true}},
  };
  for (const auto& c : cases) {
    const PolicyChange b = DecideBlock(c.present, c.ours);
    EXPECT_EQ(b.write, c.block.write) << c.name;
    EXPECT_EQ(b.remove, c.block.remove) << c.name;
    EXPECT_EQ(b.record, c.block.record) << c.name;
    EXPECT_EQ(b.forget, c.block.forget) << c.name;
    const PolicyChange f = DecideFree(c.present, c.ours);
    EXPECT_EQ(f.write, c.free.write) << c.name;
    EXPECT_EQ(f.remove, c.free.remove) << c.name;
    EXPECT_EQ(f.record, c.free.record) << c.name;
    EXPECT_EQ(f.forget, c.free.forget) << c.name;
  }
}

}  // namespace
}  // namespace tolvane
