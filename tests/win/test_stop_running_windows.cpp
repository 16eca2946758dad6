// The installer's helper on the system: one file reached by two names is one
// image path to it, so a lock started through another drive letter is still
// a copy of the installed exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "installer/stop_running.h"
#include "installer/stop_running_win.h"

namespace tolvane {
namespace {

TEST(StopRunningOnTheSystem, OneFileUnderTwoNamesIsOneImagePath) {
  // Wine maps the prefix's drive C: to a folder that its drive Z: (the host's
  // root) reaches as well: a program started through the one name holds the
  // file the installer knows by the other.
  wchar_t prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) GTEST_SKIP() << "not under Wine";
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring by_c = std::wstring(windows) + L"\\win.ini";
  std::wstring by_z = std::wstring(L"Z:") + prefix + L"/drive_c/windows/WIN.INI";
  for (auto& c : by_z) {
    if (c == L'/') c = L'\\';
  }
  ASSERT_NE(GetFileAttributesW(by_z.c_str()), INVALID_FILE_ATTRIBUTES) << "no such file";
  EXPECT_TRUE(SameImagePath(CanonicalFilePath(by_c), CanonicalFilePath(by_z)))
      << CanonicalFilePath(by_c).size() << " " << CanonicalFilePath(by_z).size();
  // A file of another name in the same folder stays another path.
  EXPECT_FALSE(SameImagePath(CanonicalFilePath(by_c), CanonicalFilePath(std::wstring(windows) + L"\\system.ini")));
  // A path that names no file is made full, not dropped.
  EXPECT_TRUE(SameImagePath(CanonicalFilePath(L"C:\\No Such Folder\\.\\x\\..\\tolvane.exe"),
                            L"C:\\No Such Folder\\tolvane.exe"));
}

}  // namespace
}  // namespace tolvane
