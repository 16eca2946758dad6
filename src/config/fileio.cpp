// The platform-independent half of the file services: the test seam and the
// naming of temporary files.
#include "config/fileio.h"

#include <cwchar>
#include <utility>

namespace tolvane {

namespace {

FileFaultHook& Hook() {
  static FileFaultHook hook;
  return hook;
}

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsHexDigit(wchar_t c) {
  c = AsciiLower(c);
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

constexpr std::size_t kTokenDigits = 8;
constexpr wchar_t kTemporarySuffix[] = L".tmp";

}  // namespace

void SetFileFaultHook(FileFaultHook hook) { Hook() = std::move(hook); }

FileError InjectedFault(FileStep step, const std::wstring& path) {
  const FileFaultHook& hook = Hook();
  return hook ? hook(step, path) : FileError::None;
}

std::wstring TemporaryNameFor(const std::wstring& path, unsigned long token) {
  wchar_t digits[kTokenDigits + 1];
  std::swprintf(digits, kTokenDigits + 1, L"%08lx", token & 0xFFFFFFFFul);
  return path + L"." + digits + kTemporarySuffix;
}

bool IsTemporaryNameOf(std::wstring_view file_name, std::wstring_view target_name) {
  const std::wstring_view suffix = kTemporarySuffix;
  const std::size_t want = target_name.size() + 1 + kTokenDigits + suffix.size();
  if (file_name.size() != want) return false;
  // Windows names compare without regard to ASCII case.
  if (!EqualIgnoringCase(file_name.substr(0, target_name.size()), target_name)) return false;
  if (file_name[target_name.size()] != L'.') return false;
  for (std::size_t i = 0; i < kTokenDigits; ++i) {
    if (!IsHexDigit(file_name[target_name.size() + 1 + i])) return false;
  }
  return EqualIgnoringCase(file_name.substr(want - suffix.size()), suffix);
}

}  // namespace tolvane
