// Display scale arithmetic: the forms are designed in pixels at 96 DPI (the
// lock window's password boxes in twips, 15 to the pixel at that resolution)
// and laid out at the DPI of the monitor each window is on. No platform
// calls: the Windows half asks the system for the DPI and hands it in.
#pragma once
#include <array>

namespace tolvane {

inline constexpr int kDesignDpi = 96;
inline constexpr int kTwipsPerInch = 1440;

// A design length in pixels at 96 DPI, scaled to `dpi` and rounded half away
// from zero, as the platform's MulDiv rounds. A DPI of 0 or less (a failed
// query) counts as 96.
int ScaleToDpi(int design_px, int dpi);

// Twips to pixels at `dpi`, rounded the same way.
int TwipsToPixels(int twips, int dpi);

// The LOGFONT height (negative: character height) of a font of `points` at
// `dpi`; never 0, which would ask for the system's default size instead.
int FontHeightForDpi(double points, int dpi);

// A rectangle as the designer gave it: left, top, width, height.
struct DesignRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const DesignRect&) const = default;
};

// The rectangle at `dpi`. The edges are scaled, not the sizes, so controls
// that touch or line up at 96 DPI still do at any scale.
DesignRect ScaleRect(const DesignRect& design, int dpi);

// The pictures of the frameless windows come drawn at these DPIs (100, 125,
// 150 and 200 %); index 0 is the design set.
inline constexpr std::array<int, 4> kPictureDpis = {96, 120, 144, 192};

// The picture set to draw at `dpi`: the one made for it, else the smallest
// larger one (reduced, which keeps edges sharp), else the largest. Returns
// an index into kPictureDpis.
int PictureSetFor(int dpi);

}  // namespace tolvane
