#include "appearance/chrome_win.h"

#include <commctrl.h>

#include <map>

#include "platform/dpi_win.h"
#include "platform/lazy_dll_win.h"
#include "platform/wic_win.h"
#include "platform/message_guard_win.h"
#include "platform/window_win.h"
#include "resource.h"

namespace tolvane {
namespace {

constexpr wchar_t kCloseBoxClass[] = L"TolvaneCloseBox";
constexpr UINT_PTR kMoverSubclassId = 0x4D4F5645;  // 'MOVE'

// Colours of the frame, for painting without the pictures (no codecs).
constexpr COLORREF kBandColour = RGB(23, 63, 116);
constexpr COLORREF kBodyColour = RGB(255, 255, 255);

// The pictures are shared by every window that has the chrome and live as
// long as the program: one set per DPI in use, two windows at most.
struct Pictures {
  HBITMAP frame = nullptr;
  HBITMAP close[3] = {};  // normal, hover, pressed
  HBITMAP title_icon = nullptr;
  HBRUSH frame_brush = nullptr;
};

// Resource identifiers of a picture set: the design set, then one set of
// five every ten identifiers for each larger scale (resource.h).
constexpr int kPictureIdStep = 10;

}  // namespace

HBITMAP LoadChromePicture(const Codecs& codecs, int id) {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), RT_RCDATA);
  HGLOBAL loaded = found ? LoadResource(self, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data ? DecodePng(codecs, data, SizeofResource(self, found)) : nullptr;
}

namespace {

// A copy of `source` at width x height. HALFTONE averages the pixels it
// reduces: a picture made for a larger scale keeps its edges sharp, where
// the plain stretch would drop whole rows and columns.
HBITMAP Resampled(HBITMAP source, int width, int height) {
  if (!source) return nullptr;
  BITMAP bm = {};
  if (!GetObjectW(source, sizeof(bm), &bm)) return nullptr;
  if (bm.bmWidth == width && bm.bmHeight == height) return source;
  HDC screen = GetDC(nullptr);
  HDC src = CreateCompatibleDC(screen);
  HDC dst = CreateCompatibleDC(screen);
  HBITMAP out = CreateCompatibleBitmap(screen, width, height);
  if (src && dst && out) {
    HGDIOBJ old_src = SelectObject(src, source);
    HGDIOBJ old_dst = SelectObject(dst, out);
    SetStretchBltMode(dst, HALFTONE);
    SetBrushOrgEx(dst, 0, 0, nullptr);
    StretchBlt(dst, 0, 0, width, height, src, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    SelectObject(src, old_src);
    SelectObject(dst, old_dst);
  }
  if (src) DeleteDC(src);
  if (dst) DeleteDC(dst);
  ReleaseDC(nullptr, screen);
  DeleteObject(source);
  return out;
}

const Pictures& PicturesFor(int dpi) {
  static std::map<int, Pictures> sets;
  auto it = sets.find(dpi);
  if (it != sets.end()) return it->second;
  Pictures p;
  const int set = PictureSetFor(dpi);
  const int shift = kPictureIdStep * set;
  // Drawn for this scale, the pictures are used as they are; else the set
  // for the next larger scale is reduced to the sizes the layout asks for.
  const bool exact = kPictureDpis[static_cast<std::size_t>(set)] == dpi;
  const auto fit = [&](HBITMAP b, int w, int h) { return exact ? b : Resampled(b, w, h); };
  // Decoded once per scale in use, when a window with the chrome first
  // paints; the codecs go again once the set is made.
  const Codecs codecs;
  const auto LoadPicture = [&](int id) { return LoadChromePicture(codecs, id); };
  const DesignRect close = ScaleRect({Chrome::kCloseX, Chrome::kCloseY, Chrome::kCloseWidth, Chrome::kCloseHeight},
                                     dpi);
  p.frame = fit(LoadPicture(IDB_FRAME + shift), ScaleToDpi(Chrome::kClientWidth, dpi),
                ScaleToDpi(Chrome::kClientHeight, dpi));
  p.close[0] = fit(LoadPicture(IDB_CLOSE_NORMAL + shift), close.width, close.height);
  p.close[1] = fit(LoadPicture(IDB_CLOSE_HOVER + shift), close.width, close.height);
  p.close[2] = fit(LoadPicture(IDB_CLOSE_PRESSED + shift), close.width, close.height);
  const int icon = ScaleToDpi(Chrome::kTitleIconSize, dpi);
  p.title_icon = fit(LoadPicture(IDB_TITLE_ICON + shift), icon, icon);
  p.frame_brush = p.frame ? CreatePatternBrush(p.frame) : nullptr;
  return sets.emplace(dpi, p).first->second;
}

void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y, int width, int height) {
  HDC mem = CreateCompatibleDC(dc);
  if (!mem) return;
  HGDIOBJ old = SelectObject(mem, bitmap);
  BitBlt(dc, x, y, width, height, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
}

void FillColour(HDC dc, const RECT& rc, COLORREF colour) {
  SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
}

bool RegisterCloseBoxClass(WNDPROC proc) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  if (GetClassInfoExW(GetModuleHandleW(nullptr), kCloseBoxClass, &wc)) return true;
  wc.cbSize = sizeof(wc);
  // No CS_DBLCLKS: a quick second press must show the pressed picture again,
  // as every press does.
  wc.style = 0;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kCloseBoxClass;
  return RegisterClassExW(&wc) != 0;
}

constexpr WPARAM kAnyButton = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;

}  // namespace

