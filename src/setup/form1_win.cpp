#include "setup/form1_win.h"

#include <dbt.h>
#include <shellapi.h>
#include <windowsx.h>

#include "platform/app_win.h"
#include "platform/lazy_dll_win.h"
#include "platform/message_guard_win.h"
#include "platform/product.h"
#include "config/settings.h"
#include "resource.h"
#include "config/elevation_win.h"
#include "config/fileio.h"
#include "drives/drives_win.h"
#include "lock/relock.h"
#include "setup/save_config.h"
#include "setup/status_line.h"
#include "setup/virtual_store.h"
#include "skin/mskinbutton_win.h"

namespace tolvane {

namespace {

// The setup window's load, after the lock window's when that goes first.
constexpr UINT kWmFormLoad = WM_APP + 30;

}  // namespace

bool Form1::Load(bool lock) {
  // Cover first: when locking, the lock window goes up before anything of
  // this window (the window itself, its controls, the skin template, the tray
  // icon, the drive scan), and this window's load runs once the lock's own
  // load is done.
  if (lock) lock_pending_ = !TheApp().ShowLock();

  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOLVANE));
  if (!RegisterFormClass(TOLVANE_FORM1_CLASS, icon)) return false;

  // Frameless: the window is all client area, 340 x 263 at 96 DPI, centred
  // on the work area. Its DPI is known once it exists.
  const POINT at = CentredOnWorkArea(kClientWidth, kClientHeight);
  if (!CreateFormWindow(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, TOLVANE_FORM1_CLASS, kProductTitle,
                        WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX, at.x, at.y, kClientWidth,
                        kClientHeight, nullptr)) {
    return false;
  }
  layout_.Attach(hwnd_, WindowDpi(hwnd_));
  Chrome::CentreAtDpi(hwnd_, layout_.dpi());
  TheApp().FormLoaded();
  if (lock_pending_) SetTimer(hwnd_, kTimerLockRetry, kTimerLockRetryInterval, nullptr);
  if (lock) {
    form_load_pending_ = true;
    if (!PostOwn(hwnd_, kWmFormLoad)) {
      form_load_pending_ = false;
      Form_Load(true);
    }
  } else {
    Form_Load(false);
  }
  return true;
}

void Form1::ShowNormal() {
  if (!hwnd_) return;
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
}

void Form1::Unload() {
  if (!hwnd_) return;
  // The icon must go while the window still exists, or the delete fails and a
  // dead icon stays in the notification area until the mouse passes over it.
  TheApp().DeleteTrayIcon();
  DestroyWindow(hwnd_);
}

void Form1::Form_Load(bool configured) {
  LoadCommonControls();
  // SS_NOTIFY: a press on a label is not a press on the background, so it
  // doesn't start a move.
  const DWORD label = WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_NOTIFY;
  Label4_ = layout_.Create(L"STATIC", kProductTitle, label, {32, 10, 200, 17}, IDC_FORM1_LABEL4, 0,
                           FontRole::Title);
  chrome_.Attach(hwnd_, IDC_FORM1_CLOSE, /*title_icon=*/true);
  List1_ = layout_.Create(L"LISTBOX", L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                          {14, 46, 150, 146}, IDC_FORM1_LIST1, WS_EX_CLIENTEDGE);
  // A short guide on the header, beside the list.
  Hint_ = layout_.Create(L"STATIC", L"选一个U盘作为钥匙，\r\n设置解锁密码后保存。", label, {180, 52, 150, 36}, 0);
  Label1_ = layout_.Create(L"STATIC", L"输入密码:", label, {180, 106, 140, 16}, IDC_FORM1_LABEL1);
  Text1_ = layout_.Create(L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, {180, 124, 146, 22},
                          IDC_FORM1_TEXT1, WS_EX_CLIENTEDGE);
  Label2_ = layout_.Create(L"STATIC", L"再次输入:", label, {180, 154, 140, 16}, IDC_FORM1_LABEL2);
  Text2_ = layout_.Create(L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, {180, 172, 146, 22},
                          IDC_FORM1_TEXT2, WS_EX_CLIENTEDGE);
  Label3_ = layout_.Create(L"STATIC", kStatusChoose, label, {14, 210, 312, 16}, IDC_FORM1_LABEL3);
  Command1_ = layout_.Create(L"BUTTON", L"保存配置", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, {60, 231, 96, 25},
                             IDC_FORM1_COMMAND1);
  Command2_ = layout_.Create(L"BUTTON", L"卸载配置", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, {184, 231, 96, 25},
                             IDC_FORM1_COMMAND2);
  // The password boxes show "*" for every character.
  SendMessageW(Text1_, EM_SETPASSWORDCHAR, L'*', 0);
  SendMessageW(Text2_, EM_SETPASSWORDCHAR, L'*', 0);

  // The skin engine draws the push buttons of this window and of the message
  // boxes it opens; it needs the controls to exist.
  skin::SkinWindow(hwnd_);
  ShowShields();

  SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
  SetTimer(hwnd_, kTimerRelock, kTimerRelockInterval, nullptr);
  // "Lock now" from anywhere. Another program may hold the combination; the
  // tray menu's item still locks then.
  RegisterHotKey(hwnd_, kHotKeyLockNow, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT, 'L');

  TheApp().AddTrayIcon(hwnd_);
  if (configured) {
    // The lock went up in Load and this window stays hidden. Should the lock
    // window have failed (desktop heap exhausted), the setup window must not
    // appear in its place: that would hand out the configuration without a
    // password. kTimerLockRetry tries again.
    ShowWindow(hwnd_, SW_HIDE);
  } else {
    TheApp().ShowTrayBalloon(hwnd_, L"你还没有配置Tolvane哦！",
                    std::wstring(L"欢迎使用 ") + kSiteName + L" " + kProductName, NIIF_INFO);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
  }
  ScanDrives(false);
  if (!configured) OfferVirtualStoreMove();
}

