#include "mskinbutton_win.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/dpi_win.h"
#include "face_template.h"
#include "fade.h"
#include "skin_classes.h"
#include "platform/lazy_dll_win.h"
#include "platform/message_guard_win.h"

namespace tolvane::skin {
namespace {

// One set per process, touched only on the user-interface thread.
bool g_engineReady = false;
bool g_userTrackMouse = false;
HDC g_templateDc = nullptr;
HBITMAP g_templateBitmap = nullptr;
int g_buttonCount = 0;
int g_formCount = 0;

// Owner-drawn buttons stop painting their own face; the bits are cleared
// again on the way out.
constexpr LONG_PTR kOwnerDrawBits = BS_OWNERDRAW;  // 0x0B

INT_PTR PropInt(HWND hwnd, const wchar_t* name) {
  return reinterpret_cast<INT_PTR>(GetPropW(hwnd, name));
}

void SetPropInt(HWND hwnd, const wchar_t* name, INT_PTR value) {
  SetPropW(hwnd, name, reinterpret_cast<HANDLE>(value));
}

WNDPROC PreviousProc(HWND hwnd) {
  return reinterpret_cast<WNDPROC>(GetPropW(hwnd, kPropProcAddr));
}

// Stores the replaced procedure as the window's "PROCADDR". When the
// replacement fails the property reads 0 and the window counts as plain.
void Subclass(HWND hwnd, WNDPROC proc) {
  const LONG_PTR previous = SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  SetPropW(hwnd, kPropProcAddr, reinterpret_cast<HANDLE>(previous));
}

void Unsubclass(HWND hwnd, WNDPROC previous) {
  RemovePropW(hwnd, kPropProcAddr);
  SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
}

struct Size {
  int w, h;
};

Size WindowSize(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

int ClampState(INT_PTR state) {
  return static_cast<int>(std::clamp<INT_PTR>(state, kFaceNormal, kFaceDisabled));
}

HDC Surface(HWND hwnd, int state) {
  return static_cast<HDC>(GetPropW(hwnd, SurfaceDcProp(state)));
}

// The corners round off by 3 design pixels at the button's DPI.
HRGN ButtonRegion(HWND hwnd, Size size) {
  const int corner = RegionCorner(WindowDpi(hwnd));
  return CreateRoundRectRgn(0, 0, size.w + 1, size.h + 1, corner, corner);
}

ButtonLook ReadLook(HWND hwnd) {
  return {ClampState(PropInt(hwnd, kPropOldState)), static_cast<int>(PropInt(hwnd, kPropAlphaLevel)),
          static_cast<int>(PropInt(hwnd, kPropMouseFlag))};
}

void WriteLook(HWND hwnd, const ButtonLook& look) {
  SetPropInt(hwnd, kPropOldState, look.state);
  SetPropInt(hwnd, kPropAlphaLevel, look.alpha);
  SetPropInt(hwnd, kPropMouseFlag, look.mouseFlag);
}

void CopyFace(HWND hwnd, HDC target, int state) {
  const Size size = WindowSize(hwnd);
  BitBlt(target, 0, 0, size.w, size.h, Surface(hwnd, state), 0, 0, SRCCOPY);
}

void ShowFaceNow(HWND hwnd, int state) {
  HDC dc = GetWindowDC(hwnd);
  CopyFace(hwnd, dc, state);
  ReleaseDC(hwnd, dc);
}

// The previous procedure may have destroyed the button (a click that closes
// its form); its state is gone then and must not be written back.
bool StillSkinned(HWND hwnd) { return PreviousProc(hwnd) != nullptr; }

void OnButtonEvent(HWND hwnd, ButtonEvent event) {
  if (!StillSkinned(hwnd)) return;
  ButtonLook look = ReadLook(hwnd);
  const ButtonLook before = look;
  const ButtonReaction reaction = ApplyButtonEvent(look, event);
  if (reaction.recompose) PaintFaces(hwnd);
  if (!(look == before)) WriteLook(hwnd, look);
  if (reaction.trackLeave) TrackMouseLeave(hwnd);
  if (reaction.showAtOnce) ShowFaceNow(hwnd, look.state);
  if (reaction.startFade) StartFade(hwnd);
}

// New bitmaps of the new size go into the same surfaces; the old ones are
// deleted as they are replaced.
void ResizeFaces(HWND hwnd) {
  HDC windowDc = GetWindowDC(hwnd);
  const Size size = WindowSize(hwnd);
  for (int s = 0; s < kFaceStateCount; ++s) {
    HBITMAP bitmap = CreateCompatibleBitmap(windowDc, size.w, size.h);
    DeleteObject(SelectObject(Surface(hwnd, s), bitmap));
    SetPropW(hwnd, SurfaceBitmapProp(s), bitmap);
  }
  PaintFaces(hwnd);
  ReleaseDC(hwnd, windowDc);
  SetWindowRgn(hwnd, ButtonRegion(hwnd, size), TRUE);
}

// Lays the target face over whatever the screen shows, a little more opaque
// each tick, so the picture converges on it. A tick with no fade running
// (a foreign WM_TIMER) blends the current face over itself, which is harmless.
void FadeTick(HWND hwnd) {
  const Size size = WindowSize(hwnd);
  const int state = ClampState(PropInt(hwnd, kPropOldState));
  const FadeStep step = NextFadeStep(static_cast<int>(PropInt(hwnd, kPropAlphaLevel)));
  HDC windowDc = GetWindowDC(hwnd);
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(step.blendAlpha), 0};
  // msimg32 serves the fades alone: loaded with the first one.
  static auto* const alpha_blend =
      LazyFn<BOOL WINAPI(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION)>(L"msimg32.dll",
                                                                                         "AlphaBlend");
  if (alpha_blend) alpha_blend(windowDc, 0, 0, size.w, size.h, Surface(hwnd, state), 0, 0, size.w, size.h, blend);
  ReleaseDC(hwnd, windowDc);
  if (step.finished) {
    StopFade(hwnd);
    SetPropInt(hwnd, kPropAlphaLevel, 0);
  } else {
    SetPropInt(hwnd, kPropAlphaLevel, step.nextAlpha);
  }
}

bool SameProcess(HWND hwnd) {
  DWORD pid = 0;
  return GetWindowThreadProcessId(hwnd, &pid) != 0 && pid == GetCurrentProcessId();
}

}  // namespace

// ---------------------------------------------------------------------------
// Template

void BuildTemplate() {
  HDC display = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  g_templateBitmap = CreateCompatibleBitmap(display, kTemplateWidth, kTemplateHeight);
  g_templateDc = CreateCompatibleDC(display);
  // The bitmap stays selected for the template's whole life; what it replaces
  // is the stock bitmap of a new memory DC, which DeleteObject ignores.
  DeleteObject(SelectObject(g_templateDc, g_templateBitmap));
  DeleteDC(display);
  for (int y = 0; y < kTemplateHeight; ++y) {
    for (int x = 0; x < kTemplateWidth; ++x) SetPixel(g_templateDc, x, y, ToColorRef(TemplatePixel(x, y)));
  }
}

void ReleaseTemplate() {
  if (g_buttonCount > 0 || g_formCount > 0) return;
  DeleteDC(g_templateDc);
  DeleteObject(g_templateBitmap);
  g_templateDc = nullptr;
  g_templateBitmap = nullptr;
  g_engineReady = false;
}

void PaintFaces(HWND hwnd) {
  const Size size = WindowSize(hwnd);
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring caption(static_cast<std::size_t>(length) + 1, L'\0');
  caption.resize(static_cast<std::size_t>(std::max(0, GetWindowTextW(hwnd, caption.data(), length + 1))));
  // No font (the control uses the system font): the surface keeps the one it has.
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
  // The slices and the caption's inset scale with the form the button is on.
  const int dpi = WindowDpi(hwnd);
  const Box box = CaptionBox(size.w, size.h, dpi);
  // The system's shared icon: never destroyed.
  HICON shield = PropInt(hwnd, kPropShield) ? LoadIconW(nullptr, IDI_SHIELD) : nullptr;
  for (int s = 0; s < kFaceStateCount; ++s) {
    HDC dc = Surface(hwnd, s);
    if (font) SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    for (const FacePiece& p : FacePieces(s, size.w, size.h, dpi)) {
      if (p.call == PieceCall::Copy) {
        BitBlt(dc, p.dest.x, p.dest.y, p.dest.width, p.dest.height, g_templateDc, p.source.x, p.source.y, SRCCOPY);
      } else {
        StretchBlt(dc, p.dest.x, p.dest.y, p.dest.width, p.dest.height, g_templateDc, p.source.x, p.source.y,
                   p.source.width, p.source.height, SRCCOPY);
      }
    }
    SetTextColor(dc, ToColorRef(CaptionColour(s)));
    RECT rect{box.left, box.top, box.right, box.bottom};
    if (shield) {
      const int side = std::min(MulDiv(16, dpi, 96), box.bottom - box.top);
      DrawIconEx(dc, box.left, box.top + (box.bottom - box.top - side) / 2, shield, side, side, 0, nullptr, DI_NORMAL);
      rect.left += side;
    }
    DrawTextW(dc, caption.c_str(), -1, &rect, kCaptionFormat);
    if (GetFocus() == hwnd) DrawFocusRect(dc, &rect);
  }
}

void SetShield(HWND button, bool on) {
  SendMessageW(button, BCM_SETSHIELD, 0, on ? TRUE : FALSE);
  if (on) {
    SetPropInt(button, kPropShield, 1);
  } else {
    RemovePropW(button, kPropShield);
  }
  if (!PreviousProc(button)) return;
  PaintFaces(button);
  InvalidateRect(button, nullptr, FALSE);
}

// ---------------------------------------------------------------------------
// Entry routine, forms and dialogs

int SkinWindow(HWND hwnd) {
  if (!g_engineReady) {
    g_engineReady = true;
    g_userTrackMouse = ExportExists("TrackMouseEvent", L"User32");
    BuildTemplate();
  }
  switch (ClassifyWindowClass(WindowClassName(hwnd))) {
    case SkinKind::Button:
      return SkinButton(hwnd);
    case SkinKind::Form:
      // Walked on every call, so controls added since the last one are picked
      // up; those already subclassed are skipped by their own test.
      EnumChildWindows(hwnd, EnumChildProc, 0);
      return SkinForm(hwnd);
    case SkinKind::None:
      break;
  }
  return 0;
}

BOOL CALLBACK EnumChildProc(HWND hwnd, LPARAM) {
  if (IsButtonClass(WindowClassName(hwnd))) {
    SkinButton(hwnd);
  } else {
    SkinBorder(hwnd);
  }
  return TRUE;
}

int SkinForm(HWND hwnd) {
  if (PreviousProc(hwnd)) return 0;
  Subclass(hwnd, FormWndProc);
  ++g_formCount;
  return 1;
}

int UnskinForm(HWND hwnd) {
  WNDPROC previous = PreviousProc(hwnd);
  if (!previous) return 0;
  Unsubclass(hwnd, previous);
  --g_formCount;
  ReleaseTemplate();
  return 1;
}

LRESULT CALLBACK FormWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return 0;
  WNDPROC previous = PreviousProc(hwnd);
  if (!previous) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_DESTROY:
      // Another program's WM_DESTROY leaves the live form as it is.
      if (!OwnDestroy(hwnd)) return 0;
      UnskinForm(hwnd);
      // The form's own procedure still sees its WM_DESTROY: our forms do their
      // unload work there and dialogs release their state there.
      CallWindowProcW(previous, hwnd, msg, wParam, lParam);
      return 0;
    case WM_ACTIVATE: {
      // lParam is the other window of the change. A message box or dialog
      // opened from this form is skinned here, before the form's own procedure
      // sees the deactivation.
      HWND other = reinterpret_cast<HWND>(lParam);
      const std::wstring otherClass = other ? WindowClassName(other) : std::wstring();
      if (ShouldSkinPartner({other != nullptr, other == hwnd, other && SameProcess(other), otherClass})) {
        SkinWindow(other);
      }
      break;
    }
    default:
      break;
  }
  return CallWindowProcW(previous, hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Framed child controls

int SkinBorder(HWND hwnd) {
  if (PreviousProc(hwnd)) return 0;
  Subclass(hwnd, BorderWndProc);
  SendMessageW(hwnd, WM_NCPAINT, 1, 0);
  return 1;
}

int UnskinBorder(HWND hwnd) {
  WNDPROC previous = PreviousProc(hwnd);
  if (!previous) return 0;
  Unsubclass(hwnd, previous);
  SendMessageW(hwnd, WM_NCPAINT, 1, 0);
  return 1;
}

LRESULT CALLBACK BorderWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return 0;
  WNDPROC previous = PreviousProc(hwnd);
  if (!previous) return DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_DESTROY) {
    UnskinBorder(hwnd);
    CallWindowProcW(previous, hwnd, msg, wParam, lParam);
    return 0;
  }
  const LRESULT result = CallWindowProcW(previous, hwnd, msg, wParam, lParam);
  if (msg != WM_NCPAINT) return result;
  // The sunken two-pixel client edge becomes a flat line with two pixels of
  // the control's background inside it; controls without that edge keep
  // their own look.
  if (!(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) return result;
  const Size size = WindowSize(hwnd);
  HDC windowDc = GetWindowDC(hwnd);
  HDC clientDc = GetDC(hwnd);
  const COLORREF line = ToColorRef(IsWindowEnabled(hwnd) ? kBorderColour : kBorderDisabledColour);
  FrameBox(windowDc, 0, 0, size.w, size.h, line);
  FrameBox(windowDc, 1, 1, size.w - 2, size.h - 2, GetBkColor(clientDc));
  FrameBox(windowDc, 2, 2, size.w - 4, size.h - 4, GetBkColor(clientDc));
  ReleaseDC(hwnd, clientDc);
  ReleaseDC(hwnd, windowDc);
  return result;
}

