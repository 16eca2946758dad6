#include "tray/about_win.h"

#include <string>

#include "app/app_win.h"
#include "app/product.h"
#include "resource.h"
#include "tray/form3_win.h"

namespace tolvane {
namespace {

constexpr COLORREF kBlue = RGB(0, 0, 255);

// The frame's labels are placed relative to the frame at (16, 24).
constexpr int kFrameX = 16;
constexpr int kFrameY = 24;

}  // namespace

void ShowAbout() {
  static About about;
  TheApp().about = &about;
  if (about.hwnd()) {
    about.BringForward();
  } else {
    about.Load();
  }
}

bool About::Load() {
  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOLVANE));
  if (!RegisterFormClass(TOLVANE_ABOUT_CLASS, icon, 0)) return false;
  // No WS_CLIPCHILDREN: the etched frame paints only its edge and relies on
  // the window having painted the face behind it.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT rc = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&rc, style, FALSE, 0);
  const int width = rc.right - rc.left;
  const int height = rc.bottom - rc.top;
  const POINT at = CentredOnWorkArea(width, height);
  if (!CreateFormWindow(0, TOLVANE_ABOUT_CLASS, L"关于 ... ...", style, at.x, at.y, width, height, nullptr)) return false;
  TheApp().FormLoaded();
  Form_Load();
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
  return true;
}

void About::BringForward() {
  if (!hwnd_) return;
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(hwnd_);
}

void About::Unload() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void About::Form_Load() {
  const DWORD label = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
  Label1_ = CreateControl(hwnd_, L"STATIC", kProductTitle, label, 80, 8, 89, 14, IDC_ABOUT_LABEL1);
  Frame1_ = CreateControl(hwnd_, L"STATIC", L"", WS_VISIBLE | SS_ETCHEDFRAME, kFrameX, kFrameY, 217, 105,
                          IDC_ABOUT_FRAME);
  Label5_ = CreateControl(hwnd_, L"STATIC", L"作者：Tolvane 开发组", label, kFrameX + 72, kFrameY + 24, 137, 14,
                          IDC_ABOUT_LABEL5);
  Label6_ = CreateControl(hwnd_, L"STATIC", (std::wstring(L"联系：") + kSiteName + L" 留言板").c_str(), label,
                          kFrameX + 72, kFrameY + 40, 137, 14, IDC_ABOUT_LABEL6);
  Label4_ = CreateControl(hwnd_, L"STATIC", (std::wstring(L"网站：") + kSiteName).c_str(), label | SS_NOTIFY,
                          kFrameX + 24, kFrameY + 64, 153, 14, IDC_ABOUT_LABEL4);
  Label2_ = CreateControl(hwnd_, L"STATIC", L"Copyright © 2026 Tolvane", label, kFrameX + 16, kFrameY + 80, 177, 14,
                          IDC_ABOUT_LABEL2);
  // The program's icon beside the author lines.
  HWND icon = CreateControl(hwnd_, L"STATIC", L"", WS_VISIBLE | SS_ICON | SS_REALSIZEIMAGE, kFrameX + 22,
                            kFrameY + 20, 32, 32, 0);
  HANDLE picture = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOLVANE), IMAGE_ICON, 32, 32, LR_SHARED);
  if (icon && picture) SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(picture), 0);
  // The site line is a link: underlined, with the hand cursor.
  LOGFONTW lf = {};
  GetObjectW(UiFont(), sizeof(lf), &lf);
  lf.lfUnderline = TRUE;
  link_font_ = CreateFontIndirectW(&lf);
  if (link_font_) SendMessageW(Label4_, WM_SETFONT, reinterpret_cast<WPARAM>(link_font_), FALSE);
}

void About::Label4_Click() { OpenInBrowser(kProjectUrl); }

LRESULT About::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT rc;
      GetClientRect(hwnd_, &rc);
      FillRect(reinterpret_cast<HDC>(wp), &rc, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      HWND ctl = reinterpret_cast<HWND>(lp);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, (ctl == Label4_ || ctl == Label2_) ? kBlue : RGB(0, 0, 0));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wp) == Label4_) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_COMMAND:
      if (LOWORD(wp) == IDC_ABOUT_LABEL4 && HIWORD(wp) == STN_CLICKED) Label4_Click();
      return 0;
    case WM_CLOSE:
      Unload();
      return 0;
    case WM_NCDESTROY:
      if (link_font_) DeleteObject(link_font_);
      link_font_ = nullptr;
      Label1_ = Frame1_ = Label5_ = Label6_ = Label4_ = Label2_ = nullptr;
      TheApp().FormUnloaded();
      return 0;
    default:
      break;
  }
  return Window::HandleMessage(msg, wp, lp);
}

}  // namespace tolvane
