// wintool: looks into and drives the windows of a program running under Wine,
// for the end-to-end tests.
//
//   wintool --out FILE windows [CLASS]                 top-level windows, JSON list
//   wintool --out FILE snapshot CLASS                  one window and its controls, JSON
//   wintool --out FILE wait CLASS STATE TIMEOUT_MS     STATE: exists|gone|visible|hidden
//   wintool --out FILE send CLASS MSG WPARAM LPARAM    SendMessage to the window, prints the result
//   wintool --out FILE post CLASS MSG WPARAM LPARAM
//   wintool --out FILE sendto CLASS ID MSG WPARAM LPARAM   to the control ID of the window
//   wintool --out FILE settext CLASS ID HEX            WM_SETTEXT, text as hex of its UTF-8
//   wintool --out FILE alive PID                       Windows process id
//   wintool --out FILE waitexit PID TIMEOUT_MS
//   wintool --out FILE kill PID
//   wintool --out FILE procs PATH                      processes running that exe, JSON list of pids
//   wintool --out FILE killimage PATH                  ends every process running that exe, also
//                                                      those a watchdog starts meanwhile
//   wintool --out FILE tryopen PID ACCESS standard|full    OpenProcess as a standard user (the session's token
//                                                      with Administrators for deny only, as UAC filters
//                                                      it) or with the full token: opened, error
//   wintool --out FILE tryopenthreads PID ACCESS standard|full   OpenThread on every thread of the process
//   wintool --out FILE killtree PID                    Task Manager's "end process tree": the process and
//                                                      every descendant by parent process id
//   wintool --out FILE suspend PID                     suspends every thread of the process
//   wintool --out FILE parent PID                      the parent process id the system records
//   wintool --out FILE killall PATH [CLASS TIMEOUT_MS] ends every process of that exe at once; then
//                                                      the time until a new window of CLASS shows
//   wintool --out FILE guard HEX                       one request on the guardian service's pipe
//                                                      (hex of its UTF-8), JSON with the answer
//   wintool --out FILE foreground CLASS                SetForegroundWindow on that window
//   wintool --out FILE tray [CLASS|HWND [UID]]         the notification area, JSON
//   wintool --out FILE meminfo PID                     memory counters of a process, JSON
//   wintool --out FILE keyspy MS                       a low-level keyboard hook of its own for MS
//                                                      milliseconds: one JSON line per key event
//   wintool --out FILE exitclock PID TIMEOUT_MS [LETTER]   performance-counter times of a drive
//                                                      letter appearing and of the process's end
//   wintool --out FILE qpc                             the performance counter now
//   wintool --out FILE sweep PID FIRST LAST WPARAM LPARAM   posts every message FIRST..LAST (of
//                                                      0xC000 and up, the registered ones) to every
//                                                      top-level window of the process, JSON
//   wintool --out FILE replacesel CLASS ID HEX         EM_REPLACESEL to the control ID, text as hex
//   wintool --out FILE holdmutex NAME MS [door]        owns the named mutex for MS milliseconds; with
//                                                      door, a window of the program's door class too
//   wintool --out FILE holdfile PATH RELEASE MS        holds PATH open sharing nothing until the file
//                                                      RELEASE exists (or MS pass)
//   wintool demo CLASS [tray|hotkey]                   a stand-in window (see Demo)
//
// Numbers may be decimal or 0x hex. CLASS picks the first top-level window of
// that class, shown or hidden. Output is UTF-8 (JSON where noted) in FILE, not
// on a pipe: the services that the first program of a Wine session starts
// inherit pipes and keep them open. Non-ASCII input comes hex-encoded because
// the Unix side's command line reaches Wine in an ASCII charset. Exit code 0
// on success, 1 when the window, control or process is missing or a wait timed
// out, 2 on a usage error.
#include <windows.h>
#include <dbt.h>
#include <shellapi.h>
// GetProcessMemoryInfo as kernel32 exports it (K32...), without psapi.dll.
#ifndef PSAPI_VERSION
#define PSAPI_VERSION 2
#endif
#include <psapi.h>
#include <tlhelp32.h>
#include <aclapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "lock/guard_message.h"

namespace {

FILE* g_out = nullptr;

void Emit(const std::string& s) {
  if (!g_out) return;
  std::fwrite(s.data(), 1, s.size(), g_out);
  std::fflush(g_out);
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring FromHexUtf8(const std::wstring& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(), n);
  return w;
}

std::string Json(const std::wstring& w) {
  std::string out = "\"";
  for (unsigned char c : Utf8(w)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Num(long long v) { return std::to_string(v); }

std::string Handle(HWND h) { return Num(static_cast<long long>(reinterpret_cast<INT_PTR>(h))); }

std::string Rect(const RECT& r) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
  return buf;
}

bool ParseNum(const wchar_t* s, long long* v) {
  if (!s || !*s) return false;
  wchar_t* end = nullptr;
  *v = static_cast<long long>(std::wcstoll(s, &end, 0));
  return end && *end == L'\0';
}

std::wstring ClassOf(HWND h) {
  wchar_t buf[256] = {};
  GetClassNameW(h, buf, 256);
  return buf;
}

// A window that hangs must not hang the test: every cross-process message
// carries a timeout.
constexpr UINT kSendTimeoutMs = 5000;

std::wstring TextOf(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &len)) return {};
  std::wstring buf(len + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &got)) {
    return {};
  }
  buf.resize(got);
  return buf;
}

