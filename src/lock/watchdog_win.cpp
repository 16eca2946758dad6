#include "lock/watchdog_win.h"

#include <algorithm>
#include <string>

#include "lock/process_guard_win.h"
#include "platform/window_win.h"

namespace tolvane {
namespace {

// The watchdog beats at least this often. A lock that ends wakes it at once
// through its process handle; between beats it sleeps, so that a waiting
// lock costs the machine next to nothing.
constexpr DWORD kBeatMs = 1'000;
// A lock takes a while to come up (a restarted one first waits for the
// killed one's hold on the session to lapse); once it beats, it beats on
// every 500 ms tick, so nine seconds of silence is a suspended or hung lock.
// The watchdog sees a beat up to one of its own beats late, so a hung lock
// is ended within ten seconds of its last beat.
constexpr std::uint64_t kLockFirstBeatMs = 30'000;
constexpr std::uint64_t kLockBeatGapMs = 9'000;
// The watchdog's own loop does nothing else: five seconds is generous.
constexpr std::uint64_t kWatchdogFirstBeatMs = 15'000;
constexpr std::uint64_t kWatchdogBeatGapMs = 5'000;
// A starter that has not handed over its process by then is given up.
constexpr DWORD kStarterMs = 10'000;
// Every thread guards itself as it starts (GuardThreadsAtBirth), and the
// program's own carry the guard from their creation (GuardedThread); the
// sweep is the backstop for a thread started without the loader's notice. A
// snapshot lists every thread of the system (under Wine a server query that
// cost more than all else a waiting lock does), so it runs once a minute.
constexpr std::uint64_t kLockSweepMs = 60'000;
constexpr std::uint64_t kWatchdogSweepMs = 60'000;
// What each side may do with the other's process: wait on it, and end it
// when it stops answering.
constexpr DWORD kPartnerRights = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE;

// The lock's side.
HANDLE g_unlocked = nullptr;   // inheritable manual-reset event, unsignalled while a lock is up
HANDLE g_beats_map = nullptr;  // inheritable section holding the Heartbeats
Heartbeats* g_beats = nullptr;
HANDLE g_watchdog = nullptr;   // the watchdog's process
HANDLE g_starter = nullptr;    // a starter still bringing a watchdog up
std::uint64_t g_starter_since = 0;
std::uint64_t g_last_sweep = 0;
BeatWatch g_watchdog_beat(kWatchdogFirstBeatMs, kWatchdogBeatGapMs);

HANDLE AsHandle(std::uint64_t v) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(v)); }
std::uint64_t AsNumber(HANDLE h) { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(h)); }

bool Alive(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

void Beat(volatile std::uint32_t& counter) {
  InterlockedIncrement(reinterpret_cast<volatile LONG*>(&counter));
}

Heartbeats* MapBeats(HANDLE section) {
  return static_cast<Heartbeats*>(MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Heartbeats)));
}

// Starts this program with `arguments`, passing on the inheritable handles.
bool StartSelf(const std::wstring& arguments, DWORD flags, PROCESS_INFORMATION& pi) {
  const std::wstring exe = ProgramPath();
  if (exe.empty()) return false;
  std::wstring cmd = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  // No busy cursor for a process that never shows a window.
  si.dwFlags = STARTF_FORCEOFFFEEDBACK;
  const std::wstring folder = ProgramFolder();
  // Guarded as they are made: the suspended process and its first thread
  // show in a snapshot before the caller's GuardProcess reaches them.
  GuardedAttributes process(GuardedKind::Process), thread(GuardedKind::Thread);
  return CreateProcessW(exe.c_str(), cmd.data(), process.get(), thread.get(), TRUE, flags, nullptr, folder.c_str(), &si,
                        &pi) != FALSE;
}

// An inheritable handle to this process, with `rights`. Duplicated from the
// pseudo handle, which carries every right whatever the descriptor says.
HANDLE InheritableSelf(DWORD rights) {
  HANDLE self = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, rights, TRUE, 0)) {
    return nullptr;
  }
  return self;
}

