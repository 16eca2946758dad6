#include "service/pipe_win.h"

#include <sddl.h>

#include <vector>

#include "platform/pipe_io_win.h"

namespace tolvane {
namespace {

// Read, write and set the read mode; not FILE_APPEND_DATA, which on a pipe
// is the right to create another instance of it.
constexpr DWORD kUserPipeRights = FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kBufferBytes = (kGuardMessageMaxChars + 1) * sizeof(wchar_t);
constexpr DWORD kClientMs = 1000;

}  // namespace

GuardPipe::~GuardPipe() {
  Close();
  if (connected_) CloseHandle(connected_);
}

void GuardPipe::Close() {
  if (listening_ != INVALID_HANDLE_VALUE) {
    CancelIo(listening_);
    CloseHandle(listening_);
    listening_ = INVALID_HANDLE_VALUE;
  }
}

HANDLE GuardPipe::NewInstance(bool first) {
  wchar_t rights[16];
  wsprintfW(rights, L"0x%lx", kUserPipeRights);
  std::wstring sddl = L"D:P(A;;GA;;;SY)";
  if (!user_.empty()) sddl += std::wstring(L"(A;;") + rights + L";;;" + user_ + L")";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
  // The first instance claims the name: if a program in the session made a
  // pipe of that name before the service started, the service does not
  // share it with that program.
  const HANDLE h = CreateNamedPipeW(
      kGuardPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, PIPE_UNLIMITED_INSTANCES,
      kBufferBytes, kBufferBytes, 0, &sa);
  LocalFree(sd);
  return h;
}

bool GuardPipe::Open(const std::wstring& user_sid) {
  // A new user means a new security descriptor, which a pipe takes only
  // from its first instance: the pipe goes and comes back.
  Close();
  user_ = user_sid;
  if (!connected_) connected_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!connected_) return false;
  listening_ = NewInstance(true);
  if (listening_ == INVALID_HANDLE_VALUE) return false;
  Listen();
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

void GuardPipe::Serve(const Handler& handle) {
  if (listening_ == INVALID_HANDLE_VALUE) return;
  DWORD ignored = 0;
  if (!HasOverlappedIoCompleted(&connect_)) return;
  GetOverlappedResult(listening_, &connect_, &ignored, FALSE);
  const HANDLE client = listening_;
  // The next instance is up before this one goes, so the name never lapses.
  listening_ = NewInstance(false);
  if (listening_ != INVALID_HANDLE_VALUE) Listen();

  HANDLE io_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED ov = {};
  ov.hEvent = io_event;
  std::vector<wchar_t> buf(kGuardMessageMaxChars + 1);
  const long long got = FinishPipeIo(client, ov, ReadFile(client, buf.data(), kBufferBytes, nullptr, &ov), kClientMs);
  DWORD pid = 0;
  if (got > 0 && got % sizeof(wchar_t) == 0 && GetNamedPipeClientProcessId(client, &pid)) {
    const auto message = ParseGuardMessage(std::wstring_view(buf.data(), static_cast<std::size_t>(got) / 2));
    const bool yes = message && handle(*message, pid);
    const std::wstring answer = yes ? kGuardYes : kGuardNo;
    ov = {};
    ov.hEvent = io_event;
    ResetEvent(io_event);
    const DWORD bytes = static_cast<DWORD>(answer.size() * sizeof(wchar_t));
    if (FinishPipeIo(client, ov, WriteFile(client, answer.data(), bytes, nullptr, &ov), kClientMs) == bytes) {
      // Disconnecting throws away what the client has not read yet: wait
      // (briefly) for the client to close its end first.
      ov = {};
      ov.hEvent = io_event;
      ResetEvent(io_event);
      FinishPipeIo(client, ov, ReadFile(client, buf.data(), kBufferBytes, nullptr, &ov), kClientMs);
    }
  }
  SecureZeroMemory(buf.data(), buf.size() * sizeof(wchar_t));
  CloseHandle(io_event);
  DisconnectNamedPipe(client);
  CloseHandle(client);
  if (listening_ == INVALID_HANDLE_VALUE) Open(user_);
}

}  // namespace tolvane