HWND Chrome::Attach(HWND form, int close_id, bool title_icon) {
  form_ = form;
  close_id_ = close_id;
  title_icon_ = title_icon;
  state_ = CloseState::Normal;
  left_down_ = false;
  last_move_ = {-32768, -32768};
  close_box_ = nullptr;
  dpi_ = WindowDpi(form);
  if (!RegisterCloseBoxClass(CloseBoxProc)) return nullptr;
  const DesignRect r = ScaleRect({kCloseX, kCloseY, kCloseWidth, kCloseHeight}, dpi_);
  close_box_ = CreateWindowExW(0, kCloseBoxClass, L"", WS_CHILD | WS_VISIBLE, r.x, r.y, r.width, r.height, form,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(close_id)), GetModuleHandleW(nullptr),
                               this);
  return close_box_;
}

void Chrome::CentreAtDpi(HWND form, int dpi) {
  const int width = ScaleToDpi(kClientWidth, dpi);
  const int height = ScaleToDpi(kClientHeight, dpi);
  const POINT at = CentredOnWorkArea(width, height);
  SetWindowPos(form, nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Chrome::ChangeDpi(ScaledLayout& layout, const DpiChange& change) {
  layout.SetDpi(change.dpi);
  SetDpi(change.dpi);
  SetWindowPos(form_, nullptr, change.suggested.left, change.suggested.top, ScaleToDpi(kClientWidth, change.dpi),
               ScaleToDpi(kClientHeight, change.dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

void Chrome::SetDpi(int dpi) {
  dpi_ = dpi > 0 ? dpi : kDesignDpi;
  if (close_box_) {
    const DesignRect r = ScaleRect({kCloseX, kCloseY, kCloseWidth, kCloseHeight}, dpi_);
    SetWindowPos(close_box_, nullptr, r.x, r.y, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(close_box_, nullptr, FALSE);
  }
  if (form_) InvalidateRect(form_, nullptr, FALSE);
}

bool Chrome::HandleFormMessage(UINT msg, WPARAM, LPARAM, LRESULT* result) {
  *result = 0;
  switch (msg) {
    case WM_ERASEBKGND:
      *result = 1;  // WM_PAINT covers every pixel
      return true;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(form_, &ps);
      Paint(dc);
      EndPaint(form_, &ps);
      return true;
    }
    case WM_MOUSEMOVE:
      Background_MouseMove();
      return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      Background_MouseDown(WM_LBUTTONDOWN);
      return true;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      Background_MouseDown(msg);
      return true;
    default:
      return false;
  }
}

void Chrome::MovesWindow(HWND control) {
  SubclassControl(control, MoverProc, kMoverSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void Chrome::Paint(HDC dc) const {
  const Pictures& p = PicturesFor(dpi_);
  const int width = ScaleToDpi(kClientWidth, dpi_);
  const int height = ScaleToDpi(kClientHeight, dpi_);
  if (p.frame) {
    DrawBitmap(dc, p.frame, 0, 0, width, height);
  } else {
    const int band = ScaleToDpi(32, dpi_);
    FillColour(dc, RECT{0, 0, width, band}, kBandColour);
    FillColour(dc, RECT{0, band, width, height}, kBodyColour);
  }
  if (title_icon_ && p.title_icon) {
    const int size = ScaleToDpi(kTitleIconSize, dpi_);
    DrawBitmap(dc, p.title_icon, ScaleToDpi(kTitleIconX, dpi_), ScaleToDpi(kTitleIconY, dpi_), size, size);
  }
}

void Chrome::Background_MouseDown(UINT button_msg) {
  if (button_msg != WM_LBUTTONDOWN || !form_) return;
  // The system's own move loop, as if the caption had been pressed. It is
  // given the cursor's position: some window managers start the drag from
  // the point in lParam, and (0, 0) would make the window jump to the cursor.
  POINT pt = {};
  GetCursorPos(&pt);
  ReleaseCapture();
  SendMessageW(form_, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
}

void Chrome::refreshSkin() { SetCloseState(CloseState::Normal); }

HBRUSH Chrome::TransparentBrush(HDC dc, HWND control) const {
  SetBkMode(dc, TRANSPARENT);
  const Pictures& p = PicturesFor(dpi_);
  if (!p.frame_brush) return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  POINT origin = {0, 0};
  MapWindowPoints(control, form_, &origin, 1);
  SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
  return p.frame_brush;
}

void Chrome::SetCloseState(CloseState state) {
  if (state == state_) return;
  state_ = state;
  if (close_box_) {
    InvalidateRect(close_box_, nullptr, FALSE);
    UpdateWindow(close_box_);
  }
}

void Chrome::PaintCloseBox(HDC dc) const {
  const Pictures& p = PicturesFor(dpi_);
  HBITMAP picture = p.close[static_cast<int>(state_)];
  RECT rc = {};
  GetClientRect(close_box_, &rc);
  if (picture) {
    DrawBitmap(dc, picture, 0, 0, rc.right, rc.bottom);
    return;
  }
  FillColour(dc, rc, state_ == CloseState::Normal ? kBandColour : RGB(200, 30, 40));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  DrawTextW(dc, L"×", 1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

LRESULT CALLBACK Chrome::CloseBoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Chrome* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<Chrome*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->close_box_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Chrome*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    if (self->close_box_ == hwnd) self->close_box_ = nullptr;
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  return self->Close1_Message(hwnd, msg, wp, lp);
}

LRESULT Chrome::Close1_Message(HWND box, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(box, &ps);
      PaintCloseBox(dc);
      EndPaint(box, &ps);
      return 0;
    }
    case WM_MOUSEMOVE: {
      const POINTS pos = MAKEPOINTS(lp);
      // The system repeats the last position as a move when it re-evaluates
      // the cursor; only a real movement may take the pressed picture away.
      if (state_ == CloseState::Pressed && pos.x == last_move_.x && pos.y == last_move_.y) return 0;
      last_move_ = pos;
      POINT pt = {pos.x, pos.y};
      RECT rc;
      GetClientRect(box, &rc);
      if (PtInRect(&rc, pt)) {
        SetCloseState(CloseState::Hover);
      } else {
        // Only while a button holds the capture: the move is really over
        // whatever lies under the cursor, and only the background resets.
        ClientToScreen(box, &pt);
        if (WindowFromPoint(pt) == form_) refreshSkin();
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      last_move_ = MAKEPOINTS(lp);
      if (msg == WM_LBUTTONDOWN) left_down_ = true;
      SetCloseState(CloseState::Pressed);
      // Held so that the release is seen wherever it happens: a click needs
      // press and release on the box.
      SetCapture(box);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      POINT pt = {MAKEPOINTS(lp).x, MAKEPOINTS(lp).y};
      RECT rc;
      GetClientRect(box, &rc);
      const bool click = msg == WM_LBUTTONUP && left_down_ && PtInRect(&rc, pt);
      if (msg == WM_LBUTTONUP) left_down_ = false;
      if ((wp & kAnyButton) == 0 && GetCapture() == box) ReleaseCapture();
      // Last: the form unloads itself here, and this box with it.
      if (click) SendMessageW(form_, WM_COMMAND, MAKEWPARAM(close_id_, BN_CLICKED), reinterpret_cast<LPARAM>(box));
      return 0;
    }
    case WM_CAPTURECHANGED:
      left_down_ = false;
      return 0;
    default:
      return DefWindowProcW(box, msg, wp, lp);
  }
}

LRESULT CALLBACK Chrome::MoverProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  Chrome* self = reinterpret_cast<Chrome*>(ref);
  switch (msg) {
    case WM_NCHITTEST:
      // A plain label lets the mouse through to the form, which would then
      // also see moves over it; this one takes the mouse itself.
      return HTCLIENT;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      self->Background_MouseDown(WM_LBUTTONDOWN);
      return 0;
    case WM_NCDESTROY:
      if (!OwnDestroy(hwnd)) return 0;
      RemoveSubclass(hwnd, MoverProc, kMoverSubclassId);
      break;
    default:
      break;
  }
  return CallNextSubclass(hwnd, msg, wp, lp);
}

}  // namespace tolvane
