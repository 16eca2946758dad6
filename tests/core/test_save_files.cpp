// The save, the appearance editor's save and the remove against the files
// they leave: with a failure injected at every step in turn, with stale and
// unreadable files in the way, and over many generated passwords and settings
// files. Runs natively and, with the real Win32 file calls, under Wine.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "appearance/appearance.h"
#include "config/cipher.h"
#include "config/codepage.h"
#include "config/fileio.h"
#include "config/ini.h"
#include "config/settings.h"
#include "lock/drive_watch.h"
#include "settings_fixture.h"
#include "setup/save_config.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tolvane {
namespace {

// Counts the steps that change the file system and fails the n-th one; when
// `persistent`, every step after it fails too (a drive pulled out for good).
class FaultPlan {
 public:
  explicit FaultPlan(int fail_at, FileError error = FileError::Failed, bool persistent = false) {
    SetFileFaultHook([this, fail_at, error, persistent](FileStep, const std::wstring& path) {
      ++steps_;
      if (steps_ < fail_at || (steps_ > fail_at && !persistent)) return FileError::None;
      if (steps_ == fail_at) failed_path_ = path;
      return error;
    });
  }
  ~FaultPlan() { SetFileFaultHook(nullptr); }
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  bool injected() const { return failed_path_.has_value(); }
  const std::wstring& failed_path() const { return *failed_path_; }
  int steps() const { return steps_; }

 private:
  int steps_ = 0;
  std::optional<std::wstring> failed_path_;
};

// The settings file and one drive's key file, each absent or with its bytes.
struct Pair {
  std::optional<std::string> settings;
  std::optional<std::string> key;
  friend bool operator==(const Pair&, const Pair&) = default;
};

std::string Show(const std::optional<std::string>& bytes) { return bytes ? "\"" + *bytes + "\"" : "(absent)"; }

void PrintTo(const Pair& pair, std::ostream* os) {
  *os << "settings " << Show(pair.settings) << ", key " << Show(pair.key);
}

std::string Prefix936() {
  std::string bytes;
  ToCp936(CipherPrefix, bytes);
  return bytes;
}

std::string Settings(const std::string& drive, const std::string& cipher, const std::string& rest = "") {
  return "[Option]\r\ndrive=" + drive + "\r\nname=" + Prefix936() + cipher + "\r\n" + rest;
}

// Appearance keys that carry "name=" and a settings key spelled "Name": the
// key file must still hold just the lines the lock looks for.
const std::string kAppearance =
    "FontSize=24\r\nFontBold=True\r\nFontItalic=False\r\nFontStrikethru=False\r\nFontUnderline=False\r\n"
    "FontName=name=x\r\nColor=255\r\nlabel=my name=1\r\nphoto=C:\\name=.jpg\r\n";

class SaveFilesTest : public SettingsFileTest {
 protected:
  void SetUp() override {
    SettingsFileTest::SetUp();
    usb_ = dir_ / "usb";
    fs::create_directories(usb_);
  }
  void TearDown() override {
    SetFileFaultHook(nullptr);
    SettingsFileTest::TearDown();
  }

  fs::path KeyPath() const { return usb_ / "tolvane.com"; }
  std::wstring Key() const { return KeyPath().wstring(); }
  std::wstring SettingsPath() const { return SettingsFilePath(); }

  static std::optional<std::string> Read(const fs::path& p) {
    if (!fs::exists(p)) return std::nullopt;
    return FileBytesAt(p);
  }
  static void Lay(const fs::path& p, const std::optional<std::string>& bytes) {
    std::error_code ec;
    fs::permissions(p, fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove(p, ec);
    if (bytes) WriteBytesAt(p, *bytes);
  }
  Pair OnDisk() const { return {Read(FilePath()), Read(KeyPath())}; }
  void Lay(const Pair& pair) const {
    Lay(FilePath(), pair.settings);
    Lay(KeyPath(), pair.key);
  }
  // Nothing but the two files: no temporary file is left behind.
  std::vector<std::string> StrayFiles() const {
    std::vector<std::string> stray;
    for (const fs::path& folder : {dir_, usb_}) {
      for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "vemro.qarn" && name != "tolvane.com" && name != "usb") stray.push_back(name);
      }
    }
    return stray;
  }
  bool OnDrive(const std::wstring& path) const { return path.rfind(usb_.wstring(), 0) == 0; }