// Starts `arguments` through a starter (RunApart), so that the new process
// is no child of this one: Task Manager's "end process tree" on this
// process leaves it. Returns the starter's process; its exit code will be
// the new process's handle here.
HANDLE BeginApart(const std::wstring& arguments) {
  HANDLE caller = InheritableSelf(PROCESS_DUP_HANDLE);
  if (!caller) return nullptr;
  PROCESS_INFORMATION pi = {};
  const bool started = StartSelf(ApartArguments(AsNumber(caller), arguments), CREATE_SUSPENDED, pi);
  CloseHandle(caller);
  if (!started) return nullptr;
  // Guarded before it runs: it holds the right to put handles into this process.
  GuardProcess(pi.hProcess);
  GuardThread(pi.hThread);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

enum class Handover { Running, Failed, Done };

Handover CollectApart(HANDLE starter, DWORD wait_ms, HANDLE& started) {
  if (WaitForSingleObject(starter, wait_ms) == WAIT_TIMEOUT) return Handover::Running;
  DWORD code = 0;
  if (!GetExitCodeProcess(starter, &code)) return Handover::Failed;
  // Handle values are multiples of four; anything else (an exit code from a
  // crash or a kill) is no handover, even where the system would accept it.
  HANDLE h = AsHandle(code);
  if (code == 0 || (code & 3) != 0 || GetProcessId(h) == 0 || GetProcessId(h) == GetCurrentProcessId()) {
    return Handover::Failed;
  }
  started = h;
  return Handover::Done;
}

// The watchdog's start of a lock, waiting for the starter to hand it over.
HANDLE StartRestartedLock(std::uint64_t unlocked_event, std::uint64_t beats) {
  HANDLE self = InheritableSelf(kPartnerRights);
  if (!self) return nullptr;
  HANDLE starter = BeginApart(RestartArguments(unlocked_event, AsNumber(self), beats));
  CloseHandle(self);
  if (!starter) return nullptr;
  HANDLE lock = nullptr;
  if (CollectApart(starter, kStarterMs, lock) == Handover::Running) TerminateProcess(starter, 1);
  CloseHandle(starter);
  return lock;
}

// Waits `ms`, beating meanwhile.
void PauseBeating(std::uint64_t ms, Heartbeats* beats) {
  const std::uint64_t until = GetTickCount64() + ms;
  for (std::uint64_t now = GetTickCount64(); now < until; now = GetTickCount64()) {
    Beat(beats->watchdog);
    Sleep(static_cast<DWORD>(until - now < kBeatMs ? until - now : kBeatMs));
  }
}

bool EnsureShared() {
  if (g_unlocked && WaitForSingleObject(g_unlocked, 0) != WAIT_TIMEOUT) {
    // Signalled while a lock stands (a restarted copy that lost the
    // session's claim stood down on it): a watchdog given it would end at
    // once, so the next one gets a fresh signal.
    CloseHandle(g_unlocked);
    g_unlocked = nullptr;
  }
  if (!g_unlocked) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    g_unlocked = CreateEventW(&sa, TRUE, FALSE, nullptr);
    if (!g_unlocked) return false;
  }
  if (!g_beats) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    if (!g_beats_map) {
      g_beats_map = CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, sizeof(Heartbeats), nullptr);
    }
    if (!g_beats_map) return false;
    g_beats = MapBeats(g_beats_map);
    if (!g_beats) return false;
  }
  return true;
}

}  // namespace

void AdoptWatchdog(std::uint64_t unlocked_event, std::uint64_t watchdog_process, std::uint64_t beats) {
  HANDLE event = AsHandle(unlocked_event);
  HANDLE watchdog = AsHandle(watchdog_process);
  HANDLE section = AsHandle(beats);
  DWORD info = 0;
  // Values from a command line: use them only if they are what they claim.
  if (!GetHandleInformation(event, &info) || !GetHandleInformation(watchdog, &info) ||
      !GetHandleInformation(section, &info)) {
    return;
  }
  if (WaitForSingleObject(event, 0) != WAIT_TIMEOUT || !Alive(watchdog) || GetProcessId(watchdog) == 0) return;
  Heartbeats* view = MapBeats(section);
  if (!view) return;
  g_unlocked = event;
  g_watchdog = watchdog;
  g_beats_map = section;
  g_beats = view;
  g_watchdog_beat.Restart(g_beats->watchdog, GetTickCount64());
}

bool ArmWatchdog() {
  if (!EnsureShared()) return false;
  Beat(g_beats->lock);
  const std::uint64_t now = GetTickCount64();
  if (g_last_sweep == 0 || now - g_last_sweep >= kLockSweepMs) {
    GuardThisProcess();
    g_last_sweep = now;
  }
  if (g_starter) {
    HANDLE started = nullptr;
    switch (CollectApart(g_starter, 0, started)) {
      case Handover::Running:
        if (now - g_starter_since < kStarterMs) return true;
        TerminateProcess(g_starter, 1);
        break;
      case Handover::Done:
        if (g_watchdog) CloseHandle(g_watchdog);
        g_watchdog = started;
        g_watchdog_beat.Restart(g_beats->watchdog, now);
        break;
      case Handover::Failed:
        break;
    }
    CloseHandle(g_starter);
    g_starter = nullptr;
  }
  if (Alive(g_watchdog)) {
    if (!g_watchdog_beat.Stalled(g_beats->watchdog, now)) return true;
    // Suspended or hung, it would restart nothing: end it and start another
    // (a stand-in that is this very process is only let go).
    if (GetProcessId(g_watchdog) != GetCurrentProcessId()) TerminateProcess(g_watchdog, 1);
  }
  if (g_watchdog) {
    CloseHandle(g_watchdog);
    g_watchdog = nullptr;
  }
  HANDLE self = InheritableSelf(kPartnerRights);
  if (!self) return false;
  g_starter = BeginApart(WatchdogArguments(AsNumber(self), AsNumber(g_unlocked), AsNumber(g_beats_map)));
  // The watchdog holds its own copy from here on.
  CloseHandle(self);
  g_starter_since = now;
  return g_starter != nullptr;
}

