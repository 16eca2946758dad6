#include "tray/form3_win.h"

#include <shellapi.h>

#include "platform/app_win.h"
#include "platform/lazy_dll_win.h"
#include "platform/product.h"
#include "config/settings.h"
#include "lock/process_guard_win.h"
#include "lock/relock.h"
#include "resource.h"
#include "setup/save_config.h"
#include "tray/about_win.h"

namespace tolvane {
namespace {

Form3& TheForm3() {
  static Form3 form3;
  TheApp().form3 = &form3;
  return form3;
}

HMENU BuildMenu() {
  HMENU help_center = CreatePopupMenu();
  AppendMenuW(help_center, MF_STRING, IDM_HELP, L"帮助文档");
  AppendMenuW(help_center, MF_STRING, IDM_SETTING, L"赞助我们");

  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, IDM_PASSWORD, L"密码设置");
  AppendMenuW(menu, MF_STRING, IDM_MSHOW, L"界面设置");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(help_center), L"帮助中心");
  AppendMenuW(menu, MF_STRING, IDM_ABOUT, L"关于Tolvane");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_MEXIT, L"退出程序");
  return menu;
}

}  // namespace

bool OpenInBrowser(const std::wstring& target) {
  // The shell's own association: the user's default browser, wherever it is.
  // Some association handlers are COM objects, and the shell expects COM on
  // the calling thread.
  const ScopedCom com;
  static auto* const shell_execute =
      LazyFn<HINSTANCE WINAPI(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT)>(L"shell32.dll", "ShellExecuteW");
  if (!shell_execute) return false;
  INT_PTR result = 0;
  // The browser is the user's own program: it must not inherit the lock's guard.
  WithUsersDefaultDacl([&] {
    result = reinterpret_cast<INT_PTR>(shell_execute(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  });
  return result > 32;
}

void PopupTrayMenu(HWND owner) {
  if (TheApp().LockActive()) return;
  Form3& form3 = TheForm3();
  if (!form3.hwnd() && !form3.Load()) return;
  form3.UpdateItems(Configured(), RelockOn(ReadOption(kSettingsSection, kRelockKey)));

  // Without the foreground the menu would not close when the user clicks
  // elsewhere.
  SetForegroundWindow(owner);
  POINT pt = {};
  GetCursorPos(&pt);
  const UINT id = static_cast<UINT>(TrackPopupMenu(form3.menu(),
                                                   TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD |
                                                       TPM_NONOTIFY,
                                                   pt.x, pt.y, 0, owner, nullptr));
  // The classic companion of the call above: a message to the owner makes a
  // second popup work at once.
  PostMessageW(owner, WM_NULL, 0, 0);
  if (id != 0) form3.Menu_Click(id);
}

void UnloadForm3() {
  if (TheApp().form3) TheApp().form3->Unload();
}

bool Form3::Load() {
  if (!RegisterFormClass(TOLVANE_FORM3_CLASS, nullptr)) return false;
  // Never shown and not counted among the loaded forms: it lives and goes
  // with the setup window, whose unload takes it along.
  if (!CreateFormWindow(0, TOLVANE_FORM3_CLASS, L"Tolvane menu", WS_POPUP, 0, 0, 0, 0, nullptr)) return false;
  menu_ = BuildMenu();
  return menu_ != nullptr;
}

void Form3::Unload() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void Form3::UpdateItems(bool configured, bool relock_on) {
  DeleteMenu(menu_, IDM_RELOCK, MF_BYCOMMAND);
  DeleteMenu(menu_, IDM_LOCKNOW, MF_BYCOMMAND);
  if (!configured) return;
  // Below "界面设置", the second item.
  InsertMenuW(menu_, 2, MF_BYPOSITION | MF_STRING | (relock_on ? MF_CHECKED : MF_UNCHECKED), IDM_RELOCK,
              L"拔出U盘时自动锁定");
  InsertMenuW(menu_, 3, MF_BYPOSITION | MF_STRING, IDM_LOCKNOW, L"立即锁定");
}

void Form3::Menu_Click(UINT id) {
  switch (id) {
    case IDM_PASSWORD:
      password_Click();
      break;
    case IDM_MSHOW:
      mshow_Click();
      break;
    case IDM_HELP:
      Help_Click();
      break;
    case IDM_SETTING:
      setting_Click();
      break;
    case IDM_ABOUT:
      about_Click();
      break;
    case IDM_MEXIT:
      mexit_Click();
      break;
    case IDM_RELOCK:
      relock_Click();
      break;
    case IDM_LOCKNOW:
      locknow_Click();
      break;
    default:
      break;
  }
}

void Form3::password_Click() {
  // Shown as it is: a minimised window stays minimised (only the tray icon's
  // left press restores it).
  TheApp().ShowSetupAsIs();
}

void Form3::mshow_Click() { TheApp().ShowAppearance(); }

void Form3::Help_Click() {
  const std::wstring page = ProgramFolder() + L"\\help.html";
  if (GetFileAttributesW(page.c_str()) == INVALID_FILE_ATTRIBUTES) {
    MessageBoxW(nullptr, (L"找不到帮助文档：\r\n" + page).c_str(), L"提示：", MB_OK | MB_ICONINFORMATION);
    return;
  }
  OpenInBrowser(page);
}

void Form3::setting_Click() { OpenInBrowser(kProjectUrl); }

void Form3::about_Click() { ShowAbout(); }

void Form3::mexit_Click() {
  // The icon goes with the setup window; then the program ends at once,
  // without asking the other windows (unsaved edits are dropped).
  TheApp().UnloadSetup();
  ExitProcess(0);
}

void Form3::relock_Click() {
  const bool on = !RelockOn(ReadOption(kSettingsSection, kRelockKey));
  // A switch the process may not write goes to an elevated instance, as a
  // save does.
  const WriteResult written = WriteOption(kSettingsSection, kRelockKey, RelockValue(on));
  if (written != WriteResult::Ok) {
    const std::wstring path = SettingsFilePath();
    const std::wstring text =
        written == WriteResult::Declined ? SettingsDeclinedMessage(path) : SettingsWriteFailedMessage(path);
    MessageBoxW(nullptr, text.c_str(), kMsgTitle, MB_OK | MB_ICONERROR);
  }
}

void Form3::locknow_Click() {
  TheApp().LockNow();
}

LRESULT Form3::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCDESTROY) {
    if (menu_) DestroyMenu(menu_);  // takes the submenu along
    menu_ = nullptr;
  }
  return Window::HandleMessage(msg, wp, lp);
}

}  // namespace tolvane
