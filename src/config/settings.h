// The settings file ("windir" + "\vemro.qarn", section "Option") and the key
// file on the drive ("E:" + "\tolvane.com").
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane {

// 65 characters, 88 bytes in code page 936, no blank at either end. Stands in
// front of the cipher text in the settings file's "name" value only.
extern const wchar_t CipherPrefix[];
inline constexpr std::size_t kCipherPrefixChars = 65;

inline constexpr wchar_t kSettingsSection[] = L"Option";

std::wstring SettingsFilePath();                    // built afresh at every use
std::wstring KeyFilePath(std::wstring_view drive);  // "E:" -> "E:\tolvane.com"

// Hidden or system files count as missing.
bool SettingsFileExists();

enum class WriteResult {
  Ok,
  Unrepresentable,  // the value (or key) has no code page 936 form; nothing written
  IoError,          // the file could not be read back or replaced
};

// The value is cut at its first NUL and to at most 128 characters, as the
// platform writer's fixed buffer cuts it. An unchanged value leaves the file
// untouched; otherwise the whole file is rewritten through a temporary file.
WriteResult WriteOption(std::wstring_view section, std::wstring_view key, std::wstring_view value);

// At most 127 bytes of the stored value (no half character), blanks (code 32
// only) trimmed from both ends; "" for a missing file, section or key.
std::wstring ReadOption(std::wstring_view section, std::wstring_view key);

}  // namespace tolvane
