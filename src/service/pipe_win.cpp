#include "service/pipe_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include "platform/pipe_io_win.h"

namespace tolvane {
namespace {

// Read, write and set the read mode; not FILE_APPEND_DATA, which on a pipe
// is the right to create another instance of it.
constexpr DWORD kUserPipeRights = FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kBufferBytes = (kGuardMessageMaxChars + 1) * sizeof(wchar_t);

std::wstring PipeSddl(const std::wstring& user) {
  wchar_t rights[16];
  wsprintfW(rights, L"0x%lx", kUserPipeRights);
  std::wstring sddl = L"D:P(A;;GA;;;SY)";
  if (!user.empty()) sddl += std::wstring(L"(A;;") + rights + L";;;" + user + L")";
  return sddl;
}

}  // namespace

struct GuardPipe::Client {
  enum class Stage { Reading, Writing, Closing };
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  OVERLAPPED ov = {};
  Stage stage = Stage::Reading;
  ULONGLONG deadline = 0;
  DWORD pid = 0;
  std::wstring answer;
  std::vector<wchar_t> buf = std::vector<wchar_t>(kGuardMessageMaxChars + 1);
  bool pending = false;  // a read or write was started and has not been reaped
  bool stuck = false;    // dropped with its I/O not known to be over
  bool done = false;
};

namespace {

// A read or write that fails at once leaves no operation behind to cancel
// or wait for (Wine may leave the OVERLAPPED looking pending then).
bool Started(BOOL ok) { return ok || GetLastError() == ERROR_IO_PENDING; }

}  // namespace

GuardPipe::GuardPipe() = default;

GuardPipe::~GuardPipe() {
  Close();
  if (connected_) CloseHandle(connected_);
}

void GuardPipe::Close() {
  for (auto& c : clients_) {
    Drop(*c);
    if (c->stuck) stuck_.push_back(std::move(c));
  }
  clients_.clear();
  if (listening_ != INVALID_HANDLE_VALUE) {
    CancelIo(listening_);
    CloseHandle(listening_);
    listening_ = INVALID_HANDLE_VALUE;
  }
}

bool GuardPipe::NewListener(bool first) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PipeSddl(user_).c_str(), SDDL_REVISION_1, &sd, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
  // The first instance claims the name: if a program in the session made a
  // pipe of that name before the service started, the service does not
  // share it with that program.
  listening_ = CreateNamedPipeW(
      kGuardPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, PIPE_UNLIMITED_INSTANCES,
      kBufferBytes, kBufferBytes, 0, &sa);
  LocalFree(sd);
  if (listening_ == INVALID_HANDLE_VALUE) return false;
  Listen();
  return true;
}

bool GuardPipe::Open(const std::wstring& user_sid) {
  Close();
  user_ = user_sid;
  if (!connected_) connected_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!connected_) return false;
  return NewListener(true);
}

bool GuardPipe::Admit(const std::wstring& user_sid) {
  if (!open()) return Open(user_sid);
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PipeSddl(user_sid).c_str(), SDDL_REVISION_1, &sd,
                                                            nullptr)) {
    return false;
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  // The instance stays open: the name is never free for another program.
  const DWORD rc = SetSecurityInfo(listening_, SE_KERNEL_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   dacl, nullptr);
  LocalFree(sd);
  if (rc != ERROR_SUCCESS) return false;
  user_ = user_sid;
  // Marked done only: Serve may be walking the list (a request's handler
  // can bring a new user in).
  for (auto& c : clients_) Drop(*c);
  return true;
}

void GuardPipe::Listen() {
  ResetEvent(connected_);
  connect_ = {};
  connect_.hEvent = connected_;
  if (ConnectNamedPipe(listening_, &connect_)) {
    SetEvent(connected_);
    return;
  }
  const DWORD err = GetLastError();
  if (err == ERROR_PIPE_CONNECTED) SetEvent(connected_);
  // ERROR_IO_PENDING: the event comes with the client.
}

std::vector<HANDLE> GuardPipe::events() const {
  std::vector<HANDLE> e;
  if (open()) e.push_back(connected_);
  for (const auto& c : clients_) {
    if (!c->done) e.push_back(c->event);
  }
  return e;
}