HWND FindTop(const std::wstring& cls) { return FindWindowExW(nullptr, nullptr, cls.c_str(), nullptr); }

std::string WindowJson(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  // The client area in screen coordinates: a captioned window's contents
  // start below its title bar.
  RECT c{};
  GetClientRect(h, &c);
  MapWindowPoints(h, nullptr, reinterpret_cast<POINT*>(&c), 2);
  DWORD pid = 0;
  const DWORD tid = GetWindowThreadProcessId(h, &pid);
  // The keyboard focus of the window's thread, as Windows keeps it (under
  // Wine the X focus can lag behind it).
  GUITHREADINFO gti{};
  gti.cbSize = sizeof(gti);
  const HWND focus = GetGUIThreadInfo(tid, &gti) ? gti.hwndFocus : nullptr;
  return "{\"hwnd\":" + Handle(h) + ",\"focus\":" + Handle(focus) + ",\"pid\":" + Num(pid) + ",\"class\":" + Json(ClassOf(h)) +
         ",\"title\":" + Json(TextOf(h)) + ",\"visible\":" + (IsWindowVisible(h) ? "true" : "false") +
         ",\"iconic\":" + (IsIconic(h) ? "true" : "false") +
         ",\"enabled\":" + (IsWindowEnabled(h) ? "true" : "false") +
         ",\"foreground\":" + (GetForegroundWindow() == h ? "true" : "false") + ",\"rect\":" + Rect(r) +
         ",\"client\":" + Rect(c) + ",\"owner\":" + Handle(GetWindow(h, GW_OWNER));
}

// List box items, read with the messages Wine marshals across processes.
std::string ListItems(HWND lb) {
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(lb, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count)) return "[]";
  std::string out = "[";
  for (DWORD_PTR i = 0; i < count && static_cast<LONG_PTR>(count) > 0; ++i) {
    DWORD_PTR len = 0;
    SendMessageTimeoutW(lb, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &len);
    std::wstring buf(static_cast<LONG_PTR>(len) > 0 ? len + 1 : 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(lb, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                        &got);
    buf.resize(static_cast<LONG_PTR>(got) > 0 ? got : 0);
    if (i) out += ",";
    out += Json(buf);
  }
  return out + "]";
}

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
  return TRUE;
}

int Snapshot(const std::wstring& cls) {
  HWND h = FindTop(cls);
  if (!h) {
    Emit("{\"missing\":" + Json(cls) + "}\n");
    return 1;
  }
  std::string out = WindowJson(h) + ",\"children\":[";
  std::vector<HWND> kids;
  EnumChildWindows(h, CollectChild, reinterpret_cast<LPARAM>(&kids));
  bool first = true;
  for (HWND k : kids) {
    RECT r{};
    GetWindowRect(k, &r);
    std::wstring kc = ClassOf(k);
    out += first ? "" : ",";
    first = false;
    out += "{\"hwnd\":" + Handle(k) + ",\"id\":" + Num(GetDlgCtrlID(k)) + ",\"class\":" + Json(kc) +
           ",\"text\":" + Json(TextOf(k)) + ",\"visible\":" + (IsWindowVisible(k) ? "true" : "false") +
           ",\"rect\":" + Rect(r);
    if (_wcsicmp(kc.c_str(), L"ListBox") == 0) {
      DWORD_PTR sel = 0;
      SendMessageTimeoutW(k, LB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &sel);
      out += ",\"items\":" + ListItems(k) + ",\"selected\":" + Num(static_cast<LONG_PTR>(sel));
    }
    out += "}";
  }
  Emit(out + "]}\n");
  return 0;
}

struct EnumTop {
  std::wstring cls;
  std::string out;
  bool first = true;
};

BOOL CALLBACK ListTop(HWND h, LPARAM lp) {
  auto* e = reinterpret_cast<EnumTop*>(lp);
  if (!e->cls.empty() && ClassOf(h) != e->cls) return TRUE;
  e->out += e->first ? "" : ",\n";
  e->first = false;
  e->out += WindowJson(h) + "}";
  return TRUE;
}

int Windows(const std::wstring& cls) {
  EnumTop e{cls};
  EnumWindows(ListTop, reinterpret_cast<LPARAM>(&e));
  Emit("[" + e.out + "]\n");
  return 0;
}

// Polls in-process: one Wine start per wait instead of one per poll.
int Wait(const std::wstring& cls, const std::wstring& state, long long timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  for (;;) {
    HWND h = FindTop(cls);
    bool met = state == L"exists"    ? h != nullptr
               : state == L"gone"    ? h == nullptr
               : state == L"visible" ? h && IsWindowVisible(h)
                                     : h && !IsWindowVisible(h);
    if (met) {
      Emit(h ? WindowJson(h) + "}\n" : "{}\n");
      return 0;
    }
    if (GetTickCount64() >= deadline) return 1;
    Sleep(20);
  }
}

int Message(HWND h, bool post, long long msg, long long wp, long long lp) {
  if (!h) return 1;
  if (post) {
    if (!PostMessageW(h, static_cast<UINT>(msg), static_cast<WPARAM>(wp), static_cast<LPARAM>(lp))) return 1;
    Emit("{\"posted\":true}\n");
    return 0;
  }
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(h, static_cast<UINT>(msg), static_cast<WPARAM>(wp), static_cast<LPARAM>(lp),
                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
    return 1;
  }
  Emit("{\"result\":" + Num(static_cast<LONG_PTR>(result)) + "}\n");
  return 0;
}

