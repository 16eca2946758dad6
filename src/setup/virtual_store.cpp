#include "setup/virtual_store.h"

#include <array>

#include "appearance/appearance.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "lock/relock.h"

namespace tolvane {

namespace {

// Far more than any settings file of ours; a larger one is not read.
constexpr std::size_t kMaxCopyBytes = 64 * 1024;

constexpr std::array<const wchar_t*, 3> kConfigurationKeys = {L"drive", L"name", kRelockKey};

bool ReadCopy(std::string& bytes) {
  const std::wstring path = VirtualStoreSettingsPath();
  return !path.empty() && IsOrdinaryFile(path) && ReadFileBytes(path, bytes, kMaxCopyBytes + 1) &&
         bytes.size() <= kMaxCopyBytes;
}

}  // namespace

std::wstring VirtualStoreSettingsPath() {
  const std::wstring store = GetEnv(L"LOCALAPPDATA");
  const std::wstring windows = SettingsFolder();
  // "C:\Windows" is stored as "VirtualStore\Windows": the path without its
  // drive. (The native test build's folders have no drive to begin with.)
  const bool drive = windows.size() >= 2 && windows[1] == L':';
  std::wstring folder = drive ? windows.substr(2) : windows;
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (store.empty() || windows.empty()) return {};
  if (!folder.empty() && folder[0] != L'\\' && folder[0] != L'/') return {};  // no path from a root
  if (folder.empty() && !drive) return {};
  return store + L"\\VirtualStore" + folder + L"\\vemro.qarn";  // "" : the Windows folder at a drive's root
}

std::wstring MoveAnswerPath() {
  const std::wstring store = GetEnv(L"LOCALAPPDATA");
  return store.empty() ? std::wstring() : store + L"\\Tolvane\\virtualstore.txt";
}

std::optional<SettingsRequest> MoveRequestFrom(const std::string& bytes) {
  std::vector<std::pair<std::wstring, std::wstring>> values;
  auto take = [&](const wchar_t* key) {
    std::wstring value = OptionIn(bytes, kSettingsSection, key);
    if (!value.empty()) values.emplace_back(key, std::move(value));
  };
  for (const wchar_t* key : kConfigurationKeys) take(key);
  for (const wchar_t* key : kAppearanceKeys) take(key);
  if (values.empty()) return std::nullopt;
  std::vector<OptionValue> views(values.begin(), values.end());
  return MakeSettingsRequest(SettingsOp::Replace, views);
}

bool ShouldOfferMove() {
  const std::wstring answer = MoveAnswerPath();
  if (answer.empty() || PathExists(answer)) return false;
  std::string bytes;
  return ReadCopy(bytes) && MoveRequestFrom(bytes).has_value();
}

MoveOutcome MoveVirtualStoreSettings() {
  std::string bytes;
  if (!ReadCopy(bytes)) return MoveOutcome::Failed;
  const std::optional<SettingsRequest> request = MoveRequestFrom(bytes);
  if (!request) return MoveOutcome::Failed;
  switch (WriteSettings(*request)) {
    case WriteResult::Ok:
      break;
    case WriteResult::Declined:
      return MoveOutcome::Declined;
    default:
      return MoveOutcome::Failed;
  }
  // The copy is the user's own file: no rights needed to remove it. Should
  // it stay anyway, the remembered answer keeps the question from coming back.
  DeleteFileAt(VirtualStoreSettingsPath());
  RememberMoveAnswer();
  return MoveOutcome::Moved;
}

void RememberMoveAnswer() {
  const std::wstring path = MoveAnswerPath();
  if (path.empty()) return;
  CreateFolder(path.substr(0, path.find_last_of(L'\\')));
  ReplaceFileAtomically(path, "asked\r\n");
}

std::wstring MoveQuestion(const std::wstring& copy_path, const std::wstring& settings_path) {
  return L"发现旧版本保存的配置文件：\r\n" + copy_path +
         L"\r\n\r\n旧版本在没有管理员权限时，会把配置悄悄存到这里，只有当前用户能看到。本版本只使用：\r\n" +
         settings_path +
         L"\r\n\r\n是否把这份配置移过去？（可能需要管理员同意）\r\n选择“否”则保持原样，以后不再询问。";
}

std::wstring MoveResultMessage(MoveOutcome outcome, const std::wstring& copy_path, const std::wstring& settings_path) {
  switch (outcome) {
    case MoveOutcome::Moved:
      return L"配置已移到：\r\n" + settings_path + L"\r\n\r\n重启Tolvane后生效。";
    case MoveOutcome::Declined:
      return L"没有获得管理员权限，配置未被移动。\r\n\r\n下次启动Tolvane时会再次询问。";
    case MoveOutcome::Failed:
      break;
  }
  return L"配置移动失败：\r\n" + copy_path + L"\r\n→ " + settings_path + L"\r\n\r\n原有文件未被改动，下次启动Tolvane时会再次询问。";
}

}  // namespace tolvane
