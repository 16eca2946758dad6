// The checks a save makes before anything is written, and the texts of the
// setup window's message boxes.
#pragma once
#include <string>
#include <string_view>

#include "config/cipher.h"

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

// True when a settings file's "name" value holds a configuration: the cipher
// prefix followed by a non-empty cipher text.
bool HoldsConfiguration(const std::wstring& name_value);

// Message box texts.
inline constexpr wchar_t kMsgTitle[] = L"提示：";
inline constexpr wchar_t kMsgRemoveNoDrive[] = L"请先选择要卸载配置信息的U盘！";
inline constexpr wchar_t kMsgRemoved[] = L"挂机锁配置信息已清除，感谢您的使用！";
std::wstring WriteProtectedMessage(const std::wstring& drive);
std::wstring CopyFailedMessage(const std::wstring& drive);
std::wstring SettingsWriteFailedMessage(const std::wstring& path);

}  // namespace tolvane