  fs::path usb_;
};

const std::string kOldCipher = EncipherPassword("Old-Pw1");
const std::string kNewCipher = EncipherPassword("{secret1");  // " g%q.0tC": a leading blank

struct Start {
  const char* what;
  Pair old_pair;
  Pair new_pair;
};

std::vector<Start> SaveStarts() {
  const std::string new_key = "[Option]\r\ndrive=E:\r\nname=" + kNewCipher + "\r\n";
  return {
      {"configured, appearance saved",
       {Settings("F:", kOldCipher, kAppearance), "[Option]\r\ndrive=F:\r\nname=" + kOldCipher + "\r\n"},
       {Settings("E:", kNewCipher, kAppearance), new_key}},
      {"first save", {std::nullopt, std::nullopt}, {Settings("E:", kNewCipher), new_key}},
      {"appearance only, no key on this drive",
       {"[Option]\r\nlabel=hello\r\n", std::nullopt},
       {"[Option]\r\nlabel=hello\r\ndrive=E:\r\nname=" + Prefix936() + kNewCipher + "\r\n", new_key}},
      {"key spelled Name, a foreign key file",
       {"[Option]\r\nName=" + Prefix936() + kOldCipher + "\r\n", "whatever was there"},
       {"[Option]\r\nName=" + Prefix936() + kNewCipher + "\r\ndrive=E:\r\n", new_key}},
  };
}

TEST_F(SaveFilesTest, EveryFailedStepLeavesTheOldPairAndSaysWhichFileFailed) {
  ASSERT_EQ(kNewCipher.front(), ' ');
  for (const Start& start : SaveStarts()) {
    int n = 1;
    for (;; ++n) {
      Lay(start.old_pair);
      FaultPlan plan(n);
      const SaveResult result = SaveConfiguration(L"E:", kNewCipher, Key());
      if (!plan.injected()) {
        EXPECT_EQ(result.outcome, SaveOutcome::Saved) << start.what;
        EXPECT_EQ(result.message, L"") << start.what;
        EXPECT_EQ(OnDisk(), start.new_pair) << start.what;
        break;
      }
      EXPECT_EQ(OnDisk(), start.old_pair) << start.what << ", step " << n;
      if (OnDrive(plan.failed_path())) {
        EXPECT_EQ(result.outcome, SaveOutcome::KeyFailed) << start.what << ", step " << n;
        EXPECT_EQ(result.message, CopyFailedMessage(L"E:")) << start.what << ", step " << n;
      } else {
        EXPECT_EQ(result.outcome, SaveOutcome::SettingsFailed) << start.what << ", step " << n;
        EXPECT_EQ(result.message, SettingsWriteFailedMessage(SettingsPath())) << start.what << ", step " << n;
      }
      EXPECT_EQ(StrayFiles(), std::vector<std::string>{}) << start.what << ", step " << n;
      ASSERT_LT(n, 100) << "the save never got through";
    }
    // Create, write, flush and rename for each file at the least.
    EXPECT_GE(n, 9) << start.what;
  }
}

TEST_F(SaveFilesTest, WhenTheKeyCannotBePutBackTheBoxSaysSo) {
  // Every step from the n-th on fails: once the settings file has failed,
  // putting the old key file back fails too.
  for (const Start& start : SaveStarts()) {
    bool restore_failed = false;
    for (int n = 1;; ++n) {
      Lay(start.old_pair);
      FaultPlan plan(n, FileError::Failed, /*persistent=*/true);
      const SaveResult result = SaveConfiguration(L"E:", kNewCipher, Key());
      if (!plan.injected()) break;
      ASSERT_NE(result.outcome, SaveOutcome::Saved) << start.what << ", step " << n;
      if (result.outcome == SaveOutcome::RestoreFailed) {
        restore_failed = true;
        EXPECT_EQ(result.message, KeyRestoreFailedMessage(SettingsPath(), Key())) << start.what;
        // The settings file is the old one: the old password still opens the lock.
        EXPECT_EQ(OnDisk().settings, start.old_pair.settings) << start.what << ", step " << n;
        EXPECT_EQ(OnDisk().key, start.new_pair.key) << start.what << ", step " << n;
      } else {
        EXPECT_EQ(OnDisk(), start.old_pair) << start.what << ", step " << n;
      }
      ASSERT_LT(n, 100);
    }
    EXPECT_TRUE(restore_failed) << start.what;
  }
}

