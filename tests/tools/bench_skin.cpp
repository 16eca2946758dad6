// Figures for the skin engine: what a skinned 81 x 25 button costs per face
// composition, per paint and per fade step, and how many GDI objects each
// skinned button holds. Prints one figure per line.
//
// The helper programs do not link the program's library, so the engine's
// sources are compiled in here.
#include "skin/face_template.h"
#include "skin/fade.h"
#include "skin/mskinbutton_win.h"
#include "skin/skin_classes.h"
#include "../win/gdi_count.h"

#include <cstdio>
#include <vector>

namespace {

using namespace tolvane;

class Stopwatch {
 public:
  Stopwatch() {
    QueryPerformanceFrequency(&freq_);
    QueryPerformanceCounter(&start_);
  }
  double MicrosecondsPer(int iterations) const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) * 1e6 / static_cast<double>(freq_.QuadPart) /
           iterations;
  }

 private:
  LARGE_INTEGER freq_{}, start_{};
};

HWND CreateHost() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"BenchSkinHost";
  RegisterClassExW(&wc);
  return CreateWindowExW(0, L"BenchSkinHost", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

HWND CreateButton(HWND host, int x, int y) {
  HWND button = CreateWindowExW(0, L"Button", L"保存", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, x, y, 81, 25, host,
                                nullptr, nullptr, nullptr);
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return button;
}

}  // namespace

int wmain() {
  HWND host = CreateHost();
  if (!host) {
    std::printf("no window: Wine needs a display or the null graphics driver\n");
    return 1;
  }
  HWND button = CreateButton(host, 10, 10);
  skin::SkinWindow(button);

  constexpr int kCompose = 2000;
  {
    Stopwatch sw;
    for (int i = 0; i < kCompose; ++i) skin::PaintFaces(button);
    std::printf("compose four faces (PaintFaces), 81x25: %.2f us per call (%d calls)\n", sw.MicrosecondsPer(kCompose),
                kCompose);
  }

  constexpr int kPaints = 20000;
  {
    Stopwatch sw;
    for (int i = 0; i < kPaints; ++i) {
      InvalidateRect(button, nullptr, FALSE);
      UpdateWindow(button);
    }
    std::printf("paint (WM_PAINT: one BitBlt of a face to the window), 81x25: %.2f us per paint (%d paints)\n",
                sw.MicrosecondsPer(kPaints), kPaints);
  }

  constexpr int kSteps = 20000;
  {
    SendMessageW(button, WM_MOUSEMOVE, 0, 0);
    Stopwatch sw;
    for (int i = 0; i < kSteps; ++i) SendMessageW(button, WM_TIMER, 1, 0);
    std::printf("fade step (WM_TIMER: one AlphaBlend to the window DC), 81x25: %.2f us per step (%d steps)\n",
                sw.MicrosecondsPer(kSteps), kSteps);
  }

  // The same copies onto an off-screen target of the screen's format, for a
  // figure that does not depend on how the window system backs a window DC.
  {
    HDC screen = GetDC(nullptr);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 81, 25);
    HGDIOBJ old = SelectObject(target, bitmap);
    ReleaseDC(nullptr, screen);
    HDC face = static_cast<HDC>(GetPropW(button, L"HDC1"));
    Stopwatch copy;
    for (int i = 0; i < kPaints; ++i) BitBlt(target, 0, 0, 81, 25, face, 0, 0, SRCCOPY);
    const double copyUs = copy.MicrosecondsPer(kPaints);
    Stopwatch blend;
    for (int i = 0; i < kSteps; ++i) {
      const BLENDFUNCTION bf{AC_SRC_OVER, 0, static_cast<BYTE>(i % 256), 0};
      AlphaBlend(target, 0, 0, 81, 25, face, 0, 0, 81, 25, bf);
    }
    const double blendUs = blend.MicrosecondsPer(kSteps);
    std::printf("off-screen: BitBlt of a face %.2f us, AlphaBlend of a face %.2f us\n", copyUs, blendUs);
    std::printf("whole fade of 86 steps: %.2f ms of drawing spread over %.2f s of timer ticks\n",
                86 * blendUs / 1000.0, 86 * 15 / 1000.0);
    SelectObject(target, old);
    DeleteObject(bitmap);
    DeleteDC(target);
  }

  constexpr int kButtons = 100;
  {
    std::vector<HWND> buttons;
    for (int i = 0; i < kButtons; ++i) buttons.push_back(CreateButton(host, (i % 8) * 90, 40 + (i / 8) * 30));
    const int before = test::GdiObjectCount();
    Stopwatch sw;
    for (HWND b : buttons) skin::SkinWindow(b);
    const double skinUs = sw.MicrosecondsPer(kButtons);
    const int after = test::GdiObjectCount();
    for (HWND b : buttons) DestroyWindow(b);
    const int destroyed = test::GdiObjectCount();
    std::printf("skin one button (surfaces, faces, region, subclass): %.2f us\n", skinUs);
    std::printf("GDI objects per skinned button: %.2f (%d buttons: %d -> %d, after destroying them %d)\n",
                static_cast<double>(after - before) / kButtons, kButtons, before, after, destroyed);
  }

  const skin::EngineState state = skin::CurrentEngineState();
  std::printf("engine: buttons %d, forms %d, template %s\n", state.buttonCount, state.formCount,
              state.ready ? "held" : "released");
  DestroyWindow(button);
  std::printf("after the last button: template %s\n", skin::CurrentEngineState().ready ? "held" : "released");
  DestroyWindow(host);
  return 0;
}