int Alive(DWORD pid) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  DWORD code = 0;
  bool alive = p && GetExitCodeProcess(p, &code) && code == STILL_ACTIVE;
  if (p) CloseHandle(p);
  Emit(std::string("{\"alive\":") + (alive ? "true" : "false") + ",\"exit_code\":" +
       (p && !alive ? Num(code) : "null") + "}\n");
  return alive ? 0 : 1;
}

int WaitExit(DWORD pid, long long timeout_ms) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (!p) {
    Emit("{\"exited\":true,\"exit_code\":null}\n");
    return 0;
  }
  DWORD w = WaitForSingleObject(p, static_cast<DWORD>(timeout_ms));
  DWORD code = 0;
  GetExitCodeProcess(p, &code);
  CloseHandle(p);
  if (w != WAIT_OBJECT_0) return 1;
  Emit("{\"exited\":true,\"exit_code\":" + Num(code) + "}\n");
  return 0;
}

// Opens a process or thread to end or suspend it. The program guards its
// processes with a descriptor that refuses these rights to the user; the
// rig, as the owner (Wine lets the owner rewrite the list whatever it says)
// or as an administrator, first puts back an open one.
template <typename Open>
HANDLE OpenPastGuard(Open open, DWORD access) {
  HANDLE h = open(access);
  if (h || GetLastError() != ERROR_ACCESS_DENIED) return h;
  if (HANDLE dac = open(WRITE_DAC)) {
    SetSecurityInfo(dac, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr);
    CloseHandle(dac);
  }
  return open(access);
}

HANDLE OpenToEnd(DWORD pid, DWORD access) {
  return OpenPastGuard([pid](DWORD a) { return OpenProcess(a, FALSE, pid); }, access);
}

HANDLE OpenThreadToSuspend(DWORD tid) {
  return OpenPastGuard([tid](DWORD a) { return OpenThread(a, FALSE, tid); }, THREAD_SUSPEND_RESUME);
}

// The rest of this thread acts as a standard user of the session: the
// token's Administrators group for deny only, as UAC's filtered token of an
// administrator (or a plain user's token) has it.
bool ActAsStandardUser() {
  HANDLE token = nullptr, restricted = nullptr, impersonation = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token)) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  bool ok = AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                     &admins) != FALSE;
  SID_AND_ATTRIBUTES disable = {admins, 0};
  ok = ok && CreateRestrictedToken(token, 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted) &&
       DuplicateToken(restricted, SecurityImpersonation, &impersonation) && SetThreadToken(nullptr, impersonation);
  if (admins) FreeSid(admins);
  for (HANDLE h : {token, restricted, impersonation}) {
    if (h) CloseHandle(h);
  }
  return ok;
}

std::vector<DWORD> ThreadsOf(DWORD pid) {
  std::vector<DWORD> tids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return tids;
  THREADENTRY32 te{};
  te.dwSize = sizeof(te);
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID == pid) tids.push_back(te.th32ThreadID);
  }
  CloseHandle(snap);
  return tids;
}

int TryOpen(DWORD pid, DWORD access, bool standard, bool threads) {
  if (standard && !ActAsStandardUser()) return 3;
  if (!threads) {
    HANDLE p = OpenProcess(access, FALSE, pid);
    const DWORD err = p ? 0 : GetLastError();
    if (p) CloseHandle(p);
    Emit(std::string("{\"opened\":") + (p ? "true" : "false") + ",\"error\":" + Num(err) + "}\n");
    return 0;
  }
  int opened = 0, count = 0;
  DWORD err = 0;
  for (DWORD tid : ThreadsOf(pid)) {
    ++count;
    if (HANDLE t = OpenThread(access, FALSE, tid)) {
      ++opened;
      CloseHandle(t);
    } else {
      err = GetLastError();
    }
  }
  Emit("{\"threads\":" + Num(count) + ",\"opened\":" + Num(opened) + ",\"error\":" + Num(err) + "}\n");
  return 0;
}

int Suspend(DWORD pid) {
  int count = 0;
  for (DWORD tid : ThreadsOf(pid)) {
    if (HANDLE t = OpenThreadToSuspend(tid)) {
      if (SuspendThread(t) != static_cast<DWORD>(-1)) ++count;
      CloseHandle(t);
    }
  }
  Emit("{\"suspended\":" + Num(count) + "}\n");
  return count ? 0 : 1;
}

struct ProcessRow {
  DWORD pid, parent;
};

std::vector<ProcessRow> ProcessRows() {
  std::vector<ProcessRow> rows;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return rows;
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof(pe);
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
    rows.push_back({pe.th32ProcessID, pe.th32ParentProcessID});
  }
  CloseHandle(snap);
  return rows;
}

ULONGLONG CreatedAt(DWORD pid) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return 0;
  FILETIME created{}, exited{}, kernel{}, user{};
  ULONGLONG t = 0;
  if (GetProcessTimes(p, &created, &exited, &kernel, &user)) {
    t = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  }
  CloseHandle(p);
  return t;
}

