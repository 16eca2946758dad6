#include "lock/shortcut_guard.h"

#include <cstdio>

namespace tolvane {
namespace {

constexpr std::array<const char*, kShortcutCount> kNames = {"sticky", "filter", "toggle", "contrast", "mouse"};

Shortcut At(std::size_t i) { return static_cast<Shortcut>(i); }

bool AnySaved(const SavedShortcuts& s) {
  for (const auto& v : s) {
    if (v) return true;
  }
  return false;
}

// "0x" and exactly eight hex digits.
bool ParseHex32(std::string_view s, std::uint32_t& out) {
  if (s.size() != 10 || s[0] != '0' || s[1] != 'x') return false;
  std::uint32_t v = 0;
  for (char c : s.substr(2)) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else {
      return false;
    }
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  out = v;
  return true;
}

}  // namespace

std::string FormatSavedShortcuts(const SavedShortcuts& saved) {
  std::string out;
  for (std::size_t i = 0; i < kShortcutCount; ++i) {
    if (!saved[i]) continue;
    char line[40];
    std::snprintf(line, sizeof line, "%s=0x%08x\r\n", kNames[i], static_cast<unsigned>(*saved[i]));
    out += line;
  }
  return out;
}

std::optional<SavedShortcuts> ParseSavedShortcuts(std::string_view text) {
  SavedShortcuts saved{};
  while (!text.empty()) {
    const auto end = text.find("\r\n");
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 2);
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::size_t i = 0;
    while (i < kShortcutCount && line.substr(0, eq) != kNames[i]) ++i;
    std::uint32_t v = 0;
    if (i == kShortcutCount || saved[i] || !ParseHex32(line.substr(eq + 1), v)) return std::nullopt;
    if (!(v & kShortcutHotKeyActive)) return std::nullopt;
    saved[i] = v;
  }
  if (!AnySaved(saved)) return std::nullopt;
  return saved;
}

bool ShortcutGuard::WriteBack(const SavedShortcuts& saved) {
  // Only the hot-key bit is the lock's to give back, on top of whatever the
  // feature holds now. The state file is in the user's own reach: a file
  // written by another program must not switch on Sticky Keys or Mouse Keys,
  // or set bits the system never defined, at the next start.
  bool all = true;
  for (std::size_t i = 0; i < kShortcutCount; ++i) {
    if (!saved[i]) continue;
    std::uint32_t now = 0;
    if (!settings_.Read(At(i), now)) {
      all = false;
    } else if (!(now & kShortcutHotKeyActive) && !settings_.Write(At(i), now | kShortcutHotKeyActive)) {
      all = false;
    }
  }
  return all;
}

void ShortcutGuard::RecoverLeftover() {
  std::string text;
  if (!file_.Load(text)) return;
  const auto saved = ParseSavedShortcuts(text);
  if (saved && !WriteBack(*saved)) return;  // the next start tries again
  file_.Remove();
}

void ShortcutGuard::Engage() {
  if (engaged_) return;
  // A leftover holds the true originals: what the system shows now may be
  // what a killed lock cleared.
  RecoverLeftover();
  SavedShortcuts originals{};
  for (std::size_t i = 0; i < kShortcutCount; ++i) {
    std::uint32_t flags = 0;
    if (settings_.Read(At(i), flags) && (flags & kShortcutHotKeyActive)) originals[i] = flags;
  }
  engaged_ = true;
  cleared_ = {};
  if (!AnySaved(originals)) return;
  // The file first: a lock killed between the two steps still finds the
  // originals at the next start. Should the file not be written, the hot keys
  // are cleared all the same; the system does not keep these changes past
  // the session.
  file_.Save(FormatSavedShortcuts(originals));
  for (std::size_t i = 0; i < kShortcutCount; ++i) {
    if (originals[i] && settings_.Write(At(i), *originals[i] & ~kShortcutHotKeyActive)) cleared_[i] = originals[i];
  }
  if (!AnySaved(cleared_)) file_.Remove();
}

void ShortcutGuard::Release() {
  if (!engaged_) return;
  engaged_ = false;
  if (!AnySaved(cleared_)) return;
  if (WriteBack(cleared_)) file_.Remove();
  cleared_ = {};
}

}  // namespace tolvane
