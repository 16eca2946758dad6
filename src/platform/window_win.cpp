#include "platform/window_win.h"

#include <cwchar>
#include <string>

#include "platform/dpi_win.h"
#include "platform/message_guard_win.h"

namespace tolvane {

bool Window::RegisterFormClass(const wchar_t* class_name, HICON icon, UINT style) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  if (GetClassInfoExW(GetModuleHandleW(nullptr), class_name, &wc)) return true;
  wc.cbSize = sizeof(wc);
  wc.style = style;
  wc.lpfnWndProc = StaticWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hIcon = icon;
  wc.hIconSm = icon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = nullptr;  // each form paints its own background
  wc.lpszClassName = class_name;
  return RegisterClassExW(&wc) != 0;
}

HWND WindowFactory::Create(DWORD ex_style, const wchar_t* class_name, const wchar_t* title, DWORD style, int x, int y,
                           int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  return CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent, menu, instance, param);
}

WindowFactory& SystemWindows() {
  static WindowFactory system;
  return system;
}

HWND Window::CreateFormWindow(DWORD ex_style, const wchar_t* class_name, const wchar_t* title, DWORD style, int x,
                              int y, int width, int height, HWND owner, WindowFactory& windows) {
  WatchOwnDestroys();
  return windows.Create(ex_style, class_name, title, style, x, y, width, height, owner, nullptr,
                        GetModuleHandleW(nullptr), this);
}

LRESULT Window::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd_, msg, wp, lp); }

LRESULT CALLBACK Window::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Window* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE:
      // The first one comes from CreateWindowEx; any later one from another
      // program, with a creation record of its own making.
      if (self) return 0;
      self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      break;
    case WM_DESTROY:
    case WM_NCDESTROY:
      // The teardown (hook, covers, timers, the object itself) runs only when
      // the program destroys its own window: a forged message would leave a
      // live window without its guards, or with its object deleted.
      if (!OwnDestroy(hwnd)) return 0;
      break;
    default:
      break;
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT result = self->HandleMessage(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    ForgetDestroyed(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->OnFinalDestroy();
  }
  return result;
}

HFONT MakeFont(const std::wstring& face, double points, bool bold, bool italic, bool underline, bool strike,
               BYTE charset) {
  return MakeFontForDpi(face, points, bold, italic, underline, strike, charset, ScreenDpi());
}

HFONT UiFont() { return UiFontForDpi(ScreenDpi()); }

POINT CentredOnWorkArea(int width, int height) {
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return {work.left + (work.right - work.left - width) / 2, work.top + (work.bottom - work.top - height) / 2};
}

HWND CreateControl(HWND parent, const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y, int width,
                   int height, int id, DWORD ex_style) {
  HWND h = CreateWindowExW(ex_style, class_name, text, WS_CHILD | style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (h) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  return h;
}

std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring ProgramFolder() {
  const std::wstring path = ProgramPath();
  if (path.empty()) return L".";
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring GetText(HWND hwnd) {
  const int n = GetWindowTextLengthW(hwnd);
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return s;
}

}  // namespace tolvane
