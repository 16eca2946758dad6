// Module tuopan: the notification-area icon of the setup window. One icon
// record lives for the whole run; each routine fills the fields it needs and
// leaves the rest as the previous call left them.
#pragma once
#include <windows.h>

#include <string>

namespace tolvane {

// Adds the icon (uID 1) for `window`, picture from `icon_file`, with `tip`.
// The mouse events of the icon arrive at `window` as TOLVANE_WM_TRAY with the
// mouse message in the low word of lParam.
void AddTrayIcon(HWND window, const std::wstring& icon_file, const std::wstring& tip, int reserved = 0);

// Shows a balloon on the icon of `window`; replaces one still showing.
void ShowTrayBalloon(HWND window, const std::wstring& text, const std::wstring& title, DWORD icon_flags);

// Removes the icon described by the record. Call before the window is
// destroyed: a delete after DestroyWindow fails and leaves a stale icon.
void DeleteTrayIcon();

// Adds the icon again with the record's last values, after Explorer restarts
// ("TaskbarCreated").
void ReAddTrayIcon();

// The registered "TaskbarCreated" message.
UINT TaskbarCreatedMessage();

}  // namespace tolvane