void Form1::ShowShields() {
  // Both buttons write the settings file: with the shield when that takes an
  // elevated instance.
  const bool shield = !CanWriteSettingsFile();
  skin::SetShield(Command1_, shield);
  skin::SetShield(Command2_, shield);
}

void Form1::OfferVirtualStoreMove() {
  if (!ShouldOfferMove()) return;
  const std::wstring copy = VirtualStoreSettingsPath();
  const std::wstring settings = SettingsFilePath();
  if (MessageBoxW(hwnd_, MoveQuestion(copy, settings).c_str(), kMsgTitle, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    RememberMoveAnswer();
    return;
  }
  const MoveOutcome outcome = MoveVirtualStoreSettings();
  Message(MoveResultMessage(outcome, copy, settings), outcome == MoveOutcome::Moved ? MB_ICONINFORMATION : MB_ICONERROR);
}

void Form1::ScanDrives(bool showing) {
  // Only a list that shows is kept fresh: while the window waits hidden
  // behind the lock or in the tray it scans nothing, and has no worker yet
  // when it starts locked.
  if (!showing && !IsWindowVisible(hwnd_)) return;
  if (!scan_) {
    // The scan runs on a worker of its own: a drive that takes seconds to
    // answer must not freeze this window, nor the lock window, which shares
    // its thread.
    scan_ = std::make_unique<ProbeWorker<std::vector<std::wstring>>>(
        [drives = TheApp().Drives(), nf = UserNumberFormat()] {
          const auto probe = drives->NewProbe();
          return ScanRemovableDrives(*probe, nf);
        },
        PostTo(hwnd_, kWmScanDone));
  }
  scan_->RequestTick();
}

void Form1::Scan_Done() {
  if (!scan_) return;  // no scan was ever asked for (hidden behind the lock since the start)
  const std::optional<std::vector<std::wstring>> entries = scan_->TakeResult();
  if (!entries) return;
  SendMessageW(List1_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(List1_, LB_RESETCONTENT, 0, 0);
  for (const auto& e : *entries) SendMessageW(List1_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
  SendMessageW(List1_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(List1_, nullptr, TRUE);
}

void Form1::TryLock() {
  lock_pending_ = !TheApp().ShowLock();
  // The lock window asked the system to lock the session meanwhile; the
  // screen is never left open for want of a window.
  if (lock_pending_) {
    SetTimer(hwnd_, kTimerLockRetry, kTimerLockRetryInterval, nullptr);
  } else {
    KillTimer(hwnd_, kTimerLockRetry);
  }
}

void Form1::Timer1_Timer() {
  const bool list_empty = SendMessageW(List1_, LB_GETCOUNT, 0, 0) <= 0;
  const std::wstring current = GetText(Label3_);
  const std::wstring status = RefreshedStatusLine(current, list_empty, Text3_);
  if (status != current) SetWindowTextW(Label3_, status.c_str());
  ScanDrives(false);
}

void Form1::LockNow() {
  // A settings file that cannot be read now may hold a configuration: it
  // locks, as at start.
  if (lock_pending_ || TheApp().LockActive() || ReadConfiguration() == Configuration::None) return;
  relock_drive_.clear();
  ShowWindow(hwnd_, SW_HIDE);
  // As at start: should the lock window fail to come up, this window stays
  // hidden and tries again.
  TryLock();
}

void Form1::StayUnlocked(const std::wstring& drive) { relock_drive_ = drive; }

void Form1::RelockWatch_Timer() {
  if (lock_pending_ || TheApp().LockActive()) return;
  // Read afresh each time: the tray menu switches it, and a new
  // configuration brings its own cipher.
  // Without a configuration the worker finds no cipher to match, and the
  // lock itself refuses to come up.
  if (!RelockOn(ReadOption(kSettingsSection, kRelockKey))) {
    relock_drive_.clear();
    return;
  }
  if (!relock_watch_) {
    // The lock's own drive watch, run off this thread like the lock's: a
    // drive that hangs must not freeze this window either.
    relock_watch_ = std::make_unique<ProbeWorker<WatchTick>>(
        [drives = TheApp().Drives(), nf = UserNumberFormat()] {
          const auto probe = drives->NewProbe();
          const auto keys = drives->NewKeyFiles();
          return RunDriveWatch(*probe, nf, *keys, CipherOfNameValue(ReadOption(kSettingsSection, L"name")));
        },
        PostTo(hwnd_, kWmRelockTick));
  }
  relock_watch_->RequestTick();
}

void Form1::RelockWatch_Tick() {
  if (!relock_watch_) return;
  const std::optional<WatchTick> tick = relock_watch_->TakeResult();
  // A tick that was under way when the lock came up, or when the setting
  // went off, says nothing about now.
  if (!tick || lock_pending_ || TheApp().LockActive() || !RelockOn(ReadOption(kSettingsSection, kRelockKey))) return;
  const RelockStep step = WatchWhileUnlocked(relock_drive_, *tick);
  relock_drive_ = step.watched;
  if (step.lock) LockNow();
}

void Form1::List1_Click() {
  const LRESULT index = SendMessageW(List1_, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return;
  const LRESULT len = SendMessageW(List1_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (len == LB_ERR) return;
  std::wstring entry(static_cast<std::size_t>(len) + 1, L'\0');
  SendMessageW(List1_, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(entry.data()));
  entry.resize(static_cast<std::size_t>(len));
  Text3_ = DriveOfEntry(entry);
  SetWindowTextW(Label3_, (std::wstring(kStatusChosenHead) + Text3_).c_str());
}

int Form1::Message(const std::wstring& text, UINT icon) {
  return MessageBoxW(hwnd_, text.c_str(), kMsgTitle, MB_OK | icon);
}

void Form1::Command1_Click() {
  const SaveCheck check = CheckSave(Text3_, GetText(Text1_), GetText(Text2_), txtPassword_);
  if (check.refusal != SaveRefusal::None) {
    Message(RefusalMessage(check.refusal), MB_ICONINFORMATION);
    return;
  }
  txtCipher_.assign(check.cipher.begin(), check.cipher.end());  // printable ASCII only

  SaveResult result;
  {
    QuietDriveErrors quiet;
    result = SaveConfiguration(Text3_, check.cipher, KeyFilePath(Text3_));
  }
  if (result.outcome != SaveOutcome::Saved) {
    // The setup window stays with its inputs for another try.
    Message(result.message, MB_ICONERROR);
    return;
  }
  // The new configuration takes effect at the next start; the appearance
  // window opens first so the program still has a window when this one goes.
  TheApp().ShowAppearance();
  Unload();
}

void Form1::Command2_Click() {
  if (Text3_.empty()) {
    Message(kMsgRemoveNoDrive, MB_ICONINFORMATION);
    return;
  }
  RemoveResult result;
  {
    QuietDriveErrors quiet;
    result = RemoveConfiguration(KeyFilePath(Text3_));
  }
  Message(result.message, result.outcome == RemoveOutcome::Removed ? MB_ICONINFORMATION : MB_ICONERROR);
}

void Form1::Form_Resize(WPARAM state) {
  // Minimised, the window leaves the taskbar; the tray icon brings it back.
  if (state == SIZE_MINIMIZED) ShowWindow(hwnd_, SW_HIDE);
}

void Form1::Form_DpiChanged(const DpiChange& change) { chrome_.ChangeDpi(layout_, change); }

void Form1::Tray_Mouse(UINT mouse_msg) {
  // While the screen is locked the icon leads nowhere: both the window and the
  // menu would be ways past the lock without a password.
  if (lock_pending_ || TheApp().LockActive()) return;
  switch (mouse_msg) {
    case WM_LBUTTONDOWN:
      ShowNormal();
      break;
    case WM_RBUTTONDOWN:
      TheApp().PopupTrayMenu(hwnd_);
      break;
    default:
      break;  // releases, double clicks and balloon clicks do nothing
  }
}

void Form1::Form_Unload() {
  KillTimer(hwnd_, kTimer1);
  KillTimer(hwnd_, kTimerRelock);
  UnregisterHotKey(hwnd_, kHotKeyLockNow);
  if (scan_) scan_->Stop();  // never waits for a drive
  if (relock_watch_) relock_watch_->Stop();
  TheApp().DeleteTrayIcon();
  TheApp().UnloadTrayMenu();
}

LRESULT Form1::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (TheApp().TaskbarCreated(msg)) return 0;
  LRESULT chrome_result = 0;
  if (chrome_.HandleFormMessage(msg, wp, lp, &chrome_result)) return chrome_result;
  switch (msg) {
    case TOLVANE_WM_TRAY:
      Tray_Mouse(LOWORD(lp));
      return 0;
    case kWmFormLoad:
      // Once, and only from this window's own load: a second run would build
      // every control and the tray icon again.
      if (IsOwnPost(wp) && form_load_pending_) {
        form_load_pending_ = false;
        Form_Load(true);
      }
      return 0;
    case WM_TIMER:
      if (wp == kTimer1) Timer1_Timer();
      if (wp == kTimerRelock) RelockWatch_Timer();
      if (wp == kTimerLockRetry && lock_pending_) TryLock();
      return 0;
    case WM_HOTKEY:
      if (wp == kHotKeyLockNow) LockNow();
      return 0;
    case WM_DEVICECHANGE:
      // A drive that goes away locks again at once, without waiting for the
      // next second.
      if ((wp == DBT_DEVICEREMOVECOMPLETE || wp == DBT_DEVICEARRIVAL) && lp &&
          reinterpret_cast<const DEV_BROADCAST_HDR*>(lp)->dbch_devicetype == DBT_DEVTYP_VOLUME) {
        RelockWatch_Timer();
      }
      return TRUE;
    case kWmScanDone:
      if (IsOwnPost(wp)) Scan_Done();
      return 0;
    case WM_SHOWWINDOW:
      // Coming out from behind the lock or from the tray: the drives of now,
      // and the settings folder's rights of now.
      if (wp && List1_) {
        ScanDrives(true);
        ShowShields();
      }
      return Window::HandleMessage(msg, wp, lp);
    case kWmRelockTick:
      if (IsOwnPost(wp)) RelockWatch_Tick();
      return 0;
    case WM_COMMAND:
      // Hidden behind the lock, the window still receives whatever another
      // program sends it: the close box, "save" and "remove" do nothing then.
      if (TheApp().Locked()) return 0;
      if (LOWORD(wp) == IDC_FORM1_LIST1 && HIWORD(wp) == LBN_SELCHANGE) List1_Click();
      if (LOWORD(wp) == IDC_FORM1_CLOSE && HIWORD(wp) == STN_CLICKED) Unload();
      if (LOWORD(wp) == IDC_FORM1_COMMAND1 && HIWORD(wp) == BN_CLICKED) Command1_Click();
      // Enter in a password box saves, as in any dialog; the dialog manager
      // reports it as IDOK.
      if (LOWORD(wp) == IDOK && HIWORD(wp) == BN_CLICKED) {
        const HWND focus = GetFocus();
        if (focus == Text1_ || focus == Text2_) Command1_Click();
      }
      if (LOWORD(wp) == IDC_FORM1_COMMAND2 && HIWORD(wp) == BN_CLICKED) Command2_Click();
      return 0;
    case WM_SIZE:
      Form_Resize(wp);
      return 0;
    case WM_DPICHANGED:
      Form_DpiChanged(ReadDpiChange(wp, lp));
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      HWND ctl = reinterpret_cast<HWND>(lp);
      SetTextColor(dc, ctl == Label4_ || ctl == Hint_ ? RGB(255, 255, 255) : RGB(0, 0, 0));
      return reinterpret_cast<LRESULT>(chrome_.TransparentBrush(dc, ctl));
    }
    case WM_CLOSE:
      // Hidden while the lock is up, the window can still be asked to close
      // by another program. It holds the tray icon, the "lock now" hot key
      // and the relock watch: the lock's own ways out end or keep it.
      if (lock_pending_ || TheApp().LockActive()) return 0;
      Unload();
      return 0;
    case WM_DESTROY:
      Form_Unload();
      layout_.Detach();
      return 0;
    case WM_NCDESTROY:
      TheApp().FormUnloaded();
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace tolvane
