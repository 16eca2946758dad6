#include "platform/instance_win.h"

#include <ntsecapi.h>

#include <cstring>
#include <optional>
#include <string>

namespace tolvane {
namespace {

// Local\: one instance per session, not per machine; other users' sessions
// have locks of their own.
constexpr wchar_t kMutexName[] = L"Local\\Tolvane.SingleInstance";
constexpr wchar_t kDoorClass[] = L"TolvaneInstanceDoor";
constexpr UINT kWmKnock = WM_APP + 40;
constexpr UINT_PTR kClaimTimer = 1;
constexpr UINT kClaimIntervalMs = 1000;

// The challenge a later start sends to a door, by WM_COPYDATA: the copy
// crosses processes (and bitness) intact, and the answer comes back as the
// message's result. 32 bits of it, the size of a result on 32-bit Windows.
constexpr ULONG_PTR kChallengeTag = 0x546C5644;  // "DVlT"
struct Challenge {
  std::uint32_t asker_pid;
  DoorNonce nonce;
};

// A door that does not answer within this is taken for one that cannot
// answer: the lock window, sharing its thread, may be busy loading, but not
// for seconds.
constexpr UINT kAnswerMs = 3000;
// Windows of the door's class are cheap to make: look at a bounded number,
// and challenge only few (each may take kAnswerMs).
constexpr int kMostDoors = 256;
constexpr int kMostChallenges = 4;
// The program file is a few megabytes; the key is never made from a part.
constexpr DWORD kMostProgramBytes = 64u << 20;

HANDLE g_mutex = nullptr;
bool g_owned = false;
HWND g_verified_door = nullptr;
ComeForwardFn g_come_forward = nullptr;

std::wstring ImagePathOf(HANDLE process) {
  std::wstring path(32768, L'\0');
  DWORD n = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process, 0, path.data(), &n)) return {};
  path.resize(n);
  return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                            static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The key both sides derive from the program file they run, read once. None
// when the file cannot be read: then this process neither answers nor
// trusts any answer.
const std::optional<DoorKey>& ProgramKey() {
  static const std::optional<DoorKey> key = []() -> std::optional<DoorKey> {
    const std::wstring path = ImagePathOf(GetCurrentProcess());
    if (path.empty()) return std::nullopt;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= kMostProgramBytes;
    if (ok) {
      bytes.resize(static_cast<std::size_t>(size.QuadPart));
      DWORD got = 0;
      for (std::size_t at = 0; ok && at < bytes.size(); at += got) {
        ok = ReadFile(file, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &got, nullptr) && got > 0;
      }
    }
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return DoorKeyOf(bytes);
  }();
  return key;
}

bool TryOwnMutex() {
  if (!g_mutex) g_mutex = CreateMutexW(nullptr, FALSE, kMutexName);
  if (!g_mutex) return false;
  const DWORD w = WaitForSingleObject(g_mutex, 0);
  g_owned = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
  return g_owned;
}

LRESULT CALLBACK DoorProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kWmKnock:
      if (g_come_forward) g_come_forward();
      return 0;
    case WM_COPYDATA: {
      // Anyone may ask; the answer is bound to this process's id, so it
      // proves nothing for a door of another process.
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
      const std::optional<DoorKey>& key = ProgramKey();
      if (!data || data->dwData != kChallengeTag || data->cbData != sizeof(Challenge) || !data->lpData || !key) {
        return 0;
      }
      Challenge c;
      std::memcpy(&c, data->lpData, sizeof c);
      return static_cast<LRESULT>(DoorAnswer(*key, c.nonce, c.asker_pid, GetCurrentProcessId()));
    }
    case WM_TIMER:
      // Running without the mutex (another program took it first): take it
      // once it is let go, so that a later start finds the session held.
      if (wp == kClaimTimer && (g_owned || TryOwnMutex())) KillTimer(hwnd, kClaimTimer);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

// Whether the door belongs to a running copy of this program, and that copy
// answers for itself now.
//
// What it proves: the window's process runs the very program file this
// process runs (its image path, which the system reports and no program can
// set for another process), and code in that process answered a fresh
// challenge with the key made from that file, bound to its own process id.
// A window of the door's class in any other program fails the first check;
// a copy of this program that hangs, or an older version at the same path,
// fails the second, and the start then locks.
//
// What it does not prove: that the door's process holds the mutex (a copy of
// ours running without it, as this one will when the check fails, is as
// good: it is a lock of ours). Nor that the code that answered is ours: the
// key is no secret from anyone who can read the program file, so a program
// that can run code inside a process of our file (a copy it started itself,
// on which its creator holds every right, and into which it injects a
// thread) can answer. Such a program can do anything that process can.
bool Verified(HWND door, const std::wstring& self, int& challenges) {
  DWORD pid = 0;
  GetWindowThreadProcessId(door, &pid);
  if (!pid || pid == GetCurrentProcessId()) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return false;
  const std::wstring image = ImagePathOf(process);
  CloseHandle(process);
  if (!SamePath(image, self)) return false;

  const std::optional<DoorKey>& key = ProgramKey();
  if (!key || challenges >= kMostChallenges) return false;
  ++challenges;
  Challenge c{};
  c.asker_pid = GetCurrentProcessId();
  if (!RtlGenRandom(c.nonce.data(), static_cast<ULONG>(c.nonce.size()))) return false;
  COPYDATASTRUCT data{kChallengeTag, sizeof c, &c};
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(door, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, kAnswerMs, &answer)) {
    return false;
  }
  return static_cast<std::uint32_t>(answer) == DoorAnswer(*key, c.nonce, c.asker_pid, pid);
}

HWND FindVerifiedDoor() {
  const std::wstring self = ImagePathOf(GetCurrentProcess());
  if (self.empty()) return nullptr;
  int challenges = 0;
  HWND door = nullptr;
  for (int i = 0; i < kMostDoors; ++i) {
    door = FindWindowExW(HWND_MESSAGE, door, kDoorClass, nullptr);
    if (!door) break;
    if (Verified(door, self, challenges)) return door;
  }
  return nullptr;
}

}  // namespace

InstanceClaim ClaimSingleInstance(DWORD wait_ms) {
  // Held for the life of the process; the system releases it at the end,
  // also when the process is killed (the next owner sees it abandoned).
  g_mutex = CreateMutexW(nullptr, FALSE, kMutexName);
  if (g_mutex) {
    const DWORD w = WaitForSingleObject(g_mutex, wait_ms);
    g_owned = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
    if (g_owned) return InstanceClaim::Claimed;
  }
  // Held by another, or no mutex to be had at all (another program made an
  // object of that name that we may not open): only a copy of ours that
  // proves itself is handed the start.
  g_verified_door = FindVerifiedDoor();
  return g_verified_door ? InstanceClaim::HeldByOurs : InstanceClaim::HeldByOther;
}

void OpenInstanceDoor(ComeForwardFn come_forward) {
  g_come_forward = come_forward;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = DoorProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kDoorClass;
  RegisterClassExW(&wc);
  HWND door = CreateWindowExW(0, kDoorClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (door && !g_owned) SetTimer(door, kClaimTimer, kClaimIntervalMs, nullptr);
}

void KnockOnRunningInstance() {
  if (!g_verified_door) return;
  DWORD pid = 0;
  GetWindowThreadProcessId(g_verified_door, &pid);
  // This start came from the user, so it may hand its right to the
  // foreground on to the instance that will show its window.
  AllowSetForegroundWindow(pid);
  PostMessageW(g_verified_door, kWmKnock, 0, 0);
}

}  // namespace tolvane
