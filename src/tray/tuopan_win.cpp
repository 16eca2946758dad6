#include "tray/tuopan_win.h"

#include <shellapi.h>

#include <cwchar>

#include "platform/lazy_dll_win.h"
#include "resource.h"

namespace tolvane {
namespace {

NOTIFYICONDATAW g_icon_record = {};
bool g_icon_added = false;

// Copies text into a fixed field, cut to the field with its NUL.
template <std::size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& text) {
  std::wcsncpy(field, text.c_str(), N - 1);
  field[N - 1] = L'\0';
}

// The shell library is loaded with the icon, after the lock has covered the
// screen, not with the program.
BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) {
  static auto* const fn = LazyFn<BOOL WINAPI(DWORD, NOTIFYICONDATAW*)>(L"shell32.dll", "Shell_NotifyIconW");
  return fn ? fn(message, data) : FALSE;
}

}  // namespace

void AddTrayIcon(HWND window, const std::wstring& icon_file, const std::wstring& tip, int /*reserved*/) {
  g_icon_record.cbSize = sizeof(g_icon_record);
  g_icon_record.hWnd = window;
  g_icon_record.uID = 1;
  g_icon_record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  g_icon_record.uCallbackMessage = TOLVANE_WM_TRAY;
  if (g_icon_record.hIcon) DestroyIcon(g_icon_record.hIcon);
  // The picture comes from ico.ico beside the program so it can be changed
  // without a rebuild; the embedded copy stands in when that file is missing.
  // 16 x 16 at 100 %; the notification area's own size at other scales, so
  // the shell need not enlarge (and blur) a 16-pixel picture.
  const int size = GetSystemMetrics(SM_CXSMICON) > 0 ? GetSystemMetrics(SM_CXSMICON) : 16;
  g_icon_record.hIcon =
      static_cast<HICON>(LoadImageW(nullptr, icon_file.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE));
  if (!g_icon_record.hIcon) {
    g_icon_record.hIcon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOLVANE), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  }
  CopyField(g_icon_record.szTip, tip);
  g_icon_added = NotifyIcon(NIM_ADD, &g_icon_record) != FALSE;
}

void ShowTrayBalloon(HWND window, const std::wstring& text, const std::wstring& title, DWORD icon_flags) {
  g_icon_record.cbSize = sizeof(g_icon_record);
  g_icon_record.hWnd = window;
  g_icon_record.uID = 1;
  g_icon_record.uFlags = NIF_INFO;
  g_icon_record.dwInfoFlags = icon_flags;
  CopyField(g_icon_record.szInfoTitle, title);
  CopyField(g_icon_record.szInfo, text);
  NotifyIcon(NIM_MODIFY, &g_icon_record);
}

void DeleteTrayIcon() {
  NotifyIcon(NIM_DELETE, &g_icon_record);
  g_icon_added = false;
}

void ReAddTrayIcon() {
  if (!g_icon_record.hWnd || !IsWindow(g_icon_record.hWnd)) return;
  g_icon_record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  g_icon_added = NotifyIcon(NIM_ADD, &g_icon_record) != FALSE;
}

UINT TaskbarCreatedMessage() {
  static const UINT msg = RegisterWindowMessageW(L"TaskbarCreated");
  return msg;
}

}  // namespace tolvane
