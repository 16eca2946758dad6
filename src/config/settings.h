// The settings file (the system's Windows folder + "\vemro.qarn", section
// "Option") and the key file on the drive ("E:" + "\tolvane.com").
#pragma once
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace tolvane {

// 65 characters, 88 bytes in code page 936, no blank at either end. Stands in
// front of the cipher text in the settings file's "name" value only.
extern const wchar_t CipherPrefix[];
inline constexpr std::size_t kCipherPrefixChars = 65;

inline constexpr wchar_t kSettingsSection[] = L"Option";

// The folder that holds the settings file: the Windows folder as the system
// itself reports it. Never an environment variable: "windir" is whatever the
// parent process (or a value stored for the next logon) says, and whoever
// names the folder decides which configuration, and so which password,
// counts. Every program and helper finds the file through these two.
std::wstring SettingsFolder();
std::wstring SettingsFilePath();                    // built afresh at every use
std::wstring KeyFilePath(std::wstring_view drive);  // "E:" -> "E:\tolvane.com"

#ifdef TOLVANE_TEST_SEAMS
// Test builds only, and only from inside the process: the folder that
// SettingsFolder() gives instead of the system's (nullopt: the system's
// again). The native test build has no Windows folder at all.
void SetSettingsFolderForTests(std::optional<std::wstring> folder);
std::optional<std::wstring> SettingsFolderForTests();
#endif

// The cipher the lock compares with a key file: the stored "name" value
// without the CipherPrefix, in code page 936. Empty when the value is no
// longer than the prefix or has no 936 form: nothing matches an empty cipher.
std::string CipherOfNameValue(std::wstring_view name_value);

// True when a settings file's "name" value holds a configuration: the cipher
// prefix followed by a non-empty cipher text.
bool HoldsConfiguration(const std::wstring& name_value);

// Hidden or system files count as missing.
bool SettingsFileExists();

enum class WriteResult {
  Ok,
  Unrepresentable,  // the value (or key) has no code page 936 form; nothing written
  IoError,          // the file could not be read back or replaced
  Declined,         // this process was refused, and no elevated instance wrote it (the user said no)
};

// The value is cut at its first NUL and to at most 128 characters, as the
// platform writer's fixed buffer cuts it, and otherwise stored as given,
// leading blanks included. An unchanged value leaves the file untouched;
// otherwise the whole file is rewritten through a temporary file.
WriteResult WriteOption(std::wstring_view section, std::wstring_view key, std::wstring_view value);

// Several keys of one section in one replacement of the file: all of them
// are stored or none is. The bytes are those that WriteOption would leave
// after writing the keys one by one in the order given. In section Option a
// write this process is refused goes to an elevated instance (see
// elevated_write.h).
using OptionValue = std::pair<std::wstring_view, std::wstring_view>;
WriteResult WriteOptions(std::wstring_view section, std::span<const OptionValue> values);

// The settings file as read for a rewrite. A file that is there but cannot be
// read whole (held open by another program, no permission, far too large)
// gives false: it must never be replaced by one built from nothing.
struct SettingsSnapshot {
  std::wstring path;
  bool existed = false;
  std::string bytes;
};
bool ReadSettingsForRewrite(SettingsSnapshot& out);

// Applies the writes to the file's bytes in order, as WriteOption would.
// Unrepresentable (and `bytes` unchanged) when a name or value has no code
// page 936 form.
template <typename Values>
WriteResult ApplyOptions(std::string& bytes, std::wstring_view section, const Values& values);
WriteResult ApplyOption(std::string& bytes, std::wstring_view section, std::wstring_view key, std::wstring_view value);

// At most 127 bytes of the stored value (no half character), blanks (code 32
// only) trimmed from both ends; "" for a missing file, section or key.
std::wstring ReadOption(std::wstring_view section, std::wstring_view key);

// The settings file as the lock sees it. Missing: nothing at the path, or
// something that is no ordinary file (a hidden or system file, a folder),
// as ever. Unreadable: a file is there but could not be read (another
// program holds it open without sharing, its permissions deny reading): it
// may hold a configuration, so it never counts as missing.
enum class SettingsRead { Missing, Unreadable, Read };
SettingsRead ReadSettingsFile(std::string& bytes);

// ReadOption's value, out of bytes read by ReadSettingsFile: several values
// from one read agree with one another.
std::wstring OptionIn(const std::string& bytes, std::wstring_view section, std::wstring_view key);

template <typename Values>
WriteResult ApplyOptions(std::string& bytes, std::wstring_view section, const Values& values) {
  std::string after = bytes;
  for (const auto& [key, value] : values) {
    const WriteResult r = ApplyOption(after, section, key, value);
    if (r != WriteResult::Ok) return r;
  }
  bytes = std::move(after);
  return WriteResult::Ok;
}

}  // namespace tolvane
