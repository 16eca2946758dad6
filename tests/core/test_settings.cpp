#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "config/codepage.h"
#include "config/settings.h"
#include "settings_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tolvane {
namespace {

const std::wstring kOption = kSettingsSection;

std::wstring SystemWindowsFolderAsTheSystemSaysIt() {
#ifdef _WIN32
  wchar_t folder[MAX_PATH] = {};
  const UINT n = GetSystemWindowsDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, n);
#else
  return SystemWindowsFolder();
#endif
}

// Whoever starts the program, or stores "windir" for the next logon, must not
// be able to name the settings file: that would choose the password.
TEST_F(SettingsFileTest, TheEnvironmentNeverNamesTheSettingsFolder) {
  WriteFileBytes("[Option]\r\ndrive=Q:\r\n");
  const std::optional<std::wstring> saved = EnvVar("windir");
  SetEnvVar("windir", dir_.wstring());
  SetSettingsFolder(std::nullopt);
  EXPECT_EQ(SettingsFolder(), SystemWindowsFolderAsTheSystemSaysIt());
  EXPECT_EQ(SettingsFilePath(), SystemWindowsFolderAsTheSystemSaysIt() + L"\\vemro.qarn");
  EXPECT_NE(ReadOption(kOption, L"drive"), L"Q:");
  // Only the seam, from inside a test, redirects it.
  SetSettingsFolder(dir_.wstring());
  EXPECT_EQ(SettingsFilePath(), dir_.wstring() + L"\\vemro.qarn");
  EXPECT_EQ(ReadOption(kOption, L"drive"), L"Q:");
  SetEnvVar("windir", saved);
  EXPECT_EQ(KeyFilePath(L"E:"), L"E:\\tolvane.com");
}

TEST_F(SettingsFileTest, MissingFileReadsEmpty) {
  EXPECT_FALSE(SettingsFileExists());
  for (const wchar_t* key : {L"drive", L"name", L"FontSize", L"label"}) EXPECT_EQ(ReadOption(kOption, key), L"");
  EXPECT_FALSE(fs::exists(FilePath()));
}

TEST_F(SettingsFileTest, FirstWriteCreatesFileInPlatformLayout) {
  ASSERT_EQ(WriteOption(kOption, L"drive", L"E:"), WriteResult::Ok);
  EXPECT_TRUE(SettingsFileExists());
  EXPECT_EQ(FileBytes(), "[Option]\r\ndrive=E:\r\n");
  ASSERT_EQ(WriteOption(kOption, L"name", L"abc"), WriteResult::Ok);
  ASSERT_EQ(WriteOption(kOption, L"drive", L"F:"), WriteResult::Ok);
  EXPECT_EQ(FileBytes(), "[Option]\r\ndrive=F:\r\nname=abc\r\n");
  EXPECT_EQ(ReadOption(kOption, L"DRIVE"), L"F:");
  EXPECT_EQ(ReadOption(kOption, L"photo"), L"");
}

TEST_F(SettingsFileTest, ValuesReadBackAsTheReaderBoundsThem) {
  std::wstring seventy_zhong(70, L'中');
  struct Case {
    const char* name;
    std::wstring written, read;
  } cases[] = {
      {"Chinese", L"挂机中，请勿操作！", L"挂机中，请勿操作！"},
      {"path", L"D:\\图片\\背景.jpg", L"D:\\图片\\背景.jpg"},
      {"empty", L"", L""},
      {"blanks trimmed", L"  padded value  ", L"padded value"},
      {"tabs trimmed by the reader", L"\tx\t", L"x"},
      {"ideographic space is no blank", L"\u3000x\u3000", L"\u3000x\u3000"},
      {"NUL ends the value", std::wstring(L"ab\0cd", 5), L"ab"},
      {"127 bytes of 128 characters", std::wstring(200, L'x'), std::wstring(127, L'x')},
      {"cut inside a character drops it", seventy_zhong, std::wstring(63, L'中')},
      {"cut after a whole character", L"a" + seventy_zhong, L"a" + std::wstring(63, L'中')},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(WriteOption(kOption, L"label", c.written), WriteResult::Ok) << c.name;
    EXPECT_EQ(ReadOption(kOption, L"label"), c.read) << c.name;
  }
}

TEST_F(SettingsFileTest, FileHoldsCodePage936) {
  ASSERT_EQ(WriteOption(kOption, L"label", L"挂机中，请勿操作！"), WriteResult::Ok);
  EXPECT_EQ(FileBytes(), "[Option]\r\nlabel=\xB9\xD2\xBB\xFA\xD6\xD0\xA3\xAC\xC7\xEB\xCE\xF0\xB2\xD9\xD7\xF7\xA3\xA1\r\n");
  ASSERT_EQ(WriteOption(kOption, L"label", std::wstring(200, L'x')), WriteResult::Ok);
  EXPECT_EQ(FileBytes(), "[Option]\r\nlabel=" + std::string(128, 'x') + "\r\n");
}

