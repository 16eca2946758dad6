// A settings file of the test's own: "windir" points at a fresh directory for
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

#ifdef _WIN32
#include <stdlib.h>
#endif

namespace tolvane {

namespace fs = std::filesystem;

inline void SetWindir(const std::wstring& value) {
#ifdef _WIN32
  _wputenv_s(L"windir", value.c_str());
#else
  setenv("windir", fs::path(value).string().c_str(), 1);
#endif
}

inline std::optional<std::wstring> CurrentWindir() {
#ifdef _WIN32
  const wchar_t* v = _wgetenv(L"windir");
  if (!v) return std::nullopt;
  return std::wstring(v);
#else
  const char* v = std::getenv("windir");
  if (!v) return std::nullopt;
  return fs::path(v).wstring();
#endif
}

inline void RestoreWindir(const std::optional<std::wstring>& value) {
#ifdef _WIN32
  _wputenv_s(L"windir", value ? value->c_str() : L"");
#else
  if (value) {
    setenv("windir", fs::path(*value).string().c_str(), 1);
  } else {
    unsetenv("windir");
  }
#endif
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
    saved_windir_ = CurrentWindir();
    SetWindir(dir_.wstring());
  }
  void TearDown() override {
    RestoreWindir(saved_windir_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path FilePath() const { return dir_ / "vemro.qarn"; }

  std::string FileBytes() const { return FileBytesAt(FilePath()); }
  void WriteFileBytes(const std::string& bytes) const { WriteBytesAt(FilePath(), bytes); }

  fs::path dir_;
  std::optional<std::wstring> saved_windir_;
};

}  // namespace tolvane
