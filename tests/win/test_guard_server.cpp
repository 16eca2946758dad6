// The lock's check of the pipe's server before it says anything: a program
// that made a pipe of the service's name (while the service was stopped,
// say) must not hear a typed password. A pipe served by this test process
// stands in for it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/guard_service_win.h"
#include "platform/window_win.h"

namespace tolvane {
namespace {

TEST(PipeServerIsGuard, OnlyTheRecordedServiceExeRunningAsSystem) {
  const std::wstring name = L"\\\\.\\pipe\\TolvaneGuardServerTest-" + std::to_wstring(GetCurrentProcessId());
  HANDLE server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                                   64, 64, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);

  const TokenCheck any_token = [](HANDLE, DWORD) { return true; };
  const struct {
    const char* name;
    std::wstring service_image;
    TokenCheck token_check;
    bool expected;
  } cases[] = {
      {"the recorded exe, token taken on trust", ProgramPath(), any_token, true},
      {"another exe than the recorded one", L"C:\\Program Files\\Tolvane\\tolvane_service.exe", any_token, false},
      {"no service recorded", L"", any_token, false},
      // This test does not run as SYSTEM, on Windows or under Wine.
      {"the recorded exe, not SYSTEM", ProgramPath(), ServedBySystem, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PipeServerIsGuard(client, c.service_image, c.token_check), c.expected) << c.name;
  }
  CloseHandle(client);
  CloseHandle(server);
}

}  // namespace
}  // namespace tolvane
