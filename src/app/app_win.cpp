// The owner's side of the windows: the one place that knows them all, so that
// the lock, the setup window and the others need not include one another.
#include "app/app_win.h"

#include <shellapi.h>

#include "appearance/form5_win.h"
#include "drives/drives_win.h"
#include "lock/form2_win.h"
#include "setup/form1_win.h"
#include "tray/form3_win.h"
#include "tray/tuopan_win.h"

namespace tolvane {

std::shared_ptr<DriveSystem> App::Drives() {
  if (!drives) drives = SystemDrives();
  return drives;
}

bool App::ShowLock() { return ShowLockWindow(); }

void App::ShowSetup(const std::wstring& balloon_text, const std::wstring& balloon_title) {
  if (!form1 || !form1->hwnd()) return;
  form1->ShowNormal();
  ShowTrayBalloon(form1->hwnd(), balloon_text, balloon_title, NIIF_INFO);
}

void App::UnloadSetup() {
  // The tray icon must go while its window still exists, or a dead icon stays
  // in the notification area.
  if (form1 && form1->hwnd()) {
    form1->Unload();
  } else {
    DeleteTrayIcon();
  }
}

void App::CloseSideForms() {
  if (form5) form5->Unload();
  UnloadForm3();
}

}  // namespace tolvane
