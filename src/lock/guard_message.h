// What the lock and the guardian service say to each other on the service's
// named pipe. The lock announces every lock that goes up and, before it ends
// or hides, the way out it took; the service believes a way out only once it
// has checked it itself. One request a connection, one answer.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

inline constexpr wchar_t kGuardPipeName[] = L"\\\\.\\pipe\\TolvaneGuard";

// A request is at most this many UTF-16 units; a longer one is refused unread.
inline constexpr std::size_t kGuardMessageMaxChars = 512;

enum class GuardRequest {
  LockUp,          // a lock has gone up
  KeyDrive,        // the key drive opened it; value: the drive ("E:")
  UnlockPassword,  // the unlock box opened it; value: what was typed
  SetupPassword,   // the setup box opened it; value: what was typed
  Start,           // a lock is wanted (a start of the installed program)
};

struct GuardMessage {
  GuardRequest request = GuardRequest::LockUp;
  std::wstring value;
};

// "lock", "key\tE:", "unlock\t<typed>", "setup\t<typed>", "start".
std::wstring EncodeGuardMessage(const GuardMessage& message);
// Nothing for anything that is not exactly one of those forms.
std::optional<GuardMessage> ParseGuardMessage(std::wstring_view text);

// The service's answers: the claim was proven, or not (also for LockUp:
// "ok" means the service now guards this lock; for Start: "ok" means the
// service has a lock up or starts one).
inline constexpr wchar_t kGuardYes[] = L"ok";
inline constexpr wchar_t kGuardNo[] = L"no";

}  // namespace tolvane
