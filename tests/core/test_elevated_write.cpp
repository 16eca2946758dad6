// The settings write that an elevated instance does for a process that was
// refused: the request's form, what the elevated instance accepts, and the
// saves that hand their refused write to it. The stand-in elevator runs the
// elevated instance's code in this process.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "config/elevated_write.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "lock/relock.h"
#include "settings_fixture.h"
#include "setup/save_config.h"

namespace tolvane {
namespace {

const std::wstring kPrefix = CipherPrefix;

SettingsRequest Request(SettingsOp op, std::wstring path, std::vector<std::pair<std::wstring, std::wstring>> values) {
  SettingsRequest r;
  r.op = op;
  r.path = std::move(path);
  r.values = std::move(values);
  return r;
}

TEST(SettingsRequestCodec, RoundTripsAndNeedsNoQuoting) {
  const SettingsRequest cases[] = {
      Request(SettingsOp::Set, L"C:\\Windows\\vemro.qarn", {{L"relock", L"1"}}),
      Request(SettingsOp::Set, L"C:\\Program Files (x86)\\x y\\vemro.qarn",
              {{L"drive", L"E:"}, {L"name", L"a*b%c \"q\" ~"}, {L"name", kPrefix + L"a*b%c"}}),
      Request(SettingsOp::Replace, L"D:\\WIN\\vemro.qarn",
              {{L"label", L"挂机中，请勿操作！"}, {L"photo", L"C:\\图片\\a b.jpg"}, {L"Color", L""}}),
      Request(SettingsOp::Remove, L"C:\\Windows\\vemro.qarn", {}),
  };
  for (const SettingsRequest& request : cases) {
    const std::wstring text = EncodeSettingsRequest(request);
    // Nothing an argument splitter could cut or unquote.
    for (wchar_t c : text) {
      const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
      ASSERT_TRUE(plain || c == L'*' || c == L'%') << text;
    }
    const std::optional<SettingsRequest> back = DecodeSettingsRequest(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, request) << text;
  }
}

TEST(SettingsRequestCodec, RefusesWhatThisProgramNeverSends) {
  const std::wstring path = L"C%003A%005CWindows%005Cvemro%002Eqarn";  // C:\Windows\vemro.qarn
  const std::wstring ok = L"T1*set*" + path + L"*relock*1";
  ASSERT_TRUE(DecodeSettingsRequest(ok).has_value());
  std::wstring sixteen_pairs = L"T1*set*" + path;
  for (int i = 0; i < 16; ++i) sixteen_pairs += L"*k" + std::to_wstring(i) + L"*v";
  ASSERT_TRUE(DecodeSettingsRequest(sixteen_pairs).has_value());
  std::wstring long_value;
  for (int i = 0; i < 128; ++i) long_value += L"%0020";
  ASSERT_TRUE(DecodeSettingsRequest(L"T1*set*" + path + L"*label*" + long_value).has_value());

  const struct {
    const char* why;
    std::wstring text;
  } cases[] = {
      {"empty", L""},
      {"another tag", L"T2*set*" + path + L"*relock*1"},
      {"unknown operation", L"T1*append*" + path + L"*relock*1"},
      {"operation in capitals", L"T1*SET*" + path + L"*relock*1"},
      {"no path", L"T1*set**relock*1"},
      {"path only", L"T1*set"},
      {"a write without values", L"T1*set*" + path},
      {"a removal with values", L"T1*remove*" + path + L"*relock*1"},
      {"key without value", L"T1*set*" + path + L"*relock"},
      {"seventeen pairs", sixteen_pairs + L"*k16*v"},
      {"key with '='", L"T1*set*" + path + L"*a%003Db*1"},
      {"key opening a section", L"T1*set*" + path + L"*%005BOther%005D*1"},
      {"key with a blank", L"T1*set*" + path + L"*re%0020lock*1"},
      {"empty key", L"T1*set*" + path + L"**1"},
      {"key of 33 characters", L"T1*set*" + path + L"*" + std::wstring(33, L'k') + L"*1"},
      {"value with a line break", L"T1*set*" + path + L"*relock*1%000D%000A%005BOption%005Dname%003Dx"},
      {"value with a NUL", L"T1*set*" + path + L"*relock*1%0000x"},
      {"value of 129 characters", L"T1*set*" + path + L"*label*" + long_value + L"x"},
      {"lower-case escape", L"T1*set*" + path + L"*relock*%002e"},
      {"cut escape", L"T1*set*" + path + L"*relock*%002"},
      {"escape of a plain character", L"T1*set*" + path + L"*relock*%0031"},
      {"raw blank", L"T1*set*" + path + L"*label*a b"},
      {"raw quote", L"T1*set*" + path + L"*label*a\"b"},
      {"raw backslash", L"T1*set*C:\\Windows\\vemro.qarn*relock*1"},
      {"too long", L"T1*set*" + path + L"*label*" + std::wstring(kMaxRequestChars, L'a')},
  };
  for (const auto& c : cases) EXPECT_FALSE(DecodeSettingsRequest(c.text).has_value()) << c.why;
}

TEST(SettingsRequestCodec, CutsValuesAsTheWriterDoes) {
  const std::wstring long_value(200, L'x');
  const std::wstring with_nul(L"ab\0cd", 5);
  const OptionValue values[] = {{L"label", long_value}, {L"photo", with_nul}};
  const SettingsRequest request = MakeSettingsRequest(SettingsOp::Set, values);
  ASSERT_EQ(request.values.size(), 2u);
  EXPECT_EQ(request.values[0].second, std::wstring(128, L'x'));
  EXPECT_EQ(request.values[1].second, L"ab");
  EXPECT_TRUE(DecodeSettingsRequest(EncodeSettingsRequest(request)).has_value());
}

// The settings folder refuses this process: the first `refusals` attempts
// to create or delete the settings file (or a temporary file for it) answer "access denied", as the Windows
// folder does for an unelevated token; later ones (the elevated instance's)
// go through. The stand-in elevator runs the elevated instance's code here.
class ElevatedWriteTest : public SettingsFileTest {
 protected:
  void SetUp() override {
    SettingsFileTest::SetUp();
    SetFileFaultHook([this](FileStep step, const std::wstring& path) {
      // The settings file and its temporary files beside it.
      const bool settings = path.rfind(SettingsFilePath(), 0) == 0;
      if (!settings || (step != FileStep::Create && step != FileStep::Delete)) return FileError::None;
      if (refusals_ == 0) return FileError::None;
      --refusals_;
      return FileError::Refused;
    });
    SetSettingsElevator([this](const std::wstring& argument) -> std::optional<int> {
      arguments_.push_back(argument);
      if (!answer_) return std::nullopt;  // the user said no
      if (*answer_ != kElevatedWritten) return *answer_;
      return RunElevatedWrite({kElevatedWriteSwitch, argument});
    });
  }
  void TearDown() override {
    SetSettingsElevator(nullptr);
    SetFileFaultHook(nullptr);
    SettingsFileTest::TearDown();
  }

