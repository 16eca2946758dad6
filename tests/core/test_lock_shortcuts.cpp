#include <gtest/gtest.h>

#include <map>

#include "lock/shortcut_guard.h"

namespace tolvane {
namespace {

// The system's five flag words, with a switch to refuse writes.
class FakeSettings : public ShortcutSettings {
 public:
  bool Read(Shortcut s, std::uint32_t& flags) override {
    flags = flags_[s];
    return true;
  }
  bool Write(Shortcut s, std::uint32_t flags) override {
    ++writes;
    if (refuse_writes) return false;
    flags_[s] = flags;
    return true;
  }
  std::map<Shortcut, std::uint32_t> flags_;
  bool refuse_writes = false;
  int writes = 0;
};

class FakeFile : public ShortcutStateFile {
 public:
  bool Load(std::string& text) override {
    if (!text_) return false;
    text = *text_;
    return true;
  }
  bool Save(const std::string& text) override {
    text_ = text;
    return true;
  }
  void Remove() override { text_.reset(); }
  std::optional<std::string> text_;
};

constexpr std::uint32_t kHot = kShortcutHotKeyActive;

// A user's settings: Sticky Keys on with its hot key and confirmation, Filter
// Keys' hot key only, Toggle Keys' hot key off, High Contrast and Mouse Keys
// with their hot keys.
std::map<Shortcut, std::uint32_t> UsersFlags() {
  return {{Shortcut::StickyKeys, 0x1FF},
          {Shortcut::FilterKeys, 0x7E},
          {Shortcut::ToggleKeys, 0x22},
          {Shortcut::HighContrast, 0x7E},
          {Shortcut::MouseKeys, 0x26}};
}

// The system with the user's settings, and no state file yet.
struct ShortcutGuardTest : testing::Test {
  ShortcutGuardTest() { sys.flags_ = UsersFlags(); }
  FakeSettings sys;
  FakeFile file;
};

TEST_F(ShortcutGuardTest, ClearsOnlyTheHotKeysAndPutsBackTheExactValues) {
  ShortcutGuard g(sys, file);
  g.Engage();
  for (const auto& [s, v] : UsersFlags()) EXPECT_EQ(sys.flags_[s], v & ~kHot) << static_cast<int>(s);
  // Toggle Keys' hot key was already off: nothing to write for it.
  EXPECT_EQ(sys.writes, 4);
  ASSERT_TRUE(file.text_);
  EXPECT_EQ(*file.text_, "sticky=0x000001ff\r\nfilter=0x0000007e\r\ncontrast=0x0000007e\r\nmouse=0x00000026\r\n");
  g.Release();
  EXPECT_EQ(sys.flags_, UsersFlags());
  EXPECT_FALSE(file.text_);
  g.Release();  // a second way out changes nothing
  EXPECT_EQ(sys.writes, 8);
}

TEST_F(ShortcutGuardTest, AfterAKilledLockTheNextStartPutsTheOriginalsBack) {
  {
    ShortcutGuard killed(sys, file);
    killed.Engage();  // and never released
  }
  ASSERT_TRUE(file.text_);

  // The next start without a lock (not configured any more).
  {
    FakeSettings copy = sys;
    FakeFile left = file;
    ShortcutGuard next(copy, left);
    next.RecoverLeftover();
    EXPECT_EQ(copy.flags_, UsersFlags());
    EXPECT_FALSE(left.text_);
  }

  // The next start that locks again: it must keep the originals, not the
  // cleared values the killed lock left in the system.
  ShortcutGuard again(sys, file);
  again.Engage();
  EXPECT_EQ(sys.flags_[Shortcut::StickyKeys], 0x1FFu & ~kHot);
  again.Release();
  EXPECT_EQ(sys.flags_, UsersFlags());
  EXPECT_FALSE(file.text_);
}

TEST_F(ShortcutGuardTest, NothingToClearLeavesNoFile) {
  sys.flags_.clear();  // all flags 0, as Wine reports them
  ShortcutGuard g(sys, file);
  g.Engage();
  EXPECT_EQ(sys.writes, 0);
  EXPECT_FALSE(file.text_);
  g.Release();
  EXPECT_EQ(sys.writes, 0);
}

TEST_F(ShortcutGuardTest, RefusedWritesLeaveTheLockUpAndNoStaleFile) {
  sys.refuse_writes = true;  // as Wine answers SPI_SETSTICKYKEYS
  ShortcutGuard g(sys, file);
  g.Engage();
  EXPECT_TRUE(g.engaged());
  EXPECT_EQ(sys.flags_, UsersFlags());
  EXPECT_FALSE(file.text_) << "nothing was changed, so nothing is to be put back later";
  g.Release();
  EXPECT_EQ(sys.flags_, UsersFlags());
}

TEST_F(ShortcutGuardTest, AWriteBackThatFailsKeepsTheFileForTheNextStart) {
  ShortcutGuard g(sys, file);
  g.Engage();
  sys.refuse_writes = true;
  g.Release();
  EXPECT_TRUE(file.text_);
  sys.refuse_writes = false;
  ShortcutGuard next(sys, file);
  next.RecoverLeftover();
  EXPECT_EQ(sys.flags_, UsersFlags());
  EXPECT_FALSE(file.text_);
}

// The state file is in the user's own reach: whatever values another
// program writes there, the next start sets the named features' hot-key bit
// and nothing else, on the flags the system holds now.
TEST_F(ShortcutGuardTest, AStateFileSetsNothingButTheHotKeyBits) {
  std::map<Shortcut, std::uint32_t> cleared;  // as a killed lock left them
  for (const auto& [s, v] : UsersFlags()) cleared[s] = v & ~kHot;
  const struct {
    const char* name;
    std::string text;
    std::map<Shortcut, std::uint32_t> after;
  } cases[] = {
      {"every bit on", "sticky=0xffffffff\r\nmouse=0xffffffff\r\n",
       {{Shortcut::StickyKeys, (0x1FF & ~kHot) | kHot},
        {Shortcut::FilterKeys, 0x7E & ~kHot},
        {Shortcut::ToggleKeys, 0x22},
        {Shortcut::HighContrast, 0x7E & ~kHot},
        {Shortcut::MouseKeys, 0x26}}},
      {"the hot-key bit alone", "filter=0x00000004\r\ntoggle=0x00000004\r\n",
       {{Shortcut::StickyKeys, 0x1FF & ~kHot},
        {Shortcut::FilterKeys, 0x7E},
        {Shortcut::ToggleKeys, 0x22 | kHot},
        {Shortcut::HighContrast, 0x7E & ~kHot},
        {Shortcut::MouseKeys, 0x26 & ~kHot}}},
  };
  for (const auto& c : cases) {
    FakeSettings system;
    system.flags_ = cleared;
    FakeFile left;
    left.text_ = c.text;
    ShortcutGuard next_start(system, left);
    next_start.RecoverLeftover();
    EXPECT_EQ(system.flags_, c.after) << c.name;
    EXPECT_FALSE(left.text_) << c.name;
  }

  // A hot key that is on already is left as it is.
  sys.flags_[Shortcut::StickyKeys] = 0x1FF;
  file.text_ = "sticky=0x00000004\r\n";
  ShortcutGuard g(sys, file);
  g.RecoverLeftover();
  EXPECT_EQ(sys.writes, 0);
  EXPECT_EQ(sys.flags_, UsersFlags());
}

TEST_F(ShortcutGuardTest, DamagedFilesSetNothing) {
  const struct {
    const char* name;
    std::string text;
    bool ok;
  } cases[] = {
      {"one line", "sticky=0x0000007e\r\n", true},
      {"all five", "sticky=0x00000004\r\nfilter=0x00000004\r\ntoggle=0x00000004\r\ncontrast=0x00000004\r\n"
                   "mouse=0x00000004\r\n", true},
      {"empty", "", false},
      {"no line end", "sticky=0x0000007e", false},
      {"bare LF", "sticky=0x0000007e\n", false},
      {"unknown name", "magnifier=0x0000007e\r\n", false},
      {"twice", "sticky=0x0000007e\r\nsticky=0x0000007e\r\n", false},
      {"short number", "sticky=0x7e\r\n", false},
      {"upper-case hex", "sticky=0x0000007E\r\n", false},
      {"decimal", "sticky=0000000126\r\n", false},
      {"hot key bit clear", "sticky=0x0000007a\r\n", false},
      {"no equals", "sticky 0x0000007e\r\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseSavedShortcuts(c.text).has_value(), c.ok) << c.name;

  file.text_ = "sticky=0x000001ff\r\ntoggle=0x7\r\n";
  ShortcutGuard g(sys, file);
  g.RecoverLeftover();
  EXPECT_EQ(sys.writes, 0);
  EXPECT_FALSE(file.text_) << "a damaged file is removed unused";
}

}  // namespace
}  // namespace tolvane
