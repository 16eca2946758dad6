// DLLs for code that runs with rights its caller lacks (the guardian service,
// the elevated settings write): loaded from the system folder only.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/lazy_dll_win.h"

namespace tolvane {
namespace {

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\'));
}

TEST(SystemLibraries, OnceRestrictedNoDllBesideTheExeIsLoaded) {
  // A loadable image planted beside the exe, as a user could put a DLL of a
  // system library's name beside the service.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring planted = ExeFolder() + L"\\tolvane-planted-probe.dll";
  ASSERT_TRUE(CopyFileW(self, planted.c_str(), FALSE));
  HMODULE before = LoadLibraryExW(L"tolvane-planted-probe.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(before, nullptr) << "the planted image must load while the search is the default one";
  FreeLibrary(before);

  const bool restricted = LoadLibrariesFromSystemOnly();
  HMODULE after = LoadLibraryExW(L"tolvane-planted-probe.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
  const DWORD error = GetLastError();
  HMODULE system = LoadLibraryW(L"wtsapi32.dll");
  // The rest of the tests get the default search back (less the current folder).
  using SetDefaultDllDirectoriesFn = BOOL WINAPI(DWORD);
  auto* reset = reinterpret_cast<SetDefaultDllDirectoriesFn*>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (reset) reset(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (after) FreeLibrary(after);
  if (system) FreeLibrary(system);
  DeleteFileW(planted.c_str());

  EXPECT_TRUE(restricted);
  EXPECT_EQ(after, nullptr) << "a DLL beside the exe was loaded";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_NE(system, nullptr) << "a system library no longer loads";
}

TEST(SystemLibraries, TheServicesSessionCallsAreThere) {
  // Loaded at run time, a misspelt name shows only when the call is made.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE, &token));
  void* environment = nullptr;
  EXPECT_TRUE(CreateUserEnvironment(&environment, token, FALSE)) << GetLastError();
  if (environment) EXPECT_TRUE(DestroyUserEnvironment(environment));
  CloseHandle(token);
  // Only a service may ask for a session's token on Windows; the function
  // must be found all the same.
  HANDLE user = nullptr;
  if (QueryUserToken(WTSGetActiveConsoleSessionId(), &user)) {
    CloseHandle(user);
  } else {
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  }
}

}  // namespace
}  // namespace tolvane