int Parent(DWORD pid) {
  for (const ProcessRow& r : ProcessRows()) {
    if (r.pid == pid) {
      Emit("{\"parent\":" + Num(r.parent) + "}\n");
      return 0;
    }
  }
  return 1;
}

// As Task Manager's "end process tree": the process and its descendants,
// found by the parent id each process records. A parent id is only a number
// that may have been reused: a child counts only when it was created after
// its parent.
int KillTree(DWORD root) {
  const std::vector<ProcessRow> rows = ProcessRows();
  std::vector<DWORD> tree = {root};
  for (size_t i = 0; i < tree.size(); ++i) {
    const ULONGLONG parent_created = CreatedAt(tree[i]);
    for (const ProcessRow& r : rows) {
      if (r.parent == tree[i] && r.pid != tree[i] && CreatedAt(r.pid) >= parent_created) tree.push_back(r.pid);
    }
  }
  std::string out = "{\"ended\":[";
  bool first = true;
  for (DWORD pid : tree) {
    HANDLE p = OpenToEnd(pid, PROCESS_TERMINATE | SYNCHRONIZE);
    if (!p) continue;
    if (TerminateProcess(p, 1)) {
      WaitForSingleObject(p, 5000);
      out += (first ? "" : ",") + Num(pid);
      first = false;
    }
    CloseHandle(p);
  }
  Emit(out + "]}\n");
  return first ? 1 : 0;
}

int Kill(DWORD pid) {
  HANDLE p = OpenToEnd(pid, PROCESS_TERMINATE | SYNCHRONIZE);
  if (!p) return 1;
  BOOL ok = TerminateProcess(p, 255);
  if (ok) WaitForSingleObject(p, 5000);
  CloseHandle(p);
  return ok ? 0 : 1;
}

// Processes whose image is the given exe (full path, any case).
std::vector<DWORD> ProcessesOf(const std::wstring& path) {
  std::vector<DWORD> pids;
  wchar_t full[MAX_PATH * 2] = {};
  if (!GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr)) return pids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof(pe);
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.th32ProcessID);
    if (!p) continue;
    wchar_t image[MAX_PATH * 2] = {};
    DWORD n = MAX_PATH * 2;
    DWORD code = 0;
    if (QueryFullProcessImageNameW(p, 0, image, &n) && _wcsicmp(image, full) == 0 && GetExitCodeProcess(p, &code) &&
        code == STILL_ACTIVE) {
      pids.push_back(pe.th32ProcessID);
    }
    CloseHandle(p);
  }
  CloseHandle(snap);
  return pids;
}

int Procs(const std::wstring& path) {
  std::string out = "[";
  for (DWORD pid : ProcessesOf(path)) {
    if (out.size() > 1) out += ",";
    out += Num(pid);
  }
  Emit(out + "]\n");
  return 0;
}

// A lock and its watchdog each start the other again: end all of them, and
// look again until none has come back for a while.
int KillImage(const std::wstring& path) {
  int quiet_rounds = 0;
  for (int round = 0; round < 100 && quiet_rounds < 3; ++round) {
    const std::vector<DWORD> pids = ProcessesOf(path);
    quiet_rounds = pids.empty() ? quiet_rounds + 1 : 0;
    for (DWORD pid : pids) {
      HANDLE p = OpenToEnd(pid, PROCESS_TERMINATE | SYNCHRONIZE);
      if (!p) continue;
      TerminateProcess(p, 255);
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
    }
    Sleep(pids.empty() ? 150 : 20);
  }
  Emit(std::string("{\"clean\":") + (quiet_rounds >= 3 ? "true" : "false") + "}\n");
  return quiet_rounds >= 3 ? 0 : 1;
}

