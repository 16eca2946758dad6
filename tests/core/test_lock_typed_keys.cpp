#include <gtest/gtest.h>

#include "lock/key_guard.h"
#include "lock/typed_keys.h"

namespace tolvane {
namespace {

TEST(QueuedInput, KeyDownsAreCheckedAndCharactersPastesAndMenusDropped) {
  const struct {
    std::uint32_t message;
    QueuedInput what;
  } cases[] = {
      {kMsgKeyDown, QueuedInput::KeyDown},   {kMsgSysKeyDown, QueuedInput::KeyDown},
      {kMsgChar, QueuedInput::Drop},         {kMsgDeadChar, QueuedInput::Drop},
      {kMsgSysChar, QueuedInput::Drop},      {kMsgSysDeadChar, QueuedInput::Drop},
      {kMsgUniChar, QueuedInput::Drop},      {kMsgImeChar, QueuedInput::Drop},
      {kMsgImeComposition, QueuedInput::Drop}, {kMsgPaste, QueuedInput::Drop},
      {kMsgContextMenu, QueuedInput::Drop},
      // Releases type nothing; clicks, timers and the lock's own posts are
      // not keyboard input.
      {kMsgKeyUp, QueuedInput::Pass},        {kMsgSysKeyUp, QueuedInput::Pass},
      {0x0202, QueuedInput::Pass},           {0x0113, QueuedInput::Pass},
      {0x8000 + 21, QueuedInput::Pass},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyQueuedInput(c.message), c.what) << std::hex << c.message;
}

constexpr std::int64_t kT0 = 1'000'000;
constexpr std::uint32_t kVkA = 0x41, kScanA = 0x1E, kVkB = 0x42, kScanB = 0x30, kVkF2 = 0x71, kScanF2 = 0x3C;

TEST(KeyLedger, OnlyKeysTheKeyboardSentAreTakenOnceEach) {
  KeyLedger ledger;
  ledger.Saw(kVkA, kScanA, 0, kT0);
  ledger.Saw(kVkF2, kScanF2, 0x01, kT0);  // extended: still the keyboard's
  ledger.Saw(kVkB, kScanB, kFlagInjected, kT0);
  ledger.Saw(kVkB, kScanB, kFlagLowerIlInjected, kT0);
  ledger.Saw(kVkB, kScanB, kFlagInjected | kFlagLowerIlInjected, kT0);

  const struct {
    const char* what;
    std::uint32_t vk, scan;
    bool taken;
  } takes[] = {
      {"a key nobody pressed", 0x43, 0x2E, false},
      {"injected keys were not noted", kVkB, kScanB, false},
      {"the code of a key pressed, with another scan code", kVkA, kScanB, false},
      {"a key pressed", kVkA, kScanA, true},
      {"the same key again: its note is used up", kVkA, kScanA, false},
      {"F2", kVkF2, kScanF2, true},
      {"a note is taken only once", kVkF2, kScanF2, false},
  };
  for (const auto& t : takes) EXPECT_EQ(ledger.Take(t.vk, t.scan, kT0 + 10), t.taken) << t.what;
}

TEST(KeyLedger, ARepeatedKeyIsTakenAsOftenAsItWentDown) {
  KeyLedger ledger;
  for (int i = 0; i < 3; ++i) ledger.Saw(kVkA, kScanA, 0, kT0 + i);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ledger.Take(kVkA, kScanA, kT0 + 5)) << i;
  EXPECT_FALSE(ledger.Take(kVkA, kScanA, kT0 + 5));
}

TEST(KeyLedger, NotesLapseAndTheOldestMakeRoom) {
  KeyLedger ledger;
  ledger.Saw(kVkA, kScanA, 0, kT0);
  ledger.Saw(kVkB, kScanB, 0, kT0 + 1500);
  // A note nobody took (the key went elsewhere) cannot vouch for a message
  // forged later.
  EXPECT_FALSE(ledger.Take(kVkA, kScanA, kT0 + KeyLedger::kKeyNoteLifetimeMs + 1));
  EXPECT_TRUE(ledger.Take(kVkB, kScanB, kT0 + KeyLedger::kKeyNoteLifetimeMs + 1));

  // Full: the oldest goes first, the newest are all there.
  for (int i = 0; i <= KeyLedger::kCapacity; ++i) ledger.Saw(static_cast<std::uint32_t>(i), 0, 0, kT0);
  EXPECT_FALSE(ledger.Take(0, 0, kT0));
  for (int i = 1; i <= KeyLedger::kCapacity; ++i) EXPECT_TRUE(ledger.Take(static_cast<std::uint32_t>(i), 0, kT0)) << i;
}

}  // namespace
}  // namespace tolvane
