#include "setup/form1_win.h"

#include <shellapi.h>
#include <windowsx.h>

#include "app/app_win.h"
#include "app/lazy_dll_win.h"
#include "app/product.h"
#include "appearance/form5_win.h"
#include "config/settings.h"
#include "resource.h"
#include "config/fileio.h"
#include "setup/drive_list.h"
#include "lock/form2_win.h"
#include "setup/save_config.h"
#include "skin/mskinbutton_win.h"
#include "setup/drives_win.h"
#include "tray/form3_win.h"
#include "tray/tuopan_win.h"

namespace tolvane {
namespace {

// The setup window's load, after the lock window's when that goes first.
constexpr UINT kWmFormLoad = WM_APP + 30;


// The settings file as it was before a save, to put back when the save fails.
struct SettingsSnapshot {
  std::wstring path;
  bool existed = false;
  std::string bytes;

  static SettingsSnapshot Take() {
    SettingsSnapshot s;
    s.path = SettingsFilePath();
    s.existed = PathExists(s.path) && ReadFileBytes(s.path, s.bytes);
    return s;
  }
  void Restore() const {
    if (existed) {
      ReplaceFileAtomically(path, bytes);
    } else {
      DeleteFileAt(path);
    }
  }
};

// Writes the key file as a byte-for-byte copy of the settings file and makes
// sure it reached the drive: users pull USB sticks right after saving.
// Returns 0 or the system error code.
DWORD WriteKeyFile(const std::wstring& key_path, const std::string& bytes) {
  QuietDriveErrors quiet;
  DWORD error = 0;
  HANDLE f = CreateFileW(key_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    error = GetLastError();
  } else {
    DWORD written = 0;
    if (!WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(f)) {
      error = GetLastError();
      if (error == 0) error = ERROR_WRITE_FAULT;
    }
    CloseHandle(f);
    if (error != 0) DeleteFileW(key_path.c_str());
  }
  return error;
}


}  // namespace

bool Form1::Load() {
  // Cover first: when configured, the lock window goes up before anything of
  // this window (the window itself, its controls, the skin template, the tray
  // icon, the drive scan), and this window's load runs once the lock's own
  // load is done.
  const bool configured = SettingsFileExists() && HoldsConfiguration(ReadOption(kSettingsSection, L"name"));
  if (configured) lock_pending_ = !ShowLockWindow();

  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOLVANE));
  if (!RegisterFormClass(TOLVANE_FORM1_CLASS, icon)) return false;

  // Frameless: the window is all client area, 340 x 263, centred on the work area.
  const POINT at = CentredOnWorkArea(kClientWidth, kClientHeight);
  if (!CreateFormWindow(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, TOLVANE_FORM1_CLASS, L"Tolvane V1.0",
                        WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX, at.x, at.y, kClientWidth,
                        kClientHeight, nullptr)) {
    return false;
  }
  TheApp().FormLoaded();
  if (configured) {
    PostMessageW(hwnd_, kWmFormLoad, 0, 0);
  } else {
    Form_Load();
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
  DeleteTrayIcon();
  DestroyWindow(hwnd_);
}

