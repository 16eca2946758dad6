// The settings write with the right rights, on Windows: the execution level
// the built programs ask for, a save whose settings write is refused once
// and is then done by the real program started as the elevated instance, the
// side-effect-free look at the folder's rights, and the shield on a skinned
// button.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "config/elevated_write.h"
#include "config/elevation_win.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "../core/settings_fixture.h"
#include "setup/save_config.h"
#include "skin_support.h"

namespace tolvane {
namespace {

std::wstring TestsFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// The program built beside the tests (build/win64) and the 32-bit release
// (dist/, two folders up).
std::wstring BuiltProgram() { return TestsFolder() + L"\\tolvane.exe"; }
// The two release programs of dist/, as the packages hold them.
std::wstring ReleaseProgram(const wchar_t* arch) {
  return TestsFolder() + L"\\..\\..\\dist\\" + arch + L"\\tolvane.exe";
}

// The application manifest embedded in `exe`, read without running it (a
// 32-bit exe loads as a data file into this 64-bit process too).
std::optional<std::string> EmbeddedManifest(const std::wstring& exe) {
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return std::nullopt;
  std::optional<std::string> text;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes) text = std::string(static_cast<const char*>(bytes), SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

TEST(Manifest, BothBuiltProgramsRunAsInvokerWithoutVirtualisation) {
  for (const std::wstring& exe : {BuiltProgram(), ReleaseProgram(L"x64"), ReleaseProgram(L"x86")}) {
    const std::string name(exe.begin(), exe.end());
    const std::optional<std::string> manifest = EmbeddedManifest(exe);
    ASSERT_TRUE(manifest.has_value()) << name << ": no program or no manifest (run tools/build.sh)";
    // One execution level, and it is the invoker's: an elevated start would
    // put a prompt before every lock, and none at all would let the system
    // virtualise the 32-bit program's writes to the Windows folder.
    const std::size_t at = manifest->find("<requestedExecutionLevel");
    ASSERT_NE(at, std::string::npos) << name;
    EXPECT_EQ(manifest->find("<requestedExecutionLevel", at + 1), std::string::npos) << name;
    const std::string element = manifest->substr(at, manifest->find("/>", at) - at);
    EXPECT_NE(element.find("level=\"asInvoker\""), std::string::npos) << element;
    EXPECT_NE(element.find("uiAccess=\"false\""), std::string::npos) << element;
    // In the trust section the system reads it from.
    EXPECT_LT(manifest->find("<trustInfo"), at) << name;
    EXPECT_GT(manifest->find("</trustInfo>"), at) << name;
  }
}

// The settings file refuses this process the first time, as the Windows
// folder does an unelevated token; the elevator is the program's own,
// starting the real tolvane.exe as the elevated instance (Wine has no
// elevation: "runas" just starts it). That process finds the settings in the
// system's Windows folder whatever this one's environment says, so the test
// works on the file there.
class ElevatedSaveOnWindows : public SettingsFileTest {
 protected:
  void SetUp() override {
    SettingsFileTest::SetUp();
    UseSystemWindowsFolder();
    ASSERT_TRUE(PathExists(BuiltProgram())) << "run tools/build.sh";
    SetFileFaultHook([this](FileStep step, const std::wstring& path) {
      if (step != FileStep::Create || path.rfind(SettingsFilePath(), 0) != 0 || refusals_ == 0) return FileError::None;
      --refusals_;
      return FileError::Refused;
    });
    SetSettingsElevator([this](const std::wstring& argument) {
      const std::optional<int> code = RunElevatedInstance(BuiltProgram(), argument);
      codes_.push_back(code);
      return code;
    });
    key_ = dir_ / "usb" / "tolvane.com";
    fs::create_directories(key_.parent_path());
  }
  void TearDown() override {
    SetSettingsElevator(nullptr);
    SetFileFaultHook(nullptr);
    SettingsFileTest::TearDown();
  }

  int refusals_ = 1;
  std::vector<std::optional<int>> codes_;
  fs::path key_;
};

TEST_F(ElevatedSaveOnWindows, ARefusedSaveIsWrittenByTheElevatedProgram) {
  WriteFileBytes("[Option]\r\nlabel=hello\r\n");
  const std::string cipher = EncipherPassword("secret");
  const SaveResult result = SaveConfiguration(L"E:", cipher, key_.wstring());
  EXPECT_EQ(result.outcome, SaveOutcome::Saved);
  ASSERT_EQ(codes_.size(), 1u);
  EXPECT_EQ(codes_[0], std::optional<int>(kElevatedWritten));
  EXPECT_EQ(refusals_, 0);
  EXPECT_EQ(ReadOption(kSettingsSection, L"drive"), L"E:");
  EXPECT_EQ(ReadOption(kSettingsSection, L"name"), std::wstring(CipherPrefix) + std::wstring(cipher.begin(), cipher.end()));
  EXPECT_EQ(ReadOption(kSettingsSection, L"label"), L"hello");
  EXPECT_EQ(FileBytesAt(key_), KeyFileBytes(L"E:", cipher));
  EXPECT_TRUE(Configured());
}

TEST_F(ElevatedSaveOnWindows, TheElevatedProgramRefusesAnotherFile) {
  // A hostile caller names a file of its choosing: the program only compares
  // it with its own settings file and writes nothing.
  SettingsRequest request;
  request.path = (dir_ / "other.ini").wstring();
  request.values = {{L"name", L"x"}};
  EXPECT_EQ(RunElevatedInstance(BuiltProgram(), EncodeSettingsRequest(request)),
            std::optional<int>(kElevatedWrongFile));
  EXPECT_FALSE(fs::exists(dir_ / "other.ini"));
  EXPECT_FALSE(fs::exists(FilePath()));
  EXPECT_EQ(RunElevatedInstance(BuiltProgram(), L"T1*set*%0025"), std::optional<int>(kElevatedInvalid));
}

TEST_F(ElevatedSaveOnWindows, RelockSwitchRefusedOnceIsWritten) {
  WriteFileBytes("[Option]\r\nrelock=0\r\n");
  EXPECT_EQ(WriteOption(kSettingsSection, L"relock", L"1"), WriteResult::Ok);
  EXPECT_EQ(codes_.size(), 1u);
  EXPECT_EQ(FileBytes(), "[Option]\r\nrelock=1\r\n");
}

std::set<std::wstring> Listing(const fs::path& dir) {
  std::set<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().wstring());
  return names;
}

TEST_F(ElevatedSaveOnWindows, LookingAtTheRightsChangesNothing) {
  SetFileFaultHook(nullptr);
  EXPECT_TRUE(CanWriteSettingsFile());  // a folder of our own, no file yet
  EXPECT_TRUE(Listing(dir_).count(L"usb"));
  EXPECT_EQ(Listing(dir_).size(), 1u);

  WriteFileBytes("[Option]\r\nrelock=1\r\n");
  const auto before = fs::last_write_time(FilePath());
  const std::set<std::wstring> names = Listing(dir_);
  EXPECT_TRUE(CanWriteSettingsFile());
  EXPECT_EQ(Listing(dir_), names);
  EXPECT_EQ(fs::last_write_time(FilePath()), before);
  EXPECT_EQ(FileBytes(), "[Option]\r\nrelock=1\r\n");
}

class ShieldOnSkinnedButton : public test::SkinFormTest {};

TEST_F(ShieldOnSkinnedButton, IsDrawnIntoEveryFaceAndTakenOffAgain) {
  HWND button = test::AddPushButton(form_, L"保存配置", 10, 10, 96, 25);
  ASSERT_EQ(skin::SkinWindow(button), 1);
  std::vector<test::Face> plain;
  for (int s = 0; s < 4; ++s) plain.push_back(test::ReadFace(button, s));
  skin::SetShield(button, true);
  for (int s = 0; s < 4; ++s) EXPECT_GT(test::MaxDifference(test::ReadFace(button, s), plain[s]), 0) << s;
  skin::SetShield(button, false);
  for (int s = 0; s < 4; ++s) EXPECT_EQ(test::MaxDifference(test::ReadFace(button, s), plain[s]), 0) << s;
  // Set before the skinning, it is drawn from the start.
  HWND early = test::AddPushButton(form_, L"保存配置", 10, 50, 96, 25);
  skin::SetShield(early, true);
  ASSERT_EQ(skin::SkinWindow(early), 1);
  EXPECT_GT(test::MaxDifference(test::ReadFace(early, 0), plain[0]), 0);
}

}  // namespace
}  // namespace tolvane
