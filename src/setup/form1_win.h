// Form1, the setup window: the window the program starts with. It owns the
// tray icon, decides at start whether to lock, keeps the list of removable
// drives fresh and saves or removes the configuration.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/window_win.h"
#include "appearance/chrome_win.h"
#include "config/cipher.h"
#include "drives/probe_worker.h"
#include "lock/drive_watch.h"

namespace tolvane {

class Form1 : public Window {
 public:
  static constexpr int kClientWidth = 340;
  static constexpr int kClientHeight = 263;
  static constexpr UINT_PTR kTimer1 = 1;
  static constexpr UINT kTimer1Interval = 3000;
  // Posted by the drive scan's worker: a fresh list is ready.
  static constexpr UINT kWmScanDone = WM_APP + 21;
  // While unlocked with "relock" on: the key drive's watch, once a second,
  // and its worker's result.
  static constexpr UINT_PTR kTimerRelock = 2;
  static constexpr UINT kTimerRelockInterval = 1000;
  static constexpr UINT kWmRelockTick = WM_APP + 22;
  static constexpr int kHotKeyLockNow = 1;  // Ctrl+Alt+L
  // While the lock window cannot be made: the next try, as often as the
  // lock's own topmost tick.
  static constexpr UINT_PTR kTimerLockRetry = 3;
  static constexpr UINT kTimerLockRetryInterval = 500;

  // Creates the window and runs Form_Load; with `lock`, the lock goes up
  // first and this window stays hidden. False when the window can't be made.
  bool Load(bool lock);
  // Shows the window in its normal state and brings it forward.
  void ShowNormal();
  // Unloads the form: the tray icon goes first, then the window.
  void Unload();
  // "立即锁定": puts the lock up at once when the program is configured and not
  // locked already.
  void LockNow();
  // The lock went with "relock" on: stay hidden in the tray and lock again
  // when `drive` (the key that opened it; "" after the password) goes.
  void StayUnlocked(const std::wstring& drive);
  // Puts the close box back to its normal picture.
  void refreshSkin() { chrome_.refreshSkin(); }
  // Configured, but the lock window could not come up yet: counts as locked.
  bool lock_pending() const { return lock_pending_; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  // `configured`: the lock went up in Load, before this window was made.
  void Form_Load(bool configured);
  void Form_Unload();
  void Form_Resize(WPARAM state);
  void Form_DpiChanged(const DpiChange& change);
  void Tray_Mouse(UINT mouse_msg);
  void Timer1_Timer();
  void List1_Click();
  void Command1_Click();
  void Command2_Click();
  void Scan_Done();
  // Asks the worker for a scan of the drive list; `showing`: the window is
  // about to show, so it counts as visible.
  void ScanDrives(bool showing);
  void RelockWatch_Timer();
  void RelockWatch_Tick();
  // Puts the lock up; while it cannot come, keeps trying on kTimerLockRetry.
  void TryLock();
  int Message(const std::wstring& text, UINT icon);
  // The shield on the two buttons that write the settings file, when this
  // process may not write it itself.
  void ShowShields();
  // Settings an older copy left in the user's VirtualStore: offered for
  // moving, once.
  void OfferVirtualStoreMove();

  HWND Hint_ = nullptr;
  HWND Label4_ = nullptr, List1_ = nullptr, Label1_ = nullptr, Text1_ = nullptr, Label2_ = nullptr,
       Text2_ = nullptr, Label3_ = nullptr, Command1_ = nullptr, Command2_ = nullptr;
  Chrome chrome_;  // frame picture, close box, moving by the background
  std::unique_ptr<ProbeWorker<std::vector<std::wstring>>> scan_;  // the drive list's scans, off this thread
  std::unique_ptr<ProbeWorker<WatchTick>> relock_watch_;  // the key drive's watch while unlocked ("relock")
  ScaledLayout layout_;  // the controls at the window's DPI
  bool lock_pending_ = false;  // configured, but the lock window isn't up yet
  bool form_load_pending_ = false;  // the load waits for the lock's own load to be done
  std::wstring relock_drive_;  // the key drive whose removal locks again ("relock" on)
  std::wstring Text3_;  // Text3: the chosen drive ("E:"), empty until one is chosen
  std::wstring txtCipher_;                     // txtCipher: the cipher text during a save
  const std::string txtPassword_ = kKeyText;  // txtPassword: the cipher key text
};

}  // namespace tolvane
