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

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// `after` is `before` with one character more at its end (a character
// outside the basic plane is two code units).
bool OneCharacterAppended(std::wstring_view before, std::wstring_view after) {
  if (!after.starts_with(before)) return false;
  const std::wstring_view added = after.substr(before.size());
  return added.size() == 1 || (added.size() == 2 && IsHighSurrogate(added[0]) && IsLowSurrogate(added[1]));
}
}  // namespace

EditStep ClassifyEdit(bool guessing, std::wstring_view before, std::wstring_view after) {
  if (after == before) return {};
  // Typing on: the guess in progress goes on, or one starts.
  if (OneCharacterAppended(before, after)) return {false, !guessing};
  // What a deletion at the end leaves, the box held on the way to `before`.
  const bool cut_back = after.size() < before.size() && before.starts_with(after);
  return {guessing, !after.empty() && !cut_back};
}

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
  EndGuess(box);
}

void PasswordBoxes::EndGuess(Box box) {
  if (!guessing_[Index(box)]) return;
  guessing_[Index(box)] = false;
  news_.push_back(GuessNews::Ended);
}

std::vector<GuessNews> PasswordBoxes::TakeGuessNews() {
  std::vector<GuessNews> n;
  n.swap(news_);
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
  // Unmasked, a box shows its placeholder: nothing typed yet.
  const std::wstring before = b.masked ? b.text : std::wstring();
  b.text = text;
  if (text != Placeholder(box)) b.masked = true;
  const std::wstring_view after = b.masked ? std::wstring_view(text) : std::wstring_view();
  // An empty box never opens anything: a stored password that deciphers to
  // nothing would otherwise be opened by a click into the box.
  if (PasswordOpens(std::wstring(after), password_)) {
    finished_ = true;
    return box == Box::Unlock ? BoxOutcome::Unlock : BoxOutcome::EnterSetup;
  }
  bool& guessing = guessing_[Index(box)];
  const EditStep step = ClassifyEdit(guessing, before, after);
  if (step.ended) EndGuess(box);
  if (step.started) {
    guessing = true;
    news_.push_back(GuessNews::Started);
  }
  return BoxOutcome::None;
}

void PasswordBoxes::BackgroundClick() {
  if (finished_) return;
  Hide(Box::Unlock);
}

}  // namespace tolvane
