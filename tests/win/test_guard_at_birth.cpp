// A thread that no part of the program starts (a system library's, or one
// put in from outside) carries the lock's guard before its own code runs,
// once the program has switched the guard at birth on.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include "lock/process_guard_win.h"

namespace tolvane {
namespace {

// Whether the calling thread's own descriptor leaves everyone no more than
// waiting on it and asking its name: what a standard user could do to it.
bool ThisThreadGuarded() {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(GetCurrentThread(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                      nullptr, &sd) != ERROR_SUCCESS) {
    return false;
  }
  SID_IDENTIFIER_AUTHORITY world_authority = SECURITY_WORLD_SID_AUTHORITY;
  PSID world = nullptr;
  AllocateAndInitializeSid(&world_authority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &world);
  bool guarded = false;
  for (DWORD i = 0; dacl && world && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (EqualSid(&allowed->SidStart, world)) {
      guarded = (allowed->Mask & ~(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION)) == 0;
    }
  }
  if (world) FreeSid(world);
  LocalFree(sd);
  return guarded;
}

DWORD WINAPI ReportGuard(LPVOID out) {
  *static_cast<bool*>(out) = ThisThreadGuarded();
  return 0;
}

TEST(GuardAtBirth, AThreadStartedByAnyoneIsGuardedBeforeItsCodeRuns) {
  const struct {
    bool on;
    bool guarded;
  } cases[] = {
      {false, false},  // a plain thread with the guard off: what the check tells apart
      {true, true},
  };
  for (const auto& c : cases) {
    GuardThreadsAtBirth(c.on);
    bool guarded = !c.guarded;
    // A plain CreateThread with no security attributes, as a system library's.
    HANDLE t = CreateThread(nullptr, 0, ReportGuard, &guarded, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    CloseHandle(t);
    GuardThreadsAtBirth(false);
    EXPECT_EQ(guarded, c.guarded) << "guard at birth " << (c.on ? "on" : "off");
  }
}

}  // namespace
}  // namespace tolvane
