// Our INI access against the platform's own profile functions, in code page
// 936 (run with LC_ALL=zh_CN.UTF-8 under Wine). The settings file must look
// and read the same whichever side wrote it: the key file is a byte copy of
// it, and the lock window reads that copy as plain lines.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "config/codepage.h"
#include "config/ini.h"
#include "config/settings.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kZhong = "\xD6\xD0";               // 中
const std::string kTrailBracket = "\xB0\x5D";        // trail byte ']'
const std::string kTrailBackslash = "\x81\x5C";      // trail byte '\'
const std::string kHandWritten =
    "; mine\r\nfree=1\r\n\r\n[option]\r\n  drive =  E: \r\n\r\n;c=1\r\nnoequal\r\n\r\n[Other]\r\nx=1\r\n\r\n";

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Spit(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

std::string Ansi(const fs::path& p) {
  std::string out;
  EXPECT_TRUE(ToCp936(p.wstring(), out));
  return out;
}

// The platform reader with the program's 128-byte buffer, cleared first as
// the program clears it.
std::string PlatformGet(const fs::path& file, const std::string& section, const std::string& key, char fill = 0) {
  char buffer[128];
  std::fill(std::begin(buffer), std::end(buffer), fill);
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, sizeof buffer, Ansi(file).c_str());
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}

bool PlatformSet(const fs::path& file, const std::string& section, const std::string& key, const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), Ansi(file).c_str()) != FALSE;
}

void OurSet(const fs::path& file, const std::string& section, const std::string& key, const std::string& value) {
  IniText ini(Slurp(file));
  ini.Set(section, key, value);
  const std::string after = ini.Serialize();
  if (!fs::exists(file) || after != Slurp(file)) Spit(file, after);
}

class IniConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("tolvane-ini-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // A fresh name per use, so the platform's profile cache never sees an
  // older file of the same name.
  fs::path NewFile() { return dir_ / ("f" + std::to_string(files_++) + ".ini"); }

  fs::path dir_;
  int files_ = 0;
};

TEST_F(IniConformance, ProcessUsesCodePage936) { ASSERT_EQ(GetACP(), 936u) << "run with LC_ALL=zh_CN.UTF-8"; }

TEST_F(IniConformance, WritesProduceTheSameBytes) {
  struct Case {
    const char* name;
    std::optional<std::string> initial;  // none: no file yet
    std::string section, key, value;
  } cases[] = {
      {"new file", std::nullopt, "Option", "drive", "E:"},
      {"new key", "[Option]\r\ndrive=E:\r\n", "Option", "name", "abc"},
      {"new section", "[Option]\r\ndrive=E:\r\n", "Other", "x", "1"},
      {"new key before another section", "[Option]\r\na=1\r\n[Other]\r\nx=1\r\n", "Option", "b", "2"},
      {"replaced key, other case", "[Option]\r\nDrive=E:\r\nname=x\r\n", "OPTION", "drive", "F:"},
      {"empty value", "[Option]\r\ndrive=E:\r\n", "Option", "FontSize", ""},
      {"value emptied", "[Option]\r\nlabel=x\r\n", "Option", "label", ""},
      {"blanks after the value", std::nullopt, "Option", "label", "padded \t "},
      {"hand-written, new key", kHandWritten, "Option", "name", "zz"},
      {"hand-written, replaced key", kHandWritten, "Option", "drive", "G:"},
      {"hand-written, unchanged value", kHandWritten, "Option", "drive", "E:"},
      {"hand-written, line without =", kHandWritten, "Option", "noequal", "v"},
      {"double-byte value", std::nullopt, "Option", "label", kZhong + kTrailBackslash + kTrailBracket},
      {"] as trail byte in section name", "[" + kTrailBracket + "]\r\nk=1\r\n", kTrailBracket, "k", "2"},
      {"duplicate sections", "[Option]\r\na=1\r\n[Option]\r\nb=2\r\n", "Option", "b", "3"},
      {"repeated empty names", "[Option]\r\n=v1\r\nk=1\r\n=v2\r\n=v3\r\n", "Option", "z", "9"},
      {"LF and CR line ends", "[Option]\na=1\rb=2", "Option", "c", "3"},
      {"header with tail and missing ]", "[Option] tail\r\n[Broken\r\nk=1\r\n", "Option", "k", "2"},
      {"quotes are stored as given", std::nullopt, "Option", "label", "\"q\""},
      {"empty section name", "top=1\r\n[Option]\r\na=1\r\n", "", "k", "v"},
      {"empty key name", "[Option]\r\na=1\r\n", "Option", "", "v"},
      {"128-byte value", std::nullopt, "Option", "label", std::string(128, 'x')},
  };
  for (const auto& c : cases) {
    const fs::path theirs = NewFile();
    const fs::path ours = NewFile();
    if (c.initial) {
      Spit(theirs, *c.initial);
      Spit(ours, *c.initial);
    }
    ASSERT_TRUE(PlatformSet(theirs, c.section, c.key, c.value)) << c.name;
    OurSet(ours, c.section, c.key, c.value);
    EXPECT_EQ(Slurp(ours), Slurp(theirs)) << c.name;
  }
}

