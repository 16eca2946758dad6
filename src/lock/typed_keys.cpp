#include "lock/typed_keys.h"

#include "lock/key_guard.h"

namespace tolvane {

QueuedInput ClassifyQueuedInput(std::uint32_t message) {
  switch (message) {
    case kMsgKeyDown:
    case kMsgSysKeyDown:
      return QueuedInput::KeyDown;
    case kMsgChar:
    case kMsgDeadChar:
    case kMsgSysChar:
    case kMsgSysDeadChar:
    case kMsgUniChar:
    case kMsgImeChar:
    case kMsgImeComposition:
    case kMsgPaste:
    case kMsgContextMenu:
      return QueuedInput::Drop;
    default:
      return QueuedInput::Pass;
  }
}

void KeyLedger::Saw(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags, std::int64_t now) {
  if (flags & (kFlagInjected | kFlagLowerIlInjected)) return;
  if (count_ == kCapacity) {
    // Full: the oldest note goes, it is the first to lapse anyway.
    for (int i = 1; i < count_; ++i) notes_[i - 1] = notes_[i];
    --count_;
  }
  notes_[count_++] = {vk, scan & 0xFF, now};
}

bool KeyLedger::Take(std::uint32_t vk, std::uint32_t scan, std::int64_t now) {
  // Lapsed notes go first; they are the oldest.
  int lapsed = 0;
  while (lapsed < count_ && now - notes_[lapsed].at > kKeyNoteLifetimeMs) ++lapsed;
  if (lapsed > 0) {
    for (int i = lapsed; i < count_; ++i) notes_[i - lapsed] = notes_[i];
    count_ -= lapsed;
  }
  for (int i = 0; i < count_; ++i) {
    if (notes_[i].vk == vk && notes_[i].scan == (scan & 0xFF)) {
      for (int j = i + 1; j < count_; ++j) notes_[j - 1] = notes_[j];
      --count_;
      return true;
    }
  }
  return false;
}

}  // namespace tolvane
