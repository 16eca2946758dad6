// The checks a save makes before anything is written, and the texts of the
// setup window's message boxes.
#pragma once
#include <string>
#include <string_view>

#include "config/cipher.h"
#include "config/settings.h"

namespace tolvane {

// Longest password that survives the settings reader: its 127-byte bound
// keeps 127 - 88 bytes behind the 88-byte cipher prefix, one byte for each
// enciphered character.
inline constexpr std::size_t kMaxPasswordChars = 39;

enum class SaveRefusal {
  None,
  NoDrive,
  EmptyPassword,
  Mismatch,
  NonPrintable,   // characters the cipher would silently drop
  TooLong,        // the stored cipher would come back cut short
  TrailingBlank,  // the cipher ends in a blank, which the reader trims away
};

struct SaveCheck {
  SaveRefusal refusal = SaveRefusal::None;
  std::string cipher;  // the cipher text when the save may go ahead
};

// Decides whether a save of `drive` with the two password fields may go on.
// `key936` is the cipher key text (the setup window's hidden txtPassword).
SaveCheck CheckSave(const std::wstring& drive, const std::wstring& text1, const std::wstring& text2,
                    std::string_view key936 = kKeyText);

// The information box text for a refusal ("" for None).
std::wstring RefusalMessage(SaveRefusal refusal);


// What the settings file says about the configuration. None: the file is
// missing, or reads and holds none (a damaged file included). Unreadable: a
// file is there that cannot be read now; it may hold one, and the program
// locks as if it did.
enum class Configuration { None, Unreadable, Present };
Configuration ConfigurationIn(SettingsRead read, const std::string& bytes);
Configuration ReadConfiguration();

// True when the settings file holds a configuration that could be read: the
// tray menu offers the lock's own items.
bool Configured();

// The key file's bytes: the section header, "drive" and "name" with the bare
// cipher, exactly so spelled and nothing else. Every version of the lock
// finds the cipher in such a file, whatever the settings file holds besides.
std::string KeyFileBytes(const std::wstring& drive, std::string_view cipher);

enum class SaveOutcome {
  Saved,
  SettingsUnreadable,  // an existing settings file could not be read; nothing written
  KeyReadOnly,         // the old key file is marked read-only; nothing written
  KeyUnreadable,       // the old key file could not be read, so could not be put back; nothing written
  KeyRefused,          // the drive refused the write (write protection); nothing changed
  KeyFailed,           // the key file could not be written; nothing changed
  SettingsFailed,      // the settings file could not be written; the old key file is back
  RestoreFailed,       // as SettingsFailed, but the old key file could not be put back
};

struct SaveResult {
  SaveOutcome outcome = SaveOutcome::Saved;
  std::wstring message;  // the error box text; empty when saved
};

// Saves the configuration: the key file at `key_path` first, each file
// replaced in one step, then the settings file with "drive" and the prefixed
// cipher. On any failure both files are as they were; only when the key file
// cannot be put back does the result say so.
SaveResult SaveConfiguration(const std::wstring& drive, std::string_view cipher, const std::wstring& key_path);

enum class RemoveOutcome {
  Removed,
  SettingsKept,  // the settings file could not be deleted; the key file was left alone
  KeyKept,       // the settings file is gone, the key file could not be deleted
};

struct RemoveResult {
  RemoveOutcome outcome = RemoveOutcome::Removed;
  std::wstring message;  // the box text
};

// Deletes the settings file and then the key file at `key_path`. The key
// file goes only once the settings file is gone, so a half-done remove never
// leaves a lock that starts without a key to open it.
RemoveResult RemoveConfiguration(const std::wstring& key_path);

// Message box texts.
inline constexpr wchar_t kMsgTitle[] = L"提示：";
inline constexpr wchar_t kMsgRemoveNoDrive[] = L"请先选择要卸载配置信息的U盘！";
inline constexpr wchar_t kMsgRemoved[] = L"挂机锁配置信息已清除，感谢您的使用！";
std::wstring WriteProtectedMessage(const std::wstring& drive);
std::wstring CopyFailedMessage(const std::wstring& drive);
std::wstring SettingsWriteFailedMessage(const std::wstring& path);
std::wstring SettingsUnreadableMessage(const std::wstring& path);
std::wstring KeyRestoreFailedMessage(const std::wstring& settings_path, const std::wstring& key_path);

}  // namespace tolvane
