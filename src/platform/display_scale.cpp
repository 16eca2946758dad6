#include "platform/display_scale.h"

#include <cmath>
#include <cstdint>

namespace tolvane {
namespace {

int UsableDpi(int dpi) { return dpi > 0 ? dpi : kDesignDpi; }

// n * num / den rounded half away from zero, in 64 bits so that no product of
// screen lengths and DPIs can overflow.
int MulDivRound(int n, int num, int den) {
  const std::int64_t p = static_cast<std::int64_t>(n) * num;
  const std::int64_t q = (p >= 0 ? p + den / 2 : p - den / 2) / den;
  return static_cast<int>(q);
}

}  // namespace

int ScaleToDpi(int design_px, int dpi) { return MulDivRound(design_px, UsableDpi(dpi), kDesignDpi); }

int TwipsToPixels(int twips, int dpi) { return MulDivRound(twips, UsableDpi(dpi), kTwipsPerInch); }

int FontHeightForDpi(double points, int dpi) {
  const long h = std::lround(points * UsableDpi(dpi) / 72.0);
  return h >= 1 ? -static_cast<int>(h) : -1;
}

DesignRect ScaleRect(const DesignRect& d, int dpi) {
  const int left = ScaleToDpi(d.x, dpi);
  const int top = ScaleToDpi(d.y, dpi);
  return {left, top, ScaleToDpi(d.x + d.width, dpi) - left, ScaleToDpi(d.y + d.height, dpi) - top};
}

int PictureSetFor(int dpi) {
  dpi = UsableDpi(dpi);
  for (std::size_t i = 0; i < kPictureDpis.size(); ++i) {
    if (kPictureDpis[i] >= dpi) return static_cast<int>(i);
  }
  return static_cast<int>(kPictureDpis.size()) - 1;
}

}  // namespace tolvane
