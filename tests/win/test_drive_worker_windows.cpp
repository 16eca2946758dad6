// The lock and setup windows keep answering while a drive hangs: their probes
// run on a worker, and the window thread never waits on a drive. A stand-in
// drive system whose probe sleeps until the test lets it go shows it; the real
// system's key files are read from a temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/app_win.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "drives/drives_win.h"
#include "lock/form2_win.h"
#include "resource.h"
#include "setup/form1_win.h"

namespace tolvane {
namespace {

constexpr DWORD kPatienceMs = 15000;  // generous: two cores shared with others
constexpr UINT kAnswerMs = 100;       // what a person at the keyboard would still call instant

// Removable drive E: of 2 GB without a key file. The first probe hangs in the
// middle of its scan until Release.
class HangingDrives : public DriveSystem, public std::enable_shared_from_this<HangingDrives> {
 public:
  HangingDrives() : hanging_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~HangingDrives() override {
    CloseHandle(hanging_);
    CloseHandle(release_);
  }
  std::unique_ptr<DriveProbe> NewProbe() override {
    return std::make_unique<Probe>(shared_from_this(), ++probes_ == 1);
  }
  std::unique_ptr<KeyFileSource> NewKeyFiles() override { return std::make_unique<NoKeyFiles>(); }

  bool WaitUntilHanging() { return WaitForSingleObject(hanging_, kPatienceMs) == WAIT_OBJECT_0; }
  void Release() { SetEvent(release_); }
  int probes() const { return probes_; }
  int most_at_once() const { return most_at_once_; }

 private:
  class Probe : public DriveProbe {
   public:
    Probe(std::shared_ptr<HangingDrives> d, bool hang) : d_(std::move(d)), hang_(hang) {}
    bool Exists(wchar_t l) override { return l == L'E'; }
    bool IsRemovable(wchar_t l) override { return l == L'E'; }
    std::uint64_t TotalBytes(wchar_t) override {
      const int now = ++d_->running_;
      if (now > d_->most_at_once_) d_->most_at_once_ = now;
      if (hang_) {
        SetEvent(d_->hanging_);
        WaitForSingleObject(d_->release_, INFINITE);
      }
      --d_->running_;
      return 2ull << 30;
    }

   private:
    std::shared_ptr<HangingDrives> d_;
    bool hang_;
  };
  class NoKeyFiles : public KeyFileSource {
   public:
    bool Attributes(const std::wstring&, std::uint32_t&) override { return false; }
    bool Read(const std::wstring&, std::uint32_t&, std::string&, std::size_t) override { return false; }
  };

  HANDLE hanging_, release_;
  std::atomic<int> probes_{0}, running_{0}, most_at_once_{0};
};

// A window made and served on a thread of its own, as the program's one user
// interface thread would; the test thread then behaves like the rest of the
// system, sending it messages with a time limit.
class UiThread {
 public:
  explicit UiThread(std::function<HWND()> create) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, create, ready] {
      MSG msg;
      PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
      id_ = GetCurrentThreadId();
      hwnd_ = create();
      SetEvent(ready);
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!msg.hwnd && msg.message == kRun) {
          std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(msg.lParam));
          (*fn)();
          continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
  }
  ~UiThread() {
    PostThreadMessageW(id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND hwnd() const { return hwnd_; }
  // Runs `fn` on the window's thread; returns at once.
  void Post(std::function<void()> fn) {
    PostThreadMessageW(id_, kRun, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(fn))));
  }

 private:
  static constexpr UINT kRun = WM_APP + 77;
  std::thread thread_;
  DWORD id_ = 0;
  HWND hwnd_ = nullptr;
};

bool Answers(HWND h, UINT msg = WM_NULL, WPARAM wp = 0, LPARAM lp = 0) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(h, msg, wp, lp, SMTO_NORMAL, kAnswerMs, &result) != 0;
}

std::wstring TextOf(HWND h) {
  wchar_t buf[128] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, kPatienceMs, &result);
  return buf;
}

// The list box's entries; a window that does not answer has none.
std::vector<std::wstring> Entries(HWND list) {
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, kPatienceMs, &count)) return {};
  std::vector<std::wstring> entries;
  for (DWORD_PTR i = 0; i < count; ++i) {
    wchar_t entry[64] = {};
    DWORD_PTR r = 0;
    SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(entry), SMTO_NORMAL, kPatienceMs, &r);
    entries.push_back(entry);
  }
  return entries;
}