TEST_F(IniConformance, ReadsGiveTheSameValue) {
  const std::string over_127_zhong = std::string(126, 'a') + kZhong + "bbb";
  const std::string exact_127 = std::string(125, 'a') + kZhong + kZhong;
  std::string seventy_zhong;
  for (int i = 0; i < 70; ++i) seventy_zhong += kZhong;
  struct Case {
    const char* name;
    std::optional<std::string> file;
    std::string section, key;
  } cases[] = {
      {"missing file", std::nullopt, "Option", "drive"},
      {"missing section", kHandWritten, "Nope", "drive"},
      {"missing key", kHandWritten, "Option", "name"},
      {"blanks around =", kHandWritten, "Option", "drive"},
      {"line without =", kHandWritten, "Option", "noequal"},
      {"comment line", kHandWritten, "Option", ";c"},
      {"key above any section", kHandWritten, "", "free"},
      {"empty section is only the top", "[]\r\nk=1\r\n", "", "k"},
      {"blank key name", "[Option]\r\n=v\r\n", "Option", " "},
      {"empty value", "[Option]\r\nk=\r\n", "Option", "k"},
      {"tab and ^Z", "[Option]\r\nk=\t\x1Av \x1A\t\r\n", "Option", "k"},
      {"ideographic space", "[Option]\r\nk=\xA1\xA1v\xA1\xA1\r\n", "Option", "k"},
      {"case of names", "[OPTION]\r\nDRIVE=E:\r\n", "option", "drive"},
      {"quotes", "[Option]\r\na=\"x\"\r\n", "Option", "a"},
      {"lone quote", "[Option]\r\na=\"\r\n", "Option", "a"},
      {"NUL in value", "[Option]\r\nk=ab\0cd\r\n"s, "Option", "k"},
      {"127 bytes exactly", "[Option]\r\nk=" + exact_127 + "\r\n", "Option", "k"},
      {"cut inside a character", "[Option]\r\nk=" + over_127_zhong + "\r\n", "Option", "k"},
      {"cut inside a character, all Chinese", "[Option]\r\nk=" + seventy_zhong + "\r\n", "Option", "k"},
      {"] as trail byte after header", "[Option]" + kTrailBracket + "\r\nk=1\r\n", "Option", "k"},
      {"first of duplicates", "[Option]\r\nk=1\r\nk=2\r\n[Option]\r\nj=3\r\n", "Option", "k"},
      {"key of second duplicate section", "[Option]\r\nk=1\r\n[Option]\r\nj=3\r\n", "Option", "j"},
  };
  for (const auto& c : cases) {
    const fs::path file = NewFile();
    if (c.file) Spit(file, *c.file);
    const std::string expected = PlatformGet(file, c.section, c.key);
    EXPECT_EQ(IniText(c.file.value_or("")).Get(c.section, c.key), expected) << c.name;
  }
}

