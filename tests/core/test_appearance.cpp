#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "appearance/appearance.h"

namespace tolvane {
namespace {

FontBlockTexts Texts(const wchar_t* size, const wchar_t* bold, const wchar_t* italic, const wchar_t* strike,
                     const wchar_t* underline, const wchar_t* name, const wchar_t* colour) {
  return {size, bold, italic, strike, underline, name, colour};
}

const FontBlockTexts kGood = {L"24", L"True", L"False", L"False", L"False", L"黑体", L"255"};

TEST(FontBlock, AppliesOnlyAsAWholeAndOnlyWithAFontSize) {
  struct Case {
    const char* what;
    FontBlockTexts texts;
    bool applies;
  } cases[] = {
      {"as the editor writes it", kGood, true},
      {"nothing stored", FontBlockTexts{}, false},
      {"size empty, the rest valid", Texts(L"", L"True", L"True", L"True", L"True", L"宋体", L"0"), false},
      {"size not a number", Texts(L"abc", L"True", L"False", L"False", L"False", L"黑体", L"255"), false},
      {"size with a unit", Texts(L"24pt", L"True", L"False", L"False", L"False", L"黑体", L"255"), false},
      {"size zero", Texts(L"0", L"True", L"False", L"False", L"False", L"黑体", L"255"), false},
      {"size negative", Texts(L"-3", L"True", L"False", L"False", L"False", L"黑体", L"255"), false},
      {"size with exponent", Texts(L"1e2", L"True", L"False", L"False", L"False", L"黑体", L"255"), false},
      {"size two points", Texts(L"1.2.3", L"True", L"False", L"False", L"False", L"黑体", L"255"), false},
      {"size past the chooser's limit", Texts(L"1639", L"True", L"False", L"False", L"False", L"黑体", L"255"),
       false},
      {"size at the chooser's limit", Texts(L"1638", L"True", L"False", L"False", L"False", L"黑体", L"255"), true},
      {"boolean missing", Texts(L"24", L"", L"False", L"False", L"False", L"黑体", L"255"), false},
      {"boolean in words", Texts(L"24", L"True", L"yes", L"False", L"False", L"黑体", L"255"), false},
      {"underline missing", Texts(L"24", L"True", L"False", L"False", L"", L"黑体", L"255"), false},
      {"face may be empty", Texts(L"24", L"True", L"False", L"False", L"False", L"", L"255"), true},
      {"face longer than a font name", Texts(L"24", L"True", L"False", L"False", L"False",
                                             std::wstring(32, L'A').c_str(), L"255"),
       false},
      {"colour missing", Texts(L"24", L"True", L"False", L"False", L"False", L"黑体", L""), false},
      {"colour in words", Texts(L"24", L"True", L"False", L"False", L"False", L"黑体", L"red"), false},
      {"colour in hex", Texts(L"24", L"True", L"False", L"False", L"False", L"黑体", L"0xFF"), false},
      {"colour past 32 bits", Texts(L"24", L"True", L"False", L"False", L"False", L"黑体", L"4294967295"), false},
      {"colour with a palette byte", Texts(L"24", L"True", L"False", L"False", L"False", L"黑体", L"16777216"),
       false},
      {"system colour 14", Texts(L"24", L"True", L"False", L"False", L"False", L"黑体", L"-2147483634"), true},
      {"system colour past the last", Texts(L"24", L"True", L"False", L"False", L"False", L"黑体", L"-2147483617"),
       false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseFontBlock(c.texts).has_value(), c.applies) << c.what;
  }
}

TEST(FontBlock, ConvertsEachValue) {
  const auto block = ParseFontBlock(Texts(L"10.5", L"true", L"FALSE", L"0", L"-1", L"", L"16777215"));
  ASSERT_TRUE(block);
  EXPECT_FLOAT_EQ(block->points, 10.5f);
  EXPECT_TRUE(block->bold);
  EXPECT_FALSE(block->italic);
  EXPECT_FALSE(block->strikethru);
  EXPECT_TRUE(block->underline);  // any number other than zero is true
  EXPECT_EQ(block->name, L"");
  EXPECT_EQ(block->colour, (TextColour{false, 0xFFFFFF}));

  const auto system = ParseFontBlock(Texts(L"9", L"0.0", L"1", L"False", L"False", L"宋体", L"-2147483634"));
  ASSERT_TRUE(system);
  EXPECT_FALSE(system->bold);
  EXPECT_TRUE(system->italic);
  EXPECT_EQ(system->colour, (TextColour{true, 14}));
}

TEST(FontBlock, SizeTakesTheLocaleSeparatorAsWellAsThePoint) {
  EXPECT_EQ(ParseFontSize(L"10,5", L','), 10.5f);
  EXPECT_EQ(ParseFontSize(L"10.5", L','), 10.5f);
  EXPECT_EQ(ParseFontSize(L"10,5"), std::nullopt);
  EXPECT_EQ(ParseFontSize(L".5"), 0.5f);
  EXPECT_EQ(ParseFontSize(L"12."), 12.0f);
  EXPECT_EQ(ParseFontSize(L"."), std::nullopt);
}

TEST(FontBlock, ReaderStopsAtAnEmptyFontSize) {
  std::vector<std::wstring> asked;
  std::map<std::wstring, std::wstring> file = {{L"FontBold", L"True"}, {L"Color", L"255"}};
  auto read = [&](std::wstring_view key) {
    asked.emplace_back(key);
    const auto it = file.find(std::wstring(key));
    return it == file.end() ? std::wstring() : it->second;
  };
  EXPECT_FALSE(ReadFontBlock(read));
  EXPECT_EQ(asked, std::vector<std::wstring>{L"FontSize"});

  asked.clear();
  file = {{L"FontSize", L"24"},        {L"FontBold", L"True"}, {L"FontItalic", L"False"},
          {L"FontStrikethru", L"False"}, {L"FontUnderline", L"False"}, {L"FontName", L"黑体"},
          {L"Color", L"255"}};
  const auto block = ReadFontBlock(read);
  ASSERT_TRUE(block);
  EXPECT_EQ(*block, *ParseFontBlock(kGood));
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"FontSize", L"FontBold", L"FontItalic", L"FontStrikethru",
                                              L"FontUnderline", L"FontName", L"Color"}));
}

