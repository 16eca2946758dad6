#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "installer/stop_running.h"

namespace tolvane {
namespace {

// Copies that behave as a lock and its watchdog do: when one of a pair ends
// while the other still runs, the other starts a new partner (the watchdog a
// new lock, the lock a new watchdog). A suspended copy does nothing. A new
// copy shows in the list only after `show_delay` more looks, as a process
// still being created may not.
class PairedCopies : public RunningCopies {
 public:
  struct Copy {
    bool watchdog = false;
    std::uint32_t partner = 0;
    bool suspended = false;
    int hidden_looks = 0;
  };

  int show_delay = 0;
  int starts = 0;  // copies started by a partner
  std::string log;
  std::map<std::uint32_t, Copy> running;

  std::uint32_t Start(bool watchdog, std::uint32_t partner, int hidden = 0) {
    const std::uint32_t id = next_id_++;
    running[id] = Copy{watchdog, partner, false, hidden};
    if (partner && running.count(partner)) running[partner].partner = id;
    return id;
  }

  void StartPair() {
    const std::uint32_t lock = Start(false, 0);
    Start(true, lock);
  }

  std::vector<std::uint32_t> List() override {
    std::vector<std::uint32_t> ids;
    for (auto& [id, c] : running) {
      if (c.hidden_looks > 0) {
        --c.hidden_looks;
      } else {
        ids.push_back(id);
      }
    }
    log += "L";
    return ids;
  }

  void Suspend(std::uint32_t id) override {
    log += "s";
    if (running.count(id)) running[id].suspended = true;
  }

  void End(std::uint32_t id) override {
    log += "e";
    auto it = running.find(id);
    if (it == running.end()) return;
    const Copy gone = it->second;
    running.erase(it);
    auto partner = running.find(gone.partner);
    if (partner != running.end() && !partner->second.suspended) {
      ++starts;
      Start(gone.watchdog, partner->first, show_delay);
    }
  }

  void Pause(int) override {}

