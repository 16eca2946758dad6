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

// Read afresh each time, so a password changed in the setup window counts
// at once. A file the service cannot read keeps it guarding.
GuardSettings CurrentSettings() {
  std::string bytes;
  const SettingsRead read = ReadSettingsFile(bytes);
  GuardSettings g = GuardSettingsOf(read, bytes);
  SecureZeroMemory(bytes.data(), bytes.size());
  return g;
}

bool Configured() { return CurrentSettings().configured; }

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
    case GuardRequest::Start:
      return L"请求锁屏";
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
  HANDLE OwnLock(DWORD pid) const;
  void EndLock(HANDLE lock);

  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
  SERVICE_STATUS status_ = {};
  HANDLE stop_ = nullptr;
  HANDLE session_changed_ = nullptr;
  CRITICAL_SECTION notes_lock_;
  std::deque<SessionNote> notes_;
  Guardian guardian_;
  GuardPipe pipe_;
  ConsoleUser console_;
  // The locks this service started itself, as long as they run. Only these
  // count as a lock that is up, and only their claims are heard: a copy of
  // the program at the same path, suspended or not, is no lock of ours.
  std::vector<HANDLE> own_;
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
    if (!pipe_.Admit(console_.sid)) LogGuardEvent(EVENTLOG_ERROR_TYPE, L"无法建立与锁屏通信的管道（名称已被占用？）");
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

bool GuardService::LockRunning() {
  for (auto it = own_.begin(); it != own_.end();) {
    if (Alive(*it)) {
      ++it;
    } else {
      CloseHandle(*it);
      it = own_.erase(it);
    }
  }
  return !own_.empty();
}

HANDLE GuardService::OwnLock(DWORD pid) const {
  for (HANDLE h : own_) {
    if (Alive(h) && GetProcessId(h) == pid) return h;
  }
  return nullptr;
}

void GuardService::EndLock(HANDLE lock) {
  TerminateProcess(lock, 1);
  WaitForSingleObject(lock, 2000);
  LockRunning();
}

void GuardService::Apply(const GuardActions& a) {
  if (a.block_task_manager) BlockTaskManager(console_.sid);
  if (a.free_task_manager) FreeTaskManagers();
  if (a.start_lock) {
    RefreshConsole();
    HANDLE started = StartLockInConsole();
    if (started) {
      own_.push_back(started);
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
  const GuardSettings settings = CurrentSettings();
  if (m.request == GuardRequest::Start) {
    // Anyone may ask for a lock: it can only close the screen.
    Apply(guardian_.LockAnnounced(settings.configured));
    return guardian_.state() == GuardState::Guarding;
  }
  const HANDLE lock = OwnLock(pid);
  if (!lock) {
    // Another program's word, right or wrong, is never checked or counted
    // and changes nothing.
    if (m.request != GuardRequest::LockUp) {
      LogGuardEvent(EVENTLOG_WARNING_TYPE, std::wstring(RequestName(m.request)) + L"：并非守护服务启动的锁屏，已拒绝（进程 " +
                                               std::to_wstring(pid) + L"）");
    }
    return false;
  }
  if (m.request == GuardRequest::LockUp) {
    Apply(guardian_.LockAnnounced(settings.configured));
    return guardian_.state() == GuardState::Guarding;
  }
  QuietDriveErrors quiet;
  SystemDriveProbe probe;
  SystemKeyFiles keys;
  const bool verified = settings.checker.Verify(m, probe, keys);
  LogGuardEvent(verified ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_WARNING_TYPE,
                std::wstring(RequestName(m.request)) + (verified ? L"：已核实，守护暂停" : L"：核实失败，锁屏重新启动") +
                    L"（进程 " + std::to_wstring(pid) + L"）");
  const GuardActions a = guardian_.ClaimChecked(verified, settings.configured);
  // A lock whose way out did not hold may live on unlocked (relock in the
  // tray, the setup window): it goes, and the next tick starts a new one.
  if (a.end_lock) EndLock(lock);
  Apply(a);
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
  console_ = CurrentConsoleUser();
  if (!pipe_.Open(console_.sid)) LogGuardEvent(EVENTLOG_ERROR_TYPE, L"无法建立与锁屏通信的管道（名称已被占用？）");
  Report(SERVICE_RUNNING);
  LogGuardEvent(EVENTLOG_INFORMATION_TYPE, L"守护服务已启动");
  Apply(guardian_.ServiceStarted(Configured(), !console_.sid.empty()));
  for (;;) {
    std::vector<HANDLE> waits = {stop_, session_changed_};
    const std::vector<HANDLE> pipe_events = pipe_.events();
    waits.insert(waits.end(), pipe_events.begin(), pipe_events.end());
    // Room for the pipe's clients (GuardPipe::kMaxClients) and its listener.
    const std::size_t room = MAXIMUM_WAIT_OBJECTS - waits.size();
    for (std::size_t i = 0; i < own_.size() && i < room; ++i) waits.push_back(own_[i]);
    const DWORD w = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, kTickMs);
    if (w == WAIT_OBJECT_0) break;
    if (w == WAIT_OBJECT_0 + 1) TakeSessionNotes();
    pipe_.Serve([this](const GuardMessage& m, DWORD pid) { return Answer(m, pid); });
    // Retried each tick: the name may be held by a program that made it
    // before the service started.
    if (!pipe_.open()) pipe_.Open(console_.sid);
    const bool guarding = guardian_.state() == GuardState::Guarding;
    const bool running = guarding && LockRunning();
    // Whether a user is at the console, or the sign-in screen, is asked
    // again before each start.
    if (guarding && !running) RefreshConsole();
    Apply(guardian_.Tick(!guarding || Configured(), running, !console_.sid.empty(), GetTickCount64()));
  }
  for (HANDLE h : own_) CloseHandle(h);
  own_.clear();
  FreeTaskManagers();
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