// Ends every process of the exe at once, as "end process tree" or taskkill
// /f /im would: all are opened first, then all are ended, so none is left
// to start another. Reports how many were ended and how many refused it.
// With a window class, it then waits up to TIMEOUT_MS for a visible window
// of that class from a process other than those it ended, and reports the
// milliseconds from the end of the last one ("back_ms", -1 when none came).
int KillAllOnce(const std::wstring& path, const std::wstring& back_class, long long timeout_ms) {
  std::vector<HANDLE> handles;
  std::vector<DWORD> ended;
  int refused = 0;
  for (DWORD pid : ProcessesOf(path)) {
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (p) {
      handles.push_back(p);
      ended.push_back(pid);
    } else {
      ++refused;
    }
  }
  int killed = 0;
  for (HANDLE p : handles) killed += TerminateProcess(p, 255) ? 1 : 0;
  for (HANDLE p : handles) {
    WaitForSingleObject(p, 5000);
    CloseHandle(p);
  }
  const ULONGLONG gone = GetTickCount64();
  long long back_ms = -1;
  while (!back_class.empty() && GetTickCount64() - gone <= static_cast<ULONGLONG>(timeout_ms)) {
    bool found = false;
    for (HWND h = FindWindowExW(nullptr, nullptr, back_class.c_str(), nullptr); h && !found;
         h = FindWindowExW(nullptr, h, back_class.c_str(), nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(h, &pid);
      bool old = false;
      for (DWORD e : ended) old = old || e == pid;
      found = !old && IsWindowVisible(h);
    }
    if (found) {
      back_ms = static_cast<long long>(GetTickCount64() - gone);
      break;
    }
    Sleep(10);
  }
  Emit("{\"killed\":" + Num(killed) + ",\"refused\":" + Num(refused) + ",\"back_ms\":" + Num(back_ms) + "}\n");
  return 0;
}

// Sends one request, given as hex-encoded UTF-8, on the guardian service's
// pipe, as any program in the session could; reports whether the pipe was
// there and what the service answered.
int GuardRequestRaw(const std::wstring& hex) {
  const std::wstring text = FromHexUtf8(hex);
  wchar_t answer[64] = {};
  DWORD got = 0;
  const BOOL ok = CallNamedPipeW(tolvane::kGuardPipeName, const_cast<wchar_t*>(text.data()),
                                 static_cast<DWORD>(text.size() * sizeof(wchar_t)), answer, sizeof(answer) - sizeof(wchar_t),
                                 &got, 5000);
  const DWORD err = ok ? 0 : GetLastError();
  const std::wstring a(answer, got / sizeof(wchar_t));
  Emit(std::string("{\"sent\":") + (ok ? "true" : "false") + ",\"error\":" + Num(err) + ",\"answer\":" + Json(a) +
       "}\n");
  return 0;
}

// The notification area as Wine shows it when there is no desktop window and
// no XEmbed tray on the X server: Wine 8's X11 driver docks the icons into a
// stand-alone window, class __winex11_standalone_tray, title "Wine System
// Tray", whose children are the icons; it is hidden while no icon shows.
// Later Wine versions keep that window in explorer under Shell_TrayWnd; both
// are looked for. For one icon, identified by its owner window and id, the
// report also says whether the shell still knows it: NIM_MODIFY without any
// flag changes nothing and succeeds only for an icon that exists.
int Tray(const std::wstring& owner_class, long long uid) {
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  if (!tray) tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  std::string out = "{\"tray\":" + Handle(tray);
  if (tray) {
    RECT r{}, c{};
    GetWindowRect(tray, &r);
    GetClientRect(tray, &c);
    MapWindowPoints(tray, nullptr, reinterpret_cast<POINT*>(&c), 2);
    out += ",\"class\":" + Json(ClassOf(tray)) + ",\"visible\":" + (IsWindowVisible(tray) ? "true" : "false") +
           ",\"rect\":" + Rect(r) + ",\"client\":" + Rect(c);
  }
  out += ",\"icons\":[";
  std::vector<HWND> kids;
  if (tray) EnumChildWindows(tray, CollectChild, reinterpret_cast<LPARAM>(&kids));
  bool first = true;
  for (HWND k : kids) {
    if (GetParent(k) != tray || !IsWindowVisible(k)) continue;
    RECT r{};
    GetWindowRect(k, &r);
    out += first ? "" : ",";
    first = false;
    out += "{\"hwnd\":" + Handle(k) + ",\"class\":" + Json(ClassOf(k)) + ",\"rect\":" + Rect(r) + "}";
  }
  out += "]";
  if (!owner_class.empty()) {
    // The owner may also be given by its handle, to ask about the icon of a
    // window that is gone.
    long long handle = 0;
    HWND owner = ParseNum(owner_class.c_str(), &handle) ? reinterpret_cast<HWND>(static_cast<INT_PTR>(handle))
                                                        : FindTop(owner_class);
    out += ",\"owner\":" + Handle(owner) + ",\"known\":";
    if (owner) {
      NOTIFYICONDATAW nid{};
      nid.cbSize = sizeof(nid);
      nid.hWnd = owner;
      nid.uID = static_cast<UINT>(uid);
      out += Shell_NotifyIconW(NIM_MODIFY, &nid) ? "true" : "false";
    } else {
      out += "null";
    }
  }
  Emit(out + "}\n");
  return 0;
}

// Memory counters of another process. Under Wine they are those of the Unix
// process behind it, Wine's own libraries included.
int MemInfo(DWORD pid) {
  HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!p) p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return 1;
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  const BOOL ok = GetProcessMemoryInfo(p, &pmc, sizeof(pmc));
  CloseHandle(p);
  if (!ok) return 1;
  Emit("{\"peak_working_set\":" + Num(static_cast<long long>(pmc.PeakWorkingSetSize)) +
       ",\"working_set\":" + Num(static_cast<long long>(pmc.WorkingSetSize)) +
       ",\"peak_pagefile\":" + Num(static_cast<long long>(pmc.PeakPagefileUsage)) +
       ",\"pagefile\":" + Num(static_cast<long long>(pmc.PagefileUsage)) + "}\n");
  return 0;
}

// A hook installed before the program under test sits below the program's
// own in the chain (the newest low-level hook is called first), so it sees
// exactly the key events that the program's hook passes on.
LRESULT CALLBACK SpyProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION) {
    const auto* e = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
    Emit("{\"msg\":" + Num(static_cast<long long>(wp)) + ",\"vk\":" + Num(e->vkCode) +
         ",\"flags\":" + Num(e->flags) + "}\n");
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

int KeySpy(long long ms) {
  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, SpyProc, GetModuleHandleW(nullptr), 0);
  if (!hook) return 1;
  Emit("{\"ready\":true}\n");
  const UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(ms), nullptr);
  MSG m;
  // The system calls the hook from inside this loop.
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (m.message == WM_TIMER && m.wParam == timer) break;
    DispatchMessageW(&m);
  }
  UnhookWindowsHookEx(hook);
  return 0;
}

long long Qpc() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

long long QpcFrequency() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return f.QuadPart;
}

