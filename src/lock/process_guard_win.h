// Security descriptors that leave the user's session no way to end, suspend,
// write into or inject into the lock's and the watchdog's processes and
// threads. SYSTEM and the Administrators group keep full access, so an
// elevated administrator (the uninstaller's helper) can still end them; the
// owner is named by an OWNER RIGHTS entry, which takes away the owner's
// implicit right to rewrite the descriptor. Everyone keeps waiting on the
// processes and asking their names (Task Manager still lists them).
//
// The lock and its watchdog reach each other only through handles made
// before a descriptor applies or handed over by duplication: an access
// check happens when a handle is opened, never when it is used.
#pragma once
#include <windows.h>

#include <functional>
#include <vector>

namespace tolvane {

// Puts the guarded descriptor on a process or thread handle that carries
// WRITE_DAC (the handle CreateProcess returns does). False on failure.
bool GuardProcess(HANDLE process);
bool GuardThread(HANDLE thread);

// Guards this process and every thread it has now. Threads started later
// (by the program or by a system library) are caught by the next call, so
// the lock calls it on its tick.
void GuardThisProcess();

// The entry point's first step: guards this process and its threads, and
// makes the guarded list the token's default, so that every thread and
// object made from here on (a child process too: it gets a copy of the
// token) carries it from its creation; and switches on GuardThreadsAtBirth.
// False when either could not be set.
bool GuardFromBirth();

// While on, every thread that starts in this process, whoever starts it (a
// system library, or another program through a remote thread), guards
// itself as the system announces it to the modules, before its own code
// runs. This is what leaves the sweep (GuardThisProcess) only a backstop.
void GuardThreadsAtBirth(bool on);

// Runs `start` with the user's own default list back in the token: for a
// program of the user's (the browser) that is no part of the lock and must
// not inherit its guard.
void WithUsersDefaultDacl(const std::function<void()>& start);

// A thread of the program that carries the guarded descriptor from its
// creation (a standard thread takes no security attributes, and Wine gives a
// new thread no descriptor from the token's default). Joined or let go like
// a standard thread.
class GuardedThread {
 public:
  GuardedThread() = default;
  GuardedThread(const GuardedThread&) = delete;
  GuardedThread& operator=(const GuardedThread&) = delete;
  ~GuardedThread() { detach(); }
  // False when no thread could be started; `body` is then dropped.
  bool Start(std::function<void()> body);
  bool joinable() const { return handle_ != nullptr; }
  void join();
  void detach();

 private:
  HANDLE handle_ = nullptr;
};

// Starts `body` on a guarded thread and lets it go (the drive workers' starter).
bool StartGuardedThread(std::function<void()> body);

enum class GuardedKind { Process, Thread };

// Security attributes that give a new process or thread the guarded
// descriptor as it is created (CreateProcessW / CreateProcessAsUserW's
// process and thread attributes, CreateThread's), not inheritable. Not
// copyable: the attributes point into the object.
class GuardedAttributes {
 public:
  explicit GuardedAttributes(GuardedKind kind);
  GuardedAttributes(const GuardedAttributes&) = delete;
  GuardedAttributes& operator=(const GuardedAttributes&) = delete;
  // Null when the descriptor could not be made: the object is then created
  // with the token's default, and the sweep guards it.
  SECURITY_ATTRIBUTES* get() { return ok_ ? &sa_ : nullptr; }

 private:
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR sd_{};
  SECURITY_ATTRIBUTES sa_{};
  bool ok_ = false;
};

}  // namespace tolvane
