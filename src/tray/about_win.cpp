#include "tray/about_win.h"

#include <string>

#include "platform/app_win.h"
#include "platform/product.h"
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
  const SIZE design = WindowSizeForClient(kClientWidth, kClientHeight, style, 0, kDesignDpi);
  POINT at = CentredOnWorkArea(design.cx, design.cy);
  if (!CreateFormWindow(0, TOLVANE_ABOUT_CLASS, L"关于 ... ...", style, at.x, at.y, design.cx, design.cy, nullptr)) {
    return false;
  }
  // The client area of 248 x 140 at 96 DPI, at the DPI of the monitor the
  // window came up on.
  layout_.Attach(hwnd_, WindowDpi(hwnd_));
  const SIZE size = WindowSizeForClient(layout_.Px(kClientWidth), layout_.Px(kClientHeight), style, 0, layout_.dpi());
  at = CentredOnWorkArea(size.cx, size.cy);
  FitClientArea({at.x, at.y, at.x + size.cx, at.y + size.cy});
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
  Label1_ = layout_.Create(L"STATIC", kProductTitle, label, {80, 8, 89, 14}, IDC_ABOUT_LABEL1);
  Frame1_ = layout_.Create(L"STATIC", L"", WS_VISIBLE | SS_ETCHEDFRAME, {kFrameX, kFrameY, 217, 105},
                           IDC_ABOUT_FRAME);
  Label5_ = layout_.Create(L"STATIC", L"作者：Tolvane 开发组", label, {kFrameX + 72, kFrameY + 24, 137, 14},
                           IDC_ABOUT_LABEL5);
  Label6_ = layout_.Create(L"STATIC", (std::wstring(L"联系：") + kSiteName + L" 留言板").c_str(), label,
                           {kFrameX + 72, kFrameY + 40, 137, 14}, IDC_ABOUT_LABEL6);
  Label4_ = layout_.Create(L"STATIC", (std::wstring(L"网站：") + kSiteName).c_str(), label | SS_NOTIFY,
                           {kFrameX + 24, kFrameY + 64, 153, 14}, IDC_ABOUT_LABEL4, 0, FontRole::Own);
  Label2_ = layout_.Create(L"STATIC", L"Copyright © 2026 Tolvane", label, {kFrameX + 16, kFrameY + 80, 177, 14},
                           IDC_ABOUT_LABEL2);
  // The program's icon beside the author lines.
  Icon_ = layout_.Create(L"STATIC", L"", WS_VISIBLE | SS_ICON | SS_REALSIZECONTROL,
                         {kFrameX + 22, kFrameY + 20, 32, 32}, 0, 0, FontRole::Own);
  MakeDpiResources();
}

void About::MakeDpiResources() {
  // The site line is a link: underlined, with the hand cursor.
  LOGFONTW lf = {};
  GetObjectW(UiFontForDpi(layout_.dpi()), sizeof(lf), &lf);
  lf.lfUnderline = TRUE;
  HFONT link = CreateFontIndirectW(&lf);
  if (link) {
    SendMessageW(Label4_, WM_SETFONT, reinterpret_cast<WPARAM>(link), TRUE);
    if (link_font_) DeleteObject(link_font_);
    link_font_ = link;
    layout_.Refresh(Label4_);
  }
  // The icon file holds 32 and 48 pixel pictures; the system picks and
  // reduces the nearest for the size asked.
  const int size = layout_.Px(32);
  auto picture = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOLVANE), IMAGE_ICON, size, size, 0));
  if (picture && Icon_) {
    SendMessageW(Icon_, STM_SETICON, reinterpret_cast<WPARAM>(picture), 0);
    SetWindowPos(Icon_, nullptr, 0, 0, size, size, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (icon_picture_) DestroyIcon(icon_picture_);
    icon_picture_ = picture;
  }
}

void About::Form_DpiChanged(const DpiChange& change) {
  layout_.SetDpi(change.dpi);
  MakeDpiResources();
  FitClientArea(change.suggested);
}

void About::FitClientArea(const RECT& r) {
  SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
  // The suggestion assumes the title bar at the new DPI; where the system
  // draws it otherwise (an older system, a different theme), the client area
  // is put right so the contents keep their room.
  RECT client;
  GetClientRect(hwnd_, &client);
  const int dx = layout_.Px(kClientWidth) - client.right;
  const int dy = layout_.Px(kClientHeight) - client.bottom;
  if (dx != 0 || dy != 0) {
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left + dx, r.bottom - r.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
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
      if (TheApp().Locked()) return 0;  // no browser from under the lock
      if (LOWORD(wp) == IDC_ABOUT_LABEL4 && HIWORD(wp) == STN_CLICKED) Label4_Click();
      return 0;
    case WM_DPICHANGED:
      Form_DpiChanged(ReadDpiChange(wp, lp));
      return 0;
    case WM_CLOSE:
      Unload();
      return 0;
    case WM_DESTROY:
      layout_.Detach();
      break;
    case WM_NCDESTROY:
      if (link_font_) DeleteObject(link_font_);
      link_font_ = nullptr;
      if (icon_picture_) DestroyIcon(icon_picture_);
      icon_picture_ = nullptr;
      Label1_ = Frame1_ = Label5_ = Label6_ = Label4_ = Label2_ = Icon_ = nullptr;
      TheApp().FormUnloaded();
      return 0;
    default:
      break;
  }
  return Window::HandleMessage(msg, wp, lp);
}

}  // namespace tolvane
