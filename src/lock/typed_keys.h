// Only the keyboard types into the lock. A program of the user's session can
// post or send any key or character message to the lock's windows, and
// SendInput or keybd_event make keys that look like the keyboard's; only the
// lock's low-level hook tells them apart (the system marks injected keys, and
// posted or sent messages never pass a hook). So the hook notes each key it
// saw go down from the keyboard, and the lock's message loop lets a key-down
// through to the lock only against such a note, and makes the characters of
// that key itself. Every other key or character message for the lock is
// dropped. Portable, so the decisions can be checked without a desktop.
#pragma once
#include <cstdint>

namespace tolvane {

// Bits of a low-level hook event's flags: the key was injected by a program
// (LLKHF_INJECTED), or by one running at a lower integrity level
// (LLKHF_LOWER_IL_INJECTED).
inline constexpr std::uint32_t kFlagInjected = 0x10;
inline constexpr std::uint32_t kFlagLowerIlInjected = 0x02;

// The messages the decisions look at; the values are the platform's.
inline constexpr std::uint32_t kMsgChar = 0x0102;
inline constexpr std::uint32_t kMsgDeadChar = 0x0103;
inline constexpr std::uint32_t kMsgSysChar = 0x0106;
inline constexpr std::uint32_t kMsgSysDeadChar = 0x0107;
inline constexpr std::uint32_t kMsgUniChar = 0x0109;
inline constexpr std::uint32_t kMsgImeChar = 0x0286;
inline constexpr std::uint32_t kMsgImeComposition = 0x010F;
inline constexpr std::uint32_t kMsgPaste = 0x0302;
inline constexpr std::uint32_t kMsgContextMenu = 0x007B;

// What the lock's message loop does with a message from its queue that is
// addressed to the lock window or one of its boxes.
enum class QueuedInput {
  Pass,     // not keyboard input: handled as any other message
  KeyDown,  // goes through only as a key the hook saw (KeyLedger::Take)
  Drop,     // characters, pastes and menus: the lock makes its own from key-downs
};
QueuedInput ClassifyQueuedInput(std::uint32_t message);

// Key-downs that the hook saw come from the keyboard, waiting for the message
// loop to take them. A note that nobody takes (the key went to another
// window, or became a hot key) lapses after kKeyNoteLifetimeMs, so that it
// cannot vouch for a message forged long after. A forged message that takes
// the note of a real key of the same code and scan code gains nothing: the
// real one is then refused in its place.
class KeyLedger {
 public:
  static constexpr std::int64_t kKeyNoteLifetimeMs = 2000;
  static constexpr int kCapacity = 64;

  // A key-down as the hook saw it; injected keys are not noted.
  void Saw(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags, std::int64_t now);
  // Takes the oldest live note of this key; false when there is none.
  bool Take(std::uint32_t vk, std::uint32_t scan, std::int64_t now);
  void Clear() { count_ = 0; }

 private:
  struct Note {
    std::uint32_t vk = 0;
    std::uint32_t scan = 0;
    std::int64_t at = 0;
  };
  Note notes_[kCapacity];  // oldest first
  int count_ = 0;
};

}  // namespace tolvane
