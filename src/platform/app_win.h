// The forms of the program and its lifetime: every form is created on first
// use and lives until it is unloaded; the program ends when the last form is
// gone or when the code ends it.
//
// This is the one interface through which the windows reach one another: it
// sits in the base below them and names them only by declaration, and the
// composition root (app/app_win.cpp, app/main_win.cpp) implements it. A window
// never includes another window's header.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

namespace tolvane {

class DriveSystem;
class LockSystem;
class Form1;
class Form2;
class Form3;
class Form5;
class About;

struct App {
  Form1* form1 = nullptr;
  Form2* form2 = nullptr;  // the lock window while it exists
  Form3* form3 = nullptr;  // owner of the tray menu; hidden, loaded with the first popup
  Form5* form5 = nullptr;  // the appearance editor, once it has been asked for
  About* about = nullptr;  // the about box, once it has been asked for
  int live_forms = 0;

  // True from the moment the lock window's guards are in force until it is
  // gone. While it holds, nothing may bring another window of the program up.
  bool LockActive() const;  // form2_win.cpp
  // The lock is up, or configured and waiting to come up. Meanwhile the
  // windows behind it act on no command, whoever sends it.
  bool Locked() const;  // app_win.cpp

  // The drives as every window sees them: the system's unless a test put a
  // stand-in here before the window loaded.
  std::shared_ptr<DriveSystem> drives;
  std::shared_ptr<DriveSystem> Drives();  // app_win.cpp

  // SystemParametersInfoW, through which the lock clears and sets again the
  // accessibility hot keys: the system's unless a test put a stand-in here
  // before the window loaded.
  BOOL(WINAPI* system_parameters)(UINT action, UINT param, PVOID data, UINT win_ini) = SystemParametersInfoW;

  // What the lock asks of the system (its windows, its hook thread, the
  // session lock while one of them fails): the system's unless a test put a
  // stand-in here.
  std::shared_ptr<LockSystem> lock_system;
  LockSystem& LockSystemInUse();  // app_win.cpp

  // The windows reach one another through these (app_win.cpp), not through
  // each other's headers.
  bool ShowLock();  // false: the lock window could not be created
  // Brings the setup window forward with a balloon on the tray icon.
  void ShowSetup(const std::wstring& balloon_text, const std::wstring& balloon_title);
  // Unloads the setup window, whose tray icon goes with it.
  void UnloadSetup();
  // Closes the appearance window and the tray menu's form, each if open.
  void CloseSideForms();
  // The lock went with "relock" on: the setup window, hidden, keeps the tray
  // icon and watches `drive` (the key that opened it, "" after the password).
  void StayUnlocked(const std::wstring& drive);
  // "立即锁定": the lock, at once, when configured and not locked already.
  void LockNow();
  // Shows the setup window as it is: a minimised window stays minimised.
  void ShowSetupAsIs();
  // The appearance window, created or brought forward.
  void ShowAppearance();

  // The tray icon and its menu (tray/), which the setup window owns.
  void AddTrayIcon(HWND owner);
  void ShowTrayBalloon(HWND owner, const std::wstring& text, const std::wstring& title, DWORD icon_flags);
  void DeleteTrayIcon();
  // Explorer restarted: the icon it lost comes back.
  bool TaskbarCreated(UINT msg);
  void PopupTrayMenu(HWND owner);
  void UnloadTrayMenu();

  void FormLoaded() { ++live_forms; }
  void FormUnloaded() {
    if (--live_forms <= 0) PostQuitMessage(0);
  }
};

App& TheApp();

}  // namespace tolvane
