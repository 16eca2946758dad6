// A settings file of the test's own: the settings folder is redirected (a
// test build's seam, from inside this process only) to a fresh directory for
// each test, so the program's own path logic finds the settings file there.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "config/fileio.h"
#include "config/settings.h"

#ifdef _WIN32
#include <stdlib.h>
#endif

namespace tolvane {

namespace fs = std::filesystem;

// Names the folder SettingsFilePath() uses from now on (nullopt: the
// system's Windows folder again).
inline void SetSettingsFolder(const std::optional<std::wstring>& folder) { SetSettingsFolderForTests(folder); }

inline void SetEnvVar(const char* name, const std::optional<std::wstring>& value) {
#ifdef _WIN32
  const std::wstring wname(name, name + std::char_traits<char>::length(name));
  _wputenv_s(wname.c_str(), value ? value->c_str() : L"");
#else
  if (value) {
    setenv(name, fs::path(*value).string().c_str(), 1);
  } else {
    unsetenv(name);
  }
#endif
}

inline std::optional<std::wstring> EnvVar(const char* name) {
  const std::wstring value = GetEnv(fs::path(name).wstring().c_str());
  if (value.empty()) return std::nullopt;
  return value;
}

inline std::string FileBytesAt(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytesAt(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() /
           ("tolvane-settings-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(dir_);
    settings_dir_ = dir_;
    saved_folder_ = SettingsFolderForTests();
    SetSettingsFolder(dir_.wstring());
  }
  void TearDown() override {
    if (system_bytes_) {
      WriteBytesAt(FilePath(), *system_bytes_);
    } else if (settings_dir_ != dir_) {
      std::error_code ec;
      fs::remove(FilePath(), ec);
    }
    SetSettingsFolder(saved_folder_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // For a test that starts another process of the program: that process
  // knows no seam and finds the system's Windows folder. A settings file
  // already there is put back as it was when the test ends.
  void UseSystemWindowsFolder() {
    SetSettingsFolder(std::nullopt);
    std::wstring folder = SettingsFolder();
#ifndef _WIN32
    for (wchar_t& c : folder) c = c == L'\\' ? L'/' : c;
#endif
    settings_dir_ = fs::path(folder);
    std::error_code ec;
    if (fs::is_regular_file(FilePath(), ec)) system_bytes_ = FileBytes();
    fs::remove(FilePath(), ec);
  }

  fs::path FilePath() const { return settings_dir_ / "vemro.qarn"; }

  std::string FileBytes() const { return FileBytesAt(FilePath()); }
  void WriteFileBytes(const std::string& bytes) const { WriteBytesAt(FilePath(), bytes); }

  fs::path dir_, settings_dir_;
  std::optional<std::wstring> saved_folder_;
  std::optional<std::string> system_bytes_;
};

}  // namespace tolvane