TEST(FontTexts, SizesAreShortestDecimal) {
  EXPECT_EQ(FontSizeText(24.0f), L"24");
  EXPECT_EQ(FontSizeText(10.5f), L"10.5");
  EXPECT_EQ(FontSizeText(9.75f), L"9.75");
  EXPECT_EQ(FontSizeText(10.2f), L"10.2");  // not 10.19999981
  EXPECT_EQ(FontSizeText(1638.0f), L"1638");
  EXPECT_EQ(FontSizeText(10.5f, L','), L"10,5");
}

TEST(FontTexts, EveryTenthOfAPointReadsBackUnchanged) {
  // The chooser reports sizes in tenths of a point; each must survive a save
  // and the next load exactly.
  for (int tenths = 10; tenths <= 16380; ++tenths) {
    const float points = static_cast<float>(tenths) / 10.0f;
    const std::wstring text = FontSizeText(points);
    const auto back = ParseFontSize(text);
    ASSERT_TRUE(back) << tenths;
    ASSERT_EQ(*back, points) << tenths;
  }
}

TEST(FontTexts, SizesWithoutAnIntegerPartStayPlainDecimals) {
  // %g writes these with an exponent, which the reader refuses, and then the
  // whole font block would be ignored at the next load.
  EXPECT_EQ(FontSizeText(0.00001f), L"0.00001");
  EXPECT_EQ(FontSizeText(0.0001f), L"0.0001");
  EXPECT_EQ(FontSizeText(0.000123456f, L','), L"0,000123456");
  for (float points = 1e-30f; points <= kMaxFontPoints; points *= 1.37f) {
    const std::wstring text = FontSizeText(points);
    EXPECT_EQ(text.find_first_not_of(L"0123456789."), std::wstring::npos) << text;
    const auto back = ParseFontSize(text);
    ASSERT_TRUE(back) << text;
    EXPECT_NEAR(*back / points, 1.0f, 1e-6f) << text;
    // Short enough for the settings file, and the editor's block reads back.
    FontBlockTexts texts = kGood;
    texts[kKeyFontSize] = text;
    EXPECT_TRUE(ParseFontBlock(texts)) << text;
  }
}