 private:
  std::uint32_t next_id_ = 100;
};

TEST(StopRunning, EndsALockAndItsWatchdogWithoutEitherStartingTheOtherAgain) {
  PairedCopies copies;
  copies.StartPair();
  copies.StartPair();  // a second start's pair, say, or a portable copy's

  EXPECT_TRUE(StopAllCopies(copies));
  EXPECT_TRUE(copies.running.empty());
  EXPECT_EQ(copies.starts, 0);
  // All four held before the first one ends, then three empty looks.
  EXPECT_EQ(copies.log, "LsssseeeeLLL");
}

TEST(StopRunning, ACopyThatShowsLateIsEndedTooAndTheQuietLooksStartAgain) {
  PairedCopies copies;
  // A lock that a watchdog started again just as the watchdog itself was
  // ended: it shows only on the third look.
  copies.Start(false, 0, 2);

  EXPECT_TRUE(StopAllCopies(copies));
  EXPECT_TRUE(copies.running.empty());
  EXPECT_EQ(copies.log, "LLLseLLL");
}

TEST(StopRunning, ACopyThatShowsLaterThanItsPartnerIsEndedAfterIt) {
  PairedCopies copies;
  // The same lock while its watchdog still ran: ending the watchdog alone
  // makes the lock start a new one, and both are ended once they show.
  const std::uint32_t lock = copies.Start(false, 0, 1);
  copies.Start(true, lock);

  EXPECT_TRUE(StopAllCopies(copies));
  EXPECT_TRUE(copies.running.empty());
  EXPECT_EQ(copies.log, "LseLsseeLLL");
}

TEST(StopRunning, GivesUpAndSaysSoWhenCopiesKeepComingBack) {
  // Something outside keeps starting the program: one new copy per look.
  class Respawning : public PairedCopies {
   public:
    std::vector<std::uint32_t> List() override {
      Start(false, 0);
      return PairedCopies::List();
    }
  } copies;
  StopLimits limits;
  limits.max_rounds = 7;

  EXPECT_FALSE(StopAllCopies(copies, limits));
  EXPECT_EQ(std::count(copies.log.begin(), copies.log.end(), 'L'), 8);
}

constexpr wchar_t kInstalled[] = L"C:\\Program Files (x86)\\Tolvane\\tolvane.exe";
constexpr std::uint32_t kOwnSession = 2;

// The processes named tolvane.exe that an administrator's uninstall may meet.
std::vector<ProcessEntry> Table() {
  return {
      {10, L"C:\\Program Files (x86)\\Tolvane\\tolvane.exe", kOwnSession},  // the lock
      {11, L"c:\\PROGRAM FILES (X86)\\tolvane\\TOLVANE.EXE", kOwnSession},  // its watchdog, other case
      {20, L"C:\\Program Files (x86)\\Tolvane\\tolvane.exe", 3},            // another user's lock
      {30, L"D:\\Tools\\Tolvane\\tolvane.exe", kOwnSession},                // a portable copy
      {31, L"C:\\Program Files (x86)\\Tolvane2\\tolvane.exe", kOwnSession}, // a second install
      {32, L"C:\\Program Files (x86)\\Tolvane\\tolvane.exe.bak", kOwnSession},
      {33, L"C:\\Program Files (x86)\\Tolvane\\sub\\tolvane.exe", kOwnSession},
      {40, L"", kOwnSession},                                                  // image not told
  };
}

TEST(StopRunning, OnlyCopiesOfTheInstalledExeInTheOwnSessionAreChosen) {
  const CopySelection s = SelectCopies(Table(), kInstalled, kOwnSession);
  EXPECT_EQ(s.to_stop, (std::vector<std::uint32_t>{10, 11}));
  EXPECT_EQ(s.elsewhere, (std::vector<std::uint32_t>{20}));

  // No installed exe to compare with: nothing is chosen at all.
  const CopySelection none = SelectCopies(Table(), L"", kOwnSession);
  EXPECT_TRUE(none.to_stop.empty());
  EXPECT_TRUE(none.elsewhere.empty());

  // Only ASCII letters fold: the file system's case rules for these names
  // are not guessed beyond them.
  EXPECT_TRUE(SameImagePath(L"C:\\Tolvane\\A.exe", L"c:\\tolvane\\a.EXE"));
  EXPECT_FALSE(SameImagePath(L"C:\\锁\\a.exe", L"C:\\钥\\a.exe"));
  EXPECT_FALSE(SameImagePath(L"C:\\T\\a.exe", L"C:\\T\\a.ex"));
}

// The process table behind the helper's looks: only what SelectCopies
// chooses is suspended and ended, and the rest runs on.
TEST(StopRunning, EndsTheChosenCopiesAndLeavesEveryOtherProcessRunning) {
  class Table_ : public RunningCopies {
   public:
    std::vector<ProcessEntry> table = Table();
    std::vector<std::uint32_t> touched;
    std::vector<std::uint32_t> List() override { return SelectCopies(table, kInstalled, kOwnSession).to_stop; }
    void Suspend(std::uint32_t id) override { touched.push_back(id); }
    void End(std::uint32_t id) override {
      touched.push_back(id);
      table.erase(std::remove_if(table.begin(), table.end(), [id](const ProcessEntry& p) { return p.id == id; }),
                  table.end());
    }
    void Pause(int) override {}
  } copies;

  EXPECT_TRUE(StopAllCopies(copies));
  EXPECT_EQ(copies.touched, (std::vector<std::uint32_t>{10, 11, 10, 11}));
  std::vector<std::uint32_t> left;
  for (const auto& p : copies.table) left.push_back(p.id);
  EXPECT_EQ(left, (std::vector<std::uint32_t>{20, 30, 31, 32, 33, 40}));
}

TEST(StopRunning, NothingRunningIsDoneAfterTheQuietLooks) {
  PairedCopies copies;
  EXPECT_TRUE(StopAllCopies(copies));
  EXPECT_EQ(copies.log, "LLL");
}

}  // namespace
}  // namespace tolvane
