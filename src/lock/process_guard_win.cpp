#include "lock/process_guard_win.h"

#include <aclapi.h>
#include <tlhelp32.h>

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

}  // namespace tolvane
