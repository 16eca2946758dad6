#include "service/service_win.h"

#include <wtsapi32.h>

#include <deque>
#include <vector>
#include <utility>

#include "config/settings.h"
#include "drives/drives_win.h"
#include "service/claims.h"
#include "service/console_win.h"
#include "service/guardian.h"
#include "service/pipe_win.h"

namespace tolvane {
namespace {

constexpr DWORD kTickMs = 250;

// The claim checks read the stored secrets afresh each time, so a password
// changed in the setup window counts at once.
ClaimChecker CurrentChecker() { return ClaimChecker(SecretsOfNameValue(ReadOption(kSettingsSection, L"name"))); }

bool Configured() { return CurrentChecker().configured(); }

const wchar_t* RequestName(GuardRequest r) {
  switch (r) {
    case GuardRequest::LockUp:
      return L"锁屏已显示";
    case GuardRequest::KeyDrive:
      return L"U盘解锁";
    case GuardRequest::UnlockPassword:
      return L"密码解锁";
    case GuardRequest::SetupPassword:
      return L"密码进入设置";
  }
  return L"";
}

struct SessionNote {
  SessionEvent event;
  DWORD session;
};

class GuardService {
 public:
  int Run(SERVICE_STATUS_HANDLE status);
  DWORD Control(DWORD control, DWORD event_type, void* data);

