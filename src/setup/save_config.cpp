#include "setup/save_config.h"

#include "config/cipher.h"
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

bool HoldsConfiguration(const std::wstring& name_value) {
  const std::wstring prefix = CipherPrefix;
  return name_value.size() > prefix.size() && name_value.compare(0, prefix.size(), prefix) == 0;
}

std::wstring WriteProtectedMessage(const std::wstring& drive) {
  return drive + L" 拒绝写入！磁盘被写保护。\r\n\r\n请去掉写保护或使用另一张磁盘。";
}

std::wstring CopyFailedMessage(const std::wstring& drive) {
  return drive + L" 写入失败！无法把密钥文件保存到这张磁盘。\r\n\r\n请检查磁盘是否已拔出、已满或文件只读，或使用另一张磁盘。";
}

std::wstring SettingsWriteFailedMessage(const std::wstring& path) {
  return L"配置文件写入失败：\r\n" + path + L"\r\n\r\n请以管理员身份运行后再试。原有配置未被改动。";
}

}  // namespace tolvane
