#include "setup/save_config.h"

#include <array>
#include <utility>

#include "config/cipher.h"
#include "config/codepage.h"
#include "config/fileio.h"
#include "config/settings.h"

namespace tolvane {

SaveCheck CheckSave(const std::wstring& drive, const std::wstring& text1, const std::wstring& text2,
                    std::string_view key936) {
  SaveCheck check;
  if (drive.empty()) {
    check.refusal = SaveRefusal::NoDrive;
  } else if (text1.empty()) {
    check.refusal = SaveRefusal::EmptyPassword;
  } else if (text1 != text2) {
    check.refusal = SaveRefusal::Mismatch;
  } else {
    std::string ascii;
    for (wchar_t c : text1) {
      // Only printable ASCII takes part in the cipher; anything else would be
      // dropped and the stored password would no longer be the typed one.
      if (c < 32 || c > 126) {
        check.refusal = SaveRefusal::NonPrintable;
        return check;
      }
      ascii += static_cast<char>(c);
    }
    if (ascii.size() > kMaxPasswordChars) {
      check.refusal = SaveRefusal::TooLong;
      return check;
    }
    check.cipher = EncipherPassword(ascii, key936);
    if (!check.cipher.empty() && check.cipher.back() == ' ') {
      check.refusal = SaveRefusal::TrailingBlank;
      check.cipher.clear();
    }
  }
  return check;
}

std::wstring RefusalMessage(SaveRefusal refusal) {
  switch (refusal) {
    case SaveRefusal::None:
      return L"";
    case SaveRefusal::NoDrive:
      return L"你还没有选择需要加密的U盘哦！";
    case SaveRefusal::EmptyPassword:
      return L"密码不能为空！";
    case SaveRefusal::Mismatch:
      return L"两次输入密码不一致！";
    case SaveRefusal::NonPrintable:
      return L"密码只能包含英文字母、数字和英文符号！";
    case SaveRefusal::TooLong:
      return L"密码太长了，最多只能有" + std::to_wstring(kMaxPasswordChars) + L"个字符！";
    case SaveRefusal::TrailingBlank:
      return L"这个密码无法安全保存，请换一个密码！";
  }
  return L"";
}

std::string KeyFileBytes(const std::wstring& drive, std::string_view cipher) {
  std::string drive936;
  ToCp936(drive, drive936);  // a drive letter and a colon
  std::string bytes = "[Option]\r\ndrive=" + drive936 + "\r\nname=";
  bytes += cipher;
  bytes += "\r\n";
  return bytes;
}

namespace {

// A key file is a few dozen bytes; one of ours never comes near this.
constexpr std::size_t kMaxOldKeyBytes = 1024 * 1024;

SaveResult Failure(SaveOutcome outcome, std::wstring message) { return {outcome, std::move(message)}; }

}  // namespace

SaveResult SaveConfiguration(const std::wstring& drive, std::string_view cipher, const std::wstring& key_path) {
  SettingsSnapshot settings;
  if (!ReadSettingsForRewrite(settings)) {
    return Failure(SaveOutcome::SettingsUnreadable, SettingsUnreadableMessage(settings.path));
  }
  // The bare-cipher step that earlier versions stored on the way stays: on a
  // hand-edited file it decides the layout, and a successful save must leave
  // the same bytes as ever.
  const std::wstring wide_cipher(cipher.begin(), cipher.end());  // printable ASCII
  const std::wstring prefixed = std::wstring(CipherPrefix) + wide_cipher;
  std::string settings_after = settings.bytes;
  const std::array<OptionValue, 3> writes = {
      OptionValue{L"drive", drive}, OptionValue{L"name", wide_cipher}, OptionValue{L"name", prefixed}};
  if (ApplyOptions(settings_after, kSettingsSection, writes) != WriteResult::Ok) {
    return Failure(SaveOutcome::SettingsFailed, SettingsWriteFailedMessage(settings.path));
  }

  // A read-only key file is never overwritten, whatever the file system
  // would allow: the user marked it so, and must clear the mark first.
  if (IsReadOnlyFile(key_path)) return Failure(SaveOutcome::KeyReadOnly, CopyFailedMessage(drive));
  // The old key is kept in memory to be put back if the settings file then
  // fails: a drive must never be left with a key its PC no longer accepts.
  std::string old_key;
  const bool key_existed = PathExists(key_path);
  if (key_existed && (!ReadFileBytes(key_path, old_key, kMaxOldKeyBytes + 1) || old_key.size() > kMaxOldKeyBytes)) {
    return Failure(SaveOutcome::KeyUnreadable, CopyFailedMessage(drive));
  }
  switch (ReplaceFileAtomically(key_path, KeyFileBytes(drive, cipher))) {
    case FileError::None:
      break;
    case FileError::Refused:
      return Failure(SaveOutcome::KeyRefused, WriteProtectedMessage(drive));
    case FileError::Failed:
      return Failure(SaveOutcome::KeyFailed, CopyFailedMessage(drive));
  }

  const bool unchanged = settings.existed && settings_after == settings.bytes;
  if (unchanged || ReplaceFileAtomically(settings.path, settings_after) == FileError::None) return {};

  const bool restored =
      key_existed ? ReplaceFileAtomically(key_path, old_key) == FileError::None : DeleteFileAt(key_path);
  if (!restored) return Failure(SaveOutcome::RestoreFailed, KeyRestoreFailedMessage(settings.path, key_path));
  return Failure(SaveOutcome::SettingsFailed, SettingsWriteFailedMessage(settings.path));
}

RemoveResult RemoveConfiguration(const std::wstring& key_path) {
  const std::wstring settings = SettingsFilePath();
  const std::wstring cannot_delete = L"以下文件无法删除（可能是只读文件，或U盘已拔出）：\r\n";
  if (PathExists(settings) && !DeleteFileAt(settings)) {
    const wchar_t* kept = PathExists(key_path) ? L"\r\n\r\n配置未被清除，U盘上的密钥文件也已保留。" : L"\r\n\r\n配置未被清除。";
    return {RemoveOutcome::SettingsKept, cannot_delete + settings + kept};
  }
  if (PathExists(key_path) && !DeleteFileAt(key_path)) return {RemoveOutcome::KeyKept, cannot_delete + key_path};
  return {RemoveOutcome::Removed, kMsgRemoved};
}

Configuration ConfigurationIn(SettingsRead read, const std::string& bytes) {
  switch (read) {
    case SettingsRead::Missing:
      return Configuration::None;
    case SettingsRead::Unreadable:
      return Configuration::Unreadable;
    case SettingsRead::Read:
      break;
  }
  return HoldsConfiguration(OptionIn(bytes, kSettingsSection, L"name")) ? Configuration::Present
                                                                        : Configuration::None;
}

Configuration ReadConfiguration() {
  std::string bytes;
  const SettingsRead read = ReadSettingsFile(bytes);
  return ConfigurationIn(read, bytes);
}

bool Configured() { return ReadConfiguration() == Configuration::Present; }

std::wstring WriteProtectedMessage(const std::wstring& drive) {
  return drive + L" 拒绝写入！磁盘被写保护。\r\n\r\n请去掉写保护或使用另一张磁盘。";
}

std::wstring CopyFailedMessage(const std::wstring& drive) {
  return drive + L" 写入失败！无法把密钥文件保存到这张磁盘。\r\n\r\n请检查磁盘是否已拔出、已满或文件只读，或使用另一张磁盘。";
}

std::wstring SettingsWriteFailedMessage(const std::wstring& path) {
  return L"配置文件写入失败：\r\n" + path + L"\r\n\r\n请以管理员身份运行后再试。原有配置未被改动。";
}

std::wstring SettingsUnreadableMessage(const std::wstring& path) {
  return L"配置文件无法读取：\r\n" + path + L"\r\n\r\n它可能正被其他程序占用，或没有读取权限。配置未被改动，请关闭占用它的程序或以管理员身份运行后再试。";
}

std::wstring KeyRestoreFailedMessage(const std::wstring& settings_path, const std::wstring& key_path) {
  return L"配置文件写入失败：\r\n" + settings_path + L"\r\n\r\nU盘上原有的密钥文件也无法恢复：\r\n" + key_path +
         L"\r\n\r\n电脑上的配置未被改动，但这张U盘上的密钥文件已与它不符。请以管理员身份运行后重新保存配置。";
}

}  // namespace tolvane