// ---------------------------------------------------------------------------
// Push buttons

int SkinButton(HWND hwnd) {
  if (PreviousProc(hwnd)) return 0;
  if (!TakesPushButtonFace(static_cast<unsigned long>(GetWindowLongPtrW(hwnd, GWL_STYLE)))) return 0;
  HDC windowDc = GetWindowDC(hwnd);
  const Size size = WindowSize(hwnd);
  for (int s = 0; s < kFaceStateCount; ++s) {
    HDC dc = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateCompatibleBitmap(windowDc, size.w, size.h);
    DeleteObject(SelectObject(dc, bitmap));
    SetPropW(hwnd, SurfaceDcProp(s), dc);
    SetPropW(hwnd, SurfaceBitmapProp(s), bitmap);
  }
  PaintFaces(hwnd);
  ReleaseDC(hwnd, windowDc);
  SendMessageW(hwnd, BM_SETSTYLE, static_cast<WPARAM>(kOwnerDrawBits), TRUE);
  SetPropInt(hwnd, kPropMouseFlag, 0);
  SetPropInt(hwnd, kPropTimerId, 0);
  SetPropInt(hwnd, kPropOldState, IsWindowEnabled(hwnd) ? kFaceNormal : kFaceDisabled);
  SetPropInt(hwnd, kPropAlphaLevel, 0);
  // The system owns the region from here on.
  SetWindowRgn(hwnd, ButtonRegion(hwnd, size), TRUE);
  Subclass(hwnd, ButtonWndProc);
  ++g_buttonCount;
  return 1;
}