void Form1::Form_Load() {
  LoadCommonControls();
  // SS_NOTIFY: a press on a label is not a press on the background, so it
  // doesn't start a move.
  const DWORD label = WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_NOTIFY;
  Label4_ = CreateControl(hwnd_, L"STATIC", L"Tolvane V1.0", label, 32, 10, 200, 17, IDC_FORM1_LABEL4);
  SendMessageW(Label4_, WM_SETFONT, reinterpret_cast<WPARAM>(Chrome::TitleFont()), FALSE);
  chrome_.Attach(hwnd_, IDC_FORM1_CLOSE, /*title_icon=*/true);
  List1_ = CreateControl(hwnd_, L"LISTBOX", L"",
                         WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 14, 46, 150, 146,
                         IDC_FORM1_LIST1, WS_EX_CLIENTEDGE);
  // A short guide on the header, beside the list.
  Hint_ = CreateControl(hwnd_, L"STATIC", L"选一个U盘作为钥匙，\r\n设置解锁密码后保存。", label, 180, 52, 150, 36, 0);
  Label1_ = CreateControl(hwnd_, L"STATIC", L"输入密码:", label, 180, 106, 140, 16, IDC_FORM1_LABEL1);
  Text1_ = CreateControl(hwnd_, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 180, 124, 146,
                         22, IDC_FORM1_TEXT1, WS_EX_CLIENTEDGE);
  Label2_ = CreateControl(hwnd_, L"STATIC", L"再次输入:", label, 180, 154, 140, 16, IDC_FORM1_LABEL2);
  Text2_ = CreateControl(hwnd_, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 180, 172, 146,
                         22, IDC_FORM1_TEXT2, WS_EX_CLIENTEDGE);
  Label3_ = CreateControl(hwnd_, L"STATIC", kStatusChoose, label, 14, 210, 312, 16, IDC_FORM1_LABEL3);
  Command1_ = CreateControl(hwnd_, L"BUTTON", L"保存配置", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 60, 231, 96, 25,
                            IDC_FORM1_COMMAND1);
  Command2_ = CreateControl(hwnd_, L"BUTTON", L"卸载配置", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 184, 231, 96, 25,
                            IDC_FORM1_COMMAND2);
  // The password boxes show "*" for every character.
  SendMessageW(Text1_, EM_SETPASSWORDCHAR, L'*', 0);
  SendMessageW(Text2_, EM_SETPASSWORDCHAR, L'*', 0);

  // The skin engine draws the push buttons of this window and of the message
  // boxes it opens; it needs the controls to exist.
  skin::SkinWindow(hwnd_);

  SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);

  AddTrayIcon(hwnd_, ProgramFolder() + L"\\ico.ico", kProductName, 0);
  if (SettingsFileExists() && HoldsConfiguration(ReadOption(kSettingsSection, L"name"))) {
    // Configured: the lock window takes over and this window stays hidden.
    ShowWindow(hwnd_, SW_HIDE);
    // Should the lock window fail to come up (desktop heap exhausted), the
    // setup window must not appear in its place: that would hand out the
    // configuration without a password. Timer1 tries again.
    lock_pending_ = !ShowLockWindow();
  } else {
    ShowTrayBalloon(hwnd_, L"你还没有配置Tolvane哦！",
                    std::wstring(L"欢迎使用 ") + kSiteName + L" " + kProductName, NIIF_INFO);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
  }
  ScanDrives();
}

