#include "lock/lock_layout.h"

#include <algorithm>
#include <cmath>

namespace tolvane {
namespace {

constexpr double kLabel2Divisor = 1.12;
constexpr std::array<double, 6> kLabel1Divisors = {2, 1.85, 1.75, 1.65, 1.4, 1.25};
constexpr double kLeftDivisor = 25;

int Divide(int extent, double divisor) { return static_cast<int>(std::lround(extent / divisor)); }

bool Contains(const Rect& outer, const Rect& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

}  // namespace

LockLayout LayoutLabels(int width, int height, int caption_height, int line_height) {
  LockLayout l;
  const int left = Divide(width, kLeftDivisor);
  const auto on_screen = [height](int top, int extent) { return std::max(0, std::min(top, height - extent)); };
  l.label2 = {left, on_screen(Divide(height, kLabel2Divisor), caption_height)};
  for (std::size_t i = 0; i < l.label1.size(); ++i) {
    l.label1[i] = {left, on_screen(Divide(height, kLabel1Divisors[i]), line_height)};
  }
  return l;
}

CaptionFont LockCaptionFont(const OptionReader& read, wchar_t decimal) {
  CaptionFont font;
  const auto block = ReadFontBlock(read, decimal);
  if (!block) return font;
  font.points = block->points;
  font.bold = block->bold;
  font.italic = block->italic;
  font.strikethru = block->strikethru;
  font.underline = block->underline;
  if (!block->name.empty()) font.face = block->name;
  font.colour = block->colour;
  return font;
}

std::wstring BackgroundPicturePath(const std::wstring& photo, bool photo_exists, const std::wstring& folder) {
  if (photo.empty()) return folder + L"\\background.jpg";
  if (photo_exists) return photo;
  return folder + L"\\skin\\background.jpg";
}

ScreenCover CoverMonitors(const std::vector<Monitor>& monitors, const Rect& fallback) {
  ScreenCover sc;
  std::vector<Rect> usable;
  const Monitor* primary = nullptr;
  for (const auto& m : monitors) {
    if (m.rect.empty()) continue;
    usable.push_back(m.rect);
    if (m.primary && !primary) primary = &m;
  }
  if (usable.empty()) {
    sc.lock = fallback;
    return sc;
  }
  if (primary) {
    sc.lock = primary->rect;
  } else {
    sc.lock = usable.front();
    for (const auto& r : usable) {
      if (r.left <= 0 && r.top <= 0 && r.right > 0 && r.bottom > 0) {
        sc.lock = r;
        break;
      }
    }
  }
  for (const auto& r : usable) {
    if (Contains(sc.lock, r)) continue;
    bool inside_cover = false;
    for (const auto& c : sc.covers) inside_cover = inside_cover || Contains(c, r);
    if (!inside_cover) sc.covers.push_back(r);
  }
  return sc;
}

}  // namespace tolvane
