#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <vector>

#include "lock/lock_layout.h"

namespace tolvane {
namespace {

TEST(LayoutLabels, FractionsOfTheScreen) {
  const LockLayout l = LayoutLabels(1024, 768);
  EXPECT_EQ(l.label1[0].y, 384);
  EXPECT_EQ(l.label2.y, 686);  // 768 / 1.12 = 685.7
  const int tops[6] = {384, 415, 439, 465, 549, 614};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(l.label1[i].y, tops[i]) << i;
    EXPECT_EQ(l.label1[i].x, 41) << i;  // 1024 / 25 = 40.96
  }
  EXPECT_EQ(l.label2.x, 41);

  const LockLayout wide = LayoutLabels(1920, 1080);
  EXPECT_EQ(wide.label1[0].y, 540);
  EXPECT_EQ(wide.label1[5].y, 864);
  EXPECT_EQ(wide.label2.y, 964);  // 964.29
  EXPECT_EQ(wide.label2.x, 77);   // 76.8
}

// A caption of 27.75 pt at 200 % is about 100 pixels tall: at H / 1.12 on a
// screen 768 high it would lose its lower part. It ends at the bottom edge
// instead; lines and captions that fit stay where the fractions put them.
TEST(LayoutLabels, TallTextStaysOnScreen) {
  const LockLayout l = LayoutLabels(1024, 768, 100, 30);
  EXPECT_EQ(l.label2.y, 668);
  EXPECT_EQ(l.label1[5].y, 614);  // 614 + 30 fits
  EXPECT_EQ(LayoutLabels(1024, 768, 82, 17).label2.y, 686);  // 686 + 82 = 768 just fits
  EXPECT_EQ(LayoutLabels(1024, 768, 0, 800).label1[0].y, 0);  // taller than the screen: from the top
  EXPECT_EQ(LayoutLabels(1920, 1080, 100, 30).label2.y, 964);
}

// The settings file as the reader sees it; records which keys were asked for.
struct Settings {
  std::map<std::wstring, std::wstring> values;
  std::vector<std::wstring> asked;