// Times an unlock from inside Wine: when a drive letter becomes visible to
// programs (polled every millisecond) and when the process ends, on the
// performance counter, so that neither time includes a helper's start-up.
int ExitClock(DWORD pid, long long timeout_ms, wchar_t letter) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (!p) return 1;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  std::string out = "{\"freq\":" + Num(QpcFrequency()) + ",\"ready_qpc\":" + Num(Qpc());
  Emit(out + "}\n");
  long long drive_qpc = -1;
  long long exit_qpc = -1;
  const DWORD bit = letter ? 1u << (towupper(letter) - L'A') : 0;
  while (bit && GetTickCount64() < deadline) {
    if (GetLogicalDrives() & bit) {
      drive_qpc = Qpc();
      break;
    }
    if (WaitForSingleObject(p, 1) == WAIT_OBJECT_0) break;  // ended before the drive came
  }
  const ULONGLONG now = GetTickCount64();
  if (WaitForSingleObject(p, static_cast<DWORD>(deadline > now ? deadline - now : 0)) == WAIT_OBJECT_0) {
    exit_qpc = Qpc();
  }
  CloseHandle(p);
  if (bit) out += ",\"drive_qpc\":" + (drive_qpc >= 0 ? Num(drive_qpc) : std::string("null"));
  out += ",\"exit_qpc\":" + (exit_qpc >= 0 ? Num(exit_qpc) : std::string("null"));
  Emit(out + "}\n");
  return exit_qpc >= 0 ? 0 : 1;
}

// A stand-in program for checking the rig itself: a window of the given
// class with a list box (ID 1010) and a status line (ID 1003), optionally
// with a tray icon (uID 1). A left press on the icon shows the window again,
// minimising hides it, closing deletes the icon and ends the program. A
// volume arrival or removal broadcast shows as "arrival E:" or "removal E:"
// on the status line.
constexpr UINT kDemoTrayMsg = WM_APP + 1;
bool g_demo_tray = false;

LRESULT CALLBACK DemoProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kDemoTrayMsg:
      if (LOWORD(lp) == WM_LBUTTONDOWN) {
        ShowWindow(h, SW_RESTORE);
        ShowWindow(h, SW_SHOW);
      }
      return 0;
    case WM_SIZE:
      if (wp == SIZE_MINIMIZED) ShowWindow(h, SW_HIDE);
      return 0;
    case WM_DEVICECHANGE: {
      const auto* vol = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lp);
      if ((wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE) && vol &&
          vol->dbcv_devicetype == DBT_DEVTYP_VOLUME) {
        std::wstring text = wp == DBT_DEVICEARRIVAL ? L"arrival " : L"removal ";
        for (int bit = 0; bit < 26; ++bit) {
          if (vol->dbcv_unitmask & (1u << bit)) text += std::wstring{static_cast<wchar_t>(L'A' + bit), L':'};
        }
        SetDlgItemTextW(h, 1003, text.c_str());
      }
      return TRUE;
    }
    case WM_DESTROY:
      if (g_demo_tray) {
        NOTIFYICONDATAW nid{};
        nid.cbSize = sizeof(nid);
        nid.hWnd = h;
        nid.uID = 1;
        Shell_NotifyIconW(NIM_DELETE, &nid);
      }
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

// `extra`: "tray" puts an icon in the notification area; "hotkey" takes
// Ctrl+Alt+L as another program's hot key, and says in the title whether the
// system gave it ("hotkey held").
int Demo(const std::wstring& cls, const std::wstring& extra) {
  const bool tray = extra == L"tray";
  WNDCLASSW wc{};
  wc.lpfnWndProc = DemoProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = cls.c_str();
  if (!RegisterClassW(&wc)) return 1;
  HWND h = CreateWindowExW(0, cls.c_str(), L"Rig demo", WS_OVERLAPPEDWINDOW, 100, 100, 360, 260, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (!h) return 1;
  HWND lb = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", nullptr, WS_CHILD | WS_VISIBLE | LBS_NOTIFY, 10, 10, 150,
                            120, h, reinterpret_cast<HMENU>(1010), wc.hInstance, nullptr);
  SendMessageW(lb, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"E: 1.00 GB"));
  SendMessageW(lb, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"移动磁盘"));
  CreateWindowExW(0, L"STATIC", L"请插入！", WS_CHILD | WS_VISIBLE, 10, 140, 300, 20, h,
                  reinterpret_cast<HMENU>(1003), wc.hInstance, nullptr);
  if (tray) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = h;
    nid.uID = 1;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kDemoTrayMsg;
    nid.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    std::wcscpy(nid.szTip, L"Rig demo");
    g_demo_tray = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
  }
  if (extra == L"hotkey") {
    SetWindowTextW(h, RegisterHotKey(h, 1, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT, 'L') ? L"hotkey held"
                                                                                     : L"hotkey refused");
  }
  ShowWindow(h, SW_SHOW);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}

// Another program's attack on a running program: every message of a range
// posted to each of its top-level windows, shown or hidden. A full queue
// refuses posts for a moment; those are tried again.
struct SweepTargets {
  DWORD pid;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindowsOf(HWND h, LPARAM lp) {
  auto* t = reinterpret_cast<SweepTargets*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == t->pid) t->windows.push_back(h);
  return TRUE;
}

