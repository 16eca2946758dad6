// The service's end of the lock's pipe. Its security descriptor admits only
// SYSTEM and the console session's user, and grants the user no right to
// create an instance: while the service runs, no program in the session can
// set up a pipe of that name to hear what the lock says.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "lock/guard_message.h"

namespace tolvane {

class GuardPipe {
 public:
  // Decides a request from the process `client_pid`; true answers "ok".
  using Handler = std::function<bool(const GuardMessage& message, DWORD client_pid)>;

  GuardPipe() = default;
  ~GuardPipe();
  GuardPipe(const GuardPipe&) = delete;
  GuardPipe& operator=(const GuardPipe&) = delete;

  // (Re)opens the pipe for `user_sid` ("" admits SYSTEM only). False when no
  // instance could be made (another process holds the name).
  bool Open(const std::wstring& user_sid);
  const std::wstring& user() const { return user_; }
  bool open() const { return listening_ != INVALID_HANDLE_VALUE; }

  // Signalled when a client has connected.
  HANDLE connected_event() const { return connected_; }

  // Takes the connected client's request, answers it and listens again. A
  // client that sends nothing, or too much, within a second is dropped.
  void Serve(const Handler& handle);

 private:
  HANDLE NewInstance(bool first);
  void Listen();
  void Close();

  std::wstring user_;
  HANDLE listening_ = INVALID_HANDLE_VALUE;
  HANDLE connected_ = nullptr;
  OVERLAPPED connect_ = {};
};

}  // namespace tolvane
