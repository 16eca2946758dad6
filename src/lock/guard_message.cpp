#include "lock/guard_message.h"

namespace tolvane {
namespace {

struct Form {
  GuardRequest request;
  std::wstring_view word;
  bool has_value;
};

constexpr Form kForms[] = {
    {GuardRequest::LockUp, L"lock", false},
    {GuardRequest::KeyDrive, L"key", true},
    {GuardRequest::UnlockPassword, L"unlock", true},
    {GuardRequest::SetupPassword, L"setup", true},
    {GuardRequest::Start, L"start", false},
};

}  // namespace

std::wstring EncodeGuardMessage(const GuardMessage& message) {
  for (const Form& f : kForms) {
    if (f.request != message.request) continue;
    std::wstring text(f.word);
    if (f.has_value) text += L'\t' + message.value;
    return text;
  }
  return {};
}

std::optional<GuardMessage> ParseGuardMessage(std::wstring_view text) {
  if (text.size() > kGuardMessageMaxChars) return std::nullopt;
  const std::size_t tab = text.find(L'\t');
  const std::wstring_view word = text.substr(0, tab);
  for (const Form& f : kForms) {
    if (f.word != word) continue;
    if (f.has_value != (tab != std::wstring_view::npos)) return std::nullopt;
    GuardMessage m;
    m.request = f.request;
    if (f.has_value) m.value = std::wstring(text.substr(tab + 1));
    return m;
  }
  return std::nullopt;
}

}  // namespace tolvane
