// Windows for the skin engine's tests: a stand-in for the program's Form1
// window class, push buttons on it, and readers for the faces a skinned
// button holds in memory.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "resource.h"
#include "skin/mskinbutton_win.h"

namespace tolvane::test {

// The stand-in class carries the real Form1 class name, so the engine treats
// it as one of our forms, but is registered for another module: the real
// Form1 of the same test process (registered for the exe) never meets it.
// gdi32 is mapped in every window program from its start; the program itself
// loads some of its libraries only when first needed.
inline HINSTANCE SkinTestInstance() { return GetModuleHandleW(L"gdi32.dll"); }

inline LRESULT CALLBACK SkinTestFormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(hwnd, msg, wp, lp);
}

inline bool RegisterSkinTestForm() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  if (GetClassInfoExW(SkinTestInstance(), TOLVANE_FORM1_CLASS, &wc)) return true;
  wc.lpfnWndProc = SkinTestFormProc;
  wc.hInstance = SkinTestInstance();
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = TOLVANE_FORM1_CLASS;
  return RegisterClassExW(&wc) != 0;
}

inline HWND CreateSkinTestForm(int width = 420, int height = 300) {
  return CreateWindowExW(0, TOLVANE_FORM1_CLASS, L"skin test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 10, 10, width,
                         height, nullptr, nullptr, SkinTestInstance(), nullptr);
}

// Bitmap fonts would do as well, but a TrueType face without antialiasing
// gives caption pixels of exactly the text colour.
inline HFONT SkinTestFont() {
  static HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
  return font;
}

inline HWND AddPushButton(HWND parent, const wchar_t* caption, int x, int y, int w, int h, int id = 0) {
  HWND button = CreateWindowExW(0, L"Button", caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, x, y, w, h,
                                parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(SkinTestFont()), FALSE);
  return button;
}

inline INT_PTR Prop(HWND hwnd, const wchar_t* name) { return reinterpret_cast<INT_PTR>(GetPropW(hwnd, name)); }

inline HDC FaceDc(HWND button, int state) {
  const wchar_t* names[] = {L"HDC0", L"HDC1", L"HDC2", L"HDC3"};
  return static_cast<HDC>(GetPropW(button, names[state]));
}

// A face as RRGGBB values, row by row.
struct Face {
  int w = 0, h = 0;
  std::vector<unsigned> rgb;
  unsigned at(int x, int y) const { return rgb[static_cast<std::size_t>(y * w + x)]; }
};

inline Face ReadFace(HWND button, int state) {
  RECT r{};
  GetWindowRect(button, &r);
  Face face{r.right - r.left, r.bottom - r.top, {}};
  HDC dc = FaceDc(button, state);
  face.rgb.reserve(static_cast<std::size_t>(face.w * face.h));
  for (int y = 0; y < face.h; ++y) {
    for (int x = 0; x < face.w; ++x) {
      const COLORREF c = GetPixel(dc, x, y);
      face.rgb.push_back(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
    }
  }
  return face;
}

// What the window shows, read from its window DC (Wine backs every window
// with a surface, also under the null graphics driver).
inline Face ReadScreen(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  Face face{r.right - r.left, r.bottom - r.top, {}};
  HDC dc = GetWindowDC(hwnd);
  for (int y = 0; y < face.h; ++y) {
    for (int x = 0; x < face.w; ++x) {
      const COLORREF c = GetPixel(dc, x, y);
      face.rgb.push_back(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
    }
  }
  ReleaseDC(hwnd, dc);
  return face;
}

// Largest difference of one colour channel between two pictures, over the
// inside (the rounded region clips the corners of the window).
inline int MaxDifference(const Face& a, const Face& b, int inset = 2) {
  int worst = 0;
  for (int y = inset; y < a.h - inset; ++y) {
    for (int x = inset; x < a.w - inset; ++x) {
      for (int shift : {0, 8, 16}) {
        const int ca = static_cast<int>((a.at(x, y) >> shift) & 0xFF), cb = static_cast<int>((b.at(x, y) >> shift) & 0xFF);
        worst = std::max(worst, ca > cb ? ca - cb : cb - ca);
      }
    }
  }
  return worst;
}

// Posted leave and timer messages of destroyed test buttons are dropped so
// they cannot reach the next test.
inline void DrainMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// A form of the stand-in class, destroyed with everything on it at the end.
class SkinFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterSkinTestForm());
    form_ = CreateSkinTestForm();
    // Without an X display Wine can create windows only with its null
    // graphics driver: HKCU\Software\Wine\Drivers "Graphics"="null".
    ASSERT_NE(form_, nullptr) << "no window: give Wine a display or the null graphics driver";
  }
  void TearDown() override {
    if (form_ && IsWindow(form_)) DestroyWindow(form_);
    DrainMessages();
  }

  HWND form_ = nullptr;
};

}  // namespace tolvane::test
