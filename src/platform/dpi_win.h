// The Windows half of display scaling: the DPI a window is shown at, the
// program's fonts at a DPI, and a form's controls laid out from their design
// rectangles at the form's DPI, again whenever the form moves to a monitor
// with another scale (WM_DPICHANGED).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/display_scale.h"

namespace tolvane {

// The DPI `hwnd` is laid out at: what its form's layout last set (so that
// the skin engine and the chrome follow the form, also when a test lays it
// out at a chosen DPI), else the system's DPI for the window (per monitor
// where the system has GetDpiForWindow), else the screen's.
int WindowDpi(HWND hwnd);

// Marks `form` as laid out at `dpi`, for WindowDpi of it and its controls.
void MarkWindowDpi(HWND form, int dpi);
void UnmarkWindowDpi(HWND form);

// The height a one-line label or text box needs to show a whole line of its
// font, frame included; 0 for any other control.
int OneLineHeight(HWND control);

// The screen's DPI (LOGPIXELSY), 96 when it cannot be read.
int ScreenDpi();

// A new font of `points` at `dpi`. The caller owns it.
HFONT MakeFontForDpi(const std::wstring& face, double points, bool bold, bool italic, bool underline, bool strike,
                     BYTE charset, int dpi);

// The user-interface font of the forms (宋体 9 pt) and the title font of the
// frameless windows (宋体 9.75 pt) at `dpi`. Made once per DPI and kept for
// the whole run: a program sees two or three DPIs at most.
HFONT UiFontForDpi(int dpi);
HFONT TitleFontForDpi(int dpi);

// The window rectangle around a client area of `width` x `height` at `dpi`.
SIZE WindowSizeForClient(int width, int height, DWORD style, DWORD ex_style, int dpi);

// The DPI and the suggested window rectangle that WM_DPICHANGED carries.
struct DpiChange {
  int dpi;
  RECT suggested;
};
DpiChange ReadDpiChange(WPARAM wp, LPARAM lp);

enum class FontRole { Ui, Title, Own };

// A form's controls with their design rectangles (pixels at 96 DPI). Each
// control is placed at the layout's DPI and given the role's font at it;
// SetDpi moves and re-fonts all of them.
class ScaledLayout {
 public:
  // Starts the layout of `form` at `dpi`, forgetting earlier controls.
  void Attach(HWND form, int dpi);

  int dpi() const { return dpi_; }
  int Px(int design) const { return ScaleToDpi(design, dpi_); }
  DesignRect Scaled(const DesignRect& design) const { return ScaleRect(design, dpi_); }

  // Creates a child control at its scaled rectangle with the role's font.
  HWND Create(const wchar_t* class_name, const wchar_t* text, DWORD style, const DesignRect& rect, int id,
              DWORD ex_style = 0, FontRole role = FontRole::Ui);
  // Takes a control made elsewhere (the close box) into the layout.
  void Add(HWND control, const DesignRect& rect, FontRole role = FontRole::Own);

  // Lays every control out again at `dpi`.
  void SetDpi(int dpi);

  // Places one control again, after it was given a font of its own.
  void Refresh(HWND control);

  // Takes the DPI mark off the form (WM_DESTROY).
  void Detach();

 private:
  struct Item {
    HWND hwnd;
    DesignRect rect;
    FontRole role;
  };
  void Place(const Item& item) const;

  HWND form_ = nullptr;
  int dpi_ = kDesignDpi;
  std::vector<Item> items_;
};

}  // namespace tolvane
