// bare_cover: the yardstick of the cover benchmark. The least a Win32 program
// does to cover the screen: one topmost borderless window over the primary
// monitor, painted in the lock's dark colour, and a message loop. It loads
// only what every window program loads (user32, gdi32), so that next to it
// the lock's own costs stand out.
//
//   bare_cover            runs until it is killed or closed
#include <windows.h>

namespace {

LRESULT CALLBACK BareProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = BareProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = CreateSolidBrush(RGB(0x10, 0x14, 0x1C));
  wc.lpszClassName = L"BareCover";
  if (!RegisterClassW(&wc)) return 1;
  HWND h = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"bare", WS_POPUP, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance,
                           nullptr);
  if (!h) return 1;
  ShowWindow(h, SW_SHOW);
  UpdateWindow(h);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}
