#include <gtest/gtest.h>

#include "config/cipher.h"
#include "config/settings.h"
#include "setup/save_config.h"

namespace tolvane {
namespace {

TEST(CheckSave, RefusesBadInputInOrder) {
  const std::wstring forty(40, L'a');
  const std::wstring thirty_nine(39, L'a');
  struct Case {
    const wchar_t* name;
    std::wstring drive, text1, text2;
    SaveRefusal expected;
  } cases[] = {
      {L"no drive beats everything", L"", L"", L"x", SaveRefusal::NoDrive},
      {L"empty password", L"E:", L"", L"", SaveRefusal::EmptyPassword},
      {L"mismatch", L"E:", L"abc", L"abd", SaveRefusal::Mismatch},
      {L"case counts", L"E:", L"abc", L"ABC", SaveRefusal::Mismatch},
      {L"empty repeat", L"E:", L"abc", L"", SaveRefusal::Mismatch},
      {L"Chinese", L"E:", L"密码abc", L"密码abc", SaveRefusal::NonPrintable},
      {L"tab", L"E:", L"ab\tc", L"ab\tc", SaveRefusal::NonPrintable},
      {L"DEL", L"E:", L"ab\x7f", L"ab\x7f", SaveRefusal::NonPrintable},
      {L"too long", L"E:", forty, forty, SaveRefusal::TooLong},
      {L"longest allowed", L"E:", thirty_nine, thirty_nine, SaveRefusal::None},
      {L"all printable", L"E:", L" ~Az09!@#", L" ~Az09!@#", SaveRefusal::None},
  };
  for (const auto& c : cases) {
    const SaveCheck check = CheckSave(c.drive, c.text1, c.text2);
    EXPECT_EQ(check.refusal, c.expected) << c.name;
    EXPECT_EQ(check.cipher.empty(), c.expected != SaveRefusal::None) << c.name;
    EXPECT_EQ(RefusalMessage(check.refusal).empty(), c.expected == SaveRefusal::None) << c.name;
  }
}

TEST(CheckSave, AcceptedCipherSurvivesTheSettingsReader) {
  // The stored value is prefix + cipher and must fit the reader's 127 bytes.
  const std::wstring pw(kMaxPasswordChars, L'Q');
  const SaveCheck check = CheckSave(L"E:", pw, pw);
  ASSERT_EQ(check.refusal, SaveRefusal::None);
  EXPECT_EQ(check.cipher, EncipherPassword(std::string(kMaxPasswordChars, 'Q')));
  EXPECT_LE(88u + check.cipher.size(), 127u);
  EXPECT_EQ(DecipherPassword(check.cipher), std::string(kMaxPasswordChars, 'Q'));
}

TEST(CheckSave, RefusesPasswordsWhoseCipherEndsInABlank) {
  // Search the two-letter passwords for ones whose cipher ends in a blank: the
  // reader would trim that blank and neither the key drive nor the password
  // would open the lock.
  int refused = 0, accepted = 0;
  for (wchar_t a = L'!'; a <= L'~'; ++a) {
    for (wchar_t b = L'!'; b <= L'~'; ++b) {
      const std::wstring pw{a, b};
      const std::string cipher = EncipherPassword(std::string{static_cast<char>(a), static_cast<char>(b)});
      const SaveCheck check = CheckSave(L"E:", pw, pw);
      if (cipher.back() == ' ') {
        EXPECT_EQ(check.refusal, SaveRefusal::TrailingBlank);
        ++refused;
      } else {
        EXPECT_EQ(check.refusal, SaveRefusal::None);
        EXPECT_EQ(check.cipher, cipher);
        ++accepted;
      }
    }
  }
  EXPECT_GT(refused, 0);  // about one password in a hundred
  EXPECT_LT(refused, accepted / 20);
}

TEST(HoldsConfiguration, NeedsThePrefixAndACipher) {
  const std::wstring prefix = CipherPrefix;
  EXPECT_TRUE(HoldsConfiguration(prefix + L"x"));
  EXPECT_TRUE(HoldsConfiguration(prefix + L" a b"));
  EXPECT_FALSE(HoldsConfiguration(prefix));              // empty cipher: no password could open it
  EXPECT_FALSE(HoldsConfiguration(L""));                 // file written by the appearance editor alone
  EXPECT_FALSE(HoldsConfiguration(L"abcdef"));           // damaged or hand-edited
  EXPECT_FALSE(HoldsConfiguration(prefix.substr(1) + L"xy"));
}

}  // namespace
}  // namespace tolvane