 private:
  void Report(DWORD state, DWORD exit_code = NO_ERROR);
  void Apply(const GuardActions& a);
  bool Answer(const GuardMessage& m, DWORD pid);
  void TakeSessionNotes();
  void RefreshConsole();
  bool LockRunning();
  void Unwatch();

  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
  SERVICE_STATUS status_ = {};
  HANDLE stop_ = nullptr;
  HANDLE session_changed_ = nullptr;
  CRITICAL_SECTION notes_lock_;
  std::deque<SessionNote> notes_;
  Guardian guardian_;
  GuardPipe pipe_;
  ConsoleUser console_;
  HANDLE child_ = nullptr;  // the lock this service started last
  std::vector<HANDLE> watched_;  // the lock's processes, while guarding
  int unseen_ = 0;               // lock processes the service could not open
};

GuardService g_service;

void GuardService::Report(DWORD state, DWORD exit_code) {
  status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status_.dwCurrentState = state;
  status_.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE : 0;
  status_.dwWin32ExitCode = exit_code;
  status_.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
  SetServiceStatus(status_handle_, &status_);
}

DWORD GuardService::Control(DWORD control, DWORD event_type, void* data) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      SetEvent(stop_);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE: {
      SessionEvent e = SessionEvent::Other;
      switch (event_type) {
        case WTS_SESSION_LOGON:
          e = SessionEvent::Logon;
          break;
        case WTS_CONSOLE_CONNECT:
          e = SessionEvent::ConsoleConnect;
          break;
        case WTS_SESSION_UNLOCK:
          e = SessionEvent::Unlock;
          break;
        case WTS_SESSION_LOGOFF:
          e = SessionEvent::Logoff;
          break;
        default:
          return NO_ERROR;
      }
      const auto* n = static_cast<const WTSSESSION_NOTIFICATION*>(data);
      EnterCriticalSection(&notes_lock_);
      notes_.push_back({e, n ? n->dwSessionId : 0xFFFFFFFF});
      LeaveCriticalSection(&notes_lock_);
      SetEvent(session_changed_);
      return NO_ERROR;
    }
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void GuardService::RefreshConsole() {
  console_ = CurrentConsoleUser();
  if (!pipe_.open() || pipe_.user() != console_.sid) {
    if (!pipe_.Open(console_.sid)) LogGuardEvent(EVENTLOG_ERROR_TYPE, L"无法建立与锁屏通信的管道（名称已被占用？）");
  }
}

void GuardService::TakeSessionNotes() {
  std::deque<SessionNote> notes;
  EnterCriticalSection(&notes_lock_);
  notes.swap(notes_);
  LeaveCriticalSection(&notes_lock_);
  for (const SessionNote& n : notes) {
    const DWORD before = console_.session;
    RefreshConsole();
    // Only the session at the console is guarded.
    if (n.event != SessionEvent::Logoff && n.session != console_.session) continue;
    Apply(guardian_.SessionChanged(n.event, Configured(), before == console_.session));
  }
}

bool Alive(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

void GuardService::Unwatch() {
  for (HANDLE h : watched_) CloseHandle(h);
  watched_.clear();
  unseen_ = 0;
}

bool GuardService::LockRunning() {
  // The processes found last time are waited on, so an ended lock is seen
  // at once; they are looked for afresh only once one of them has ended.
  bool all_alive = !watched_.empty();
  for (HANDLE h : watched_) all_alive = all_alive && Alive(h);
  if (!all_alive) {
    Unwatch();
    watched_ = LockProcessesIn(console_.session, unseen_);
    // Room in the wait for the stop, session, pipe and child handles.
    while (watched_.size() > MAXIMUM_WAIT_OBJECTS - 4) {
      CloseHandle(watched_.back());
      watched_.pop_back();
    }
  }
  return Alive(child_) || !watched_.empty() || unseen_ > 0;
}

void GuardService::Apply(const GuardActions& a) {
  if (a.block_task_manager) BlockTaskManager(console_.sid);
  if (a.free_task_manager) FreeTaskManagers();
  if (a.start_lock) {
    RefreshConsole();
    HANDLE started = StartLockInConsole();
    if (started) {
      if (child_) CloseHandle(child_);
      child_ = started;
      LogGuardEvent(EVENTLOG_INFORMATION_TYPE, L"锁屏已由守护服务启动");
    }
    const GuardActions after = guardian_.StartResult(started != nullptr);
    if (after.report_failure) {
      LogGuardEvent(EVENTLOG_ERROR_TYPE, L"无法在控制台会话中启动锁屏（错误 " + std::to_wstring(GetLastError()) +
                                             L"），会话已断开，每秒重试");
    }
    if (after.disconnect) DisconnectConsole(console_.session);
  }
}

bool GuardService::Answer(const GuardMessage& m, DWORD pid) {
  if (m.request == GuardRequest::LockUp) {
    // Only the lock program itself makes the service guard: an announcement
    // from any other program would otherwise stand for a lock.
    if (!IsLockProcess(pid)) return false;
    Apply(guardian_.LockAnnounced(Configured()));
    return guardian_.state() == GuardState::Guarding;
  }
  QuietDriveErrors quiet;
  SystemDriveProbe probe;
  SystemKeyFiles keys;
  const bool verified = CurrentChecker().Verify(m, probe, keys);
  LogGuardEvent(verified ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_WARNING_TYPE,
                std::wstring(RequestName(m.request)) + (verified ? L"：已核实，守护暂停" : L"：核实失败，锁屏保持") +
                    L"（进程 " + std::to_wstring(pid) + L"）");
  Apply(guardian_.ClaimChecked(verified));
  return verified;
}

int GuardService::Run(SERVICE_STATUS_HANDLE status) {
  status_handle_ = status;
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  session_changed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  InitializeCriticalSection(&notes_lock_);
  Report(SERVICE_START_PENDING);
  // Values left by a service that died while a lock was up.
  FreeTaskManagers();
  RefreshConsole();
  Report(SERVICE_RUNNING);
  LogGuardEvent(EVENTLOG_INFORMATION_TYPE, L"守护服务已启动");
  Apply(guardian_.ServiceStarted(Configured(), !console_.sid.empty()));
  for (;;) {
    std::vector<HANDLE> waits = {stop_, session_changed_};
    if (pipe_.open()) waits.push_back(pipe_.connected_event());
    if (child_) waits.push_back(child_);
    if (guardian_.state() == GuardState::Guarding) waits.insert(waits.end(), watched_.begin(), watched_.end());
    const DWORD w = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, kTickMs);
    if (w == WAIT_OBJECT_0) break;
    if (w == WAIT_OBJECT_0 + 1) TakeSessionNotes();
    if (pipe_.open() && WaitForSingleObject(pipe_.connected_event(), 0) == WAIT_OBJECT_0) {
      pipe_.Serve([this](const GuardMessage& m, DWORD pid) { return Answer(m, pid); });
    }
    if (!pipe_.open()) RefreshConsole();
    if (child_ && WaitForSingleObject(child_, 0) == WAIT_OBJECT_0) {
      CloseHandle(child_);
      child_ = nullptr;
    }
    const bool guarding = guardian_.state() == GuardState::Guarding;
    Apply(guardian_.Tick(!guarding || Configured(), guarding && LockRunning(), GetTickCount64()));
    if (guardian_.state() != GuardState::Guarding) Unwatch();
  }
  Unwatch();
  FreeTaskManagers();
  if (child_) CloseHandle(child_);
  LogGuardEvent(EVENTLOG_INFORMATION_TYPE, L"守护服务已停止");
  Report(SERVICE_STOPPED);
  return 0;
}

DWORD WINAPI ControlHandler(DWORD control, DWORD event_type, LPVOID data, LPVOID) {
  return g_service.Control(control, event_type, data);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  SERVICE_STATUS_HANDLE status = RegisterServiceCtrlHandlerExW(kServiceName, ControlHandler, nullptr);
  if (!status) return;
  g_service.Run(status);
}

}  // namespace

void LogGuardEvent(WORD type, const std::wstring& text) {
  HANDLE source = RegisterEventSourceW(nullptr, kEventSource);
  if (!source) return;
  const wchar_t* strings[] = {text.c_str()};
  ReportEventW(source, type, 0, 0, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
}

int RunGuardService() {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}

}  // namespace tolvane
