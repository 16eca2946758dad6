// The accessibility hot keys through the system's own structures: a stand-in
// for SystemParametersInfoW keeps the five features the way the system does
// (Wine refuses the set calls, so the real one cannot show this here), and
// the state file lives in a folder of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lock_pump.h"
#include "one_stick_probe.h"
#include "platform/app_win.h"
#include "config/cipher.h"
#include "config/codepage.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "drives/drive_system.h"
#include "lock/form2_win.h"
#include "lock/lock_system_win.h"
#include "lock/shortcut_guard_win.h"
#include "resource.h"
#include "setup/save_config.h"

namespace tolvane {
namespace {

wchar_t g_scheme[] = L"High Contrast Black";

struct FakeSystem {
  STICKYKEYS sticky{sizeof(STICKYKEYS), 0};
  FILTERKEYS filter{sizeof(FILTERKEYS), 0, 0, 0, 0, 0};
  TOGGLEKEYS toggle{sizeof(TOGGLEKEYS), 0};
  HIGHCONTRASTW contrast{sizeof(HIGHCONTRASTW), 0, g_scheme};
  MOUSEKEYS mouse{sizeof(MOUSEKEYS), 0, 0, 0, 0, 0, 0};
  std::vector<UINT> win_ini;  // fWinIni of every set
  bool bad_call = false;      // a size or structure that the system would refuse
};
FakeSystem g_sys;

template <typename T>
BOOL Exchange(T& stored, UINT param, PVOID data, bool set) {
  auto* p = static_cast<T*>(data);
  if (param != sizeof(T) || !p || p->cbSize != sizeof(T)) {
    g_sys.bad_call = true;
    return FALSE;
  }
  if (set) {
    stored = *p;
  } else {
    *p = stored;
  }
  return TRUE;
}

BOOL WINAPI FakeSpi(UINT action, UINT param, PVOID data, UINT win_ini) {
  switch (action) {
    case SPI_GETSTICKYKEYS: return Exchange(g_sys.sticky, param, data, false);
    case SPI_GETFILTERKEYS: return Exchange(g_sys.filter, param, data, false);
    case SPI_GETTOGGLEKEYS: return Exchange(g_sys.toggle, param, data, false);
    case SPI_GETHIGHCONTRAST: return Exchange(g_sys.contrast, param, data, false);
    case SPI_GETMOUSEKEYS: return Exchange(g_sys.mouse, param, data, false);
    default: break;
  }
  g_sys.win_ini.push_back(win_ini);
  switch (action) {
    case SPI_SETSTICKYKEYS: return Exchange(g_sys.sticky, param, data, true);
    case SPI_SETFILTERKEYS: return Exchange(g_sys.filter, param, data, true);
    case SPI_SETTOGGLEKEYS: return Exchange(g_sys.toggle, param, data, true);
    case SPI_SETHIGHCONTRAST: return Exchange(g_sys.contrast, param, data, true);
    case SPI_SETMOUSEKEYS: return Exchange(g_sys.mouse, param, data, true);
    default: break;
  }
  g_sys.bad_call = true;
  return FALSE;
}

// A user who uses Sticky Keys and has the usual hot keys on, with timings of
// their own that nothing may touch.
FakeSystem UsersSystem() {
  FakeSystem s;
  s.sticky.dwFlags = SKF_STICKYKEYSON | SKF_AVAILABLE | SKF_HOTKEYACTIVE | SKF_CONFIRMHOTKEY | SKF_HOTKEYSOUND;
  s.filter = {sizeof(FILTERKEYS), FKF_AVAILABLE | FKF_HOTKEYACTIVE | FKF_CONFIRMHOTKEY, 1000, 500, 33, 0};
  s.toggle.dwFlags = TKF_AVAILABLE;  // its hot key already off
  s.contrast.dwFlags = HCF_AVAILABLE | HCF_HOTKEYACTIVE | HCF_HOTKEYAVAILABLE;
  s.mouse = {sizeof(MOUSEKEYS), MKF_AVAILABLE | MKF_HOTKEYACTIVE, 80, 1500, 200, 0, 0};
  return s;
}

void ExpectSame(const FakeSystem& a, const FakeSystem& b, const char* when) {
  EXPECT_EQ(a.sticky.dwFlags, b.sticky.dwFlags) << when;
  EXPECT_EQ(a.toggle.dwFlags, b.toggle.dwFlags) << when;
  EXPECT_EQ(a.contrast.dwFlags, b.contrast.dwFlags) << when;
  EXPECT_EQ(a.contrast.lpszDefaultScheme, b.contrast.lpszDefaultScheme) << when;
  EXPECT_EQ(0, memcmp(&a.filter, &b.filter, sizeof(FILTERKEYS))) << when;
  EXPECT_EQ(0, memcmp(&a.mouse, &b.mouse, sizeof(MOUSEKEYS))) << when;
}

class ShortcutsOnTheSystem : public testing::Test {
 protected:
  void SetUp() override {
    g_sys = UsersSystem();
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    folder_ = std::wstring(tmp) + L"tolvane-shortcuts-" + std::to_wstring(GetCurrentProcessId());
    RemoveDirectoryTree();
    path_ = folder_ + L"\\shortcuts.txt";  // the folder is made by the first save
  }
  void TearDown() override { RemoveDirectoryTree(); }
  void RemoveDirectoryTree() {
    DeleteFileW((folder_ + L"\\shortcuts.txt").c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  std::wstring folder_, path_;
};

TEST_F(ShortcutsOnTheSystem, ClearedWhileLockedAndExactlyRestoredAfter) {
  const FakeSystem before = g_sys;
  SystemShortcutSettings settings(FakeSpi);
  ShortcutStateFileAt file(path_);
  ShortcutGuard guard(settings, file);
  guard.Engage();

  // During the lock: no hot key left, everything else as it was.
  EXPECT_EQ(g_sys.sticky.dwFlags, before.sticky.dwFlags & ~SKF_HOTKEYACTIVE);
  EXPECT_EQ(g_sys.filter.dwFlags, before.filter.dwFlags & ~FKF_HOTKEYACTIVE);
  EXPECT_EQ(g_sys.toggle.dwFlags, before.toggle.dwFlags);
  EXPECT_EQ(g_sys.contrast.dwFlags, before.contrast.dwFlags & ~HCF_HOTKEYACTIVE);
  EXPECT_EQ(g_sys.mouse.dwFlags, before.mouse.dwFlags & ~MKF_HOTKEYACTIVE);
  EXPECT_EQ(g_sys.filter.iWaitMSec, 1000u);
  EXPECT_EQ(g_sys.mouse.iMaxSpeed, 80u);
  EXPECT_EQ(g_sys.contrast.lpszDefaultScheme, g_scheme);
  std::string text;
  ASSERT_TRUE(ReadFileBytes(path_, text)) << "the originals are on disk while locked";
  EXPECT_NE(text.find("sticky=0x"), std::string::npos);

  guard.Release();
  ExpectSame(g_sys, before, "after the lock");
  EXPECT_FALSE(PathExists(path_));
  // Never into the user's profile: a lock killed midway costs nothing past the session.
  ASSERT_FALSE(g_sys.win_ini.empty());
  for (UINT w : g_sys.win_ini) EXPECT_EQ(w & SPIF_UPDATEINIFILE, 0u);
  EXPECT_FALSE(g_sys.bad_call);
}

TEST_F(ShortcutsOnTheSystem, AKilledLocksFlagsComeBackAtTheNextStart) {
  const FakeSystem before = g_sys;
  {
    SystemShortcutSettings settings(FakeSpi);
    ShortcutStateFileAt file(path_);
    ShortcutGuard killed(settings, file);
    killed.Engage();  // and the process ends without Release
  }
  EXPECT_EQ(g_sys.sticky.dwFlags & SKF_HOTKEYACTIVE, 0u);
  ASSERT_TRUE(PathExists(path_));

  SystemShortcutSettings settings(FakeSpi);
  ShortcutStateFileAt file(path_);
  ShortcutGuard next_start(settings, file);
  next_start.RecoverLeftover();
  ExpectSame(g_sys, before, "at the next start");
  EXPECT_FALSE(PathExists(path_));
  EXPECT_FALSE(g_sys.bad_call);
}

TEST_F(ShortcutsOnTheSystem, RealSystemCallsNeverStopTheLock) {
  // Whatever the system answers (Wine: the reads succeed with every flag 0,
  // the sets fail), Engage and Release return and leave no file behind that
  // would set something later.
  ShortcutStateFileAt file(path_);
  SystemShortcutSettings settings;
  ShortcutGuard guard(settings, file);
  guard.Engage();
  EXPECT_TRUE(guard.engaged());
  guard.Release();
  EXPECT_FALSE(guard.engaged());
  EXPECT_FALSE(PathExists(path_));
}

TEST(ShortcutStatePath, InTheUsersLocalApplicationData) {
  const std::wstring path = ShortcutStatePath();
  ASSERT_FALSE(path.empty());
  wchar_t expected[MAX_PATH] = {};
  ASSERT_TRUE(ExpandEnvironmentStringsW(L"%LOCALAPPDATA%\\Tolvane\\shortcuts.txt", expected, MAX_PATH));
  EXPECT_EQ(_wcsicmp(path.c_str(), expected), 0);
}

// The lock window's own use of the guard, with the stand-in handed to it
// through App: cleared at lock, back on each way out and when the session
// ends, cleared again when the end was cancelled.

// Typed as keys without Shift (posted keys leave the thread's key state as
// it is), so in lower case.
constexpr char kPassword[] = "usb-key7";

// The key that types `c` on the keyboard layout in use.
UINT KeyOf(char c) { return static_cast<UINT>(VkKeyScanW(static_cast<wchar_t>(c)) & 0xFF); }

// Removable drive E:, whose key file is there once plugged.
class KeyDrive : public DriveSystem {
 public:
  explicit KeyDrive(std::string key_bytes) : key_(std::move(key_bytes)) {}
  std::unique_ptr<DriveProbe> NewProbe() override { return std::make_unique<OneStickProbe>(); }
  std::unique_ptr<KeyFileSource> NewKeyFiles() override { return std::make_unique<Keys>(*this); }
  std::atomic<bool> plugged{false};

 private:
  class Keys : public KeyFileSource {
   public:
    explicit Keys(KeyDrive& d) : d_(d) {}
    bool Attributes(const std::wstring& drive, std::uint32_t& attributes) override {
      if (drive != L"E:" || !d_.plugged) return false;
      attributes = FILE_ATTRIBUTE_ARCHIVE;
      return true;
    }
    bool Read(const std::wstring& drive, std::uint32_t& attributes, std::string& bytes, std::size_t limit) override {
      if (!Attributes(drive, attributes)) return false;
      bytes = d_.key_.substr(0, limit);
      return true;
    }

   private:
    KeyDrive& d_;
  };
  std::string key_;
};

std::wstring EnvOf(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
  return n && n < MAX_PATH ? value : L"";
}

bool HotKeysCleared() {
  return !(g_sys.sticky.dwFlags & SKF_HOTKEYACTIVE) && !(g_sys.filter.dwFlags & FKF_HOTKEYACTIVE) &&
         !(g_sys.contrast.dwFlags & HCF_HOTKEYACTIVE) && !(g_sys.mouse.dwFlags & MKF_HOTKEYACTIVE);
}

// The system's word on whether the session is ending, as the test sets it.
class SessionSays : public LockSystem {
 public:
  bool SessionEnding() override { return ending; }
  std::atomic<bool> ending{false};
};

// A configured lock ("relock" on, so that a way out leaves the test running)
// with its settings, its state file and the drives of the test's own.
class LockWindowShortcuts : public testing::Test {
 protected:
  void SetUp() override {
    g_sys = UsersSystem();
    before_ = g_sys;
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    folder_ = std::wstring(tmp) + L"tolvane-lockshortcuts-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    old_local_ = EnvOf(L"LOCALAPPDATA");
    SetSettingsFolderForTests(folder_);
    SetEnvironmentVariableW(L"LOCALAPPDATA", folder_.c_str());
    state_ = ShortcutStatePath();

    const std::string cipher = EncipherPassword(kPassword);
    const std::wstring name = std::wstring(CipherPrefix) + FromCp936(cipher);
    const OptionValue values[] = {{L"drive", L"E:"}, {L"name", name}, {L"relock", L"1"}};
    ASSERT_EQ(WriteOptions(kSettingsSection, values), WriteResult::Ok);
    drives_ = std::make_shared<KeyDrive>(KeyFileBytes(L"E:", cipher));
    TheApp().drives = drives_;
    TheApp().system_parameters = FakeSpi;
    TheApp().lock_system = session_;
  }
  void TearDown() override {
    if (TheApp().form2) DestroyWindow(TheApp().form2->hwnd());
    PumpUntil([] { return TheApp().form2 == nullptr; });
    TheApp().drives = nullptr;
    TheApp().lock_system = nullptr;
    TheApp().system_parameters = SystemParametersInfoW;
    DeleteFileW(state_.c_str());
    RemoveDirectoryW((folder_ + L"\\Tolvane").c_str());
    DeleteFileW(SettingsFilePath().c_str());
    RemoveDirectoryW(folder_.c_str());
    SetSettingsFolderForTests(std::nullopt);
    SetEnvironmentVariableW(L"LOCALAPPDATA", old_local_.empty() ? nullptr : old_local_.c_str());
  }

  // Shows the lock: the hot keys are off and their originals on disk.
  HWND Lock() {
    if (!ShowLockWindow() || !TheApp().form2) return nullptr;
    const HWND lock = TheApp().form2->hwnd();
    EXPECT_TRUE(HotKeysCleared()) << "the lock is up with the hot keys on";
    EXPECT_TRUE(PathExists(state_)) << "the originals are not on disk";
    return lock;
  }

  void ExpectBackAsBefore(const char* when) {
    ExpectSame(g_sys, before_, when);
    EXPECT_FALSE(PathExists(state_)) << when;
    EXPECT_FALSE(g_sys.bad_call) << when;
  }

  FakeSystem before_;
  std::wstring folder_, state_, old_local_;
  std::shared_ptr<KeyDrive> drives_;
  std::shared_ptr<SessionSays> session_ = std::make_shared<SessionSays>();
};

TEST_F(LockWindowShortcuts, BackWhenTheSessionEndsAndClearedAgainWhenItDoesNot) {
  const HWND lock = Lock();
  ASSERT_NE(lock, nullptr);
  session_->ending = true;
  EXPECT_TRUE(SendMessageW(lock, WM_QUERYENDSESSION, 0, 0));
  SendMessageW(lock, WM_ENDSESSION, TRUE, 0);
  ExpectBackAsBefore("once the session ends");
  ASSERT_TRUE(TheApp().LockActive()) << "the lock itself stays until the process ends";
  // Still running a tick later: the end was cancelled.
  EXPECT_TRUE(PumpUntil(HotKeysCleared)) << "the hot keys stayed on after a cancelled end of session";
  EXPECT_TRUE(PathExists(state_));

  // A session end that was never going to happen (wParam FALSE) gives nothing back.
  SendMessageW(lock, WM_ENDSESSION, FALSE, 0);
  EXPECT_TRUE(HotKeysCleared());
}

TEST_F(LockWindowShortcuts, AnEndOfSessionAnotherProgramAnnouncesGivesNothingBack) {
  const HWND lock = Lock();
  ASSERT_NE(lock, nullptr);
  session_->ending = false;  // the system knows of no log-off or shutdown
  std::atomic<bool> sent{false};
  std::thread other([lock, &sent] {
    DWORD_PTR r = 0;
    SendMessageTimeoutW(lock, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, kLockPumpPatienceMs, &r);
    SendMessageTimeoutW(lock, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, kLockPumpPatienceMs, &r);
    sent = true;
  });
  const bool answered = PumpUntil([&sent] { return sent.load(); });
  other.join();
  ASSERT_TRUE(answered);
  // At once, not only by the next tick: the process would have the whole
  // gap to press a hot key into.
  EXPECT_TRUE(HotKeysCleared()) << "a forged end of session gave the hot keys back";
  EXPECT_TRUE(PathExists(state_));
  EXPECT_TRUE(TheApp().LockActive());
}

TEST_F(LockWindowShortcuts, BackWhenTheKeyDriveOpensTheLock) {
  ASSERT_NE(Lock(), nullptr);
  drives_->plugged = true;
  ASSERT_TRUE(PumpUntil([] { return TheApp().form2 == nullptr; })) << "the key drive did not open the lock";
  ExpectBackAsBefore("after the key drive");
}

TEST_F(LockWindowShortcuts, BackWhenTheSetupPasswordIsTyped) {
  const HWND lock = Lock();
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(PumpUntil([lock] { return GetDlgItem(lock, IDC_FORM2_TEXT10) != nullptr; })) << "no face";
  const HWND box = GetDlgItem(lock, IDC_FORM2_TEXT10);
  PostKeyAsKeyboard(lock, VK_F3);
  ASSERT_TRUE(PumpUntil([box] { return IsWindowVisible(box) != FALSE; })) << "F3 called up no box";
  SendMessageW(box, WM_LBUTTONDOWN, 0, 0);
  SendMessageW(box, WM_LBUTTONUP, 0, 0);
  for (const char* c = kPassword; *c; ++c) PostKeyAsKeyboard(box, KeyOf(*c));
  ASSERT_TRUE(PumpUntil([] { return TheApp().form2 == nullptr; })) << "the setup password did not open the lock";
  ExpectBackAsBefore("after the setup password");
}

}  // namespace
}  // namespace tolvane
