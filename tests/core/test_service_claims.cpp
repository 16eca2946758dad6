#include <gtest/gtest.h>

#include "config/cipher.h"
#include "config/codepage.h"
#include "config/settings.h"
#include "drive_fakes.h"
#include "lock/guard_message.h"
#include "service/claims.h"

namespace tolvane {
namespace {

constexpr std::uint64_t kStick = 2ull << 30;
const std::string kPassword = "Usb-Key7";

std::wstring NameValue(const std::string& password) {
  return std::wstring(CipherPrefix) + FromCp936(EncipherPassword(password));
}

std::string KeyFile(const std::string& cipher) { return "[Option]\r\ndrive=E:\r\nname=" + cipher + "\r\n"; }

TEST(SecretsOfNameValue, ThePasswordAndTheCipherBehindTheStoredValue) {
  const StoredSecrets s = SecretsOfNameValue(NameValue(kPassword));
  EXPECT_EQ(s.cipher, EncipherPassword(kPassword));
  EXPECT_EQ(s.password, L"Usb-Key7");
  for (const std::wstring& empty : {std::wstring(), std::wstring(CipherPrefix), std::wstring(L"name")}) {
    const StoredSecrets none = SecretsOfNameValue(empty);
    EXPECT_TRUE(none.cipher.empty());
    EXPECT_TRUE(none.password.empty());
  }
}

// The claims a program in the session could send, and the one the real lock
// sends: only a drive the lock itself would accept, or the password, opens.
TEST(ClaimChecker, BelievesOnlyWhatItCanCheckItself) {
  const std::string cipher = EncipherPassword(kPassword);
  struct Case {
    const char* name;
    GuardRequest request;
    std::wstring value;
    bool expected;
  };
  const Case cases[] = {
      {"key on the removable drive", GuardRequest::KeyDrive, L"E:", true},
      {"key file on a fixed drive", GuardRequest::KeyDrive, L"F:", false},
      {"removable drive without a key file", GuardRequest::KeyDrive, L"G:", false},
      {"removable slot without a medium", GuardRequest::KeyDrive, L"H:", false},
      {"key file that is a link", GuardRequest::KeyDrive, L"I:", false},
      {"hidden key file", GuardRequest::KeyDrive, L"J:", false},
      {"key file of another configuration", GuardRequest::KeyDrive, L"K:", false},
      {"unreadable key file", GuardRequest::KeyDrive, L"L:", false},
      {"C: is never a key drive", GuardRequest::KeyDrive, L"C:", false},
      {"a drive that is not there", GuardRequest::KeyDrive, L"M:", false},
      {"lower-case letter", GuardRequest::KeyDrive, L"e:", false},
      {"a path, not a drive", GuardRequest::KeyDrive, L"E:\\", false},
      {"a folder path", GuardRequest::KeyDrive, L"F:\\keys", false},
      {"no drive", GuardRequest::KeyDrive, L"", false},
      {"the password", GuardRequest::UnlockPassword, L"Usb-Key7", true},
      {"the password at the setup box", GuardRequest::SetupPassword, L"Usb-Key7", true},
      {"a wrong password", GuardRequest::UnlockPassword, L"usb-key7", false},
      {"the password and more", GuardRequest::UnlockPassword, L"Usb-Key77", false},
      {"nothing typed", GuardRequest::UnlockPassword, L"", false},
      {"the stored cipher instead of the password", GuardRequest::UnlockPassword, FromCp936(cipher), false},
      {"the settings value instead of the password", GuardRequest::SetupPassword, NameValue(kPassword), false},
      {"a lock going up is no way out", GuardRequest::LockUp, L"", false},
      {"nor is asking for a lock", GuardRequest::Start, L"", false},
  };
  Drives drives;
  drives.removable = {{L'C', kStick}, {L'E', kStick}, {L'G', kStick}, {L'H', 0}, {L'I', kStick},
                      {L'J', kStick}, {L'K', kStick}, {L'L', kStick}};
  drives.fixed = {{L'F', kStick}};
  KeyFiles keys;
  keys.files[L"C:"] = {KeyFile(cipher)};
  keys.files[L"E:"] = {KeyFile(cipher)};
  keys.files[L"F:"] = {KeyFile(cipher)};
  keys.files[L"H:"] = {KeyFile(cipher)};
  keys.files[L"I:"] = {KeyFile(cipher), true, 0x20, 0x420};
  keys.files[L"J:"] = {KeyFile(cipher), true, 0x22, 0x22};
  keys.files[L"K:"] = {KeyFile(EncipherPassword("other"))};
  keys.files[L"L:"] = {KeyFile(cipher), false};
  const ClaimChecker checker(SecretsOfNameValue(NameValue(kPassword)));
  ASSERT_TRUE(checker.configured());
  for (const Case& c : cases) {
    EXPECT_EQ(checker.Verify({c.request, c.value}, drives, keys), c.expected) << c.name;
  }

  // Without a configuration nothing is proven, not even a key file whose
  // name line is empty like the stored value.
  keys.files[L"E:"] = {KeyFile("")};
  const ClaimChecker unconfigured(SecretsOfNameValue(L""));
  EXPECT_FALSE(unconfigured.configured());
  for (const Case& c : cases) EXPECT_FALSE(unconfigured.Verify({c.request, c.value}, drives, keys)) << c.name;
}

// A settings file the service cannot read keeps it guarding (it may hold a
// configuration) but proves nothing; only a file that is not there, or one
// without a configuration, leaves nothing to guard.
TEST(GuardSettingsOf, OnlyAMissingFileOrOneWithoutAKeyIsNotConfigured) {
  std::string name;
  ASSERT_TRUE(ToCp936(NameValue(kPassword), name));
  const std::string configured = "[Option]\r\ndrive=E:\r\nname=" + name + "\r\n";
  const struct {
    const char* name;
    SettingsRead read;
    std::string bytes;
    bool configured, password_opens;
  } cases[] = {
      {"a configuration", SettingsRead::Read, configured, true, true},
      {"held open without sharing", SettingsRead::Unreadable, "", true, false},
      {"not there", SettingsRead::Missing, "", false, false},
      {"no key in it", SettingsRead::Read, "[Option]\r\ndrive=E:\r\n", false, false},
  };
  Drives drives;
  KeyFiles keys;
  for (const auto& c : cases) {
    const GuardSettings g = GuardSettingsOf(c.read, c.bytes);
    EXPECT_EQ(g.configured, c.configured) << c.name;
    EXPECT_EQ(g.checker.Verify({GuardRequest::UnlockPassword, L"Usb-Key7"}, drives, keys), c.password_opens) << c.name;
  }
}

TEST(GuardMessage, OnlyTheExactFormsAreRequests) {
  for (const GuardMessage& m : {GuardMessage{GuardRequest::LockUp, L""}, GuardMessage{GuardRequest::KeyDrive, L"E:"},
                                GuardMessage{GuardRequest::UnlockPassword, L"a\tb c"},
                                GuardMessage{GuardRequest::SetupPassword, L""}, GuardMessage{GuardRequest::Start, L""}}) {
    const auto back = ParseGuardMessage(EncodeGuardMessage(m));
    ASSERT_TRUE(back.has_value()) << testing::PrintToString(EncodeGuardMessage(m));
    EXPECT_EQ(back->request, m.request);
    EXPECT_EQ(back->value, m.value);
  }
  EXPECT_EQ(EncodeGuardMessage({GuardRequest::KeyDrive, L"E:"}), L"key\tE:");
  for (const std::wstring& bad : {std::wstring(L""), std::wstring(L"lock\t"), std::wstring(L"key"),
                                  std::wstring(L"KEY\tE:"), std::wstring(L"unlocked"), std::wstring(L"start\tE:"), std::wstring(L" key\tE:"),
                                  std::wstring(L"key\tE:") + std::wstring(kGuardMessageMaxChars, L'x')}) {
    EXPECT_FALSE(ParseGuardMessage(bad).has_value()) << testing::PrintToString(bad);
  }
}

}  // namespace
}  // namespace tolvane
