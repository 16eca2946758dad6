#include "config/settings.h"

#include <algorithm>
#ifdef TOLVANE_TEST_SEAMS
#include <mutex>
#endif

#include "config/codepage.h"
#include "config/elevated_write.h"
#include "config/fileio.h"
#include "config/ini.h"

namespace tolvane {

// An opaque tag with no meaning of its own. Its 23 Chinese characters are all
// in GB2312 and none has a trail byte in the ASCII range, so the tag reads back
// unchanged through any 936 reader; it starts with neither a blank nor a quote,
// which the profile reader would strip.
const wchar_t CipherPrefix[] = L"QRN7-霁岚0E4C-砚舟栖云9A2F-松壑1B76-墨汀霜桥D85E-檀溪3C0F-鹤渚烟萝7E41-苔径B296-雁汀芷F3";
static_assert(sizeof CipherPrefix / sizeof CipherPrefix[0] == kCipherPrefixChars + 1);

namespace {

// The settings file is a few hundred bytes. Anything far larger is not ours:
// read only its start, and refuse to rewrite it from a partial read.
constexpr std::size_t kMaxSettingsBytes = 1024 * 1024;

// The platform reader's buffer: at most 127 bytes of value and a NUL.
constexpr std::size_t kReadBufferBytes = 128;

// The writer hands the platform a 128-character buffer holding the value, a
// NUL and padding; a value of 128 characters or more fills it without a NUL.
constexpr std::size_t kWriteBufferChars = 128;

std::wstring TrimBlanks(std::wstring_view s) {
  const std::size_t first = s.find_first_not_of(L' ');
  if (first == std::wstring_view::npos) return {};
  const std::size_t last = s.find_last_not_of(L' ');
  return std::wstring(s.substr(first, last - first + 1));
}

#ifdef TOLVANE_TEST_SEAMS
std::mutex& TestFolderLock() {
  static std::mutex lock;
  return lock;
}

std::optional<std::wstring>& TestFolder() {
  static std::optional<std::wstring> folder;
  return folder;
}
#endif

}  // namespace

#ifdef TOLVANE_TEST_SEAMS
void SetSettingsFolderForTests(std::optional<std::wstring> folder) {
  const std::lock_guard<std::mutex> hold(TestFolderLock());
  TestFolder() = std::move(folder);
}

std::optional<std::wstring> SettingsFolderForTests() {
  const std::lock_guard<std::mutex> hold(TestFolderLock());
  return TestFolder();
}
#endif

std::wstring SettingsFolder() {
#ifdef TOLVANE_TEST_SEAMS
  if (std::optional<std::wstring> folder = SettingsFolderForTests()) return *folder;
#endif
  return SystemWindowsFolder();
}

std::wstring SettingsFilePath() { return SettingsFolder() + L"\\vemro.qarn"; }

std::wstring KeyFilePath(std::wstring_view drive) { return std::wstring(drive) + L"\\tolvane.com"; }

std::string CipherOfNameValue(std::wstring_view name_value) {
  std::string cipher;
  if (name_value.size() <= kCipherPrefixChars || !ToCp936(name_value.substr(kCipherPrefixChars), cipher)) return {};
  return cipher;
}

bool HoldsConfiguration(const std::wstring& name_value) {
  const std::wstring prefix = CipherPrefix;
  return name_value.size() > prefix.size() && name_value.compare(0, prefix.size(), prefix) == 0;
}

bool SettingsFileExists() { return IsOrdinaryFile(SettingsFilePath()); }

std::wstring OptionIn(const std::string& bytes, std::wstring_view section, std::wstring_view key) {
  std::string section936;
  std::string key936;
  // A name without a 936 form cannot be in a 936 file.
  if (!ToCp936(section, section936) || !ToCp936(key, key936)) return {};
  std::wstring value = FromCp936(IniText(bytes).Get(section936, key936, kReadBufferBytes));
  value.resize(std::min(value.size(), value.find(L'\0')));
  return TrimBlanks(value);
}

std::wstring ReadOption(std::wstring_view section, std::wstring_view key) {
  std::string bytes;
  if (!ReadFileBytes(SettingsFilePath(), bytes, kMaxSettingsBytes)) return {};
  return OptionIn(bytes, section, key);
}

SettingsRead ReadSettingsFile(std::string& bytes) {
  bytes.clear();
  const std::wstring path = SettingsFilePath();
  if (PathMissing(path) || (PathExists(path) && !IsOrdinaryFile(path))) return SettingsRead::Missing;
  if (!ReadFileBytes(path, bytes, kMaxSettingsBytes)) {
    bytes.clear();
    // Gone between the two looks: as missing as before it.
    return PathMissing(path) ? SettingsRead::Missing : SettingsRead::Unreadable;
  }
  return SettingsRead::Read;
}

bool ReadSettingsForRewrite(SettingsSnapshot& out) {
  out.path = SettingsFilePath();
  out.bytes.clear();
  out.existed = ReadFileBytes(out.path, out.bytes, kMaxSettingsBytes + 1);
  if (!out.existed && PathExists(out.path)) return false;
  return out.bytes.size() <= kMaxSettingsBytes;
}

WriteResult ApplyOption(std::string& bytes, std::wstring_view section, std::wstring_view key, std::wstring_view value) {
  value = value.substr(0, std::min(value.find(L'\0'), kWriteBufferChars));
  std::string section936;
  std::string key936;
  std::string value936;
  if (!ToCp936(section, section936) || !ToCp936(key, key936) || !ToCp936(value, value936)) {
    return WriteResult::Unrepresentable;
  }
  IniText ini(std::move(bytes));
  ini.Set(section936, key936, value936);
  bytes = ini.Serialize();
  return WriteResult::Ok;
}

WriteResult WriteOptions(std::wstring_view section, std::span<const OptionValue> values) {
  if (section == kSettingsSection) return WriteSettings(MakeSettingsRequest(SettingsOp::Set, values));
  SettingsSnapshot before;
  if (!ReadSettingsForRewrite(before)) return WriteResult::IoError;
  std::string after = before.bytes;
  const WriteResult applied = ApplyOptions(after, section, values);
  if (applied != WriteResult::Ok) return applied;
  if (before.existed && after == before.bytes) return WriteResult::Ok;  // the platform leaves an unchanged file alone
  return ReplaceFileAtomically(before.path, after) == FileError::None ? WriteResult::Ok : WriteResult::IoError;
}

WriteResult WriteOption(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
  const OptionValue one[] = {{key, value}};
  return WriteOptions(section, one);
}

}  // namespace tolvane
