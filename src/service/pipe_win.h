// The service's end of the lock's pipe. Its security descriptor admits only
// SYSTEM and the console session's user, and grants the user no right to
// create an instance: while the service runs, no program in the session can
// set up a pipe of that name to hear what the lock says.
//
// One instance stays open, listening, for as long as the service runs: a
// new console user is admitted by changing the security of the open
// instances, never by closing them, so the name never lapses for another
// program to take. Each client has an instance of its own and is served
// overlapped: one that sends nothing within half a second is dropped
// without holding up the others.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lock/guard_message.h"

namespace tolvane {

class GuardPipe {
 public:
  // Decides a request from the process `client_pid`; true answers "ok".
  using Handler = std::function<bool(const GuardMessage& message, DWORD client_pid)>;

  // Clients served at once; the oldest goes when one more comes.
  static constexpr std::size_t kMaxClients = 8;
  // A client must have sent its request, or read the answer, in this time.
  static constexpr DWORD kClientMs = 500;

  GuardPipe();
  ~GuardPipe();
  GuardPipe(const GuardPipe&) = delete;
  GuardPipe& operator=(const GuardPipe&) = delete;

  // Makes the first instance, for `user_sid` ("" admits SYSTEM only). False
  // when it could not be made (another process holds the name).
  bool Open(const std::wstring& user_sid);
  // Admits `user_sid` instead of the user admitted so far, on the open
  // instances. Clients of the former user are dropped.
  bool Admit(const std::wstring& user_sid);
  const std::wstring& user() const { return user_; }
  bool open() const { return listening_ != INVALID_HANDLE_VALUE; }

  // The events to wait on: a client connecting, a client's read or write
  // finishing.
  std::vector<HANDLE> events() const;

  // Takes every request that has come in, answers it, and drops clients
  // whose time is up. Never waits on a client.
  void Serve(const Handler& handle);

 private:
  struct Client;

  bool NewListener(bool first);
  void Listen();
  void Accept();
  void Step(Client& c, const Handler& handle);
  void Drop(Client& c);
  void Close();

  std::wstring user_;
  HANDLE listening_ = INVALID_HANDLE_VALUE;
  HANDLE connected_ = nullptr;
  OVERLAPPED connect_ = {};
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<std::unique_ptr<Client>> stuck_;  // never freed: see Drop
};

}  // namespace tolvane
