#include "service/console_win.h"

#include <sddl.h>

#include <vector>

#include "platform/lazy_dll_win.h"
#include "platform/window_win.h"
#include "service/guardian.h"
#include "service/service_win.h"

namespace tolvane {
namespace {

constexpr wchar_t kPolicyKeyTail[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kPolicyValue[] = L"DisableTaskMgr";
// The users whose DisableTaskMgr the service wrote, one value per SID. Under
// the service's own key, which only administrators and SYSTEM can write.
const std::wstring& OwnedKey() {
  static const std::wstring key =
      std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + kServiceName + L"\\Parameters\\OwnedTaskMgr";
  return key;
}

// What the user may do to the lock the service starts: wait on it and ask
// its name, nothing that ends, suspends, or reads or writes its memory.
constexpr DWORD kUserLockRights = SYNCHRONIZE | READ_CONTROL | PROCESS_QUERY_INFORMATION |
                                  PROCESS_QUERY_LIMITED_INFORMATION;
// The same for the lock's first thread: no suspend, no context, no
// impersonation, from its first instruction on.
constexpr DWORD kUserThreadRights = SYNCHRONIZE | READ_CONTROL | THREAD_QUERY_LIMITED_INFORMATION;

// SYSTEM and administrators keep every right (an administrator can end the
// lock, as the installer's helper does); the user, also as the object's
// owner (OW), keeps only `user_rights`.
PSECURITY_DESCRIPTOR LockDescriptor(const std::wstring& sid, DWORD user_rights) {
  wchar_t rights[16];
  wsprintfW(rights, L"0x%lx", user_rights);
  const std::wstring sddl = std::wstring(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;") + rights + L";;;" + sid + L")(A;;" +
                            rights + L";;;OW)";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
    return nullptr;
  }
  return sd;
}

class Token {
 public:
  explicit Token(HANDLE h = nullptr) : h_(h) {}
  ~Token() {
    if (h_) CloseHandle(h_);
  }
  Token(const Token&) = delete;
  Token& operator=(const Token&) = delete;
  HANDLE* put() { return &h_; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

std::wstring SidOfToken(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<BYTE> buf(size);
  if (!GetTokenInformation(token, TokenUser, buf.data(), size, &size)) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &text)) return {};
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

HKEY OpenPolicyKey(const std::wstring& sid, bool create) {
  const std::wstring path = sid + kPolicyKeyTail;
  HKEY key = nullptr;
  const LONG rc = create ? RegCreateKeyExW(HKEY_USERS, path.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                           nullptr, &key, nullptr)
                         : RegOpenKeyExW(HKEY_USERS, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  return rc == ERROR_SUCCESS ? key : nullptr;
}

bool PolicyPresent(const std::wstring& sid) {
  HKEY key = OpenPolicyKey(sid, false);
  if (!key) return false;
  const bool present = RegQueryValueExW(key, kPolicyValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return present;
}

bool Recorded(const std::wstring& sid) {
  DWORD v = 0, size = sizeof(v);
  return RegGetValueW(HKEY_LOCAL_MACHINE, OwnedKey().c_str(), sid.c_str(), RRF_RT_REG_DWORD, nullptr, &v, &size) ==
         ERROR_SUCCESS;
}

void ApplyPolicy(const std::wstring& sid, const PolicyChange& c) {
  // The note comes before the value and goes after it: a service that dies
  // in between leaves a note with no value, never a value it will not remove.
  if (c.record) {
    const DWORD one = 1;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, OwnedKey().c_str(), sid.c_str(), REG_DWORD, &one, sizeof(one));
  }
  if (c.write || c.remove) {
    HKEY key = OpenPolicyKey(sid, c.write);
    if (key) {
      const DWORD one = 1;
      if (c.write) RegSetValueExW(key, kPolicyValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
      if (c.remove) RegDeleteValueW(key, kPolicyValue);
      RegCloseKey(key);
    }
  }
  if (c.forget) RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OwnedKey().c_str(), sid.c_str());
}

}  // namespace

ConsoleUser CurrentConsoleUser() {
  ConsoleUser u;
  u.session = WTSGetActiveConsoleSessionId();
  if (u.session == 0xFFFFFFFF) return u;
  Token token;
  if (QueryUserToken(u.session, token.put())) u.sid = SidOfToken(token.get());
  return u;
}

std::wstring LockExePath() { return ProgramFolder() + L"\\" + kLockExeName; }

HANDLE StartLockInConsole() {
  const DWORD session = WTSGetActiveConsoleSessionId();
  if (session == 0xFFFFFFFF) return nullptr;
  Token token;
  if (!QueryUserToken(session, token.put())) return nullptr;
  const std::wstring sid = SidOfToken(token.get());
  if (sid.empty()) return nullptr;
  PSECURITY_DESCRIPTOR sd = LockDescriptor(sid, kUserLockRights);
  PSECURITY_DESCRIPTOR thread_sd = LockDescriptor(sid, kUserThreadRights);
  if (!sd || !thread_sd) {
    if (sd) LocalFree(sd);
    if (thread_sd) LocalFree(thread_sd);
    return nullptr;
  }
  SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
  SECURITY_ATTRIBUTES thread_sa = {sizeof(thread_sa), thread_sd, FALSE};
  void* env = nullptr;
  if (!CreateUserEnvironment(&env, token.get(), FALSE)) env = nullptr;
  const std::wstring exe = LockExePath();
  std::wstring cmd = L"\"" + exe + L"\" " + kGuardStartSwitch;
  const std::wstring folder = ProgramFolder();
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.lpDesktop = const_cast<wchar_t*>(L"winsta0\\default");
  PROCESS_INFORMATION pi = {};
  const BOOL ok = CreateProcessAsUserW(token.get(), exe.c_str(), cmd.data(), &sa, &thread_sa, FALSE,
                                       CREATE_UNICODE_ENVIRONMENT, env, folder.c_str(), &si, &pi);
  if (env) DestroyUserEnvironment(env);
  LocalFree(sd);
  LocalFree(thread_sd);
  if (!ok) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

void DisconnectConsole(DWORD session) {
  if (session != 0xFFFFFFFF) DisconnectSession(session);
}

void BlockTaskManager(const std::wstring& sid) {
  if (sid.empty()) return;
  ApplyPolicy(sid, DecideBlock(PolicyPresent(sid), Recorded(sid)));
}

void FreeTaskManagers() {
  std::vector<std::wstring> sids;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, OwnedKey().c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      if (RegEnumValueW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      sids.emplace_back(name, len);
    }
    RegCloseKey(key);
  }
  for (const std::wstring& sid : sids) ApplyPolicy(sid, DecideFree(PolicyPresent(sid), true));
}

}  // namespace tolvane
