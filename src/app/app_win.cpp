// The owner's side of the windows: the one place that knows them all, so that
// the lock, the setup window and the others need not include one another.
#include "platform/app_win.h"

#include <shellapi.h>

#include "appearance/form5_win.h"
#include "drives/drives_win.h"
#include "platform/product.h"
#include "platform/window_win.h"
#include "lock/form2_win.h"
#include "lock/lock_system_win.h"
#include "setup/form1_win.h"
#include "tray/form3_win.h"
#include "tray/tuopan_win.h"

namespace tolvane {

std::shared_ptr<DriveSystem> App::Drives() {
  if (!drives) drives = SystemDrives();
  return drives;
}

LockSystem& App::LockSystemInUse() { return lock_system ? *lock_system : SystemLockSystem(); }

bool App::ShowLock() { return ShowLockWindow(); }

bool App::Locked() const { return LockActive() || (form1 && form1->lock_pending()); }

void App::ShowSetup(const std::wstring& balloon_text, const std::wstring& balloon_title) {
  if (!form1 || !form1->hwnd()) return;
  form1->ShowNormal();
  tolvane::ShowTrayBalloon(form1->hwnd(), balloon_text, balloon_title, NIIF_INFO);
}

void App::UnloadSetup() {
  // The tray icon must go while its window still exists, or a dead icon stays
  // in the notification area.
  if (form1 && form1->hwnd()) {
    form1->Unload();
  } else {
    tolvane::DeleteTrayIcon();
  }
}

void App::StayUnlocked(const std::wstring& drive) {
  if (form1 && form1->hwnd()) form1->StayUnlocked(drive);
}

void App::LockNow() {
  if (form1 && form1->hwnd()) form1->LockNow();
}

void App::ShowSetupAsIs() {
  if (!form1 || !form1->hwnd()) return;
  ShowWindow(form1->hwnd(), SW_SHOW);
  if (!IsIconic(form1->hwnd())) SetForegroundWindow(form1->hwnd());
}

void App::ShowAppearance() { ShowForm5(); }

void App::AddTrayIcon(HWND owner) { tolvane::AddTrayIcon(owner, ProgramFolder() + L"\\ico.ico", kProductName, 0); }

void App::ShowTrayBalloon(HWND owner, const std::wstring& text, const std::wstring& title, DWORD icon_flags) {
  tolvane::ShowTrayBalloon(owner, text, title, icon_flags);
}

void App::DeleteTrayIcon() { tolvane::DeleteTrayIcon(); }

bool App::TaskbarCreated(UINT msg) {
  if (msg == 0 || msg != TaskbarCreatedMessage()) return false;
  ReAddTrayIcon();
  return true;
}

void App::PopupTrayMenu(HWND owner) { tolvane::PopupTrayMenu(owner); }

void App::UnloadTrayMenu() { UnloadForm3(); }

void App::CloseSideForms() {
  if (form5) form5->Unload();
  UnloadForm3();
}

}  // namespace tolvane