int Sweep(DWORD pid, long long first, long long last, long long wp, long long lp) {
  SweepTargets t{pid, {}};
  EnumWindows(CollectWindowsOf, reinterpret_cast<LPARAM>(&t));
  long long posted = 0, refused = 0;
  for (long long msg = first; msg <= last; ++msg) {
    // Of the registered numbers only those some program registered mean
    // anything (they share their names with the clipboard formats).
    wchar_t name[8];
    if (msg >= 0xC000 && GetClipboardFormatNameW(static_cast<UINT>(msg), name, 8) == 0) continue;
    for (HWND h : t.windows) {
      bool ok = false;
      for (int attempt = 0; attempt < 200 && !ok; ++attempt) {
        ok = PostMessageW(h, static_cast<UINT>(msg), static_cast<WPARAM>(wp), static_cast<LPARAM>(lp)) != FALSE;
        if (!ok && (!IsWindow(h) || GetLastError() == ERROR_INVALID_WINDOW_HANDLE)) break;
        if (!ok) Sleep(5);
      }
      ++(ok ? posted : refused);
    }
  }
  std::string out = "{\"windows\":[";
  for (size_t i = 0; i < t.windows.size(); ++i) {
    out += (i ? "," : "") + std::string("{\"hwnd\":") + Handle(t.windows[i]) + ",\"class\":" + Json(ClassOf(t.windows[i])) + "}";
  }
  Emit(out + "],\"posted\":" + Num(posted) + ",\"refused\":" + Num(refused) + "}\n");
  return 0;
}

// A program that takes the lock's single-instance mutex before the lock
// starts, and with "door" also opens a message-only window of the lock's door
// class that answers every challenge with a made-up value. Reports what
// reaches the door: {"door":"challenge"} or {"door":"knock"}.
constexpr wchar_t kLockDoorClass[] = L"TolvaneInstanceDoor";
constexpr UINT kLockKnock = WM_APP + 40;

LRESULT CALLBACK FakeDoorProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    Emit("{\"door\":\"challenge\"}\n");
    return 0x5EED;
  }
  if (msg == kLockKnock) {
    Emit("{\"door\":\"knock\"}\n");
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

int HoldMutex(const std::wstring& name, long long ms, bool door) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
  const bool owned = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
  if (door) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = FakeDoorProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kLockDoorClass;
    RegisterClassW(&wc);
    if (!CreateWindowExW(0, kLockDoorClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr)) return 1;
  }
  Emit(std::string("{\"ready\":true,\"owned\":") + (owned ? "true" : "false") + "}\n");
  const UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(ms), nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (m.message == WM_TIMER && m.wParam == timer) break;
    DispatchMessageW(&m);
  }
  if (mutex) CloseHandle(mutex);
  return owned ? 0 : 1;
}

// A program that keeps a file from everyone else: open, sharing nothing,
// until the test makes the file RELEASE.
int HoldFile(const std::wstring& path, const std::wstring& release, long long ms) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  Emit("{\"ready\":true}\n");
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
  while (GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline) Sleep(20);
  CloseHandle(file);
  Emit("{\"released\":true}\n");
  return 0;
}

