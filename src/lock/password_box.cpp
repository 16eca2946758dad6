#include "lock/password_box.h"

#include <utility>

namespace tolvane {

bool PasswordOpens(const std::wstring& typed, const std::wstring& password) {
  return !typed.empty() && !password.empty() && typed == password;
}

const wchar_t* Placeholder(Box box) { return box == Box::Unlock ? kUnlockPlaceholder : kSetupPlaceholder; }

PasswordBoxes::PasswordBoxes(std::wstring password) : password_(std::move(password)) {}

namespace {
int Index(Box box) { return box == Box::Unlock ? 0 : 1; }
}  // namespace

void PasswordBoxes::CallUp(Box box) {
  BoxState& b = at(box);
  b.masked = false;
  b.visible = true;
  Change(box, Placeholder(box));
  Hide(box == Box::Unlock ? Box::Setup : Box::Unlock);
}

void PasswordBoxes::Hide(Box box) {
  if (!at(box).visible) return;
  at(box).visible = false;
  EndSession(box);
}

void PasswordBoxes::EndSession(Box box) {
  if (!tried_[Index(box)]) return;
  tried_[Index(box)] = false;
  news_.ended = true;
}

SessionNews PasswordBoxes::TakeSessionNews() {
  const SessionNews n = news_;
  news_ = {};
  return n;
}

void PasswordBoxes::SetRefused(bool refused) {
  refused_ = refused;
  if (!refused) return;
  Hide(Box::Unlock);
  Hide(Box::Setup);
}

BoxOutcome PasswordBoxes::KeyDown(unsigned vk) {
  if (finished_ || refused_) return BoxOutcome::None;
  Box box;
  if (vk == kVkF2) {
    box = Box::Unlock;
  } else if (vk == kVkF3) {
    box = Box::Setup;
  } else {
    return BoxOutcome::None;
  }
  if (at(box).visible) {
    Hide(box);
  } else {
    CallUp(box);
  }
  return BoxOutcome::None;
}

BoxOutcome PasswordBoxes::Click(Box box) {
  if (finished_ || refused_) return BoxOutcome::None;
  if (at(box).text == Placeholder(box)) return Change(box, L"");
  return BoxOutcome::None;
}

BoxOutcome PasswordBoxes::Change(Box box, const std::wstring& text) {
  if (finished_) return BoxOutcome::None;
  BoxState& b = at(box);
  b.text = text;
  if (text != Placeholder(box)) b.masked = true;
  const bool typed = !text.empty() && text != Placeholder(box);
  // An empty box never opens anything: a stored password that deciphers to
  // nothing would otherwise be opened by a click into the box.
  if (!typed || !PasswordOpens(text, password_)) {
    if (typed && !tried_[Index(box)]) {
      tried_[Index(box)] = true;
      news_.tried = true;
    }
    // Emptied: the next thing typed is a new try.
    if (text.empty()) EndSession(box);
    return BoxOutcome::None;
  }
  finished_ = true;
  return box == Box::Unlock ? BoxOutcome::Unlock : BoxOutcome::EnterSetup;
}

void PasswordBoxes::BackgroundClick() {
  if (finished_) return;
  Hide(Box::Unlock);
}

}  // namespace tolvane
