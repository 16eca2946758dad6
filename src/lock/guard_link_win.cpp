#include "lock/guard_link_win.h"

#include <windows.h>

#include <vector>

#include "platform/guard_service_win.h"
#include "platform/pipe_io_win.h"
#include "lock/process_guard_win.h"

namespace tolvane {
namespace {

DWORD WINAPI AnnounceThread(LPVOID) {
  TellGuard({GuardRequest::LockUp, L""}, 3000);
  return 0;
}

}  // namespace

bool TellGuard(const GuardMessage& message, unsigned long timeout_ms) {
  // The password travels as typed: the service must be able to check it
  // without the readable settings file holding anything that would do in
  // its place. Only SYSTEM and this session's user can open the pipe, and
  // only the service can make an instance of it; and nothing is said to a
  // server that is not the installed service running as SYSTEM, should a
  // program have taken the name while the service was not running.
  std::wstring text = EncodeGuardMessage(message);
  HANDLE pipe = CreateFileW(kGuardPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (pipe != INVALID_HANDLE_VALUE && !PipeServerIsGuard(pipe)) {
    CloseHandle(pipe);
    pipe = INVALID_HANDLE_VALUE;
  }
  if (pipe == INVALID_HANDLE_VALUE) {
    SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
    return false;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED ov = {};
  ov.hEvent = event;
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  bool yes = false;
  if (event && FinishPipeIo(pipe, ov, WriteFile(pipe, text.data(), bytes, nullptr, &ov), timeout_ms) == bytes) {
    std::vector<wchar_t> answer(16);
    ov = {};
    ov.hEvent = event;
    ResetEvent(event);
    const long long got =
        FinishPipeIo(pipe, ov, ReadFile(pipe, answer.data(), static_cast<DWORD>(answer.size() * sizeof(wchar_t)), nullptr, &ov),
               timeout_ms);
    yes = got > 0 && std::wstring(answer.data(), static_cast<std::size_t>(got) / sizeof(wchar_t)) == kGuardYes;
  }
  SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
  if (event) CloseHandle(event);
  CloseHandle(pipe);
  return yes;
}

void AnnounceLockToGuard() {
  GuardedAttributes guarded(GuardedKind::Thread);
  HANDLE thread = CreateThread(guarded.get(), 0, AnnounceThread, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

}  // namespace tolvane
