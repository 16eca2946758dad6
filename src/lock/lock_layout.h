// Layout of the lock window: where its caption and message lines stand on a
// screen of a given size, which caption font the appearance settings ask for,
// which picture goes behind them, and which rectangles the cover windows take
// on the other monitors.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "appearance/appearance.h"

namespace tolvane {

struct Point {
  int x = 0;
  int y = 0;
};

struct LockLayout {
  Point label2;                 // the caption
  std::array<Point, 6> label1;  // the six message lines
};

// Positions on a background of `width` x `height` pixels: the caption at
// H / 1.12, the lines at H / 2, 1.85, 1.75, 1.65, 1.4 and 1.25, all at W / 25
// from the left, rounded to the nearest pixel. A caption `caption_height`
// tall, or a line `line_height` tall, that would run off the bottom of the
// screen there (a large caption font, a high display scale on a low screen)
// is raised until it ends at the bottom edge.
LockLayout LayoutLabels(int width, int height, int caption_height = 0, int line_height = 0);

// System colour index of the design caption colour (COLOR_HIGHLIGHTTEXT).
inline constexpr std::uint32_t kHighlightTextColour = 14;

// The caption's font and colour. The seven font keys are read by the rule the
// appearance editor shares (ReadFontBlock): applied together or not at all.
struct CaptionFont {
  float points = 27.75f;
  bool bold = true;
  bool italic = false;
  bool strikethru = false;
  bool underline = false;
  std::wstring face = L"宋体";
  TextColour colour{true, kHighlightTextColour};  // a system colour index, or a COLORREF
};

// The design font (宋体 bold 27.75 pt in the highlight-text colour) unless the
// settings hold a complete font block; a block without a face name keeps 宋体.
// `read` is ReadOption on section "Option"; `decimal` the user's decimal
// separator, which the editor writes sizes with.
CaptionFont LockCaptionFont(const OptionReader& read, wchar_t decimal);

// The picture behind the lock: the "photo" file when it exists, the skin
// picture when "photo" names a missing file, the program's own picture when
// "photo" is empty. `folder` has no trailing backslash.
std::wstring BackgroundPicturePath(const std::wstring& photo, bool photo_exists, const std::wstring& folder);

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect&) const = default;
};

struct Monitor {
  Rect rect;
  bool primary = false;
};

struct ScreenCover {
  Rect lock;                // the lock window: the primary monitor
  std::vector<Rect> covers; // one plain cover window for each other monitor
};

// The primary monitor is the flagged one, else the one at the origin, else
// the first. Monitors that lie wholly inside the lock window or inside a
// cover already placed (mirrored displays) need no cover of their own: a
// topmost cover there would only hide the lock window. An empty list gives
// the fallback screen.
ScreenCover CoverMonitors(const std::vector<Monitor>& monitors, const Rect& fallback);

}  // namespace tolvane