int Usage() {
  std::fputs("usage: wintool --out FILE windows|snapshot|wait|send|post|sendto|settext|alive|waitexit|kill|procs|\n"
             "                           killimage|tryopen|tryopenthreads|killtree|suspend|parent|\n"
             "                           killall|guard|foreground|tray|meminfo|\n"
             "                           keyspy|exitclock|qpc|holdmutex|holdfile|sweep|replacesel ...\n"
             "       wintool demo CLASS [tray|hotkey]\n",
             stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int i = 1;
  if (i + 1 < argc && std::wcscmp(argv[i], L"--out") == 0) {
    g_out = _wfopen(argv[i + 1], L"wb");
    if (!g_out) return 2;
    i += 2;
  }
  if (i >= argc) return Usage();
  const std::wstring cmd = argv[i++];
  const int rest = argc - i;
  wchar_t** a = argv + i;
  long long n1 = 0, n2 = 0, n3 = 0, n4 = 0;
  int rc = 2;

  if (cmd == L"windows" && rest <= 1) {
    rc = Windows(rest ? a[0] : L"");
  } else if (cmd == L"snapshot" && rest == 1) {
    rc = Snapshot(a[0]);
  } else if (cmd == L"wait" && rest == 3 && ParseNum(a[2], &n1)) {
    std::wstring st = a[1];
    if (st == L"exists" || st == L"gone" || st == L"visible" || st == L"hidden") rc = Wait(a[0], st, n1);
  } else if ((cmd == L"send" || cmd == L"post") && rest == 4 && ParseNum(a[1], &n1) && ParseNum(a[2], &n2) &&
             ParseNum(a[3], &n3)) {
    rc = Message(FindTop(a[0]), cmd == L"post", n1, n2, n3);
  } else if (cmd == L"sendto" && rest == 5 && ParseNum(a[1], &n4) && ParseNum(a[2], &n1) && ParseNum(a[3], &n2) &&
             ParseNum(a[4], &n3)) {
    HWND top = FindTop(a[0]);
    rc = Message(top ? GetDlgItem(top, static_cast<int>(n4)) : nullptr, false, n1, n2, n3);
  } else if (cmd == L"settext" && rest == 3 && ParseNum(a[1], &n1)) {
    HWND top = FindTop(a[0]);
    HWND ctl = top ? GetDlgItem(top, static_cast<int>(n1)) : nullptr;
    std::wstring text = FromHexUtf8(a[2]);
    DWORD_PTR r = 0;
    rc = ctl && SendMessageTimeoutW(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                                    kSendTimeoutMs, &r)
             ? 0
             : 1;
  } else if (cmd == L"alive" && rest == 1 && ParseNum(a[0], &n1)) {
    rc = Alive(static_cast<DWORD>(n1));
  } else if (cmd == L"waitexit" && rest == 2 && ParseNum(a[0], &n1) && ParseNum(a[1], &n2)) {
    rc = WaitExit(static_cast<DWORD>(n1), n2);
  } else if (cmd == L"kill" && rest == 1 && ParseNum(a[0], &n1)) {
    rc = Kill(static_cast<DWORD>(n1));
  } else if (cmd == L"procs" && rest == 1) {
    rc = Procs(a[0]);
  } else if (cmd == L"killimage" && rest == 1) {
    rc = KillImage(a[0]);
  } else if ((cmd == L"tryopen" || cmd == L"tryopenthreads") && rest == 3 && ParseNum(a[0], &n1) &&
             ParseNum(a[1], &n2) && (std::wcscmp(a[2], L"standard") == 0 || std::wcscmp(a[2], L"full") == 0)) {
    rc = TryOpen(static_cast<DWORD>(n1), static_cast<DWORD>(n2), std::wcscmp(a[2], L"standard") == 0,
                 cmd == L"tryopenthreads");
  } else if (cmd == L"killtree" && rest == 1 && ParseNum(a[0], &n1)) {
    rc = KillTree(static_cast<DWORD>(n1));
  } else if (cmd == L"suspend" && rest == 1 && ParseNum(a[0], &n1)) {
    rc = Suspend(static_cast<DWORD>(n1));
  } else if (cmd == L"parent" && rest == 1 && ParseNum(a[0], &n1)) {
    rc = Parent(static_cast<DWORD>(n1));
  } else if (cmd == L"killall" && rest == 1) {
    rc = KillAllOnce(a[0], L"", 0);
  } else if (cmd == L"killall" && rest == 3 && ParseNum(a[2], &n1)) {
    rc = KillAllOnce(a[0], a[1], n1);
  } else if (cmd == L"guard" && rest == 1) {
    rc = GuardRequestRaw(a[0]);
  } else if (cmd == L"foreground" && rest == 1) {
    HWND h = FindTop(a[0]);
    rc = h && SetForegroundWindow(h) ? 0 : 1;
  } else if (cmd == L"tray" && rest <= 2 && (rest < 2 || ParseNum(a[1], &n1))) {
    rc = Tray(rest ? a[0] : L"", rest == 2 ? n1 : 1);
  } else if (cmd == L"meminfo" && rest == 1 && ParseNum(a[0], &n1)) {
    rc = MemInfo(static_cast<DWORD>(n1));
  } else if (cmd == L"keyspy" && rest == 1 && ParseNum(a[0], &n1)) {
    rc = KeySpy(n1);
  } else if (cmd == L"exitclock" && (rest == 2 || (rest == 3 && std::wcslen(a[2]) == 1 && iswalpha(a[2][0]))) &&
             ParseNum(a[0], &n1) && ParseNum(a[1], &n2)) {
    rc = ExitClock(static_cast<DWORD>(n1), n2, rest == 3 ? a[2][0] : 0);
  } else if (cmd == L"qpc" && rest == 0) {
    Emit("{\"qpc\":" + Num(Qpc()) + ",\"freq\":" + Num(QpcFrequency()) + "}\n");
    rc = 0;
  } else if (cmd == L"demo" &&
             (rest == 1 || (rest == 2 && (std::wcscmp(a[1], L"tray") == 0 || std::wcscmp(a[1], L"hotkey") == 0)))) {
    rc = Demo(a[0], rest == 2 ? a[1] : L"");
  } else if (cmd == L"holdmutex" && (rest == 2 || (rest == 3 && std::wcscmp(a[2], L"door") == 0)) &&
             ParseNum(a[1], &n1)) {
    rc = HoldMutex(a[0], n1, rest == 3);
  } else if (cmd == L"holdfile" && rest == 3 && ParseNum(a[2], &n1)) {
    rc = HoldFile(a[0], a[1], n1);
  } else if (cmd == L"sweep" && rest == 5 && ParseNum(a[0], &n1) && ParseNum(a[1], &n2) && ParseNum(a[2], &n3) &&
             ParseNum(a[3], &n4)) {
    long long lp = 0;
    rc = ParseNum(a[4], &lp) ? Sweep(static_cast<DWORD>(n1), n2, n3, n4, lp) : Usage();
  } else if (cmd == L"replacesel" && rest == 3 && ParseNum(a[1], &n1)) {
    HWND top = FindTop(a[0]);
    HWND ctl = top ? GetDlgItem(top, static_cast<int>(n1)) : nullptr;
    const std::wstring text = FromHexUtf8(a[2]);
    DWORD_PTR r = 0;
    rc = ctl && SendMessageTimeoutW(ctl, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()),
                                    SMTO_ABORTIFHUNG, kSendTimeoutMs, &r)
             ? 0
             : 1;
  } else {
    rc = Usage();
  }
  if (g_out) std::fclose(g_out);
  return rc;
}