  // What a write with full rights leaves, for comparison.
  std::string BytesWithoutRefusal(const std::function<void()>& write) {
    const int saved = refusals_;
    const std::string before = FileBytes();
    refusals_ = 0;
    write();
    const std::string after = FileBytes();
    WriteFileBytes(before);
    refusals_ = saved;
    return after;
  }

  int refusals_ = 1;
  std::optional<int> answer_ = kElevatedWritten;  // run the elevated code
  std::vector<std::wstring> arguments_;
};

TEST_F(ElevatedWriteTest, RelockSwitchRefusedOnceIsWrittenByTheElevatedInstance) {
  WriteFileBytes("[Option]\r\ndrive=E:\r\nname=" + std::string("x") + "\r\n");
  const std::string want =
      BytesWithoutRefusal([] { ASSERT_EQ(WriteOption(kSettingsSection, kRelockKey, RelockValue(true)), WriteResult::Ok); });
  ASSERT_EQ(WriteOption(kSettingsSection, kRelockKey, RelockValue(true)), WriteResult::Ok);
  EXPECT_EQ(FileBytes(), want);
  ASSERT_EQ(arguments_.size(), 1u);
  const std::optional<SettingsRequest> sent = DecodeSettingsRequest(arguments_[0]);
  ASSERT_TRUE(sent.has_value());
  EXPECT_EQ(sent->op, SettingsOp::Set);
  EXPECT_EQ(sent->path, SettingsFilePath());
  EXPECT_EQ(sent->values, (std::vector<std::pair<std::wstring, std::wstring>>{{kRelockKey, RelockValue(true)}}));
}

TEST_F(ElevatedWriteTest, AWriteThatGoesThroughNeverAsks) {
  refusals_ = 0;
  ASSERT_EQ(WriteOption(kSettingsSection, kRelockKey, L"1"), WriteResult::Ok);
  EXPECT_TRUE(arguments_.empty());
  EXPECT_EQ(ReadOption(kSettingsSection, kRelockKey), L"1");
}

TEST_F(ElevatedWriteTest, OnlyASuccessCodeCountsAsWritten) {
  WriteFileBytes("[Option]\r\nrelock=0\r\n");
  const struct {
    const char* what;
    std::optional<int> answer;
    WriteResult result;
  } cases[] = {
      {"the user said no", std::nullopt, WriteResult::Declined},
      {"an older copy took it for a second start and exited 0", 0, WriteResult::IoError},
      {"the elevated instance was refused too", kElevatedRefused, WriteResult::IoError},
      {"the request was refused as malformed", kElevatedInvalid, WriteResult::IoError},
      {"a crash", static_cast<int>(0xC0000005u), WriteResult::IoError},
  };
  for (const auto& c : cases) {
    refusals_ = 1;
    answer_ = c.answer;
    EXPECT_EQ(WriteOption(kSettingsSection, kRelockKey, L"1"), c.result) << c.what;
    EXPECT_EQ(FileBytes(), "[Option]\r\nrelock=0\r\n") << c.what;
  }
}

TEST_F(ElevatedWriteTest, WithoutAnElevatorARefusalStaysARefusal) {
  SetSettingsElevator(nullptr);
  EXPECT_EQ(WriteOption(kSettingsSection, kRelockKey, L"1"), WriteResult::IoError);
  EXPECT_FALSE(fs::exists(FilePath()));
}

TEST_F(ElevatedWriteTest, AReadOnlyFileIsNotWorthAPrompt) {
  WriteFileBytes("[Option]\r\nrelock=0\r\n");
  fs::permissions(FilePath(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(WriteOption(kSettingsSection, kRelockKey, L"1"), WriteResult::IoError);
  EXPECT_TRUE(arguments_.empty());
  fs::permissions(FilePath(), fs::perms::owner_write, fs::perm_options::add);
}

class ElevatedSaveTest : public ElevatedWriteTest {
 protected:
  fs::path KeyPath() const { return dir_ / "key" / "tolvane.com"; }
  std::wstring Key() const { return KeyPath().wstring(); }
  void SetUp() override {
    ElevatedWriteTest::SetUp();
    fs::create_directories(KeyPath().parent_path());
    WriteBytesAt(KeyPath(), "[Option]\r\ndrive=E:\r\nname=old\r\n");
    WriteFileBytes("[Option]\r\nlabel=hello\r\nrelock=1\r\n");
  }
};

TEST_F(ElevatedSaveTest, ASaveRefusedOnceEndsWithBothFilesWritten) {
  const std::string cipher = EncipherPassword("secret");
  const std::string want = BytesWithoutRefusal([&] {
    const std::string old_key = FileBytesAt(KeyPath());
    ASSERT_EQ(SaveConfiguration(L"E:", cipher, Key()).outcome, SaveOutcome::Saved);
    WriteBytesAt(KeyPath(), old_key);
  });
  const SaveResult result = SaveConfiguration(L"E:", cipher, Key());
  EXPECT_EQ(result.outcome, SaveOutcome::Saved) << std::string(result.message.begin(), result.message.end());
  EXPECT_EQ(FileBytes(), want);
  EXPECT_EQ(FileBytesAt(KeyPath()), KeyFileBytes(L"E:", cipher));
  ASSERT_EQ(arguments_.size(), 1u);
  EXPECT_EQ(ReadOption(kSettingsSection, L"name"), kPrefix + std::wstring(cipher.begin(), cipher.end()));
}

TEST_F(ElevatedSaveTest, ASaveTheUserWillNotElevatePutsTheOldKeyBack) {
  answer_ = std::nullopt;
  const SaveResult result = SaveConfiguration(L"E:", EncipherPassword("secret"), Key());
  EXPECT_EQ(result.outcome, SaveOutcome::SettingsFailed);
  EXPECT_EQ(result.message, SettingsDeclinedMessage(SettingsFilePath()));
  EXPECT_EQ(FileBytes(), "[Option]\r\nlabel=hello\r\nrelock=1\r\n");
  EXPECT_EQ(FileBytesAt(KeyPath()), "[Option]\r\ndrive=E:\r\nname=old\r\n");
}

TEST_F(ElevatedSaveTest, ASaveRefusedEvenElevatedPutsTheOldKeyBack) {
  refusals_ = 2;  // ours and the elevated instance's
  const SaveResult result = SaveConfiguration(L"E:", EncipherPassword("secret"), Key());
  EXPECT_EQ(result.outcome, SaveOutcome::SettingsFailed);
  EXPECT_EQ(result.message, SettingsWriteFailedMessage(SettingsFilePath()));
  EXPECT_EQ(FileBytes(), "[Option]\r\nlabel=hello\r\nrelock=1\r\n");
  EXPECT_EQ(FileBytesAt(KeyPath()), "[Option]\r\ndrive=E:\r\nname=old\r\n");
  EXPECT_EQ(arguments_.size(), 1u);
}

TEST_F(ElevatedSaveTest, RemovalRefusedOnceRemovesBothFiles) {
  const RemoveResult result = RemoveConfiguration(Key());
  EXPECT_EQ(result.outcome, RemoveOutcome::Removed);
  EXPECT_FALSE(fs::exists(FilePath()));
  EXPECT_FALSE(fs::exists(KeyPath()));
  ASSERT_EQ(arguments_.size(), 1u);
  EXPECT_EQ(DecodeSettingsRequest(arguments_[0])->op, SettingsOp::Remove);
}

TEST_F(ElevatedSaveTest, RemovalTheUserWillNotElevateKeepsTheKey) {
  answer_ = std::nullopt;
  const RemoveResult result = RemoveConfiguration(Key());
  EXPECT_EQ(result.outcome, RemoveOutcome::SettingsKept);
  EXPECT_TRUE(fs::exists(FilePath()));
  EXPECT_TRUE(fs::exists(KeyPath()));
}

// The elevated instance on its own, as a hostile program in the session
// would call it: it writes this instance's settings file or nothing.
class ElevatedInstanceTest : public SettingsFileTest {};

TEST_F(ElevatedInstanceTest, WritesOnlyItsOwnSettingsFile) {
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directories(elsewhere);
  const std::wstring other = (elsewhere / "vemro.qarn").wstring();
  const SettingsRequest aimed = Request(SettingsOp::Set, other, {{L"name", L"x"}});
  EXPECT_EQ(RunElevatedWrite({kElevatedWriteSwitch, EncodeSettingsRequest(aimed)}), kElevatedWrongFile);
  EXPECT_FALSE(fs::exists(elsewhere / "vemro.qarn"));
  EXPECT_FALSE(fs::exists(FilePath()));

  WriteFileBytes("[Option]\r\nname=x\r\n");
  const SettingsRequest removal = Request(SettingsOp::Remove, other, {});
  EXPECT_EQ(RunElevatedWrite({kElevatedWriteSwitch, EncodeSettingsRequest(removal)}), kElevatedWrongFile);
  EXPECT_TRUE(fs::exists(FilePath()));
}

TEST_F(ElevatedInstanceTest, AnswersEachRequestWithItsCode) {
  const std::wstring own = SettingsFilePath();
  const std::wstring set = EncodeSettingsRequest(Request(SettingsOp::Set, own, {{L"relock", L"1"}}));
  const struct {
    const char* what;
    std::vector<std::wstring> args;
    int code;
    const char* bytes_after;  // nullptr: no file
  } cases[] = {
      {"no request", {kElevatedWriteSwitch}, kElevatedInvalid, "[Option]\r\nlabel=a\r\n"},
      {"another switch", {L"--watchdog", set}, kElevatedInvalid, "[Option]\r\nlabel=a\r\n"},
      {"a third argument", {kElevatedWriteSwitch, set, L"x"}, kElevatedInvalid, "[Option]\r\nlabel=a\r\n"},
      {"a malformed request", {kElevatedWriteSwitch, L"T1*set*x"}, kElevatedInvalid, "[Option]\r\nlabel=a\r\n"},
      {"a value without a 936 form",
       {kElevatedWriteSwitch, EncodeSettingsRequest(Request(SettingsOp::Set, own, {{L"label", L"\u0E01"}}))},
       kElevatedUnrepresentable, "[Option]\r\nlabel=a\r\n"},
      {"a write", {kElevatedWriteSwitch, set}, kElevatedWritten, "[Option]\r\nlabel=a\r\nrelock=1\r\n"},
      {"a replacement",
       {kElevatedWriteSwitch, EncodeSettingsRequest(Request(SettingsOp::Replace, own, {{L"drive", L"F:"}}))},
       kElevatedWritten, "[Option]\r\ndrive=F:\r\n"},
      {"a removal", {kElevatedWriteSwitch, EncodeSettingsRequest(Request(SettingsOp::Remove, own, {}))},
       kElevatedWritten, nullptr},
  };
  for (const auto& c : cases) {
    WriteFileBytes("[Option]\r\nlabel=a\r\n");
    EXPECT_EQ(RunElevatedWrite(c.args), c.code) << c.what;
    if (c.bytes_after) {
      EXPECT_EQ(FileBytes(), c.bytes_after) << c.what;
    } else {
      EXPECT_FALSE(fs::exists(FilePath())) << c.what;
    }
  }
}

TEST_F(ElevatedInstanceTest, ReportsARefusalOfItsOwn) {
  SetFileFaultHook([](FileStep, const std::wstring&) { return FileError::Refused; });
  const std::wstring set = EncodeSettingsRequest(Request(SettingsOp::Set, SettingsFilePath(), {{L"relock", L"1"}}));
  EXPECT_EQ(RunElevatedWrite({kElevatedWriteSwitch, set}), kElevatedRefused);
  SetFileFaultHook(nullptr);
  EXPECT_FALSE(fs::exists(FilePath()));
}

}  // namespace
}  // namespace tolvane
