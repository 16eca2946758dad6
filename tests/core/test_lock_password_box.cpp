#include <gtest/gtest.h>

#include "lock/password_box.h"

namespace tolvane {
namespace {

// Types `text` one character at a time, as the edit control reports it.
BoxOutcome Type(PasswordBoxes& p, Box box, const std::wstring& text) {
  std::wstring so_far = p.state(box).text;
  BoxOutcome last = BoxOutcome::None;
  for (wchar_t c : text) {
    so_far += c;
    last = p.Change(box, so_far);
    if (last != BoxOutcome::None) return last;
  }
  return last;
}

TEST(PasswordBoxes, CallUpShowsPlaceholderInClearAndHidesTheOther) {
  PasswordBoxes p(L"abc");
  EXPECT_FALSE(p.state(Box::Unlock).visible);
  EXPECT_FALSE(p.state(Box::Setup).visible);

  p.KeyDown(kVkF3);
  EXPECT_TRUE(p.state(Box::Setup).visible);
  EXPECT_EQ(p.state(Box::Setup).text, kSetupPlaceholder);
  EXPECT_FALSE(p.state(Box::Setup).masked);

  // F2 while the setup box is up: it goes, the unlock box comes in clear.
  p.KeyDown(kVkF2);
  EXPECT_FALSE(p.state(Box::Setup).visible);
  EXPECT_TRUE(p.state(Box::Unlock).visible);
  EXPECT_EQ(p.state(Box::Unlock).text, kUnlockPlaceholder);
  EXPECT_FALSE(p.state(Box::Unlock).masked);

  // F2 again hides it; other keys do nothing.
  p.KeyDown(kVkF2);
  EXPECT_FALSE(p.state(Box::Unlock).visible);
  p.KeyDown(0x41);
  p.KeyDown(115);
  EXPECT_FALSE(p.state(Box::Unlock).visible);
  EXPECT_FALSE(p.state(Box::Setup).visible);
}

TEST(PasswordBoxes, UnlockAtTheLastCharacter) {
  PasswordBoxes p(L"abc");
  p.KeyDown(kVkF2);
  EXPECT_EQ(p.Click(Box::Unlock), BoxOutcome::None);
  EXPECT_EQ(p.state(Box::Unlock).text, L"");
  EXPECT_TRUE(p.state(Box::Unlock).masked);
  EXPECT_EQ(p.Change(Box::Unlock, L"a"), BoxOutcome::None);
  EXPECT_TRUE(p.state(Box::Unlock).masked);
  EXPECT_EQ(p.Change(Box::Unlock, L"ab"), BoxOutcome::None);
  EXPECT_EQ(p.Change(Box::Unlock, L"abc"), BoxOutcome::Unlock);
  EXPECT_TRUE(p.finished());
  // Nothing more happens once the lock is on its way out.
  EXPECT_EQ(p.Change(Box::Unlock, L"abc"), BoxOutcome::None);
  p.KeyDown(kVkF2);
  EXPECT_TRUE(p.state(Box::Unlock).visible);
}

TEST(PasswordBoxes, WrongCharacterNeedsEditingBack) {
  PasswordBoxes p(L"abc");
  p.KeyDown(kVkF2);
  p.Click(Box::Unlock);
  EXPECT_EQ(Type(p, Box::Unlock, L"abx"), BoxOutcome::None);
  EXPECT_EQ(p.Change(Box::Unlock, L"abxc"), BoxOutcome::None);  // the whole text is compared
  EXPECT_EQ(p.Change(Box::Unlock, L"ABC"), BoxOutcome::None);   // case counts
  EXPECT_EQ(p.Change(Box::Unlock, L"ab"), BoxOutcome::None);
  EXPECT_EQ(p.Change(Box::Unlock, L"abc"), BoxOutcome::Unlock);
}

TEST(PasswordBoxes, SetupBoxLeadsToSetup) {
  PasswordBoxes p(L"pw");
  p.KeyDown(kVkF3);
  p.Click(Box::Setup);
  EXPECT_EQ(Type(p, Box::Setup, L"pw"), BoxOutcome::EnterSetup);
}

TEST(PasswordBoxes, ClickClearsOnlyTheUntouchedPlaceholder) {
  PasswordBoxes p(L"abc");
  p.KeyDown(kVkF2);
  p.Click(Box::Unlock);
  p.Click(Box::Unlock);  // on the now empty box: nothing
  EXPECT_EQ(p.state(Box::Unlock).text, L"");
  p.Change(Box::Unlock, L"x");
  p.Click(Box::Unlock);
  EXPECT_EQ(p.state(Box::Unlock).text, L"x");
  // Called up again after typing: starts afresh from its placeholder, in clear.
  p.KeyDown(kVkF2);
  p.KeyDown(kVkF2);
  EXPECT_EQ(p.state(Box::Unlock).text, kUnlockPlaceholder);
  EXPECT_FALSE(p.state(Box::Unlock).masked);
}

TEST(PasswordBoxes, BackgroundClickHidesOnlyTheUnlockBox) {
  PasswordBoxes p(L"abc");
  p.KeyDown(kVkF2);
  p.BackgroundClick();
  EXPECT_FALSE(p.state(Box::Unlock).visible);
  p.KeyDown(kVkF3);
  p.BackgroundClick();
  EXPECT_TRUE(p.state(Box::Setup).visible);
}

TEST(PasswordBoxes, EmptyNeverMatches) {
  // A stored password that deciphers to nothing: the click that empties the
  // box must not open the lock.
  PasswordBoxes p(L"");
  p.KeyDown(kVkF2);
  EXPECT_EQ(p.Click(Box::Unlock), BoxOutcome::None);
  EXPECT_EQ(p.Change(Box::Unlock, L""), BoxOutcome::None);
  p.KeyDown(kVkF3);
  EXPECT_EQ(p.Click(Box::Setup), BoxOutcome::None);
  EXPECT_FALSE(p.finished());
}

TEST(PasswordBoxes, AnythingButThePlaceholderIsMasked) {
  PasswordBoxes p(L"abc");
  p.KeyDown(kVkF2);
  p.Change(Box::Unlock, std::wstring(kUnlockPlaceholder) + L"x");
  EXPECT_TRUE(p.state(Box::Unlock).masked);
  // Once masked, a box is not unmasked by its text alone: only a new call-up
  // shows it in clear again.
  p.Change(Box::Unlock, kUnlockPlaceholder);
  EXPECT_TRUE(p.state(Box::Unlock).masked);
}

}  // namespace
}  // namespace tolvane
