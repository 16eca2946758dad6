// Settings an older copy left in the user's VirtualStore: found, offered once,
// moved (through the elevated instance when refused) and then gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "config/elevated_write.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "settings_fixture.h"
#include "setup/virtual_store.h"

namespace tolvane {
namespace {

// A path in the Windows form the program uses, as this build's file system
// reads it (the native build reads '\\' as '/', as the program does there).
fs::path AsFsPath(std::wstring path) {
#ifndef _WIN32
  std::replace(path.begin(), path.end(), L'\\', L'/');
#endif
  return fs::path(path);
}

TEST(VirtualStorePath, IsTheWindowsFolderUnderTheUsersStore) {
  const std::optional<std::wstring> saved_folder = SettingsFolderForTests();
  const std::optional<std::wstring> saved_windir = EnvVar("windir");
  const std::optional<std::wstring> saved_store = EnvVar("LOCALAPPDATA");
  const std::wstring store = L"C:\\Users\\a\\AppData\\Local";
  // The store follows the settings folder: a "windir" of the caller's
  // choosing names neither.
  SetEnvVar("windir", L"E:\\Elsewhere");
  const struct {
    std::wstring folder;
    std::optional<std::wstring> store;
    std::wstring expected;
  } cases[] = {
      {L"C:\\Windows", store, store + L"\\VirtualStore\\Windows\\vemro.qarn"},
      {L"D:\\WINNT\\", store, store + L"\\VirtualStore\\WINNT\\vemro.qarn"},
      {L"C:\\", store, store + L"\\VirtualStore\\vemro.qarn"},
      {L"C:", store, store + L"\\VirtualStore\\vemro.qarn"},
      {L"C:\\Windows", std::nullopt, L""},
      {L"", store, L""},
      {L"Windows", store, L""},
  };
  for (const auto& c : cases) {
    SetSettingsFolder(c.folder);
    SetEnvVar("LOCALAPPDATA", c.store);
    EXPECT_EQ(VirtualStoreSettingsPath(), c.expected) << fs::path(c.folder).string();
  }
  SetSettingsFolder(saved_folder);
  SetEnvVar("windir", saved_windir);
  SetEnvVar("LOCALAPPDATA", saved_store);
}

TEST(VirtualStoreMove, CarriesOurKeysAsTheProgramReadsThem) {
  // Blanks trimmed, quotes taken off, the first of two sections' values, other
  // sections and unknown keys left behind: what the lock read in the copy.
  const std::optional<SettingsRequest> request = MoveRequestFrom(
      "; old copy\r\n[Other]\r\nname=elsewhere\r\n[Option]\r\ndrive= E: \r\nname=QRNx\r\nunknown=1\r\n"
      "label=\"hi\"\r\nrelock=1\r\n[Option]\r\nname=second\r\n");
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->op, SettingsOp::Replace);
  EXPECT_EQ(request->path, SettingsFilePath());
  EXPECT_EQ(request->values, (std::vector<std::pair<std::wstring, std::wstring>>{
                                 {L"drive", L"E:"}, {L"name", L"QRNx"}, {L"relock", L"1"}, {L"label", L"hi"}}));
  EXPECT_FALSE(MoveRequestFrom("[Other]\r\nname=x\r\n").has_value());
  EXPECT_FALSE(MoveRequestFrom("").has_value());
}

// A user's profile and Windows folder of the test's own, with an old copy in
// the store and a settings folder that refuses the first write.
class VirtualStoreTest : public SettingsFileTest {
 protected:
  void SetUp() override {
    SettingsFileTest::SetUp();
    saved_store_ = EnvVar("LOCALAPPDATA");
    store_ = dir_ / "profile";
    SetEnvVar("LOCALAPPDATA", store_.wstring());
    copy_ = AsFsPath(VirtualStoreSettingsPath());
    fs::create_directories(copy_.parent_path());
    WriteBytesAt(copy_, "[Option]\r\ndrive=E:\r\nname=QRN-old\r\nrelock=1\r\n");
    SetFileFaultHook([this](FileStep step, const std::wstring& path) {
      if (step != FileStep::Create || path.rfind(SettingsFilePath(), 0) != 0 || refusals_ == 0) return FileError::None;
      --refusals_;
      return FileError::Refused;
    });
    SetSettingsElevator([this](const std::wstring& argument) -> std::optional<int> {
      ++asked_;
      if (!elevate_) return std::nullopt;
      return RunElevatedWrite({kElevatedWriteSwitch, argument});
    });
  }
  void TearDown() override {
    SetSettingsElevator(nullptr);
    SetFileFaultHook(nullptr);
    SetEnvVar("LOCALAPPDATA", saved_store_);
    SettingsFileTest::TearDown();
  }

  std::optional<std::wstring> saved_store_;
  fs::path store_, copy_;
  int refusals_ = 1;
  bool elevate_ = true;
  int asked_ = 0;
};

TEST_F(VirtualStoreTest, TheCopyIsFoundUnderTheStoreOfThisWindowsFolder) {
  // The Windows folder's path without its drive, under the store.
  EXPECT_EQ(copy_.filename(), "vemro.qarn");
  EXPECT_EQ(copy_.parent_path().filename(), dir_.filename());
  EXPECT_TRUE(ShouldOfferMove());
}

TEST_F(VirtualStoreTest, AMoveWritesTheRealFileAndIsNotOfferedAgain) {
  WriteFileBytes("[Option]\r\nlabel=kept only in the real file\r\n");
  EXPECT_EQ(MoveVirtualStoreSettings(), MoveOutcome::Moved);
  EXPECT_EQ(asked_, 1);
  EXPECT_EQ(FileBytes(), "[Option]\r\ndrive=E:\r\nname=QRN-old\r\nrelock=1\r\n");
  EXPECT_FALSE(fs::exists(copy_));
  EXPECT_FALSE(ShouldOfferMove());
  // Even should a copy come back (an older copy still in use), it was answered.
  WriteBytesAt(copy_, "[Option]\r\nname=QRN-again\r\n");
  EXPECT_FALSE(ShouldOfferMove());
}

TEST_F(VirtualStoreTest, ANoIsRememberedAndTheCopyStays) {
  RememberMoveAnswer();
  EXPECT_FALSE(ShouldOfferMove());
  EXPECT_TRUE(fs::exists(copy_));
  EXPECT_FALSE(fs::exists(FilePath()));
}

TEST_F(VirtualStoreTest, ADeclinedPromptChangesNothingAndAsksAgainNextTime) {
  elevate_ = false;
  EXPECT_EQ(MoveVirtualStoreSettings(), MoveOutcome::Declined);
  EXPECT_TRUE(fs::exists(copy_));
  EXPECT_FALSE(fs::exists(FilePath()));
  EXPECT_TRUE(ShouldOfferMove());
}

TEST_F(VirtualStoreTest, ACopyWithNothingOfOursIsNotOffered) {
  WriteBytesAt(copy_, "[Other]\r\nname=x\r\n");
  EXPECT_FALSE(ShouldOfferMove());
  EXPECT_EQ(MoveVirtualStoreSettings(), MoveOutcome::Failed);
  EXPECT_EQ(asked_, 0);
}

}  // namespace
}  // namespace tolvane