// Differences on purpose. Each check pins the platform's behaviour too, so a
// change in it shows up here.
TEST_F(IniConformance, DocumentedDifferences) {
  // A bound inside a double-byte character: the platform writes only whole
  // characters, ends the text at byte 127 and leaves byte 126 as the caller
  // had it. We leave the half character out; a caller that clears its buffer
  // (or fills it with blanks and trims) sees no difference.
  const fs::path cut = NewFile();
  const std::string value = std::string(126, 'a') + kZhong;
  Spit(cut, "[Option]\r\nk=" + value + "\r\n");
  EXPECT_EQ(PlatformGet(cut, "Option", "k", 'X'), std::string(126, 'a') + "X");
  EXPECT_EQ(IniText(Slurp(cut)).Get("Option", "k"), std::string(126, 'a'));

  // A quoted value whose inner text is exactly 127 characters: the platform
  // cuts at 127 and then removes the last character as if it were the closing
  // quote. We strip the quotes first and then apply the bound.
  const fs::path quoted = NewFile();
  Spit(quoted, "[Option]\r\nk=\"" + std::string(127, 'q') + "\"\r\n");
  EXPECT_EQ(PlatformGet(quoted, "Option", "k"), std::string(126, 'q'));
  EXPECT_EQ(IniText(Slurp(quoted)).Get("Option", "k"), std::string(127, 'q'));

  // Leading blanks of a written value: Wine's writer drops them, the
  // platform's writer on Windows stores the value as given, and so do we.
  // Both readers trim them again.
  const fs::path theirs = NewFile();
  const fs::path ours = NewFile();
  ASSERT_TRUE(PlatformSet(theirs, "Option", "name", " g%q.0tC"));
  OurSet(ours, "Option", "name", " g%q.0tC");
  EXPECT_EQ(Slurp(theirs), "[Option]\r\nname=g%q.0tC\r\n");
  EXPECT_EQ(Slurp(ours), "[Option]\r\nname= g%q.0tC\r\n");
  EXPECT_EQ(PlatformGet(ours, "Option", "name"), "g%q.0tC");
}

// ReadOption and WriteOption against the platform on the real settings path.
class OptionConformance : public IniConformance {
 protected:
  void SetUp() override {
    IniConformance::SetUp();
    SetSettingsFolderForTests(dir_.wstring());
    settings_ = SettingsFilePath();
  }
  void TearDown() override {
    SetSettingsFolderForTests(std::nullopt);
    IniConformance::TearDown();
  }

  std::wstring PlatformRead(const std::wstring& key) {
    std::string key936;
    EXPECT_TRUE(ToCp936(key, key936));
    std::wstring v = FromCp936(PlatformGet(settings_, "Option", key936));
    const std::size_t first = v.find_first_not_of(L' ');
    return first == std::wstring::npos ? L"" : v.substr(first, v.find_last_not_of(L' ') - first + 1);
  }

  bool PlatformWrite(const std::wstring& key, const std::wstring& value) {
    std::string key936, value936;
    EXPECT_TRUE(ToCp936(key, key936));
    EXPECT_TRUE(ToCp936(value, value936));
    return PlatformSet(settings_, "Option", key936, value936);
  }

  fs::path settings_;
};

TEST_F(OptionConformance, EachSideReadsWhatTheOtherWrote) {
  const std::wstring seventy_zhong(70, L'中');
  struct Step {
    const wchar_t* key;
    std::wstring value;
  } steps[] = {
      {L"drive", L"E:"},                        // new file
      {L"name", std::wstring(CipherPrefix) + L"abc"},  // new key
      {L"drive", L"F:"},                        // replaced key
      {L"FontSize", L""},                       // empty value
      {L"label", L"  挂机中，请勿操作！  "},   // blanks
      {L"photo", L"C:\\图片\\" + seventy_zhong},  // cut inside a character
  };
  // Odd steps written by us, even ones by the platform; after each step both
  // readers agree on every key so far, and on a key never written.
  int i = 0;
  for (const auto& s : steps) {
    if (i++ % 2 == 0) {
      ASSERT_EQ(WriteOption(L"Option", s.key, s.value), WriteResult::Ok) << i;
    } else {
      ASSERT_TRUE(PlatformWrite(s.key, s.value)) << i;
    }
    for (const wchar_t* key : {L"drive", L"name", L"FontSize", L"label", L"photo", L"Color"}) {
      EXPECT_EQ(ReadOption(L"Option", key), PlatformRead(key)) << "step " << i << " key " << fs::path(key).string();
    }
  }
  // 8 bytes of "C:\图片\" leave room for 59 whole characters in 127 bytes.
  EXPECT_EQ(ReadOption(L"Option", L"photo"), L"C:\\图片\\" + std::wstring(59, L'中'));
  EXPECT_EQ(ReadOption(L"Nope", L"drive"), L"");
  EXPECT_EQ(PlatformRead(L"Color"), L"");
}

TEST_F(OptionConformance, MissingFileReadsEmptyOnBothSides) {
  EXPECT_FALSE(fs::exists(settings_));
  EXPECT_EQ(ReadOption(L"Option", L"drive"), L"");
  EXPECT_EQ(PlatformRead(L"drive"), L"");
}

}  // namespace
}  // namespace tolvane
