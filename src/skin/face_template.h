// The button face template: a 9 x 84 picture holding a rounded button frame
// and face in four looks, and the nine-slice cut that scales one look to a
// button of any size. Pure data and arithmetic; the drawing is in
// mskinbutton_win.cpp.
#pragma once
#include <array>
#include <cstdint>

namespace tolvane::skin {

// Index of a button look; also selects the band of template rows and the
// state surface ("HDC0".."HDC3").
enum FaceState : int {
  kFaceNormal = 0,
  kFaceHot = 1,
  kFacePressed = 2,
  kFaceDisabled = 3,
};
inline constexpr int kFaceStateCount = 4;

inline constexpr int kTemplateWidth = 9;
inline constexpr int kBandHeight = 21;
inline constexpr int kTemplateHeight = kBandHeight * kFaceStateCount;  // 84

// Slice lines within a band: 4 | 1 | 4 columns, 5 | 11 | 5 rows.
inline constexpr int kSideWidth = 4;
inline constexpr int kEndHeight = 5;
inline constexpr int kMiddleRows = kBandHeight - 2 * kEndHeight;  // 11

// Colour of template pixel (x, y), written RRGGBB (red in the high byte).
// x in [0, 9), y in [0, 84); anything outside gives 0.
std::uint32_t TemplatePixel(int x, int y);

// RRGGBB -> the platform's COLORREF layout 0x00BBGGRR.
constexpr std::uint32_t ToColorRef(std::uint32_t rgb) {
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

struct PieceRect {
  int x, y, width, height;
  bool operator==(const PieceRect&) const = default;
};

enum class PieceCall { Copy, Stretch };  // BitBlt / StretchBlt

struct FacePiece {
  PieceCall call;
  PieceRect source;  // in the template
  PieceRect dest;    // in the face
};

// The nine pieces of band `state` for a face of w x h, in drawing order:
// top-left, top, top-right, left, right, bottom-left, bottom-right, bottom,
// centre. No minimum size: below 8 x 10 the stretched extents go to zero or
// negative and are handed on as they are.
// At `dpi` above 96 the slices scale with the button: the corners grow to
// 4 x 5 design pixels at that DPI and are stretched too. Stretching copies
// whole template pixels (the engine never asks for a smoothing stretch), so
// the corners stay crisp; at 96 DPI they are copied as they are.
std::array<FacePiece, 9> FacePieces(int state, int w, int h, int dpi = 96);

// Rectangle (left, top, right, bottom) that holds the caption and the focus
// rectangle: the face inset by 2 design pixels at `dpi`.
struct Box {
  int left, top, right, bottom;
  bool operator==(const Box&) const = default;
};
Box CaptionBox(int w, int h, int dpi = 96);

// Corner size of the rounded window region of a button at `dpi`.
int RegionCorner(int dpi);

// Caption colour, RRGGBB: grey on the disabled face, black on the others.
std::uint32_t CaptionColour(int state);

// DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS. No DT_NOPREFIX:
// "&x" underlines x, as on any other button of the system.
inline constexpr unsigned kCaptionFormat = 0x8025;

// Flat one-pixel line that replaces the sunken edge of framed controls.
inline constexpr std::uint32_t kBorderColour = 0x54A5D5;
inline constexpr std::uint32_t kBorderDisabledColour = 0xCCCCCC;

}  // namespace tolvane::skin