void GuardPipe::Accept() {
  DWORD ignored = 0;
  if (!HasOverlappedIoCompleted(&connect_)) return;
  auto c = std::make_unique<Client>();
  c->pipe = listening_;
  const bool connected = GetOverlappedResult(listening_, &connect_, &ignored, FALSE) ||
                         GetLastError() == ERROR_PIPE_CONNECTED;
  // The next instance is up before this one is served, so the name never
  // lapses.
  listening_ = INVALID_HANDLE_VALUE;
  ResetEvent(connected_);
  if (!NewListener(false)) {
    // No new instance: this one goes back to listening once its client has
    // been served (or dropped) - see Drop.
  }
  c->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!connected || !c->event || !GetNamedPipeClientProcessId(c->pipe, &c->pid)) {
    Drop(*c);
    return;
  }
  c->deadline = GetTickCount64() + kClientMs;
  c->ov.hEvent = c->event;
  c->pending = Started(ReadFile(c->pipe, c->buf.data(), kBufferBytes, nullptr, &c->ov));
  if (!c->pending) {
    Drop(*c);
    return;
  }
  if (clients_.size() >= kMaxClients) {
    Drop(*clients_.front());
    clients_.erase(clients_.begin());
  }
  clients_.push_back(std::move(c));
}

void GuardPipe::Drop(Client& c) {
  if (c.done) return;
  c.done = true;
  if (c.pipe != INVALID_HANDLE_VALUE) {
    if (c.pending && !HasOverlappedIoCompleted(&c.ov)) {
      CancelIoEx(c.pipe, &c.ov);
      // Bounded: the service never stalls on one client. Should the cancel
      // not have come through, the client's buffer and OVERLAPPED are kept
      // (see Serve), since the I/O may still write to them.
      c.stuck = WaitForSingleObject(c.event, 1000) != WAIT_OBJECT_0 && !HasOverlappedIoCompleted(&c.ov);
    }
    DisconnectNamedPipe(c.pipe);
    if (listening_ == INVALID_HANDLE_VALUE) {
      // The only instance left: it listens again rather than go.
      listening_ = c.pipe;
      Listen();
    } else {
      CloseHandle(c.pipe);
    }
    c.pipe = INVALID_HANDLE_VALUE;
  }
  SecureZeroMemory(c.buf.data(), c.buf.size() * sizeof(wchar_t));
  if (c.event && !c.stuck) {
    CloseHandle(c.event);
    c.event = nullptr;
  }
}

void GuardPipe::Step(Client& c, const Handler& handle) {
  const bool finished = HasOverlappedIoCompleted(&c.ov);
  if (!finished) {
    if (GetTickCount64() >= c.deadline) Drop(c);
    return;
  }
  DWORD moved = 0;
  const bool ok = GetOverlappedResult(c.pipe, &c.ov, &moved, FALSE);
  c.pending = false;
  switch (c.stage) {
    case Client::Stage::Reading: {
      if (!ok || moved == 0 || moved % sizeof(wchar_t) != 0) {
        Drop(c);
        return;
      }
      const auto message = ParseGuardMessage(std::wstring_view(c.buf.data(), moved / sizeof(wchar_t)));
      SecureZeroMemory(c.buf.data(), c.buf.size() * sizeof(wchar_t));
      const bool yes = message && handle(*message, c.pid);
      if (c.done) return;
      c.answer = yes ? kGuardYes : kGuardNo;
      c.stage = Client::Stage::Writing;
      c.ov = {};
      c.ov.hEvent = c.event;
      ResetEvent(c.event);
      c.deadline = GetTickCount64() + kClientMs;
      c.pending = Started(
          WriteFile(c.pipe, c.answer.data(), static_cast<DWORD>(c.answer.size() * sizeof(wchar_t)), nullptr, &c.ov));
      if (!c.pending) Drop(c);
      return;
    }
    case Client::Stage::Writing:
      if (!ok) {
        Drop(c);
        return;
      }
      // Disconnecting throws away what the client has not read yet: wait
      // (briefly) for the client to close its end first.
      c.stage = Client::Stage::Closing;
      c.ov = {};
      c.ov.hEvent = c.event;
      ResetEvent(c.event);
      c.deadline = GetTickCount64() + kClientMs;
      c.pending = Started(ReadFile(c.pipe, c.buf.data(), kBufferBytes, nullptr, &c.ov));
      if (!c.pending) Drop(c);
      return;
    case Client::Stage::Closing:
      Drop(c);
      return;
  }
}

void GuardPipe::Serve(const Handler& handle) {
  if (open() && WaitForSingleObject(connected_, 0) == WAIT_OBJECT_0) Accept();
  // By index: a handler's start of a lock can take the console's user, and
  // with it these clients, away meanwhile.
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    if (!clients_[i]->done) Step(*clients_[i], handle);
  }
  for (auto& c : clients_) {
    if (c->done && c->stuck) stuck_.push_back(std::move(c));
  }
  clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [](const auto& c) { return !c || c->done; }),
                 clients_.end());
}

}  // namespace tolvane
