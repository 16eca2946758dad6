#include "lock/process_guard_win.h"

#include <aclapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

namespace tolvane {
namespace {

// Rights left to everyone: wait on the object and ask its name and times.
constexpr DWORD kProcessOpenRights = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kThreadOpenRights = SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION;

struct Sid {
  PSID sid = nullptr;
  Sid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD a, DWORD b = 0) {
    AllocateAndInitializeSid(&authority, count, a, b, 0, 0, 0, 0, 0, 0, &sid);
  }
  ~Sid() {
    if (sid) FreeSid(sid);
  }
  Sid(const Sid&) = delete;
  Sid& operator=(const Sid&) = delete;
};

// The access list for one kind of object: full rights for SYSTEM and the
// Administrators group, `open_rights` for the owner and for everyone.
std::vector<BYTE> GuardAcl(DWORD all_rights, DWORD open_rights) {
  const Sid system({SECURITY_NT_AUTHORITY}, 1, SECURITY_LOCAL_SYSTEM_RID);
  const Sid admins({SECURITY_NT_AUTHORITY}, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  // OWNER RIGHTS: with this entry present the owner has exactly what it
  // grants, and no longer the implicit READ_CONTROL and WRITE_DAC with which
  // it could put a looser list back.
  const Sid owner_rights({SECURITY_CREATOR_SID_AUTHORITY}, 1, SECURITY_CREATOR_OWNER_RIGHTS_RID);
  const Sid everyone({SECURITY_WORLD_SID_AUTHORITY}, 1, SECURITY_WORLD_RID);
  if (!system.sid || !admins.sid || !owner_rights.sid || !everyone.sid) return {};
  const PSID sids[] = {system.sid, admins.sid, owner_rights.sid, everyone.sid};
  DWORD size = sizeof(ACL);
  for (PSID s : sids) size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(s);
  std::vector<BYTE> buffer(size);
  auto* acl = reinterpret_cast<PACL>(buffer.data());
  if (!InitializeAcl(acl, size, ACL_REVISION) || !AddAccessAllowedAce(acl, ACL_REVISION, all_rights, system.sid) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, all_rights, admins.sid) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, open_rights | READ_CONTROL, owner_rights.sid) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, open_rights, everyone.sid)) {
    return {};
  }
  return buffer;
}

bool Apply(HANDLE object, DWORD all_rights, DWORD open_rights) {
  std::vector<BYTE> acl = GuardAcl(all_rights, open_rights);
  if (acl.empty()) return false;
  // Protected: nothing inherited from elsewhere widens the list.
  return SetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                         nullptr, nullptr, reinterpret_cast<PACL>(acl.data()), nullptr) == ERROR_SUCCESS;
}

// The token's default list as it was before GuardFromBirth, for the
// programs of the user's own that the process starts.
std::vector<BYTE>& UsersDefaultDacl() {
  static std::vector<BYTE> saved;
  return saved;
}

// A default list applies to objects of every kind, and a specific right
// means something else on each (0x0800 resumes a process), so it grants the
// user's session only what every kind shares: waiting on the object.
std::vector<BYTE> GuardedDefaultAcl() { return GuardAcl(GENERIC_ALL, SYNCHRONIZE); }

bool SetDefaultDacl(HANDLE token, PACL acl) {
  TOKEN_DEFAULT_DACL d{acl};
  return SetTokenInformation(token, TokenDefaultDacl, &d, sizeof d) != FALSE;
}

}  // namespace

bool GuardProcess(HANDLE process) { return Apply(process, PROCESS_ALL_ACCESS, kProcessOpenRights); }

bool GuardThread(HANDLE thread) { return Apply(thread, THREAD_ALL_ACCESS, kThreadOpenRights); }

