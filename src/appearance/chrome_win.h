// The chrome of the frameless windows Form1 and Form5: the frame bitmap, the
// bitmap close box Close1 at (304, 8), refreshSkin, and moving the window by
// its background. All sizes here are design pixels at 96 DPI; the chrome
// draws at the form's DPI (WindowDpi) with the pictures drawn for it, and
// SetDpi follows the form to another scale. A form owns one Chrome and hands
// it its messages:
//
//   Form_Load:   chrome_.Attach(hwnd_, IDC_..._CLOSE, with_title_icon);
//   HandleMessage, first thing:
//                LRESULT r; if (chrome_.HandleFormMessage(msg, wp, lp, &r)) return r;
//   WM_CTLCOLORSTATIC of a label on the frame:
//                return (LRESULT)chrome_.TransparentBrush(dc, label);
//
// A click on the close box arrives at the form as WM_COMMAND with the close
// box's identifier and BN_CLICKED (the same code as STN_CLICKED); the form
// unloads itself there.
#pragma once
#include <windows.h>

#include "platform/dpi_win.h"

namespace tolvane {

class Chrome {
 public:
  enum class CloseState { Normal, Hover, Pressed };

  static constexpr int kClientWidth = 340;
  static constexpr int kClientHeight = 263;  // the frame bitmap is 300 rows; the top 263 show
  static constexpr int kCloseX = 304;
  static constexpr int kCloseY = 8;
  static constexpr int kCloseWidth = 24;
  static constexpr int kCloseHeight = 20;
  static constexpr int kTitleIconX = 8;
  static constexpr int kTitleIconY = 7;
  static constexpr int kTitleIconSize = 18;

  Chrome() = default;
  Chrome(const Chrome&) = delete;
  Chrome& operator=(const Chrome&) = delete;

  // Creates the close box as a child of `form` and resets the state. With
  // `title_icon` the 18 x 18 title icon is painted at (8, 7) (Form1).
  // Returns the close box, or null when it could not be created.
  HWND Attach(HWND form, int close_id, bool title_icon = false);

  // The form now lies out at `dpi`: moves the close box and takes the
  // pictures for that scale.
  void SetDpi(int dpi);
  int dpi() const { return dpi_; }

  // Sizes a frameless form for `dpi` and centres it on the work area.
  static void CentreAtDpi(HWND form, int dpi);
  // WM_DPICHANGED of the form: its controls, the chrome and its own size
  // follow the new scale; the window keeps the suggested top-left corner.
  void ChangeDpi(ScaledLayout& layout, const DpiChange& change);

  // Handles the form's WM_ERASEBKGND, WM_PAINT, WM_MOUSEMOVE and button-down
  // messages on the background; false for anything else.
  bool HandleFormMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);

  // A control that starts a move like the background when the left button
  // goes down on it (Form5's preview). Moving over it does nothing.
  void MovesWindow(HWND control);

  // Paints the frame (and title icon) into a DC of the form's client area.
  void Paint(HDC dc) const;

  // The mouse moved over the background.
  void Background_MouseMove() { refreshSkin(); }
  // A mouse button went down on the background (WM_LBUTTONDOWN, WM_RBUTTONDOWN
  // or WM_MBUTTONDOWN): only the left button moves the window.
  void Background_MouseDown(UINT button_msg);

  // Puts the close box back to its normal picture.
  void refreshSkin();

  // A brush that paints the frame behind `control`, for WM_CTLCOLORSTATIC of
  // labels that stand on it; also sets the DC's text background transparent.
  HBRUSH TransparentBrush(HDC dc, HWND control) const;

  CloseState close_state() const { return state_; }
  HWND close_box() const { return close_box_; }

 private:
  static LRESULT CALLBACK CloseBoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK MoverProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);
  LRESULT Close1_Message(HWND box, UINT msg, WPARAM wp, LPARAM lp);
  void SetCloseState(CloseState state);
  void PaintCloseBox(HDC dc) const;

  HWND form_ = nullptr;
  HWND close_box_ = nullptr;
  int dpi_ = 96;
  int close_id_ = 0;
  bool title_icon_ = false;
  CloseState state_ = CloseState::Normal;
  bool left_down_ = false;   // a left press on the close box that may still end in a click
  POINTS last_move_ = {-32768, -32768};
};

}  // namespace tolvane