TEST_F(SettingsFileTest, UnrepresentableTextWritesNothing) {
  ASSERT_EQ(WriteOption(kOption, L"label", L"before"), WriteResult::Ok);
  const std::string before = FileBytes();
  EXPECT_EQ(WriteOption(kOption, L"label", L"Thai \u0E01"), WriteResult::Unrepresentable);
  EXPECT_EQ(WriteOption(kOption, L"label", L"emoji \U0001F600"), WriteResult::Unrepresentable);
  EXPECT_EQ(WriteOption(kOption, L"k\u0E01", L"x"), WriteResult::Unrepresentable);
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(ReadOption(kOption, L"label"), L"before");
}

TEST_F(SettingsFileTest, HandWrittenFileKeptUntilAValueChanges) {
  const std::string hand = "; mine\r\n[option]\r\n  drive =  E: \r\n\r\nname = abc\r\n";
  WriteFileBytes(hand);
  EXPECT_EQ(ReadOption(kOption, L"drive"), L"E:");
  ASSERT_EQ(WriteOption(kOption, L"drive", L"E:"), WriteResult::Ok);
  EXPECT_EQ(FileBytes(), hand);
  ASSERT_EQ(WriteOption(kOption, L"FontSize", L"12"), WriteResult::Ok);
  EXPECT_EQ(FileBytes(), "; mine\r\n[option]\r\ndrive=E:\r\nname=abc\r\nFontSize=12\r\n");
}

TEST_F(SettingsFileTest, ReplaceLeavesNoTemporaryFile) {
  for (const wchar_t* v : {L"1", L"2", L"3"}) ASSERT_EQ(WriteOption(kOption, L"FontSize", v), WriteResult::Ok);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"vemro.qarn"});
}

TEST_F(SettingsFileTest, WriteIntoMissingDirectoryFails) {
  SetSettingsFolder((dir_ / "no-such-dir").wstring());
  EXPECT_EQ(WriteOption(kOption, L"drive", L"E:"), WriteResult::IoError);
  EXPECT_EQ(ReadOption(kOption, L"drive"), L"");
  EXPECT_FALSE(fs::exists(dir_ / "no-such-dir"));
}

TEST_F(SettingsFileTest, DirectoryIsNoSettingsFile) {
  fs::create_directory(FilePath());
  EXPECT_FALSE(SettingsFileExists());
  EXPECT_EQ(WriteOption(kOption, L"drive", L"E:"), WriteResult::IoError);
}

#ifdef _WIN32
TEST_F(SettingsFileTest, HiddenOrSystemFileCountsAsMissing) {
  ASSERT_EQ(WriteOption(kOption, L"drive", L"E:"), WriteResult::Ok);
  for (DWORD attr : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    ASSERT_TRUE(SetFileAttributesW(FilePath().c_str(), attr));
    EXPECT_FALSE(SettingsFileExists()) << attr;
  }
  ASSERT_TRUE(SetFileAttributesW(FilePath().c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(SettingsFileExists());
}
#endif

TEST(CipherPrefix, Is65CharactersAnd88Bytes) {
  const std::wstring prefix = CipherPrefix;
  EXPECT_EQ(prefix.size(), kCipherPrefixChars);
  std::string bytes;
  ASSERT_TRUE(ToCp936(prefix, bytes));
  EXPECT_EQ(bytes.size(), 88u);
  EXPECT_NE(prefix.front(), L' ');
  EXPECT_NE(prefix.back(), L' ');
  EXPECT_EQ(FromCp936(bytes), prefix);
}

TEST_F(SettingsFileTest, CipherPrefixSurvivesTheSettingsFile) {
  // 127 - 88 bytes leave room for 39 cipher characters behind the prefix; a
  // longer cipher comes back cut, which is what the lock window will see.
  const std::string cipher = EncipherPassword(std::string(40, 'p'));
  const std::wstring wide_cipher(cipher.begin(), cipher.end());
  const std::wstring prefix = CipherPrefix;
  ASSERT_EQ(WriteOption(kOption, L"name", prefix + wide_cipher.substr(0, 39)), WriteResult::Ok);
  EXPECT_EQ(ReadOption(kOption, L"name"), prefix + wide_cipher.substr(0, 39));
  ASSERT_EQ(WriteOption(kOption, L"name", prefix + wide_cipher), WriteResult::Ok);
  EXPECT_EQ(ReadOption(kOption, L"name"), prefix + wide_cipher.substr(0, 39));
}

}  // namespace
}  // namespace tolvane