  OptionReader Reader() {
    return [this](std::wstring_view key) {
      asked.emplace_back(key);
      const auto it = values.find(std::wstring(key));
      return it == values.end() ? std::wstring() : it->second;
    };
  }
};

std::map<std::wstring, std::wstring> FullBlock() {
  return {{L"FontSize", L"12"},      {L"FontBold", L"False"}, {L"FontItalic", L"True"},
          {L"FontStrikethru", L"0"}, {L"FontUnderline", L"-1"}, {L"FontName", L"黑体"},
          {L"Color", L"255"}};
}

void ExpectDesign(const CaptionFont& f, const char* why) {
  EXPECT_FLOAT_EQ(f.points, 27.75f) << why;
  EXPECT_TRUE(f.bold) << why;
  EXPECT_FALSE(f.italic || f.strikethru || f.underline) << why;
  EXPECT_EQ(f.face, L"宋体") << why;
  EXPECT_TRUE(f.colour.system) << why;
  EXPECT_EQ(f.colour.value, kHighlightTextColour) << why;
}

TEST(LockCaptionFont, CompleteBlockIsApplied) {
  Settings s;
  s.values = FullBlock();
  const CaptionFont f = LockCaptionFont(s.Reader(), L'.');
  EXPECT_FLOAT_EQ(f.points, 12);
  EXPECT_FALSE(f.bold);
  EXPECT_TRUE(f.italic);
  EXPECT_FALSE(f.strikethru);
  EXPECT_TRUE(f.underline);
  EXPECT_EQ(f.face, L"黑体");
  EXPECT_FALSE(f.colour.system);
  EXPECT_EQ(f.colour.value, 255u);  // red: COLORREF, low byte red

  // A block without a face name keeps the design face, not the system's default.
  s.values[L"FontName"] = L"";
  EXPECT_EQ(LockCaptionFont(s.Reader(), L'.').face, L"宋体");
  // Sizes come with the user's decimal separator.
  s.values[L"FontSize"] = L"10,5";
  EXPECT_FLOAT_EQ(LockCaptionFont(s.Reader(), L',').points, 10.5f);
}

TEST(LockCaptionFont, NothingOfTheBlockWithoutFontSize) {
  Settings s;
  s.values = FullBlock();
  s.values[L"FontSize"] = L"";
  ExpectDesign(LockCaptionFont(s.Reader(), L'.'), "FontSize empty, others present");
  // The other keys are not even read then.
  EXPECT_EQ(s.asked, std::vector<std::wstring>{L"FontSize"});
  Settings none;
  ExpectDesign(LockCaptionFont(none.Reader(), L'.'), "no keys at all");
}

TEST(LockCaptionFont, NothingOfTheBlockWhenAKeyDoesNotConvert) {
  const struct {
    const wchar_t* key;
    const wchar_t* value;
  } spoilers[] = {
      {L"FontSize", L"big"}, {L"FontSize", L"0"},        {L"FontSize", L"-12"},
      {L"FontBold", L""},    {L"FontItalic", L"yes"},    {L"FontUnderline", L""},
      {L"Color", L""},       {L"Color", L"red"},         {L"FontName", L"a name longer than thirty-one chars"},
  };
  for (const auto& sp : spoilers) {
    Settings s;
    s.values = FullBlock();
    s.values[sp.key] = sp.value;
    ExpectDesign(LockCaptionFont(s.Reader(), L'.'), std::string(sp.key, sp.key + wcslen(sp.key)).c_str());
  }
}

TEST(BackgroundPicturePath, Fallbacks) {
  const std::wstring dir = L"C:\\prog";
  EXPECT_EQ(BackgroundPicturePath(L"D:\\p.gif", true, dir), L"D:\\p.gif");
  // A photo that has been deleted falls back to the skin picture, not to the
  // program's own one.
  EXPECT_EQ(BackgroundPicturePath(L"D:\\p.gif", false, dir), L"C:\\prog\\skin\\background.jpg");
  EXPECT_EQ(BackgroundPicturePath(L"", false, dir), L"C:\\prog\\background.jpg");
}

TEST(CoverMonitors, OneTwoThreeMonitors) {
  const Rect fallback{0, 0, 800, 600};
  const Rect a{0, 0, 1920, 1080}, left{-1280, 56, 0, 1080}, above{0, -1024, 1280, 0};

  ScreenCover one = CoverMonitors({{a, true}}, fallback);
  EXPECT_EQ(one.lock, a);
  EXPECT_TRUE(one.covers.empty());

  // Primary listed second, secondary to its left at negative coordinates.
  ScreenCover two = CoverMonitors({{left, false}, {a, true}}, fallback);
  EXPECT_EQ(two.lock, a);
  ASSERT_EQ(two.covers.size(), 1u);
  EXPECT_EQ(two.covers[0], left);

  ScreenCover three = CoverMonitors({{above, false}, {a, true}, {left, false}}, fallback);
  EXPECT_EQ(three.lock, a);
  EXPECT_EQ(three.covers, (std::vector<Rect>{above, left}));
}

TEST(CoverMonitors, OddMonitorLists) {
  const Rect fallback{0, 0, 800, 600};
  const Rect a{0, 0, 1920, 1080}, b{1920, 0, 3200, 1024};

  // No primary flag: the monitor at the origin carries the lock.
  ScreenCover noflag = CoverMonitors({{b, false}, {a, false}}, fallback);
  EXPECT_EQ(noflag.lock, a);
  EXPECT_EQ(noflag.covers, std::vector<Rect>{b});

  // A mirrored display inside the primary gets no cover: it would hide the lock.
  ScreenCover mirrored = CoverMonitors({{a, true}, {Rect{0, 0, 1280, 1024}, false}, {b, false}, {b, false}}, fallback);
  EXPECT_EQ(mirrored.lock, a);
  EXPECT_EQ(mirrored.covers, std::vector<Rect>{b});

  // Nothing usable: the fallback screen.
  ScreenCover none = CoverMonitors({{Rect{0, 0, 0, 0}, true}}, fallback);
  EXPECT_EQ(none.lock, fallback);
  EXPECT_TRUE(none.covers.empty());
  EXPECT_EQ(CoverMonitors({}, fallback).lock, fallback);
}

}  // namespace
}  // namespace tolvane