int UnskinButton(HWND hwnd) {
  WNDPROC previous = PreviousProc(hwnd);
  if (!previous) return 0;
  for (int s = 0; s < kFaceStateCount; ++s) {
    DeleteDC(static_cast<HDC>(GetPropW(hwnd, SurfaceDcProp(s))));
    DeleteObject(static_cast<HBITMAP>(GetPropW(hwnd, SurfaceBitmapProp(s))));
    RemovePropW(hwnd, SurfaceDcProp(s));
    RemovePropW(hwnd, SurfaceBitmapProp(s));
  }
  StopFade(hwnd);
  for (const wchar_t* name : {kPropMouseFlag, kPropTimerId, kPropOldState, kPropAlphaLevel, kPropShield}) {
    RemovePropW(hwnd, name);
  }
  RemovePropW(hwnd, kPropProcAddr);
  SetWindowLongPtrW(hwnd, GWL_STYLE, GetWindowLongPtrW(hwnd, GWL_STYLE) & ~kOwnerDrawBits);
  SetWindowRgn(hwnd, nullptr, TRUE);
  SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE);
  --g_buttonCount;
  ReleaseTemplate();
  return 1;
}

LRESULT CALLBACK ButtonWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return 0;
  WNDPROC previous = PreviousProc(hwnd);
  if (!previous) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_DESTROY:
      if (!OwnDestroy(hwnd)) return 0;
      UnskinButton(hwnd);
      CallWindowProcW(previous, hwnd, msg, wParam, lParam);
      return 0;
    case WM_PAINT: {
      // Never composes: one copy of a finished face.
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      CopyFace(hwnd, dc, ClampState(PropInt(hwnd, kPropOldState)));
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_TIMER:
      // Any timer id advances the fade; the timer is ours by construction.
      FadeTick(hwnd);
      return CallWindowProcW(previous, hwnd, msg, wParam, lParam);
    default:
      break;
  }

  const LRESULT result = CallWindowProcW(previous, hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_SIZE:
      if (StillSkinned(hwnd)) ResizeFaces(hwnd);
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      OnButtonEvent(hwnd, ButtonEvent::FocusChange);
      break;
    case WM_ENABLE:
      OnButtonEvent(hwnd, wParam ? ButtonEvent::Enabled : ButtonEvent::Disabled);
      break;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE) OnButtonEvent(hwnd, ButtonEvent::SpaceDown);
      break;
    case WM_KEYUP:
      if (wParam == VK_SPACE) OnButtonEvent(hwnd, ButtonEvent::SpaceUp);
      break;
    case WM_MOUSEMOVE:
      OnButtonEvent(hwnd, ButtonEvent::MouseMove);
      break;
    case WM_LBUTTONDOWN:
      OnButtonEvent(hwnd, ButtonEvent::LeftDown);
      break;
    case WM_LBUTTONUP:
      OnButtonEvent(hwnd, ButtonEvent::LeftUp);
      break;
    case WM_MOUSELEAVE:
      OnButtonEvent(hwnd, ButtonEvent::MouseLeave);
      break;
    default:
      break;
  }
  return result;
}

