#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "lock/key_guard.h"

namespace tolvane {
namespace {

constexpr std::uint32_t kShift = 0x10, kAlt = 0x12, kF2 = 113, kF3 = 114, kLetterA = 'A';

struct KeyCase {
  const char* name;
  std::uint32_t message;
  std::uint32_t vk;
  std::uint32_t flags;
  bool ctrl;
  bool blocked;
};

TEST(IsBlockedKey, Table) {
  const KeyCase cases[] = {
      // Alt combinations, Alt as Windows reports it (flag bit).
      {"Alt+Tab down", kMsgSysKeyDown, kVkTab, kFlagAltDown, false, true},
      {"Alt+Tab up", kMsgSysKeyUp, kVkTab, kFlagAltDown, false, true},
      {"Alt+Esc down", kMsgSysKeyDown, kVkEscape, kFlagAltDown, false, true},
      {"Alt+F4 down", kMsgSysKeyDown, kVkF4, kFlagAltDown, false, true},
      {"Alt+F4 up", kMsgSysKeyUp, kVkF4, kFlagAltDown, false, true},
      // Wine: system-key message, flag bit clear.
      {"Wine Alt+Tab", kMsgSysKeyDown, kVkTab, 0, false, true},
      {"Wine Alt+Tab up", kMsgSysKeyUp, kVkTab, 0, false, true},
      {"Wine Alt+Esc", kMsgSysKeyDown, kVkEscape, 0, false, true},
      {"Wine Alt+F4", kMsgSysKeyDown, kVkF4, 0, false, true},
      // Flag bit on a plain key message still counts.
      {"Alt flag on WM_KEYDOWN Tab", kMsgKeyDown, kVkTab, kFlagAltDown, false, true},
      // Ctrl+Esc, down and up (Ctrl+Shift+Esc: KeyGuard.ShiftBetweenCtrlAndEscChangesNothing).
      {"Ctrl+Esc down", kMsgKeyDown, kVkEscape, 0, true, true},
      {"Ctrl+Esc up", kMsgKeyUp, kVkEscape, 0, true, true},
      // Always blocked, with or without modifiers.
      {"LWin down", kMsgKeyDown, kVkLeftWin, 0, false, true},
      {"LWin up", kMsgKeyUp, kVkLeftWin, 0, false, true},
      {"RWin", kMsgKeyDown, kVkRightWin, 0, false, true},
      {"Apps", kMsgKeyDown, kVkApps, 0, false, true},
      {"Sleep", kMsgKeyDown, kVkSleep, 0, false, true},
      {"code 255", kMsgKeyUp, kVk255, 0, false, true},
      {"Alt+LWin", kMsgSysKeyDown, kVkLeftWin, kFlagAltDown, false, true},
      // PrtScn alone, with Alt, and as the high-contrast chord's last key.
      {"PrtScn down", kMsgKeyDown, kVkSnapshot, 0, false, true},
      {"PrtScn up", kMsgKeyUp, kVkSnapshot, 0, false, true},
      {"Alt+PrtScn", kMsgSysKeyDown, kVkSnapshot, kFlagAltDown, false, true},
      // Both ends of the browser ... launch range and a key inside it.
      {"browser back", kMsgKeyDown, kVkBrowserBack, 0, false, true},
      {"browser home", kMsgKeyDown, 0xAC, 0, false, true},
      {"media play", kMsgKeyUp, 0xB3, 0, false, true},
      {"launch mail", kMsgKeyDown, 0xB4, 0, false, true},
      {"launch app 2", kMsgKeyDown, kVkLaunchApp2, 0, false, true},
      {"launch app 2 up", kMsgKeyUp, kVkLaunchApp2, 0, false, true},
      // Pass-through rows.
      {"Tab alone", kMsgKeyDown, kVkTab, 0, false, false},
      {"Esc alone", kMsgKeyDown, kVkEscape, 0, false, false},
      {"Esc up alone", kMsgKeyUp, kVkEscape, 0, false, false},
      {"F4 alone", kMsgKeyDown, kVkF4, 0, false, false},
      {"Ctrl+Tab", kMsgKeyDown, kVkTab, 0, true, false},
      {"Ctrl+F4", kMsgKeyDown, kVkF4, 0, true, false},
      {"F2", kMsgKeyDown, kF2, 0, false, false},
      {"F3", kMsgKeyDown, kF3, 0, false, false},
      {"Alt itself", kMsgSysKeyDown, kAlt, kFlagAltDown, false, false},
      {"Ctrl itself", kMsgKeyDown, kVkLeftControl, 0, true, false},
      {"Shift itself", kMsgKeyDown, kShift, 0, false, false},
      {"Alt+A", kMsgSysKeyDown, kLetterA, kFlagAltDown, false, false},
      {"letter", kMsgKeyDown, kLetterA, 0, false, false},
      // Just outside the launch range: right Alt below it, the OEM ';' key above.
      {"right Alt", kMsgSysKeyDown, 0xA5, kFlagAltDown, false, false},
      {"OEM 1", kMsgKeyDown, 0xBA, 0, false, false},
      {"Insert beside PrtScn", kMsgKeyDown, 0x2D, 0, false, false},
      // Not a keyboard message: never blocked.
      {"other message LWin", 0x0200, kVkLeftWin, 0, false, false},
  };
  for (const auto& c : cases) {
    KeyEvent e;
    e.message = c.message;
    e.vk = c.vk;
    e.flags = c.flags;
    e.ctrl_held = c.ctrl;
    EXPECT_EQ(IsBlockedKey(e), c.blocked) << c.name;
  }
}

TEST(KeyGuard, CtrlFromTheEventStreamOrTheSystem) {
  KeyGuard g;
  EXPECT_FALSE(g.Decide(kMsgKeyDown, kVkEscape, 0, false));
  EXPECT_FALSE(g.Decide(kMsgKeyUp, kVkEscape, 0, false));
  // Ctrl seen going down in the stream: Esc is blocked even when the system's
  // own answer lags behind.
  EXPECT_FALSE(g.Decide(kMsgKeyDown, kVkLeftControl, 0, false));
  EXPECT_TRUE(g.Decide(kMsgKeyDown, kVkEscape, 0, false));
  EXPECT_TRUE(g.Decide(kMsgKeyUp, kVkEscape, 0, false));
  EXPECT_FALSE(g.Decide(kMsgKeyUp, kVkLeftControl, 0, false));
  EXPECT_FALSE(g.Decide(kMsgKeyDown, kVkEscape, 0, false));
  // Right Ctrl is tracked on its own: releasing the left one keeps it held.
  g.Decide(kMsgKeyDown, kVkLeftControl, 0, false);
  g.Decide(kMsgKeyDown, kVkRightControl, 0, false);
  g.Decide(kMsgKeyUp, kVkLeftControl, 0, false);
  EXPECT_TRUE(g.Decide(kMsgKeyDown, kVkEscape, 0, false));
  g.Decide(kMsgKeyUp, kVkRightControl, 0, false);
  EXPECT_FALSE(g.Decide(kMsgKeyDown, kVkEscape, 0, false));
  // Ctrl pressed before the hook was there: only the system knows.
  EXPECT_TRUE(g.Decide(kMsgKeyDown, kVkEscape, 0, true));
  // Injected input may use the generic code.
  g.Decide(kMsgKeyDown, kVkControl, 0, false);
  EXPECT_TRUE(g.Decide(kMsgKeyDown, kVkEscape, 0, false));
  g.Decide(kMsgKeyUp, kVkControl, 0, false);
  EXPECT_FALSE(g.ctrl_seen_down());
}

TEST(KeyGuard, ShiftBetweenCtrlAndEscChangesNothing) {
  // Ctrl+Shift+Esc as the hook sees it, with the left and right Shift codes
  // that a real keyboard sends and the generic one of injected input: Shift
  // passes, and Esc is swallowed whether or not the system reports Ctrl yet.
  constexpr std::uint32_t kVkLeftShift = 0xA0, kVkRightShift = 0xA1;
  for (std::uint32_t shift : {kVkLeftShift, kVkRightShift, kShift}) {
    for (bool system_ctrl : {false, true}) {
      KeyGuard g;
      EXPECT_FALSE(g.Decide(kMsgKeyDown, kVkLeftControl, 0, system_ctrl));
      EXPECT_FALSE(g.Decide(kMsgKeyDown, shift, 0, system_ctrl)) << shift;
      EXPECT_TRUE(g.Decide(kMsgKeyDown, kVkEscape, 0, system_ctrl)) << shift;
      EXPECT_TRUE(g.Decide(kMsgKeyUp, kVkEscape, 0, system_ctrl)) << shift;
      EXPECT_FALSE(g.Decide(kMsgKeyUp, shift, 0, system_ctrl)) << shift;
      EXPECT_TRUE(g.ctrl_seen_down()) << "Shift let go is not Ctrl let go";
      EXPECT_FALSE(g.Decide(kMsgKeyUp, kVkLeftControl, 0, false));
    }
  }
}

// A release goes the way its press went: the system must never be left with
// a key down that is up (a Windows key that stays down turns every key let
// through into a shell shortcut), nor see the release of a press it never saw.
TEST(KeyGuard, AReleaseIsSwallowedOnlyWhenItsPressWas) {
  struct Event {
    std::uint32_t message;
    std::uint32_t vk;
    bool swallowed;
  };
  const struct {
    const char* name;
    std::vector<std::uint32_t> down_before_hook;  // keys the system holds when the hook comes up
    std::vector<Event> events;
  } cases[] = {
      {"Windows key pressed under the hook", {},
       {{kMsgKeyDown, kVkLeftWin, true}, {kMsgKeyDown, kVkLeftWin, true}, {kMsgKeyUp, kVkLeftWin, true}}},
      {"Windows key held as the hook comes up: its repeats are kept, its release goes through",
       {kVkLeftWin},
       {{kMsgKeyDown, kVkLeftWin, true}, {kMsgKeyDown, kLetterA, false}, {kMsgKeyUp, kLetterA, false},
        {kMsgKeyUp, kVkLeftWin, false},
        // The next press is the guard's own again.
        {kMsgKeyDown, kVkLeftWin, true}, {kMsgKeyUp, kVkLeftWin, true}}},
      {"right Windows key released with no press seen (the hook had been dropped)", {},
       {{kMsgKeyUp, kVkRightWin, false}, {kMsgKeyDown, kVkRightWin, true}, {kMsgKeyUp, kVkRightWin, true}}},
      {"Tab pressed alone, Alt pressed, Tab's repeat is Alt+Tab, Tab released under Alt", {},
       {{kMsgKeyDown, kVkTab, false}, {kMsgSysKeyDown, kAlt, false}, {kMsgSysKeyDown, kVkTab, true},
        {kMsgSysKeyUp, kVkTab, false}, {kMsgKeyUp, kAlt, false}}},
      {"Alt+Tab, Alt released first: the lone Tab release stays kept", {},
       {{kMsgSysKeyDown, kAlt, false}, {kMsgSysKeyDown, kVkTab, true}, {kMsgKeyUp, kAlt, false},
        {kMsgKeyDown, kVkTab, true}, {kMsgKeyUp, kVkTab, true},
        // Tab alone afterwards passes both ways.
        {kMsgKeyDown, kVkTab, false}, {kMsgKeyUp, kVkTab, false}}},
      {"Esc pressed, then Ctrl: Esc's release goes through", {},
       {{kMsgKeyDown, kVkEscape, false}, {kMsgKeyDown, kVkLeftControl, false}, {kMsgKeyUp, kVkEscape, false},
        {kMsgKeyUp, kVkLeftControl, false}}},
      {"Ctrl+Esc with Ctrl released first", {},
       {{kMsgKeyDown, kVkLeftControl, false}, {kMsgKeyDown, kVkEscape, true}, {kMsgKeyUp, kVkLeftControl, false},
        {kMsgKeyUp, kVkEscape, true}}},
      {"a key held before the hook that the guard passes anyway", {kLetterA},
       {{kMsgKeyDown, kLetterA, false}, {kMsgKeyUp, kLetterA, false}}},
  };
  for (const auto& c : cases) {
    KeyGuard g;
    g.NoteKeysDownForTheSystem([&](std::uint32_t vk) {
      return std::find(c.down_before_hook.begin(), c.down_before_hook.end(), vk) != c.down_before_hook.end();
    });
    for (std::size_t i = 0; i < c.events.size(); ++i) {
      const Event& e = c.events[i];
      const std::uint32_t flags = e.message == kMsgSysKeyDown || e.message == kMsgSysKeyUp ? kFlagAltDown : 0;
      EXPECT_EQ(g.Decide(e.message, e.vk, flags, false), e.swallowed) << c.name << ", event " << i;
    }
  }
}

TEST(KeyGuard, KeysDownForTheSystemLeaveTheGuardsOwnPressesAlone) {
  KeyGuard g;
  EXPECT_TRUE(g.Decide(kMsgKeyDown, kVkLeftWin, 0, false));
  // A re-install looks at the system's keys again: the left Windows key is
  // up for the system (its press was kept) and must stay the guard's.
  g.NoteKeysDownForTheSystem([](std::uint32_t vk) { return vk == kVkLeftWin || vk == kVkRightWin; });
  EXPECT_TRUE(g.Decide(kMsgKeyUp, kVkLeftWin, 0, false));
  EXPECT_FALSE(g.Decide(kMsgKeyUp, kVkRightWin, 0, false));
  // Codes beyond a byte reach no table of keys and change nothing.
  EXPECT_FALSE(g.Decide(kMsgKeyUp, 0x1234, 0, false));
  EXPECT_FALSE(g.Decide(kMsgKeyDown, 0x1234, 0, false));
}

TEST(AnswerClose, OnlyTheProgramsOwnCodeTakesTheGuardsDown) {
  const struct {
    UnloadMode mode;
    bool refuse;
    bool release;
  } cases[] = {
      {UnloadMode::Menu, true, false},
      {UnloadMode::Code, false, true},
      // A shutdown is not vetoed, yet the guards stay until the process ends.
      {UnloadMode::Windows, false, false},
      {UnloadMode::TaskManager, true, false},
      {UnloadMode::MdiParent, true, false},
      {UnloadMode::Owner, true, false},
  };
  for (const auto& c : cases) {
    const CloseAnswer a = AnswerClose(c.mode);
    EXPECT_EQ(a.refuse, c.refuse) << static_cast<int>(c.mode);
    EXPECT_EQ(a.release_hook, c.release) << static_cast<int>(c.mode);
  }
}

}  // namespace
}  // namespace tolvane
