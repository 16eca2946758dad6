// The accessibility hot keys through the system's own structures: a stand-in
// for SystemParametersInfoW keeps the five features the way the system does
// (Wine refuses the set calls, so the real one cannot show this here), and
// the state file lives in a folder of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/fileio.h"
#include "lock/shortcut_guard_win.h"

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

}  // namespace
}  // namespace tolvane
