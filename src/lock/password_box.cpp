#include "lock/password_box.h"

#include <utility>

namespace tolvane {

bool PasswordOpens(const std::wstring& typed, const std::wstring& password) {
  return !typed.empty() && !password.empty() && typed == password;
}

const wchar_t* Placeholder(Box box) { return box == Box::Unlock ? kUnlockPlaceholder : kSetupPlaceholder; }

PasswordBoxes::PasswordBoxes(std::wstring password) : password_(std::move(password)) {}

void PasswordBoxes::CallUp(Box box) {
  BoxState& b = at(box);
  b.masked = false;
  b.visible = true;
  Change(box, Placeholder(box));
  at(box == Box::Unlock ? Box::Setup : Box::Unlock).visible = false;
}

BoxOutcome PasswordBoxes::KeyDown(unsigned vk) {
  if (finished_) return BoxOutcome::None;
  Box box;
  if (vk == kVkF2) {
    box = Box::Unlock;
  } else if (vk == kVkF3) {
    box = Box::Setup;
  } else {
    return BoxOutcome::None;
  }
  if (at(box).visible) {
    at(box).visible = false;
  } else {
    CallUp(box);
  }
  return BoxOutcome::None;
}

BoxOutcome PasswordBoxes::Click(Box box) {
  if (finished_) return BoxOutcome::None;
  if (at(box).text == Placeholder(box)) return Change(box, L"");
  return BoxOutcome::None;
}

BoxOutcome PasswordBoxes::Change(Box box, const std::wstring& text) {
  if (finished_) return BoxOutcome::None;
  BoxState& b = at(box);
  b.text = text;
  if (text != Placeholder(box)) b.masked = true;
  if (!PasswordOpens(text, password_)) return BoxOutcome::None;
  finished_ = true;
  return box == Box::Unlock ? BoxOutcome::Unlock : BoxOutcome::EnterSetup;
}

void PasswordBoxes::BackgroundClick() {
  if (finished_) return;
  text9_.visible = false;
}

}  // namespace tolvane
