// A start of the program: what the claim on the session and the settings file
// decide, the answer by which a running copy proves itself to a later start,
// and the settings file as a start reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/start.h"
#include "config/codepage.h"
#include "config/settings.h"
#include "platform/instance.h"
#include "settings_fixture.h"
#include "setup/save_config.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tolvane {
namespace {

// -- the start decision ------------------------------------------------------

TEST(DecideStart, OnlyACopyOfOursThatProvedItselfTakesTheStartOver) {
  struct Case {
    InstanceClaim claim;
    Configuration configuration;
    StartAction action;
  };
  const std::vector<Case> cases = {
      {InstanceClaim::Claimed, Configuration::Present, StartAction::Lock},
      {InstanceClaim::Claimed, Configuration::Unreadable, StartAction::Lock},
      {InstanceClaim::Claimed, Configuration::None, StartAction::Setup},
      // A program that took the mutex first, or a copy of ours that does
      // not answer: the start goes on as if it held the session.
      {InstanceClaim::HeldByOther, Configuration::Present, StartAction::Lock},
      {InstanceClaim::HeldByOther, Configuration::Unreadable, StartAction::Lock},
      {InstanceClaim::HeldByOther, Configuration::None, StartAction::Setup},
      // The running copy decides (nothing changes while it is locked).
      {InstanceClaim::HeldByOurs, Configuration::Present, StartAction::Forward},
      {InstanceClaim::HeldByOurs, Configuration::Unreadable, StartAction::Forward},
      {InstanceClaim::HeldByOurs, Configuration::None, StartAction::Forward},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecideStart(c.claim, c.configuration), c.action)
        << "claim " << static_cast<int>(c.claim) << ", configuration " << static_cast<int>(c.configuration);
  }
}

// The installed program started by anyone but the guardian service (logon,
// Start menu, a second start) hands every lock to the service; the setup
// window of an unconfigured PC and a running copy's own start stay as they
// are.
TEST(DecideStart, TheInstalledProgramAsksTheServiceForEveryLock) {
  struct Case {
    InstanceClaim claim;
    Configuration configuration;
    StartAction action;
  };
  const std::vector<Case> cases = {
      {InstanceClaim::Claimed, Configuration::Present, StartAction::AskGuard},
      {InstanceClaim::Claimed, Configuration::Unreadable, StartAction::AskGuard},
      {InstanceClaim::HeldByOther, Configuration::Present, StartAction::AskGuard},
      {InstanceClaim::Claimed, Configuration::None, StartAction::Setup},
      {InstanceClaim::HeldByOurs, Configuration::Present, StartAction::Forward},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecideStart(c.claim, c.configuration, true), c.action)
        << "claim " << static_cast<int>(c.claim) << ", configuration " << static_cast<int>(c.configuration);
  }
}

// -- the door's answer -------------------------------------------------------

DoorKey CountingKey() {
  DoorKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i);
  return key;
}

std::string CountingBytes(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(i);
  return s;
}

TEST(SipHash24, ReferenceVectors) {
  // The algorithm's published vectors: key 00..0f, message 00..(n-1).
  const struct {
    std::size_t n;
    std::uint64_t value;
  } vectors[] = {{0, 0x726fdb47dd0e0e31ull},  {1, 0x74f839c593dc67fdull}, {7, 0xab0200f58b01d137ull},
                 {8, 0x93f5f5799a932462ull},  {15, 0xa129ca6149be45e5ull}, {63, 0x958a324ceb064572ull}};
  for (const auto& v : vectors) EXPECT_EQ(SipHash24(CountingKey(), CountingBytes(v.n)), v.value) << v.n << " bytes";
}

