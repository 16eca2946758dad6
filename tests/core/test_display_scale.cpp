// Scaling the design sizes to a display's DPI.
#include <gtest/gtest.h>

#include "platform/display_scale.h"

namespace tolvane {
namespace {

TEST(DisplayScale, LengthsRoundHalfAwayFromZero) {
  struct Case {
    int px, dpi, expected;
  };
  const Case cases[] = {
      {340, 96, 340}, {340, 120, 425}, {340, 144, 510}, {340, 192, 680},
      {263, 120, 329},  // 328.75
      {263, 144, 395},  // 394.5: half rounds up
      {1, 144, 2},      // 1.5
      {-3, 144, -5},    // -4.5: away from zero, as MulDiv
      {17, 0, 17},      // a failed DPI query counts as 96
      {17, -1, 17},
      {30000, 480, 150000},
  };
  for (const Case& c : cases) EXPECT_EQ(ScaleToDpi(c.px, c.dpi), c.expected) << c.px << " at " << c.dpi;
}

// The lock window's password boxes are given in twips: 840, 480, 2175 x 270.
TEST(DisplayScale, TwipsOfThePasswordBoxes) {
  EXPECT_EQ(TwipsToPixels(840, 96), 56);
  EXPECT_EQ(TwipsToPixels(480, 96), 32);
  EXPECT_EQ(TwipsToPixels(2175, 96), 145);
  EXPECT_EQ(TwipsToPixels(270, 96), 18);
  EXPECT_EQ(TwipsToPixels(2175, 144), 218);  // 217.5
  EXPECT_EQ(TwipsToPixels(270, 144), 27);
  EXPECT_EQ(TwipsToPixels(2175, 192), 290);
  EXPECT_EQ(TwipsToPixels(270, 120), 23);  // 22.5
}

TEST(DisplayScale, FontHeights) {
  EXPECT_EQ(FontHeightForDpi(9, 96), -12);
  EXPECT_EQ(FontHeightForDpi(9, 144), -18);
  EXPECT_EQ(FontHeightForDpi(9.75, 96), -13);
  EXPECT_EQ(FontHeightForDpi(9.75, 120), -16);  // 16.25
  EXPECT_EQ(FontHeightForDpi(27.75, 192), -74);
  EXPECT_EQ(FontHeightForDpi(0.1, 96), -1);  // never 0: that would be the default size
  EXPECT_EQ(FontHeightForDpi(9, 0), -12);
}

// Edges scale, not sizes: two controls that touch at 96 DPI touch at any DPI,
// and one that ends at the window's edge still ends there.
TEST(DisplayScale, RectanglesKeepTheirEdgesTogether) {
  for (int dpi : {96, 110, 120, 144, 168, 192, 240}) {
    const DesignRect a = ScaleRect({13, 7, 57, 21}, dpi);
    const DesignRect b = ScaleRect({70, 28, 9, 3}, dpi);
    EXPECT_EQ(a.x + a.width, b.x) << dpi;
    EXPECT_EQ(a.y + a.height, b.y) << dpi;
    const DesignRect whole = ScaleRect({0, 0, 340, 263}, dpi);
    const DesignRect close = ScaleRect({304, 8, 36, 20}, dpi);
    EXPECT_EQ(close.x + close.width, whole.width) << dpi;
  }
  EXPECT_EQ(ScaleRect({56, 224, 81, 25}, 144), (DesignRect{84, 336, 122, 38}));
}

TEST(DisplayScale, PictureSets) {
  struct Case {
    int dpi, set;
  };
  const Case cases[] = {
      {96, 0}, {120, 1}, {144, 2}, {192, 3},  // a set for each
      {72, 0},  {0, 0},                       // below the design size and a failed query: the design set
      {108, 1}, {168, 3},                     // between sets: the next larger one, reduced
      {240, 3}, {288, 3},                     // above all: the largest, enlarged
  };
  for (const Case& c : cases) EXPECT_EQ(PictureSetFor(c.dpi), c.set) << c.dpi;
}

}  // namespace
}  // namespace tolvane