// Polls `done` for up to kPatienceMs.
bool Eventually(const std::function<bool()>& done) {
  for (DWORD waited = 0; waited < kPatienceMs; waited += 50) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

class DriveHangs : public ::testing::Test {
 protected:
  void SetUp() override { TheApp().drives = drives_; }
  void TearDown() override {
    drives_->Release();  // lets the abandoned probe end
    TheApp().drives = nullptr;
  }

  // While the drive hangs, across several ticks of the window's timer, every
  // message sent to the window is answered within kAnswerMs and no second
  // probe starts.
  void ExpectAnswersThroughTheHang(HWND window, DWORD hang_ms) {
    ASSERT_TRUE(drives_->WaitUntilHanging()) << "the window never probed the drives";
    int unanswered = 0;
    for (DWORD t = 0; t < hang_ms; t += 200) {
      if (!Answers(window)) ++unanswered;
      Sleep(200);
    }
    EXPECT_EQ(unanswered, 0) << "the window waited on the drive";
    EXPECT_EQ(drives_->probes(), 1) << "ticks piled up behind the hanging probe";
  }

  std::shared_ptr<HangingDrives> drives_ = std::make_shared<HangingDrives>();
};

TEST_F(DriveHangs, LockWindowAnswersAndTakesTypingUntilTheTickComesBack) {
  UiThread ui([] {
    ShowLockWindow();
    return TheApp().form2 ? TheApp().form2->hwnd() : nullptr;
  });
  const HWND lock = ui.hwnd();
  ASSERT_NE(lock, nullptr);
  // The lock covers first; its lines and boxes follow from the message loop.
  ASSERT_TRUE(Eventually([lock] { return GetDlgItem(lock, IDC_FORM2_TEXT9) != nullptr; }))
      << "the lock's face never came";
  const HWND label0 = GetDlgItem(lock, IDC_FORM2_LABEL1_0);
  const HWND unlock_box = GetDlgItem(lock, IDC_FORM2_TEXT9);

  ExpectAnswersThroughTheHang(lock, 2500);  // Timer2 fires twice more meanwhile
  // The password box comes up and takes typing while the drive still hangs.
  // The keys come as the window's own input does, through its queue (text
  // sent from another thread is refused).
  PostMessageW(lock, WM_KEYDOWN, VK_F2, 0);
  PostMessageW(unlock_box, WM_LBUTTONUP, 0, 0);  // a click clears the placeholder
  for (wchar_t c : std::wstring(L"abc")) PostMessageW(unlock_box, WM_CHAR, c, 1);
  EXPECT_TRUE(Eventually([&] { return TextOf(unlock_box) == L"abc"; })) << "typed: " << TextOf(unlock_box).size();
  EXPECT_EQ(drives_->probes(), 1);

  drives_->Release();
  EXPECT_TRUE(Eventually([&] { return TextOf(label0) == L"你插入的可移动磁盘 E: 无效哦，换个磁盘试试！"; }))
      << "the tick's result never reached the window";
  EXPECT_TRUE(Eventually([&] { return drives_->probes() >= 3; })) << "the watch stopped ticking";
  EXPECT_EQ(drives_->most_at_once(), 1);

  ui.Post([lock] { DestroyWindow(lock); });
  EXPECT_TRUE(Eventually([] { return TheApp().form2 == nullptr; }));
}

TEST_F(DriveHangs, SetupWindowAnswersAndFillsItsListWhenTheScanComesBack) {
  ASSERT_FALSE(SettingsFileExists());  // not configured: the setup window shows and scans at once
  Form1 form1;
  UiThread ui([&form1] {
    TheApp().form1 = &form1;
    form1.Load();
    return form1.hwnd();
  });
  const HWND setup = ui.hwnd();
  ASSERT_NE(setup, nullptr);
  const HWND list = GetDlgItem(setup, IDC_FORM1_LIST1);

  ExpectAnswersThroughTheHang(setup, 3500);  // past one three-second refresh
  EXPECT_TRUE(Entries(list).empty());

  drives_->Release();
  EXPECT_TRUE(Eventually([&] { return Entries(list) == std::vector<std::wstring>{L"E: 2.00 GB"}; }))
      << "the scan's result never reached the list";

  ui.Post([&form1] { form1.Unload(); });
  EXPECT_TRUE(Eventually([setup] { return !IsWindow(setup); }));
  TheApp().form1 = nullptr;
}

// The system's key files, from a folder standing in for a drive's root:
// attributes of the file itself, the read of what was opened, hidden and
// folder names reported as they are. (Links can't be made under Wine; the
// watch's refusal of reparse points is shown on a stand-in source.)
TEST(SystemKeyFiles, ReportTheAttributesOfWhatTheyOpen) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"tolvane-keyfiles-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(root.c_str(), nullptr);
  const std::wstring file = root + L"\\tolvane.com";
  ASSERT_EQ(ReplaceFileAtomically(file, "[Option]\r\nname=abc\r\n"), FileError::None);

  SystemKeyFiles keys;
  std::uint32_t attributes = 0;
  std::string bytes;
  ASSERT_TRUE(keys.Attributes(root, attributes));
  EXPECT_TRUE(IsKeyFileAttributes(attributes));
  attributes = 0;
  ASSERT_TRUE(keys.Read(root, attributes, bytes, 12));
  EXPECT_TRUE(IsKeyFileAttributes(attributes));
  EXPECT_EQ(bytes, "[Option]\r\nna");

  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(keys.Attributes(root, attributes));
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(keys.Read(root, attributes, bytes, 100));
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(bytes.empty()) << "a file that is no key file was read";
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(file.c_str());

  CreateDirectoryW(file.c_str(), nullptr);  // a folder named like the key file
  ASSERT_TRUE(keys.Attributes(root, attributes));
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(keys.Read(root, attributes, bytes, 100) && IsKeyFileAttributes(attributes));
  RemoveDirectoryW(file.c_str());

  EXPECT_FALSE(keys.Attributes(root, attributes));
  EXPECT_FALSE(keys.Read(root, attributes, bytes, 100));
  RemoveDirectoryW(root.c_str());
}

}  // namespace
}  // namespace tolvane