void GuardThisProcess() {
  // The pseudo handle always carries every right, also once the guard
  // applies, so the process can always renew its own descriptor.
  GuardProcess(GetCurrentProcess());
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  const DWORD self = GetCurrentProcessId();
  THREADENTRY32 te{};
  te.dwSize = sizeof(te);
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID != self) continue;
    // A thread already guarded refuses WRITE_DAC to the user: nothing to do.
    if (HANDLE t = OpenThread(WRITE_DAC, FALSE, te.th32ThreadID)) {
      GuardThread(t);
      CloseHandle(t);
    }
  }
  CloseHandle(snap);
}

namespace {

std::atomic<bool> g_guard_at_attach{false};

// The loader calls this on each new thread before the thread's start
// routine. The pseudo handle carries every right, and the advapi32 calls it
// makes are imported by the program, so nothing is loaded under the
// loader's lock.
void NTAPI GuardThreadOnAttach(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH && g_guard_at_attach.load(std::memory_order_relaxed)) GuardThread(GetCurrentThread());
}

}  // namespace

// The runtime's TLS directory lists every callback placed between its
// .CRT$XLA and .CRT$XLZ markers.
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK tolvane_guard_thread_on_attach =
    GuardThreadOnAttach;

void GuardThreadsAtBirth(bool on) { g_guard_at_attach.store(on); }

bool GuardFromBirth() {
  GuardThreadsAtBirth(true);
  GuardThisProcess();
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, &token)) return false;
  std::vector<BYTE>& saved = UsersDefaultDacl();
  DWORD size = 0;
  if (saved.empty() && !GetTokenInformation(token, TokenDefaultDacl, nullptr, 0, &size) && size > 0) {
    std::vector<BYTE> buffer(size);
    if (GetTokenInformation(token, TokenDefaultDacl, buffer.data(), size, &size)) saved = std::move(buffer);
  }
  std::vector<BYTE> acl = GuardedDefaultAcl();
  const bool ok = !acl.empty() && SetDefaultDacl(token, reinterpret_cast<PACL>(acl.data()));
  CloseHandle(token);
  return ok;
}

void WithUsersDefaultDacl(const std::function<void()>& start) {
  HANDLE token = nullptr;
  std::vector<BYTE>& saved = UsersDefaultDacl();
  const bool swap = !saved.empty() && OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, &token) &&
                    SetDefaultDacl(token, reinterpret_cast<TOKEN_DEFAULT_DACL*>(saved.data())->DefaultDacl);
  start();
  if (swap) {
    std::vector<BYTE> acl = GuardedDefaultAcl();
    if (!acl.empty()) SetDefaultDacl(token, reinterpret_cast<PACL>(acl.data()));
  }
  if (token) CloseHandle(token);
}

namespace {

DWORD WINAPI RunBody(LPVOID p) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(p));
  (*body)();
  return 0;
}

}  // namespace

bool GuardedThread::Start(std::function<void()> body) {
  if (handle_) return false;
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  GuardedAttributes guarded(GuardedKind::Thread);
  handle_ = CreateThread(guarded.get(), 0, RunBody, owned.get(), 0, nullptr);
  if (!handle_) return false;
  owned.release();  // the thread's own from here
  return true;
}

void GuardedThread::join() {
  if (!handle_) return;
  WaitForSingleObject(handle_, INFINITE);
  detach();
}

void GuardedThread::detach() {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
}

bool StartGuardedThread(std::function<void()> body) {
  GuardedThread thread;
  return thread.Start(std::move(body));  // let go as `thread` goes
}

GuardedAttributes::GuardedAttributes(GuardedKind kind)
    : acl_(kind == GuardedKind::Process ? GuardAcl(PROCESS_ALL_ACCESS, kProcessOpenRights)
                                        : GuardAcl(THREAD_ALL_ACCESS, kThreadOpenRights)) {
  ok_ = !acl_.empty() && InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&sd_, TRUE, reinterpret_cast<PACL>(acl_.data()), FALSE) &&
        SetSecurityDescriptorControl(&sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  sa_ = {sizeof(sa_), &sd_, FALSE};
}

}  // namespace tolvane
