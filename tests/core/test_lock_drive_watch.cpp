#include <gtest/gtest.h>

#include <map>

#include "drive_fakes.h"
#include "lock/drive_watch.h"

namespace tolvane {
namespace {

constexpr std::uint64_t kStick = 2ull << 30;
const std::string kCipher = "q#7 Lx";  // a blank inside is part of the cipher

std::string KeyFile(const std::string& cipher) {
  return "[Option]\r\ndrive=E:\r\nname=" + cipher + "\r\nFontSize=12\r\nFontName=\xcb\xce\xcc\xe5\r\nlabel=\r\n";
}

TEST(FindKeyword, KeyFileLines) {
  const struct {
    const char* name;
    std::string contents;
    std::string text3;
  } cases[] = {
      {"key file as written", KeyFile("abc"), " name=abc"},
      {"FontName does not match", "[Option]\r\nFontName=x\r\n", ""},
      {"no name line", "[Option]\r\ndrive=E:\r\n", ""},
      {"empty file", "", ""},
      {"second line with name=", "name=abc\r\nlabel=my name=x\r\n", " name=abc label=my name=x"},
      {"LF only, no final line end", "drive=E:\nname=abc", " name=abc"},
      {"CR only", "drive=E:\rname=abc\r", " name=abc"},
      {"blank line between", "\r\n\r\nname=abc\r\n", " name=abc"},
      {"CR CR LF ends a line and an empty one", "name=abc\r\r\nx\r\n", " name=abc"},
      // 0x81 0x6E is one character whose trail byte is 'n': the "name=" that
      // seems to start inside it is not one.
      {"trail byte is not a start", std::string("label=\x81" "name=zz\r\n"), ""},
      {"after a double-byte character", std::string("\xba\xba" "name=zz\r\n"), std::string(" \xba\xba" "name=zz")},
      {"binary", std::string("\x00\xff\x01name\x00=\xfe\xfe\x7f", 12), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FindKeyword(c.contents, "name="), c.text3) << c.name;
}

TEST(FindKeyword, AllWordsInOrderOfTheList) {
  const std::string text = "a b c\r\nb only\r\nc b a\r\n";
  EXPECT_EQ(FindKeyword(text, "a b"), " a b c c b a");
  EXPECT_EQ(FindKeyword(text, "only"), " b only");
}

TEST(FindKeyword, LineCutByTheBoundIsNotLookedAt) {
  EXPECT_EQ(FindKeyword("x\r\nname=abc", "name=", true), "");
  EXPECT_EQ(FindKeyword("x\r\nname=abc\r\n", "name=", true), " name=abc");
}

TEST(DropLeadingChars, CountsCharactersNotBytes) {
  EXPECT_EQ(DropLeadingChars(" name=abc", 6), "abc");
  EXPECT_EQ(DropLeadingChars(std::string(" \xba\xba" "name=x"), 6), "=x");  // 7 bytes
  EXPECT_EQ(DropLeadingChars("abc", 6), "");
}

TEST(ReadKeyCipher, BoundedRead) {
  KeyFiles keys;
  std::string filler;
  while (filler.size() <= kKeyFileReadLimit) filler += "FontName=" + std::string(70, 'x') + "\r\n";

  // Name line beyond the bound: not found, the drive is not the key.
  keys.files[L"E:"].bytes = filler + "name=abc\r\n";
  std::string cipher;
  EXPECT_FALSE(ReadKeyCipher(keys, L"E:", cipher));

  // Name line first, then a huge tail: found.
  keys.files[L"E:"].bytes = "name=abc\r\n" + filler;
  ASSERT_TRUE(ReadKeyCipher(keys, L"E:", cipher));
  EXPECT_EQ(cipher, "abc");

  // The bound falls right after "name=abc" of a longer line: the cut line
  // must not pass for the cipher it starts with.
  std::string head(kKeyFileReadLimit - 8, ';');
  head[head.size() - 2] = '\r';
  head[head.size() - 1] = '\n';
  keys.files[L"E:"].bytes = head + "name=abcdef\r\n";
  EXPECT_FALSE(ReadKeyCipher(keys, L"E:", cipher));
  // The same line ending exactly at the bound is whole.
  keys.files[L"E:"].bytes = head + "name=a\r\n";
  ASSERT_EQ(keys.files[L"E:"].bytes.size(), kKeyFileReadLimit);
  ASSERT_TRUE(ReadKeyCipher(keys, L"E:", cipher));
  EXPECT_EQ(cipher, "a");
}

TEST(CipherMatches, TrailingBlanksAndEmpty) {
  EXPECT_TRUE(CipherMatches(kCipher, kCipher));
  EXPECT_TRUE(CipherMatches("abc ", "abc"));  // the settings reader trimmed the stored one
  EXPECT_TRUE(CipherMatches("abc", "abc  "));
  EXPECT_FALSE(CipherMatches(" abc", "abc"));
  EXPECT_FALSE(CipherMatches("abC", "abc"));
  EXPECT_FALSE(CipherMatches("abc name=x", "abc"));
  EXPECT_FALSE(CipherMatches("", ""));
  EXPECT_FALSE(CipherMatches(" ", " "));
}

class DriveWatch : public ::testing::Test {
 protected:
  WatchTick Tick() { return RunDriveWatch(drives, NumberFormat{}, keys, kCipher); }
  Drives drives;
  KeyFiles keys;
};

TEST_F(DriveWatch, NoDrive) {
  drives.fixed[L'D'] = kStick;
  const WatchTick t = Tick();
  EXPECT_TRUE(t.list.empty());
  EXPECT_EQ(t.matched, -1);
  for (const auto& s : t.slots) {
    EXPECT_EQ(s.outcome, SlotOutcome::Empty);
    EXPECT_EQ(s.message, L"");
  }
}

TEST_F(DriveWatch, OneDriveWithoutKeyFile) {
  drives.removable[L'F'] = kStick;
  const WatchTick t = Tick();
  ASSERT_EQ(t.list, std::vector<std::wstring>{L"F: 2.00 GB"});
  EXPECT_EQ(t.slots[0].drive, L"F:");
  EXPECT_EQ(t.slots[0].message, L"你插入的可移动磁盘 F: 无效哦，换个磁盘试试！");
  EXPECT_EQ(t.slots[1].outcome, SlotOutcome::Empty);
  EXPECT_TRUE(keys.reads.empty());
  EXPECT_EQ(t.matched, -1);
}

TEST_F(DriveWatch, SecondDriveReleases) {
  drives.removable[L'E'] = kStick;
  drives.removable[L'G'] = 0;  // empty card-reader slot between them
  drives.removable[L'H'] = 1023;
  keys.files[L"E:"].bytes = KeyFile("other");
  keys.files[L"H:"].bytes = KeyFile(kCipher);
  const WatchTick t = Tick();
  ASSERT_EQ(t.list, (std::vector<std::wstring>{L"E: 2.00 GB", L"H: 1,023B"}));
  EXPECT_EQ(t.slots[0].outcome, SlotOutcome::Mismatch);
  EXPECT_EQ(t.slots[0].cipher, "other");
  EXPECT_EQ(t.slots[0].message, L"你插入的可移动磁盘 E: 密码验证失败哦！");
  EXPECT_EQ(t.slots[1].outcome, SlotOutcome::Match);
  EXPECT_EQ(t.slots[1].message, L"你插入的可移动磁盘 H: 验证成功！");
  EXPECT_EQ(t.matched, 1);
  EXPECT_EQ(t.last_drive, L"H:");
}

TEST_F(DriveWatch, FirstMatchEndsTheTick) {
  for (wchar_t l : {L'D', L'E', L'F'}) {
    drives.removable[l] = kStick;
    keys.files[std::wstring(1, l) + L":"].bytes = KeyFile(kCipher);
  }
  const WatchTick t = Tick();
  EXPECT_EQ(t.matched, 0);
  EXPECT_EQ(keys.reads, std::vector<std::wstring>{L"D:"});
  EXPECT_EQ(t.slots[1].outcome, SlotOutcome::Empty);
}

TEST_F(DriveWatch, SevenDrivesOnlySixExamined) {
  for (wchar_t l = L'D'; l <= L'J'; ++l) {
    drives.removable[l] = kStick;
    keys.files[std::wstring(1, l) + L":"].bytes = KeyFile("nope");
  }
  keys.files[L"J:"].bytes = KeyFile(kCipher);  // the seventh drive holds the key
  const WatchTick t = Tick();
  EXPECT_EQ(t.list.size(), 7u);
  EXPECT_EQ(t.matched, -1);
  EXPECT_EQ(keys.reads.size(), 6u);
  for (const auto& s : t.slots) EXPECT_EQ(s.outcome, SlotOutcome::Mismatch);
  EXPECT_EQ(t.slots[5].drive, L"I:");
}

TEST_F(DriveWatch, FailedChecksKeepTheLock) {
  drives.removable[L'E'] = kStick;
  drives.removable[L'F'] = kStick;
  drives.removable[L'G'] = kStick;
  drives.removable[L'K'] = kStick;
  keys.files[L"E:"] = {KeyFile(kCipher), false};                              // pulled out while read
  keys.files[L"F:"].bytes = "[Option]\r\nFontName=x\r\n";                      // no name line
  keys.files[L"G:"].bytes = "name=" + kCipher + "\r\nlabel=my name=x\r\n";    // second name= line
  keys.files[L"K:"].bytes = std::string("\x00\x01name=", 7) + kCipher + std::string("\xff\x00junk", 6);  // binary
  const WatchTick t = Tick();
  EXPECT_EQ(t.matched, -1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t.slots[i].outcome, SlotOutcome::Mismatch) << i;
    EXPECT_EQ(t.slots[i].message, L"你插入的可移动磁盘 " + t.slots[i].drive + L" 密码验证失败哦！") << i;
  }
}

// A key file that is no ordinary file counts as absent, however well its
// contents (or its link's target) would match: above all a reparse point,
// which the system would otherwise follow anywhere, a network path included.
TEST_F(DriveWatch, KeyFileThatIsNoOrdinaryFileCountsAsAbsent) {
  const struct {
    const char* name;
    std::uint32_t attributes;
  } cases[] = {
      {"symbolic link or junction", kAttrReparsePoint | 0x20},
      {"reparse point directory", kAttrReparsePoint | kAttrDirectory},
      {"directory", kAttrDirectory},
      {"hidden", kAttrHidden | 0x20},
      {"system", kAttrSystem},
  };
  for (const auto& c : cases) {
    keys = {};
    drives.removable[L'E'] = kStick;
    keys.files[L"E:"] = {KeyFile(kCipher), true, c.attributes, c.attributes};
    const WatchTick t = Tick();
    EXPECT_EQ(t.matched, -1) << c.name;
    EXPECT_EQ(t.slots[0].message, L"你插入的可移动磁盘 E: 无效哦，换个磁盘试试！") << c.name;
    EXPECT_TRUE(keys.reads.empty()) << c.name;
  }
  // Ordinary, read-only and archive files are key files.
  for (std::uint32_t a : {0x0u, 0x1u, 0x20u, 0x80u}) EXPECT_TRUE(IsKeyFileAttributes(a)) << a;
}

// Swapped for a link between the look at its attributes and the read: the
// attributes of what was opened decide, and the check fails.
TEST_F(DriveWatch, KeyFileSwappedForALinkBeforeTheReadFails) {
  drives.removable[L'E'] = kStick;
  keys.files[L"E:"] = {KeyFile(kCipher), true, 0x20, kAttrReparsePoint | 0x20};
  const WatchTick t = Tick();
  EXPECT_EQ(t.matched, -1);
  EXPECT_EQ(t.slots[0].outcome, SlotOutcome::Mismatch);
  EXPECT_TRUE(t.slots[0].cipher.empty());
}

TEST_F(DriveWatch, EmptyStoredCipherNeverReleases) {
  drives.removable[L'E'] = kStick;
  keys.files[L"E:"].bytes = "name=\r\n";
  EXPECT_EQ(RunDriveWatch(drives, NumberFormat{}, keys, "").matched, -1);
}

}  // namespace
}  // namespace tolvane