void DisarmWatchdog() {
  if (g_unlocked) {
    // The signal comes before this process ends, so the watchdog, woken by
    // either, always finds it; a watchdog a starter is still bringing up
    // finds it at once and ends.
    SetEvent(g_unlocked);
    CloseHandle(g_unlocked);
    g_unlocked = nullptr;
  }
  for (HANDLE* h : {&g_watchdog, &g_starter}) {
    if (*h) {
      CloseHandle(*h);
      *h = nullptr;
    }
  }
  if (g_beats) {
    UnmapViewOfFile(g_beats);
    g_beats = nullptr;
  }
  if (g_beats_map) {
    CloseHandle(g_beats_map);
    g_beats_map = nullptr;
  }
}

bool WatchdogArmed() { return g_unlocked != nullptr && (Alive(g_watchdog) || g_starter != nullptr); }

int RunWatchdog(std::uint64_t lock_process, std::uint64_t unlocked_event, std::uint64_t beats) {
  HANDLE lock = AsHandle(lock_process);
  HANDLE unlocked = AsHandle(unlocked_event);
  GuardThisProcess();
  Heartbeats* hb = MapBeats(AsHandle(beats));
  if (!hb) return 1;  // nothing real to watch
  RestartPolicy policy;
  BeatWatch lock_beat(kLockFirstBeatMs, kLockBeatGapMs);
  std::uint64_t now = GetTickCount64();
  std::uint64_t last_sweep = now;
  lock_beat.Restart(hb->lock, now);
  for (;;) {
    Beat(hb->watchdog);
    const HANDLE both[2] = {unlocked, lock};
    // Awake on the very moment the lock's silence would count, not a beat later.
    const DWORD wait = static_cast<DWORD>(std::min<std::uint64_t>(kBeatMs, lock_beat.DueIn(now)));
    const DWORD woke = WaitForMultipleObjects(2, both, FALSE, wait);
    if (woke == WAIT_FAILED) return 1;
    now = GetTickCount64();
    if (woke == WAIT_TIMEOUT) {
      if (now - last_sweep >= kWatchdogSweepMs) {
        GuardThisProcess();
        last_sweep = now;
      }
      if (!lock_beat.Stalled(hb->lock, now)) continue;
      // A lock that stopped answering guards nothing: it is ended, and
      // counts as killed.
      TerminateProcess(lock, 1);
      WaitForSingleObject(lock, 5000);
    }
    const bool signalled = WaitForSingleObject(unlocked, 0) == WAIT_OBJECT_0;
    // During a log-off or shutdown the system ends the lock itself; starting
    // it again then would only delay the session's end.
    const bool ending = GetSystemMetrics(SM_SHUTTINGDOWN) != 0;
    CloseHandle(lock);
    lock = nullptr;
    while (!lock) {
      const WatchdogStep step = DecideWatchdogStep(signalled, ending, policy, now);
      if (!step.restart) return 0;
      // The session is locked at once, also while the restart waits.
      LockWorkStation();
      PauseBeating(step.delay_ms, hb);
      // The restarted lock reaches this process through its own handle, so
      // it starts no second watchdog, and signals "unlocked" on the same event.
      // A start that fails counts as a restart: the next try waits longer.
      lock = StartRestartedLock(unlocked_event, beats);
      now = GetTickCount64();
    }
    lock_beat.Restart(hb->lock, now);
  }
}

int RunApart(const Launch& launch) {
  HANDLE caller = AsHandle(launch.caller);
  DWORD info = 0;
  if (launch.mode != LaunchMode::Apart || !GetHandleInformation(caller, &info)) return 0;
  // The right to put handles into the caller stays with this process.
  SetHandleInformation(caller, HANDLE_FLAG_INHERIT, 0);
  PROCESS_INFORMATION pi = {};
  if (!StartSelf(InnerArguments(launch), CREATE_SUSPENDED, pi)) return 0;
  GuardProcess(pi.hProcess);
  GuardThread(pi.hThread);
  HANDLE there = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), pi.hProcess, caller, &there, 0, FALSE, DUPLICATE_SAME_ACCESS) ||
      (AsNumber(there) & 3) != 0 || AsNumber(there) > 0x7FFFFFFF) {
    there = nullptr;
  }
  // Runs even when it could not be handed over: the caller has ended then,
  // and a watchdog is what brings a dead lock back (a lock, what replaces a
  // dead watchdog).
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(AsNumber(there));
}

}  // namespace tolvane