TEST(DoorAnswer, BoundToTheKeyTheNonceTheAskerAndTheDoor) {
  const DoorKey key = DoorKeyOf("the program file");
  DoorNonce nonce{};
  nonce[3] = 7;
  const std::uint32_t answer = DoorAnswer(key, nonce, 100, 200);
  EXPECT_NE(answer, 0u) << "0 is what a window that ignores the challenge returns";
  EXPECT_EQ(DoorAnswer(key, nonce, 100, 200), answer) << "both sides must come to the same answer";

  DoorNonce other_nonce = nonce;
  other_nonce[15] ^= 1;
  EXPECT_NE(DoorAnswer(key, other_nonce, 100, 200), answer) << "an old answer replayed";
  EXPECT_NE(DoorAnswer(key, nonce, 101, 200), answer) << "an answer obtained for another start";
  EXPECT_NE(DoorAnswer(key, nonce, 100, 201), answer) << "an answer relayed from another process's door";
  EXPECT_NE(DoorAnswer(key, nonce, 200, 100), answer) << "asker and door swapped";
  EXPECT_NE(DoorAnswer(DoorKeyOf("another build of the program"), nonce, 100, 200), answer);
}

TEST(DoorKeyOf, DependsOnEveryByteOfTheFile) {
  const std::string file = CountingBytes(4096);
  const DoorKey key = DoorKeyOf(file);
  EXPECT_EQ(DoorKeyOf(file), key);
  for (std::size_t at : {std::size_t{0}, std::size_t{2047}, std::size_t{4095}}) {
    std::string changed = file;
    changed[at] = static_cast<char>(changed[at] ^ 0x80);
    EXPECT_NE(DoorKeyOf(changed), key) << "byte " << at;
  }
  EXPECT_NE(DoorKeyOf(file + '\0'), key);
}

// -- the settings file at start ----------------------------------------------

const std::string kConfigured =
    "[Option]\r\ndrive=E:\r\nname=" +
    [] {
      std::string prefix;
      ToCp936(CipherPrefix, prefix);
      return prefix;
    }() +
    "abc\r\n";

TEST(ConfigurationIn, OnlyAFileThatIsThereAndCannotBeReadCountsAsUnreadable) {
  struct Case {
    SettingsRead read;
    std::string bytes;
    Configuration expected;
  };
  const std::vector<Case> cases = {
      {SettingsRead::Missing, "", Configuration::None},
      {SettingsRead::Unreadable, "", Configuration::Unreadable},
      {SettingsRead::Read, kConfigured, Configuration::Present},
      {SettingsRead::Read, "", Configuration::None},
      // Damaged content that reads: no configuration, as ever.
      {SettingsRead::Read, "[Option]\r\nname=abc\r\n", Configuration::None},
      {SettingsRead::Read, "\xff\xfe garbage", Configuration::None},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConfigurationIn(c.read, c.bytes), c.expected) << static_cast<int>(c.read) << " " << c.bytes;
  }
}

TEST_F(SettingsFileTest, ReadConfigurationOfMissingDamagedAndGoodFiles) {
  EXPECT_EQ(ReadConfiguration(), Configuration::None);
  WriteFileBytes("[Option]\r\ndrive=E:\r\n");
  EXPECT_EQ(ReadConfiguration(), Configuration::None);
  WriteFileBytes(kConfigured);
  EXPECT_EQ(ReadConfiguration(), Configuration::Present);
  EXPECT_TRUE(Configured());
  std::string bytes;
  ASSERT_EQ(ReadSettingsFile(bytes), SettingsRead::Read);
  EXPECT_EQ(OptionIn(bytes, kSettingsSection, L"drive"), L"E:");
  fs::remove(FilePath());
  fs::create_directories(FilePath());  // a folder of that name is no settings file
  EXPECT_EQ(ReadConfiguration(), Configuration::None);
}

#ifdef _WIN32
// What another program does to keep the lock from its settings: open the file
// and share nothing, or deny reading it.
TEST_F(SettingsFileTest, AFileHeldOpenWithoutSharingIsUnreadableNotMissing) {
  WriteFileBytes(kConfigured);
  HANDLE held = CreateFileW(FilePath().wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::string bytes;
  EXPECT_EQ(ReadSettingsFile(bytes), SettingsRead::Unreadable);
  EXPECT_EQ(ReadConfiguration(), Configuration::Unreadable);
  EXPECT_FALSE(Configured()) << "the tray offers only what it could read";
  CloseHandle(held);
  EXPECT_EQ(ReadConfiguration(), Configuration::Present);
}
#endif

}  // namespace
}  // namespace tolvane
