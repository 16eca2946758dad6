// The accessibility shortcuts while the lock is up. Shift five times (Sticky
// Keys), right Shift held eight seconds (Filter Keys), NumLock held five
// seconds (Toggle Keys), left Alt+left Shift+PrtScn (High Contrast) and left
// Alt+left Shift+NumLock (Mouse Keys) open system windows above every topmost
// window, the lock's included. While locked their hot-key flags are cleared;
// the original flags are kept in memory and in a small state file, so that a
// lock that never got to put them back (killed, crashed) has them put back at
// the next start. Portable: the system settings and the file come in through
// the two interfaces below.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

enum class Shortcut { StickyKeys, FilterKeys, ToggleKeys, HighContrast, MouseKeys };
inline constexpr std::size_t kShortcutCount = 5;

// SKF_, FKF_, TKF_, HCF_ and MKF_HOTKEYACTIVE share this value.
inline constexpr std::uint32_t kShortcutHotKeyActive = 0x00000004;

// The flags word of each feature, as the system keeps it.
class ShortcutSettings {
 public:
  virtual ~ShortcutSettings() = default;
  virtual bool Read(Shortcut s, std::uint32_t& flags) = 0;
  virtual bool Write(Shortcut s, std::uint32_t flags) = 0;
};

// The state file: absent, or the text of FormatSavedShortcuts.
class ShortcutStateFile {
 public:
  virtual ~ShortcutStateFile() = default;
  virtual bool Load(std::string& text) = 0;
  virtual bool Save(const std::string& text) = 0;
  virtual void Remove() = 0;
};

// The original flags of the features whose hot key was cleared. Read back
// from the state file they only say which hot keys to set again.
using SavedShortcuts = std::array<std::optional<std::uint32_t>, kShortcutCount>;

// "sticky=0x0000007e\r\n"..., one line per saved feature.
std::string FormatSavedShortcuts(const SavedShortcuts& saved);
// Nothing for text that is not exactly such lines, or a value without the
// hot-key bit: a damaged file must not set anything.
std::optional<SavedShortcuts> ParseSavedShortcuts(std::string_view text);

class ShortcutGuard {
 public:
  ShortcutGuard(ShortcutSettings& settings, ShortcutStateFile& file) : settings_(settings), file_(file) {}

  // Sets again the hot keys a state file left by an earlier lock names, then
  // removes it (a damaged file is removed unused). Call once the program knows it is
  // the only instance: another lock's file is not a leftover.
  void RecoverLeftover();
  // Saves the original flags (state file first), then clears the hot keys.
  // Features the system refuses to change are left as they are: the lock
  // goes up regardless.
  void Engage();
  // Sets the hot-key bit again on every feature Engage cleared it on and
  // removes the state file; keeps the file when a write back failed, so the
  // next start tries again.
  void Release();

  bool engaged() const { return engaged_; }

 private:
  // Sets the hot-key bit of each saved feature on its flags as they are now,
  // nothing else; true when all writes took.
  bool WriteBack(const SavedShortcuts& saved);

  ShortcutSettings& settings_;
  ShortcutStateFile& file_;
  SavedShortcuts cleared_{};
  bool engaged_ = false;
};

}  // namespace tolvane