// ---------------------------------------------------------------------------
// Fade timer and mouse tracking

void StartFade(HWND hwnd) {
  // A running fade carries on towards the state and from the alpha just stored.
  if (PropInt(hwnd, kPropTimerId) != 0) return;
  // If SetTimer fails no fade runs; the new face shows at the next WM_PAINT.
  SetPropInt(hwnd, kPropTimerId, static_cast<INT_PTR>(SetTimer(hwnd, kFadeTimerId, kFadeIntervalMs, nullptr)));
}

void StopFade(HWND hwnd) {
  const INT_PTR id = PropInt(hwnd, kPropTimerId);
  if (id == 0) return;
  SetPropInt(hwnd, kPropTimerId, 0);
  KillTimer(hwnd, static_cast<UINT_PTR>(id));
}

void TrackMouseLeave(HWND hwnd) {
  TRACKMOUSEEVENT request{sizeof(TRACKMOUSEEVENT), TME_LEAVE, hwnd, 0};
  if (g_userTrackMouse) {
    TrackMouseEvent(&request);
  } else {
    static auto* const track = LazyFn<BOOL WINAPI(TRACKMOUSEEVENT*)>(L"comctl32.dll", "_TrackMouseEvent");
    if (track) track(&request);
  }
}

// ---------------------------------------------------------------------------
// Helpers

bool ExportExists(const char* function, const wchar_t* library) {
  HMODULE module = GetModuleHandleW(library);
  bool loadedHere = false;
  if (!module) {
    module = LoadLibraryW(library);
    loadedHere = module != nullptr;
  }
  if (!module) return false;
  const bool found = GetProcAddress(module, function) != nullptr;
  if (loadedHere) FreeLibrary(module);
  return found;
}

std::wstring WindowClassName(HWND hwnd) {
  wchar_t name[256];
  const int length = GetClassNameW(hwnd, name, 256);
  if (length <= 0) return {};
  return std::wstring(name, static_cast<std::size_t>(length));
}

void FrameBox(HDC dc, int left, int top, int width, int height, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  const RECT rect{left, top, left + width, top + height};
  FrameRect(dc, &rect, brush);
  DeleteObject(brush);
}

EngineState CurrentEngineState() {
  return {g_engineReady, g_userTrackMouse, g_templateDc, g_templateBitmap, g_buttonCount, g_formCount};
}

}  // namespace tolvane::skin