TEST_F(SaveFilesTest, DriveThatRefusesTheWriteGetsTheWriteProtectBox) {
  const Start start = SaveStarts()[0];
  Lay(start.old_pair);
  FaultPlan plan(1, FileError::Refused);
  const SaveResult result = SaveConfiguration(L"E:", kNewCipher, Key());
  ASSERT_TRUE(plan.injected());
  ASSERT_TRUE(OnDrive(plan.failed_path())) << "the key file goes first";
  EXPECT_EQ(result.outcome, SaveOutcome::KeyRefused);
  EXPECT_EQ(result.message, WriteProtectedMessage(L"E:"));
  EXPECT_EQ(OnDisk(), start.old_pair);
}

TEST_F(SaveFilesTest, FilesInTheWayRefuseTheSaveBeforeAnythingIsWritten) {
  const Start start = SaveStarts()[0];
  {
    SCOPED_TRACE("read-only key file");
    Lay(start.old_pair);
    fs::permissions(KeyPath(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const SaveResult result = SaveConfiguration(L"E:", kNewCipher, Key());
    EXPECT_EQ(result.outcome, SaveOutcome::KeyReadOnly);
    EXPECT_EQ(result.message, CopyFailedMessage(L"E:"));
    EXPECT_EQ(OnDisk(), start.old_pair);
  }
  {
    SCOPED_TRACE("settings path that cannot be read");
    Lay(start.old_pair);
    Lay(FilePath(), std::nullopt);
    fs::create_directory(FilePath());
    const SaveResult result = SaveConfiguration(L"E:", kNewCipher, Key());
    EXPECT_EQ(result.outcome, SaveOutcome::SettingsUnreadable);
    EXPECT_EQ(result.message, SettingsUnreadableMessage(SettingsPath()));
    EXPECT_NE(result.message.find(SettingsPath()), std::wstring::npos);
    EXPECT_EQ(Read(KeyPath()), start.old_pair.key);
    EXPECT_TRUE(fs::is_directory(FilePath()));
    fs::remove(FilePath());
  }
#ifdef _WIN32
  {
    SCOPED_TRACE("settings file held open by another program");
    Lay(start.old_pair);
    HANDLE held = CreateFileW(FilePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const SaveResult result = SaveConfiguration(L"E:", kNewCipher, Key());
    AppearanceValues values;
    values[kKeyLabel] = L"new";
    const bool appearance_saved = WriteAppearance(values);
    CloseHandle(held);
    EXPECT_EQ(result.outcome, SaveOutcome::SettingsUnreadable);
    EXPECT_FALSE(appearance_saved);
    EXPECT_EQ(OnDisk(), start.old_pair);
  }
#endif
}

TEST_F(SaveFilesTest, StaleTemporariesNeverBlockASaveAndOursAreCleanedUp) {
  const Start start = SaveStarts()[0];
  Lay(start.old_pair);
  const fs::path ours[] = {dir_ / "vemro.qarn.0badf00d.tmp", usb_ / "tolvane.com.deadbeef.tmp",
                           usb_ / "tolvane.com.00000001.tmp"};
  const fs::path theirs[] = {usb_ / "tolvane.com.bak", usb_ / "tolvane.com.deadbeeg.tmp", dir_ / "vemro.qarn.tmp"};
  for (const fs::path& p : ours) {
    WriteBytesAt(p, "half a file");
    fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  for (const fs::path& p : theirs) WriteBytesAt(p, "not ours");
  const SaveResult result = SaveConfiguration(L"E:", kNewCipher, Key());
  EXPECT_EQ(result.outcome, SaveOutcome::Saved);
  EXPECT_EQ(OnDisk(), start.new_pair);
  for (const fs::path& p : ours) EXPECT_FALSE(fs::exists(p)) << p;
  for (const fs::path& p : theirs) EXPECT_EQ(FileBytesAt(p), "not ours") << p;
}

TEST(TemporaryNames, AreUniquePerTryAndRecognisedOnlyInTheirOwnShape) {
  const std::wstring a = TemporaryNameFor(L"E:\\tolvane.com", 1);
  EXPECT_EQ(a, L"E:\\tolvane.com.00000001.tmp");
  EXPECT_NE(TemporaryNameFor(L"E:\\tolvane.com", 2), a);
  EXPECT_TRUE(IsTemporaryNameOf(L"tolvane.com.00000001.tmp", L"tolvane.com"));
  EXPECT_TRUE(IsTemporaryNameOf(L"TOLVANE.COM.0BADF00D.tmp", L"tolvane.com"));  // names ignore case on Windows
  for (const wchar_t* other : {L"tolvane.com.tmp", L"tolvane.com.0000001.tmp", L"tolvane.com.0000000g.tmp",
                               L"tolvane.com.00000001.tmpx", L"vemro.qarn.00000001.tmp", L"xtolvane.com.00000001.tmp"}) {
    EXPECT_FALSE(IsTemporaryNameOf(other, L"tolvane.com")) << fs::path(other).string();
  }
}

TEST_F(SaveFilesTest, RemoveNeverLeavesASettingsFileWithoutItsKey) {
  const Pair old_pair = SaveStarts()[0].old_pair;
  int n = 1;
  for (;; ++n) {
    Lay(old_pair);
    FaultPlan plan(n);
    const RemoveResult result = RemoveConfiguration(Key());
    const Pair now = OnDisk();
    if (!plan.injected()) {
      EXPECT_EQ(result.outcome, RemoveOutcome::Removed);
      EXPECT_EQ(result.message, kMsgRemoved);
      EXPECT_EQ(now, Pair{});
      break;
    }
    const std::wstring cannot = L"以下文件无法删除（可能是只读文件，或U盘已拔出）：\r\n";
    if (OnDrive(plan.failed_path())) {
      EXPECT_EQ(result.outcome, RemoveOutcome::KeyKept) << n;
      EXPECT_EQ(result.message, cannot + Key()) << n;
      EXPECT_EQ(now, (Pair{std::nullopt, old_pair.key})) << n;
    } else {
      EXPECT_EQ(result.outcome, RemoveOutcome::SettingsKept) << n;
      EXPECT_EQ(result.message.rfind(cannot + SettingsPath() + L"\r\n", 0), 0u) << n;
      EXPECT_EQ(now, old_pair) << n;
    }
    ASSERT_LT(n, 10);
  }
  EXPECT_EQ(n, 3) << "two deletes, then success";
}

TEST_F(SaveFilesTest, AppearanceSaveStoresAllNineKeysOrNone) {
  const Pair old_pair = {Settings("E:", kOldCipher, "FontSize=12\r\nlabel=old\r\n"),
                         "[Option]\r\ndrive=E:\r\nname=" + kOldCipher + "\r\n"};
  AppearanceValues values = {L"10.5", L"True", L"False", L"True", L"False", L"黑体", L"255", L"挂机 name=", L"D:\\a.jpg"};
  std::string values936[kAppearanceKeyCount];
  for (std::size_t i = 0; i < values.size(); ++i) ASSERT_TRUE(ToCp936(values[i], values936[i]));
  const std::string expected = Settings("E:", kOldCipher,
                                        "FontSize=10.5\r\nlabel=" + values936[kKeyLabel] +
                                            "\r\nFontBold=True\r\nFontItalic=False\r\nFontStrikethru=True\r\n"
                                            "FontUnderline=False\r\nFontName=" + values936[kKeyFontName] +
                                            "\r\nColor=255\r\nphoto=D:\\a.jpg\r\n");
  int n = 1;
  for (;; ++n) {
    Lay(old_pair);
    FaultPlan plan(n);
    const bool saved = WriteAppearance(values);
    if (!plan.injected()) {
      EXPECT_TRUE(saved);
      EXPECT_EQ(OnDisk(), (Pair{expected, old_pair.key}));
      break;
    }
    EXPECT_FALSE(saved) << n;
    EXPECT_EQ(OnDisk(), old_pair) << n;
    EXPECT_EQ(StrayFiles(), std::vector<std::string>{}) << n;
    ASSERT_LT(n, 10);
  }
  EXPECT_EQ(n, 5) << "create, write, flush and rename of one file";
  EXPECT_EQ(ReadOption(kSettingsSection, L"label"), L"挂机 name=");
}

// The lock's side: the key file of a drive as the drive watch reads it.
class FileKeySource : public KeyFileSource {
 public:
  explicit FileKeySource(std::wstring path) : path_(std::move(path)) {}
  // An ordinary file reads as one; anything else as hidden, which the watch
  // also takes for no key file.
  bool Attributes(const std::wstring&, std::uint32_t& attributes) override {
    if (!PathExists(path_)) return false;
    attributes = IsOrdinaryFile(path_) ? 0x20 : kAttrHidden;
    return true;
  }
  bool Read(const std::wstring& drive, std::uint32_t& attributes, std::string& bytes, std::size_t limit) override {
    return Attributes(drive, attributes) && ReadFileBytes(path_, bytes, limit);
  }

 private:
  std::wstring path_;
};

// Random text for an appearance value: printable ASCII with "name=" and
// "Name=" thrown in, and now and then a Chinese character.
std::wstring RandomValue(std::mt19937& rng) {
  static const std::wstring pieces[] = {L"name=", L"Name=", L"NAME=", L" ", L"=", L"[Option]", L"挂机", L"\"", L";"};
  std::wstring value;
  const int parts = std::uniform_int_distribution<int>(0, 6)(rng);
  for (int i = 0; i < parts; ++i) {
    if (rng() % 3 == 0) {
      value += pieces[rng() % std::size(pieces)];
    } else {
      value += static_cast<wchar_t>(std::uniform_int_distribution<int>(32, 126)(rng));
    }
  }
  return value;
}

std::wstring RandomPassword(std::mt19937& rng) {
  std::wstring pw;
  if (rng() % 4 == 0) pw += L'{';  // a cipher that starts with a blank
  const int length = std::uniform_int_distribution<int>(1, 40)(rng);
  while (static_cast<int>(pw.size()) < length) pw += static_cast<wchar_t>(std::uniform_int_distribution<int>(32, 126)(rng));
  return pw;
}

TEST_F(SaveFilesTest, EveryAcceptedPasswordGivesAKeyThatOpensTheLock) {
  const std::string starts[] = {
      "",
      "[Option]\r\nName=old\r\n",
      "[option]\r\nNAME = " + Prefix936() + kOldCipher + "\r\nlabel=name=1\r\n",
      "; hand-written\r\n[Option]\r\nFontName=name=x\r\nname=\r\n[Other]\r\nname=y\r\n",
  };
  std::mt19937 rng(936);
  int accepted = 0;
  for (int round = 0; round < 300; ++round) {
    Lay(Pair{starts[round % std::size(starts)], std::nullopt});
    AppearanceValues values;
    for (std::wstring& v : values) v = RandomValue(rng);
    if (round % 5 != 0) ASSERT_TRUE(WriteAppearance(values)) << round;
    const std::wstring pw = round == 0 ? L"{secret1" : RandomPassword(rng);
    const SaveCheck check = CheckSave(L"E:", pw, pw);
    if (check.refusal != SaveRefusal::None) continue;
    ++accepted;
    const SaveResult result = SaveConfiguration(L"E:", check.cipher, Key());
    ASSERT_EQ(result.outcome, SaveOutcome::Saved) << round;

    // What the lock does at its start and at each tick of the drive watch.
    const std::string stored = CipherOfNameValue(ReadOption(kSettingsSection, L"name"));
    FileKeySource source(Key());
    std::string found;
    ASSERT_TRUE(ReadKeyCipher(source, L"E:", found)) << round;
    EXPECT_TRUE(CipherMatches(found, stored)) << "round " << round << ": [" << found << "] vs [" << stored << "]";
    EXPECT_EQ(FromCp936(DecipherPassword(stored)), pw) << round;
    EXPECT_EQ(ReadOption(kSettingsSection, L"drive"), L"E:") << round;
  }
  EXPECT_GT(accepted, 150);
}

}  // namespace
}  // namespace tolvane