TEST(FontTexts, ColoursAreSignedDecimal) {
  EXPECT_EQ(ColourText({false, 0x0000FF}), L"255");  // pure red: 0x00BBGGRR
  EXPECT_EQ(ColourText({false, 0xFFFFFF}), L"16777215");
  EXPECT_EQ(ColourText({false, 0}), L"0");
  EXPECT_EQ(ColourText({true, 14}), L"-2147483634");
  for (const TextColour c : {TextColour{false, 0x123456}, TextColour{true, 5}, TextColour{false, 0xFFFFFF}}) {
    const auto stored = ParseInt32(ColourText(c));
    ASSERT_TRUE(stored);
    EXPECT_EQ(ColourFromStored(*stored), c);
  }
  EXPECT_EQ(ParseInt32(L"-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt32(L"2147483647"), INT32_MAX);
  EXPECT_EQ(ParseInt32(L"2147483648"), std::nullopt);
  EXPECT_EQ(ParseInt32(L"-"), std::nullopt);
}

TEST(FontTexts, BlockAsTheEditorWritesIt) {
  FontBlock block;
  block.points = 24.0f;
  block.bold = true;
  block.name = L"黑体";
  block.colour = {false, 0xFFFFFF};
  const FontBlockTexts expected = {L"24", L"True", L"False", L"False", L"False", L"黑体", L"16777215"};
  EXPECT_EQ(TextsOfFontBlock(block), expected);
  EXPECT_EQ(ParseFontBlock(TextsOfFontBlock(block)), block);
}

TEST(AppearanceWrite, RefusesValuesTheSettingsFileWouldChange) {
  struct Case {
    const char* what;
    std::size_t key;
    std::wstring value;
    ValueProblem problem;
  } cases[] = {
      {"63 Chinese characters fit", kKeyLabel, std::wstring(63, L'锁'), ValueProblem::None},
      {"64 are 128 bytes", kKeyLabel, std::wstring(64, L'锁'), ValueProblem::TooLong},
      {"127-byte path fits", kKeyPhoto, L"C:\\" + std::wstring(124, L'a'), ValueProblem::None},
      {"128-byte path", kKeyPhoto, L"C:\\" + std::wstring(125, L'a'), ValueProblem::TooLong},
      {"character outside code page 936", kKeyLabel, L"锁屏\U0001F512", ValueProblem::Unrepresentable},
      {"Korean letters", kKeyPhoto, L"C:\\사진.jpg", ValueProblem::Unrepresentable},
  };
  for (const auto& c : cases) {
    AppearanceValues values;
    values[kKeyLabel] = kDefaultCaption;
    values[c.key] = c.value;
    const AppearanceCheck check = CheckAppearanceValues(values);
    EXPECT_EQ(check.problem, c.problem) << c.what;
    if (c.problem == ValueProblem::None) continue;
    EXPECT_EQ(check.key, c.key) << c.what;
    const std::wstring message = AppearanceProblemMessage(check);
    EXPECT_NE(message.find(c.key == kKeyLabel ? L"文字提示" : L"背景图片"), std::wstring::npos) << c.what;
  }
  EXPECT_EQ(CheckAppearanceValues(AppearanceValues{}).problem, ValueProblem::None);  // "默 认"
}

}  // namespace
}  // namespace tolvane
