#include <gtest/gtest.h>

#include <string>

#include "config/ini.h"

namespace tolvane {
namespace {

using namespace std::string_literals;  // "..."s keeps embedded NULs

// Code page 936 bytes: 中 (D6 D0); B0 5D and 81 41 / 81 61 are characters
// whose trail bytes are ']' and the letters 'A' / 'a'.
const std::string kZhong = "\xD6\xD0";
const std::string kTrailBracket = "\xB0\x5D";
const std::string kTrailUpperA = "\x81\x41";
const std::string kTrailLowerA = "\x81\x61";

// A file as a person might edit it: comments, blanks around '=', blank lines,
// a line without '=', keys above the first section.
const std::string kHandWritten =
    "; lead comment\r\nfree=1\r\n\r\n[Option]\r\n  drive =  E: \r\n\r\n;c=1\r\nnoequal\r\n\r\n\r\n[Other]\r\nx=1\r\n\r\n";

TEST(IniText, Get) {
  const std::string long_126_then_zhong = std::string(126, 'a') + kZhong + "bbb";
  const std::string long_125_then_two = std::string(125, 'a') + kZhong + kZhong;
  std::string seventy_zhong;
  for (int i = 0; i < 70; ++i) seventy_zhong += kZhong;
  struct Case {
    const char* name;
    std::string file, section, key, expected;
    std::size_t buffer = 128;
  } cases[] = {
      {"hand-written blanks around =", kHandWritten, "Option", "drive", "E:"},
      {"line without =", kHandWritten, "Option", "noequal", ""},
      {"comment line is just a key", kHandWritten, "Option", ";c", "1"},
      {"missing key", kHandWritten, "Option", "name", ""},
      {"missing section", kHandWritten, "Nope", "drive", ""},
      {"key of another section", kHandWritten, "Other", "drive", ""},
      {"empty file", "", "Option", "drive", ""},
      {"empty key name", kHandWritten, "Option", "", ""},
      {"key above the first header", kHandWritten, "", "free", "1"},
      {"empty section is only the top", "[]\r\nk=1\r\n", "", "k", ""},
      {"blank key name finds an empty name", "[Option]\r\n=v\r\n", "Option", " ", "v"},
      {"lookup names are trimmed", kHandWritten, " Option\t", " drive ", "E:"},
      {"ASCII case folded", "[OPTION]\r\nDrive=E:\r\n", "option", "dRIVE", "E:"},
      {"trail byte not case folded", "[" + kTrailUpperA + "]\r\nk=1\r\n", kTrailLowerA, "k", ""},
      {"trail byte exact", "[" + kTrailUpperA + "]\r\nk=1\r\n", kTrailUpperA, "k", "1"},
      {"] as trail byte in name", "[" + kTrailBracket + "]\r\nk=1\r\n", kTrailBracket, "k", "1"},
      {"] as trail byte after header", "[Option]" + kTrailBracket + "\r\nk=1\r\n", "Option", "k", "1"},
      {"header ends at last ]", "[Op]x] tail\r\nk=1\r\n", "Op]x", "k", "1"},
      {"header without ] is a key", "[Option]\r\n[Broken\r\nk=1\r\n", "Option", "[Broken", ""},
      {"section name trimmed", "[\t Sp ]\r\nk=1\r\n", "Sp", "k", "1"},
      {"tabs and ^Z trimmed", "[Option]\r\nk=\t\x1Aval\t\x1A\r\n", "Option", "k", "val"},
      {"ideographic space kept", "[Option]\r\nk=\xA1\xA1x\xA1\xA1\r\n", "Option", "k", "\xA1\xA1x\xA1\xA1"},
      {"double quotes removed", "[Option]\r\nk=\"quoted\"\r\n", "Option", "k", "quoted"},
      {"single quotes removed", "[Option]\r\nk='sq'\r\n", "Option", "k", "sq"},
      {"empty quotes", "[Option]\r\nk=\"\"\r\n", "Option", "k", ""},
      {"unmatched quote kept", "[Option]\r\nk=\"open\r\n", "Option", "k", "\"open"},
      {"lone quote kept", "[Option]\r\nk=\"\r\n", "Option", "k", "\""},
      {"first of duplicate keys", "[Option]\r\nk=1\r\nk=2\r\n", "Option", "k", "1"},
      {"only first of duplicate sections", "[Option]\r\na=1\r\n[Option]\r\nb=2\r\n", "Option", "b", ""},
      {"NUL ends the value", "[Option]\r\nk=ab\0cd\r\nj=2\r\n"s, "Option", "k", "ab"},
      {"line after NUL intact", "[Option]\r\nk=ab\0cd\r\nj=2\r\n"s, "Option", "j", "2"},
      {"LF line ends", "[Option]\na=1\nb=2", "Option", "b", "2"},
      {"CR line ends", "[Option]\ra=1\rb=2\r", "Option", "b", "2"},
      {"double-byte value", "[Option]\r\nk=" + kZhong + "\\x\r\n", "Option", "k", kZhong + "\\x"},
      {"127-byte bound", "[Option]\r\nk=" + std::string(129, 'a') + "\r\n", "Option", "k", std::string(127, 'a')},
      {"bound inside a character drops it", "[Option]\r\nk=" + long_126_then_zhong + "\r\n", "Option", "k",
       std::string(126, 'a')},
      {"character ending at the bound kept", "[Option]\r\nk=" + long_125_then_two + "\r\n", "Option", "k",
       std::string(125, 'a') + kZhong},
      {"all double-byte", "[Option]\r\nk=" + seventy_zhong + "\r\n", "Option", "k", seventy_zhong.substr(0, 126)},
      {"custom buffer", "[Option]\r\nk=abcdef\r\n", "Option", "k", "abc", 4},
      {"buffer of one", "[Option]\r\nk=abcdef\r\n", "Option", "k", "", 1},
      {"buffer of zero", "[Option]\r\nk=abcdef\r\n", "Option", "k", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IniText(c.file).Get(c.section, c.key, c.buffer), c.expected) << c.name;
  }
}

TEST(IniText, Set) {
  struct Case {
    const char* name;
    std::string file, section, key, value, expected;
  } cases[] = {
      {"new file", "", "Option", "drive", "E:", "[Option]\r\ndrive=E:\r\n"},
      {"new key at end of section", "[Option]\r\ndrive=E:\r\n", "Option", "name", "abc",
       "[Option]\r\ndrive=E:\r\nname=abc\r\n"},
      {"new section at end of file", "[Option]\r\ndrive=E:\r\n", "Other", "x", "1",
       "[Option]\r\ndrive=E:\r\n[Other]\r\nx=1\r\n"},
      {"new key before next section", "[Option]\r\na=1\r\n[Other]\r\nx=1\r\n", "Option", "b", "2",
       "[Option]\r\na=1\r\nb=2\r\n[Other]\r\nx=1\r\n"},
      {"replace in place, name kept", "[Option]\r\nDrive=E:\r\nname=x\r\n", "option", "DRIVE", "F:",
       "[Option]\r\nDrive=F:\r\nname=x\r\n"},
      // As the platform's writer on Windows does; Wine's drops the leading ones.
      {"blanks stored as given", "", "Option", "k", " \t lead ", "[Option]\r\nk= \t lead \r\n"},
      {"empty value keeps the key", "[Option]\r\nk=1\r\n", "Option", "k", "", "[Option]\r\nk=\r\n"},
      {"value cut at NUL", "", "Option", "k", "ab\0cd"s, "[Option]\r\nk=ab\r\n"},
      {"hand-written file normalised", kHandWritten, "Option", "name", "zz",
       "; lead comment\r\nfree=1\r\n[Option]\r\ndrive=E:\r\n;c=1\r\nnoequal\r\nname=zz\r\n[Other]\r\nx=1\r\n"},
      {"line without = gets a value in place", kHandWritten, "Option", "noequal", "v",
       "; lead comment\r\nfree=1\r\n[Option]\r\ndrive=E:\r\n;c=1\r\nnoequal=v\r\n[Other]\r\nx=1\r\n"},
      {"only the first section of a name", "[Option] x\r\na=1\r\n[ Sp ]\r\n[Option]\r\ne=5\r\n", "Option", "e", "6",
       "[Option]\r\na=1\r\ne=6\r\n[Sp]\r\n[Option]\r\ne=5\r\n"},
      {"repeated empty names collapse", "[Option]\r\n=v1\r\nk=1\r\n=v2\r\n=v3\r\n", "Option", "z", "9",
       "[Option]\r\n=v1\r\nk=1\r\n=v2\r\nz=9\r\n"},
      {"empty section means the top of the file", "top=1\r\n[Option]\r\na=1\r\n", "", "k", "v",
       "top=1\r\nk=v\r\n[Option]\r\na=1\r\n"},
      {"line ends become CRLF", "[Option]\na=1\rb=2", "Option", "c", "3", "[Option]\r\na=1\r\nb=2\r\nc=3\r\n"},
      {"created names keep trailing blanks", "", " Option ", " key ", "v", "[Option ]\r\nkey =v\r\n"},
      {"trail byte is not a letter", "[Option]\r\n" + kTrailUpperA + "=1\r\n", "Option", kTrailLowerA, "2",
       "[Option]\r\n" + kTrailUpperA + "=1\r\n" + kTrailLowerA + "=2\r\n"},
      {"line breaks in a value are written as they are", "", "Option", "k", "a\r\nb=c",
       "[Option]\r\nk=a\r\nb=c\r\n"},
  };
  for (const auto& c : cases) {
    IniText ini(c.file);
    ini.Set(c.section, c.key, c.value);
    EXPECT_EQ(ini.Serialize(), c.expected) << c.name;
  }
}

TEST(IniText, UnchangedValueLeavesFileAlone) {
  const std::string cases[][3] = {
      {"Option", "drive", "E:"},
      {"OPTION", "Drive", "E:"},
  };
  for (const auto& c : cases) {
    IniText ini(kHandWritten);
    ini.Set(c[0], c[1], c[2]);
    EXPECT_EQ(ini.Serialize(), kHandWritten) << c[1];
  }
  IniText ini("[Option]\r\nk=abc \r\n");
  ini.Set("Option", "k", "abc ");  // stored value was trimmed on reading
  EXPECT_EQ(ini.Serialize(), "[Option]\r\nk=abc \r\n");
}

TEST(IniText, WrittenValuesReadBack) {
  const std::string values[] = {"E:", "", "a b", kZhong + "\\" + kTrailBracket, std::string(127, 'x'),
                                "X\\%.-@iu~v|O/Czr<#b", "=;[]"};
  IniText ini;
  for (const std::string& v : values) {
    ini.Set("Option", "name", v);
    ini.Set("Option", "label", "other");
    EXPECT_EQ(ini.Get("Option", "name"), v);
    EXPECT_EQ(ini.Get("Option", "label"), "other");
  }
}

}  // namespace
}  // namespace tolvane