void Form1::ScanDrives() {
  SystemDriveProbe probe;
  const auto entries = ScanRemovableDrives(probe, UserNumberFormat());
  SendMessageW(List1_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(List1_, LB_RESETCONTENT, 0, 0);
  for (const auto& e : entries) SendMessageW(List1_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
  SendMessageW(List1_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(List1_, nullptr, TRUE);
}

void Form1::Timer1_Timer() {
  if (lock_pending_) lock_pending_ = !ShowLockWindow();
  const bool list_empty = SendMessageW(List1_, LB_GETCOUNT, 0, 0) <= 0;
  const std::wstring current = GetText(Label3_);
  const std::wstring status = RefreshedStatusLine(current, list_empty, Text3_);
  if (status != current) SetWindowTextW(Label3_, status.c_str());
  ScanDrives();
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

  // Every step below either completes or puts the settings file back exactly
  // as it was: a refused save must never cost the user a working configuration.
  const SettingsSnapshot before = SettingsSnapshot::Take();
  if (WriteOption(kSettingsSection, L"drive", Text3_) != WriteResult::Ok ||
      WriteOption(kSettingsSection, L"name", txtCipher_) != WriteResult::Ok) {
    before.Restore();
    Message(SettingsWriteFailedMessage(before.path), MB_ICONERROR);
    return;
  }
  // The key file carries the bare cipher: copy the settings file now, before
  // the prefix goes in front of it.
  std::string key_bytes;
  if (!ReadFileBytes(before.path, key_bytes)) {
    before.Restore();
    Message(SettingsWriteFailedMessage(before.path), MB_ICONERROR);
    return;
  }
  const std::wstring key_path = KeyFilePath(Text3_);
  const DWORD key_attributes = GetFileAttributesW(key_path.c_str());
  const bool read_only_key =
      key_attributes != INVALID_FILE_ATTRIBUTES && (key_attributes & FILE_ATTRIBUTE_READONLY) != 0;
  // A read-only key file is never overwritten, whatever the file system
  // would allow: the user marked it so, and must clear the mark first.
  const DWORD copy_error = read_only_key ? ERROR_ACCESS_DENIED : WriteKeyFile(key_path, key_bytes);
  if (copy_error != 0) {
    before.Restore();
    // A drive that refuses the write (a write-protect switch, a read-only
    // medium) reports "write protected" or "access denied"; a read-only key
    // file left from before also gives "access denied" but needs another fix.
    const bool refused = (copy_error == ERROR_WRITE_PROTECT || copy_error == ERROR_ACCESS_DENIED) && !read_only_key;
    Message(refused ? WriteProtectedMessage(Text3_) : CopyFailedMessage(Text3_), MB_ICONERROR);
    return;
  }
  if (WriteOption(kSettingsSection, L"name", std::wstring(CipherPrefix) + txtCipher_) != WriteResult::Ok) {
    before.Restore();
    Message(SettingsWriteFailedMessage(before.path), MB_ICONERROR);
    return;
  }
  // The new configuration takes effect at the next start; the appearance
  // window opens first so the program still has a window when this one goes.
  ShowForm5();
  Unload();
}

void Form1::Command2_Click() {
  if (Text3_.empty()) {
    Message(kMsgRemoveNoDrive, MB_ICONINFORMATION);
    return;
  }
  // Remove whatever can be removed, then say what could not.
  std::wstring failures;
  const std::wstring settings = SettingsFilePath();
  if (PathExists(settings) && !DeleteFileAt(settings)) failures += L"\r\n" + settings;
  {
    QuietDriveErrors quiet;
    const std::wstring key = KeyFilePath(Text3_);
    if (PathExists(key) && !DeleteFileAt(key)) failures += L"\r\n" + key;
  }
  if (!failures.empty()) {
    Message(L"以下文件无法删除（可能是只读文件，或U盘已拔出）：" + failures, MB_ICONERROR);
    return;
  }
  Message(kMsgRemoved, MB_ICONINFORMATION);
}

void Form1::Form_Resize(WPARAM state) {
  // Minimised, the window leaves the taskbar; the tray icon brings it back.
  if (state == SIZE_MINIMIZED) ShowWindow(hwnd_, SW_HIDE);
}

void Form1::Tray_Mouse(UINT mouse_msg) {
  // While the screen is locked the icon leads nowhere: both the window and the
  // menu would be ways past the lock without a password.
  if (lock_pending_ || TheApp().LockActive()) return;
  switch (mouse_msg) {
    case WM_LBUTTONDOWN:
      ShowNormal();
      break;
    case WM_RBUTTONDOWN:
      PopupTrayMenu(hwnd_);
      break;
    default:
      break;  // releases, double clicks and balloon clicks do nothing
  }
}

void Form1::Form_Unload() {
  KillTimer(hwnd_, kTimer1);
  DeleteTrayIcon();
  UnloadForm3();
}

LRESULT Form1::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == TaskbarCreatedMessage() && msg != 0) {
    ReAddTrayIcon();
    return 0;
  }
  LRESULT chrome_result = 0;
  if (chrome_.HandleFormMessage(msg, wp, lp, &chrome_result)) return chrome_result;
  switch (msg) {
    case TOLVANE_WM_TRAY:
      Tray_Mouse(LOWORD(lp));
      return 0;
    case kWmFormLoad:
      Form_Load();
      return 0;
    case WM_TIMER:
      if (wp == kTimer1) Timer1_Timer();
      return 0;
    case WM_COMMAND:
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
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      HWND ctl = reinterpret_cast<HWND>(lp);
      SetTextColor(dc, ctl == Label4_ || ctl == Hint_ ? RGB(255, 255, 255) : RGB(0, 0, 0));
      return reinterpret_cast<LRESULT>(chrome_.TransparentBrush(dc, ctl));
    }
    case WM_CLOSE:
      Unload();
      return 0;
    case WM_DESTROY:
      Form_Unload();
      return 0;
    case WM_NCDESTROY:
      TheApp().FormUnloaded();
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace tolvane
