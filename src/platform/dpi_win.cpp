#include "platform/dpi_win.h"

#include <algorithm>
#include <cwchar>
#include <map>

namespace tolvane {
namespace {

// Set on a form by its layout; read by everything drawn on the form.
constexpr wchar_t kDpiProp[] = L"TolvaneDpi";

// GetDpiForWindow and AdjustWindowRectExForDpi exist from Windows 10 1607
// on; the program also runs on older systems, where the screen DPI is all
// there is, so both are looked up at run time.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

HFONT CachedFont(std::map<int, HFONT>& cache, double points, int dpi) {
  auto it = cache.find(dpi);
  if (it != cache.end()) return it->second;
  HFONT font = MakeFontForDpi(L"宋体", points, false, false, false, false, GB2312_CHARSET, dpi);
  cache.emplace(dpi, font);
  return font;
}

}  // namespace

// The height a one-line label or text box needs to show a whole line of its
// font, frame included; 0 for anything else. The design heights fit a 9 pt
// 宋体 line, but fonts that stand in for it (Wine's, or a user's font
// substitution) can run a few pixels taller, and a box must never cut them.
int OneLineHeight(HWND control) {
  wchar_t cls[16] = {};
  GetClassNameW(control, cls, 16);
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  const bool edit = _wcsicmp(cls, L"Edit") == 0 && !(style & ES_MULTILINE);
  const LONG_PTR kind = style & SS_TYPEMASK;
  const bool label = _wcsicmp(cls, L"Static") == 0 && (kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT ||
                                                       kind == SS_LEFTNOWORDWRAP || kind == SS_SIMPLE);
  if (!edit && !label) return 0;
  HDC dc = GetDC(control);
  if (!dc) return 0;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  TEXTMETRICW tm = {};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  if (label) return tm.tmHeight;
  RECT window = {}, client = {};
  GetWindowRect(control, &window);
  GetClientRect(control, &client);
  return tm.tmHeight + (window.bottom - window.top) - (client.bottom - client.top);
}

void MarkWindowDpi(HWND form, int dpi) {
  if (form) SetPropW(form, kDpiProp, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(dpi)));
}

void UnmarkWindowDpi(HWND form) {
  if (form) RemovePropW(form, kDpiProp);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kDesignDpi;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

int WindowDpi(HWND hwnd) {
  if (hwnd) {
    HWND root = GetAncestor(hwnd, GA_ROOT);
    if (!root) root = hwnd;
    const auto set = reinterpret_cast<INT_PTR>(GetPropW(root, kDpiProp));
    if (set > 0) return static_cast<int>(set);
    static const auto get_dpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (get_dpi) {
      const UINT dpi = get_dpi(hwnd);
      if (dpi > 0) return static_cast<int>(dpi);
    }
  }
  return ScreenDpi();
}

HFONT MakeFontForDpi(const std::wstring& face, double points, bool bold, bool italic, bool underline, bool strike,
                     BYTE charset, int dpi) {
  LOGFONTW lf = {};
  lf.lfHeight = FontHeightForDpi(points, dpi);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = italic;
  lf.lfUnderline = underline;
  lf.lfStrikeOut = strike;
  lf.lfCharSet = charset;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return CreateFontIndirectW(&lf);
}

HFONT UiFontForDpi(int dpi) {
  static std::map<int, HFONT> cache;
  return CachedFont(cache, 9, dpi);
}

HFONT TitleFontForDpi(int dpi) {
  static std::map<int, HFONT> cache;
  return CachedFont(cache, 9.75, dpi);
}

SIZE WindowSizeForClient(int width, int height, DWORD style, DWORD ex_style, int dpi) {
  RECT rc = {0, 0, width, height};
  static const auto adjust = User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  if (!adjust || !adjust(&rc, style, FALSE, ex_style, static_cast<UINT>(dpi))) {
    AdjustWindowRectEx(&rc, style, FALSE, ex_style);
  }
  return {rc.right - rc.left, rc.bottom - rc.top};
}

DpiChange ReadDpiChange(WPARAM wp, LPARAM lp) {
  DpiChange c{static_cast<int>(HIWORD(wp)), {}};
  if (c.dpi <= 0) c.dpi = kDesignDpi;
  if (lp) c.suggested = *reinterpret_cast<const RECT*>(lp);
  return c;
}

void ScaledLayout::Attach(HWND form, int dpi) {
  form_ = form;
  items_.clear();
  dpi_ = dpi > 0 ? dpi : kDesignDpi;
  MarkWindowDpi(form_, dpi_);
}

HWND ScaledLayout::Create(const wchar_t* class_name, const wchar_t* text, DWORD style, const DesignRect& rect, int id,
                          DWORD ex_style, FontRole role) {
  const DesignRect r = Scaled(rect);
  HWND h = CreateWindowExW(ex_style, class_name, text, WS_CHILD | style, r.x, r.y, r.width, r.height, form_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (h) Add(h, rect, role);
  return h;
}

void ScaledLayout::Add(HWND control, const DesignRect& rect, FontRole role) {
  if (!control) return;
  items_.push_back({control, rect, role});
  Place(items_.back());
}

void ScaledLayout::Place(const Item& item) const {
  HFONT font = item.role == FontRole::Ui      ? UiFontForDpi(dpi_)
               : item.role == FontRole::Title ? TitleFontForDpi(dpi_)
                                              : nullptr;
  // The font first: a skinned button composes its faces on the resize below,
  // with whatever font it has then.
  if (font) SendMessageW(item.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  DesignRect r = Scaled(item.rect);
  r.height = std::max(r.height, OneLineHeight(item.hwnd));
  SetWindowPos(item.hwnd, nullptr, r.x, r.y, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ScaledLayout::SetDpi(int dpi) {
  dpi_ = dpi > 0 ? dpi : kDesignDpi;
  MarkWindowDpi(form_, dpi_);
  for (const Item& item : items_) Place(item);
  if (form_) InvalidateRect(form_, nullptr, TRUE);
}

void ScaledLayout::Refresh(HWND control) {
  for (const Item& item : items_) {
    if (item.hwnd == control) Place(item);
  }
}

void ScaledLayout::Detach() {
  UnmarkWindowDpi(form_);
  form_ = nullptr;
  items_.clear();
}

}  // namespace tolvane
