// Faces composed by the skin engine, read back from the button's memory
// surfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "skin/face_template.h"
#include "skin_support.h"

namespace tolvane::test {
namespace {

using skin::TemplatePixel;

struct FaceSize {
  int w, h;
};
const FaceSize kSizes[] = {{8, 10}, {57, 20}, {81, 25}, {200, 60}};

// Template row `row` of band `state` laid out across a face of width w:
// corner columns as they are, the middle column repeated.
unsigned SlicedRow(int state, int row, int w, int x) {
  const int y = 21 * state + row;
  if (x < 4) return TemplatePixel(x, y);
  if (x >= w - 4) return TemplatePixel(x - (w - 4) + 5, y);
  return TemplatePixel(4, y);
}

bool RowMatches(const Face& face, int y, int state, int w, int firstRow, int lastRow) {
  for (int x = 0; x < w; ++x) {
    unsigned expected = 0xFFFFFF;
    // A shrinking StretchBlt in the default BLACKONWHITE mode ANDs the rows
    // it folds into one.
    for (int row = firstRow; row <= lastRow; ++row) expected &= SlicedRow(state, row, w, x);
    if (face.at(x, y) != expected) return false;
  }
  return true;
}

class SkinFaces : public SkinFormTest {};

TEST_F(SkinFaces, NineSliceOfTheTemplate) {
  for (const FaceSize size : kSizes) {
    HWND button = AddPushButton(form_, L"", 10, 10, size.w, size.h);
    ASSERT_EQ(skin::SkinWindow(button), 1);
    for (int s = 0; s < 4; ++s) {
      SCOPED_TRACE(testing::Message() << size.w << " x " << size.h << ", face " << s);
      const Face face = ReadFace(button, s);
      ASSERT_EQ(face.w, size.w);
      // Top and bottom five rows: corners unscaled, middle column stretched.
      for (int row = 0; row < 5; ++row) {
        EXPECT_TRUE(RowMatches(face, row, s, size.w, row, row)) << "top row " << row;
        EXPECT_TRUE(RowMatches(face, size.h - 5 + row, s, size.w, 16 + row, 16 + row)) << "bottom row " << row;
      }
      // Middle rows: the template's 11 middle rows scaled to h - 10, in order.
      const int middle = size.h - 10;
      int next = 0;  // lowest template middle row the next face row may show
      std::vector<bool> shown(11, false);
      for (int j = 0; j < middle; ++j) {
        bool found = false;
        for (int first = next; first < 11 && !found; ++first) {
          const int maxSpan = middle < 11 ? 1 : 0;
          for (int span = 0; span <= maxSpan && first + span < 11 && !found; ++span) {
            if (RowMatches(face, 5 + j, s, size.w, 5 + first, 5 + first + span)) {
              found = true;
              for (int k = first; k <= first + span; ++k) shown[static_cast<std::size_t>(k)] = true;
              next = first + span;
            }
          }
        }
        EXPECT_TRUE(found) << "face row " << 5 + j << " is no (folded) template row in order";
      }
      if (middle >= 11) {
        EXPECT_TRUE(std::all_of(shown.begin(), shown.end(), [](bool b) { return b; }))
            << "stretching must show every template row";
      }
    }
  }
}

// Counts pixels of one colour inside and outside the caption box.
struct Ink {
  int inside = 0, outside = 0;
};
Ink CountColour(const Face& face, unsigned rgb) {
  Ink ink;
  for (int y = 0; y < face.h; ++y) {
    for (int x = 0; x < face.w; ++x) {
      if (face.at(x, y) != rgb) continue;
      const bool in = x >= 2 && x < face.w - 2 && y >= 2 && y < face.h - 2;
      (in ? ink.inside : ink.outside)++;
    }
  }
  return ink;
}

TEST_F(SkinFaces, CaptionBlackOnLiveFacesGreyOnDisabled) {
  for (const FaceSize size : {FaceSize{57, 20}, FaceSize{81, 25}, FaceSize{200, 60}}) {
    HWND button = AddPushButton(form_, L"Save", 10, 10, size.w, size.h);
    skin::SkinWindow(button);
    for (int s = 0; s < 4; ++s) {
      SCOPED_TRACE(testing::Message() << size.w << " x " << size.h << ", face " << s);
      const Face face = ReadFace(button, s);
      const Ink black = CountColour(face, 0x000000), grey = CountColour(face, 0x808080);
      const Ink& text = s == 3 ? grey : black;
      const Ink& other = s == 3 ? black : grey;
      EXPECT_GT(text.inside, 10);
      EXPECT_EQ(text.outside, 0);
      EXPECT_EQ(other.inside + other.outside, 0);
    }
  }
}

// Columns holding caption ink, with the rows the ink spans.
struct InkColumn {
  int x, top, bottom;
};
std::vector<InkColumn> InkColumns(const Face& face) {
  std::vector<InkColumn> columns;
  for (int x = 0; x < face.w; ++x) {
    int top = -1, bottom = -1;
    for (int y = 0; y < face.h; ++y) {
      if (face.at(x, y) != 0x000000) continue;
      if (top < 0) top = y;
      bottom = y;
    }
    if (top >= 0) columns.push_back({x, top, bottom});
  }
  return columns;
}

// Columns at the right end of the ink that are no taller than a dot and sit
// on the baseline: the ellipsis. Captions of capital H alone have none.
int TrailingDotColumns(const std::vector<InkColumn>& columns) {
  if (columns.empty()) return 0;
  int textTop = columns.front().top, baseline = 0;
  for (const InkColumn& c : columns) {
    textTop = std::min(textTop, c.top);
    baseline = std::max(baseline, c.bottom);
  }
  int dots = 0;
  for (auto it = columns.rbegin(); it != columns.rend(); ++it) {
    const bool dot = it->bottom - it->top <= 2 && it->bottom >= baseline - 1 && it->top > textTop + 2;
    if (!dot) break;
    ++dots;
  }
  return dots;
}

TEST_F(SkinFaces, LongCaptionEndsInEllipsis) {
  HWND fits = AddPushButton(form_, L"HHH", 10, 10, 81, 25);
  HWND tooLong = AddPushButton(form_, L"HHHHHHHHHHHHHHHHHHHHHHHHHHHHHH", 10, 40, 81, 25);
  skin::SkinWindow(fits);
  skin::SkinWindow(tooLong);

  EXPECT_EQ(TrailingDotColumns(InkColumns(ReadFace(fits, 0))), 0);

  for (int s = 0; s < 3; ++s) {
    const std::vector<InkColumn> ink = InkColumns(ReadFace(tooLong, s));
    ASSERT_FALSE(ink.empty());
    // One line, cut at its end: it starts at the left of the caption box
    // and runs out in dots inside it.
    EXPECT_LE(ink.front().x, 10) << "face " << s;
    EXPECT_LT(ink.back().x, 81 - 2) << "face " << s;
    EXPECT_GE(TrailingDotColumns(ink), 3) << "face " << s;
  }
}

// Pixels on the outline of the caption box; the focus rectangle is drawn
// there and nowhere else.
bool OnFocusOutline(int x, int y, int w, int h) {
  const bool inX = x >= 2 && x <= w - 3, inY = y >= 2 && y <= h - 3;
  return (inX && (y == 2 || y == h - 3)) || (inY && (x == 2 || x == w - 3));
}

TEST_F(SkinFaces, FocusRectangleOnAllFacesOnlyWhileFocused) {
  ShowWindow(form_, SW_SHOW);
  HWND button = AddPushButton(form_, L"OK", 20, 20, 81, 25);
  HWND other = AddPushButton(form_, L"Other", 20, 60, 81, 25);
  SetFocus(other);
  ASSERT_EQ(skin::SkinWindow(form_), 1);
  ASSERT_NE(GetFocus(), button);

  Face plain[4];
  for (int s = 0; s < 4; ++s) plain[s] = ReadFace(button, s);

  SetFocus(button);
  ASSERT_EQ(GetFocus(), button);
  for (int s = 0; s < 4; ++s) {
    const Face focused = ReadFace(button, s);
    int changedOnOutline = 0, changedElsewhere = 0, outline = 0;
    for (int y = 0; y < focused.h; ++y) {
      for (int x = 0; x < focused.w; ++x) {
        const bool on = OnFocusOutline(x, y, focused.w, focused.h);
        outline += on;
        if (focused.at(x, y) != plain[s].at(x, y)) (on ? changedOnOutline : changedElsewhere)++;
      }
    }
    // A dotted line: about every other pixel of the outline.
    EXPECT_GE(changedOnOutline, outline / 3) << "face " << s;
    EXPECT_EQ(changedElsewhere, 0) << "face " << s;
  }

  SetFocus(other);
  for (int s = 0; s < 4; ++s) EXPECT_EQ(ReadFace(button, s).rgb, plain[s].rgb) << "face " << s;
}

TEST_F(SkinFaces, TemplateBitmapHoldsTheTable) {
  HWND button = AddPushButton(form_, L"", 10, 10, 57, 20);
  skin::SkinWindow(button);
  HDC dc = skin::CurrentEngineState().templateDc;
  ASSERT_NE(dc, nullptr);
  int wrong = 0;
  for (int y = 0; y < 84; ++y) {
    for (int x = 0; x < 9; ++x) {
      if (GetPixel(dc, x, y) != skin::ToColorRef(TemplatePixel(x, y))) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
  BITMAP bm{};
  ASSERT_TRUE(GetObjectW(skin::CurrentEngineState().templateBitmap, sizeof(bm), &bm));
  EXPECT_EQ(bm.bmWidth, 9);
  EXPECT_EQ(bm.bmHeight, 84);
}

}  // namespace
}  // namespace tolvane::test
