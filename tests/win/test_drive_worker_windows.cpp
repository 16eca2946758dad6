// The lock and setup windows keep answering while a drive hangs: their probes
// run on a worker, and the window thread never waits on a drive. A stand-in
// drive system whose probe sleeps until the test lets it go shows it; the real
// system's key files are read from a temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <dbt.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "one_stick_probe.h"
#include "platform/app_win.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "drives/drives_win.h"
#include "drives/key_file.h"
#include "lock/form2_win.h"
#include "lock/typed_keys_win.h"
#include "resource.h"
#include "setup/form1_win.h"
#include "ui_thread.h"

namespace tolvane {
namespace {

constexpr DWORD kPatienceMs = 15000;  // generous: two cores shared with others
// The drive hangs until the test lets it go, so a window that waited on it
// would not answer at all: an answer within seconds tells the two apart, and
// leaves room for a loaded machine. How fast the window answers is for the
// benchmarks to show.
constexpr UINT kAnswerMs = 3000;

class NoKeyFiles : public KeyFileSource {
 public:
  bool Attributes(const std::wstring&, std::uint32_t&) override { return false; }
  bool Read(const std::wstring&, std::uint32_t&, std::string&, std::size_t) override { return false; }
};

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
  HANDLE hanging_, release_;
  std::atomic<int> probes_{0}, running_{0}, most_at_once_{0};
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

// Counts the WM_TIMER messages of one timer of one window as its thread takes
// them from its queue: the ticks that have come, seen, not assumed from time.
class TimerTicks {
 public:
  TimerTicks(DWORD thread, HWND window, UINT_PTR timer) {
    window_ = window;
    timer_ = timer;
    count_ = 0;
    hook_ = SetWindowsHookExW(WH_GETMESSAGE, Proc, nullptr, thread);
  }
  ~TimerTicks() {
    if (hook_) UnhookWindowsHookEx(hook_);
    count_ = 0;  // no count outlives its window
  }
  bool ok() const { return hook_ != nullptr; }
  int count() const { return Count(); }
  static int Count() { return count_.load(); }

 private:
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp) {
    const auto* msg = reinterpret_cast<const MSG*>(lp);
    if (code == HC_ACTION && wp == PM_REMOVE && msg->message == WM_TIMER && msg->hwnd == window_ &&
        msg->wParam == timer_) {
      count_.fetch_add(1);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }

  static inline HWND window_ = nullptr;
  static inline UINT_PTR timer_ = 0;
  static inline std::atomic<int> count_{0};
  HHOOK hook_ = nullptr;
};

// Removable drive E: of 2 GB without a key file; each probe notes how many
// ticks of the watched timer its window had taken when it started.
class TickNotingDrives : public DriveSystem {
 public:
  std::unique_ptr<DriveProbe> NewProbe() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ticks_at_probe_.push_back(TimerTicks::Count());
    return std::make_unique<OneStickProbe>();
  }
  std::unique_ptr<KeyFileSource> NewKeyFiles() override { return std::make_unique<NoKeyFiles>(); }
  std::vector<int> ticks_at_probe() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ticks_at_probe_;
  }

 private:
  std::mutex mutex_;
  std::vector<int> ticks_at_probe_;
};

class DriveHangs : public ::testing::Test {
 protected:
  void SetUp() override { TheApp().drives = drives_; }
  void TearDown() override {
    drives_->Release();  // lets the abandoned probe end
    TheApp().drives = nullptr;
  }

  // While the drive hangs, until the window's probing timer has ticked
  // `ticks` more times, every message sent to the window is answered and no
  // second probe starts.
  void ExpectAnswersThroughTheHang(const UiThread& ui, UINT_PTR timer, int ticks) {
    TimerTicks seen(ui.id(), ui.hwnd(), timer);
    ASSERT_TRUE(seen.ok());
    ASSERT_TRUE(drives_->WaitUntilHanging()) << "the window never probed the drives";
    const int from = seen.count();
    const ULONGLONG deadline = GetTickCount64() + 2 * kPatienceMs;
    while (seen.count() < from + ticks) {
      ASSERT_TRUE(Answers(ui.hwnd())) << "the window waited on the drive";
      ASSERT_LT(GetTickCount64(), deadline) << "the timer stopped: " << seen.count() - from << " ticks";
      Sleep(100);
    }
    EXPECT_TRUE(Answers(ui.hwnd())) << "the window waited on the drive";
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

  ExpectAnswersThroughTheHang(ui, Form2::kTimer2, 2);
  // The password box comes up and takes typing while the drive still hangs.
  // The keys come as the keyboard's do, through the window's queue (keys
  // that no keyboard sent are refused).
  PostKeyAsKeyboard(lock, VK_F2);
  PostMessageW(unlock_box, WM_LBUTTONUP, 0, 0);  // a click clears the placeholder
  for (UINT vk : {'A', 'B', 'C'}) PostKeyAsKeyboard(unlock_box, vk);
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
    form1.Load(false);
    return form1.hwnd();
  });
  const HWND setup = ui.hwnd();
  ASSERT_NE(setup, nullptr);
  const HWND list = GetDlgItem(setup, IDC_FORM1_LIST1);

  ExpectAnswersThroughTheHang(ui, Form1::kTimer1, 1);  // a refresh while the scan hangs
  EXPECT_TRUE(Entries(list).empty());

  drives_->Release();
  EXPECT_TRUE(Eventually([&] { return Entries(list) == std::vector<std::wstring>{L"E: 2.00 GB"}; }))
      << "the scan's result never reached the list";

  ui.Post([&form1] { form1.Unload(); });
  EXPECT_TRUE(Eventually([setup] { return !IsWindow(setup); }));
  TheApp().form1 = nullptr;
}

// A volume announced by the system wakes the lock's drive watch at once: the
// probe starts before the watch's own timer ticks again, so a key drive opens
// the lock without waiting for the one-second fallback.
TEST(DriveAnnouncement, StartsAProbeBeforeTheWatchsNextTick) {
  auto drives = std::make_shared<TickNotingDrives>();
  TheApp().drives = drives;
  {
    UiThread ui([] {
      ShowLockWindow();
      return TheApp().form2 ? TheApp().form2->hwnd() : nullptr;
    });
    const HWND lock = ui.hwnd();
    ASSERT_NE(lock, nullptr);
    TimerTicks ticks(ui.id(), lock, Form2::kTimer2);
    ASSERT_TRUE(ticks.ok());
    ASSERT_TRUE(Eventually([lock] { return GetDlgItem(lock, IDC_FORM2_TEXT9) != nullptr; }))
        << "the lock's face never came";

    // A probe that a tick of the watch started: the next tick is a full
    // interval away, far longer than a probe takes to start.
    std::vector<int> seen;
    ASSERT_TRUE(Eventually([&] {
      seen = drives->ticks_at_probe();
      return !seen.empty() && seen.back() > 0;
    })) << "the watch never ticked";
    const std::size_t probes = seen.size();
    const int tick = seen.back();

    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (L'E' - L'A');
    ASSERT_TRUE(Answers(lock, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)));
    ASSERT_TRUE(Eventually([&] {
      seen = drives->ticks_at_probe();
      return seen.size() > probes;
    })) << "no probe after the announcement";
    EXPECT_EQ(seen[probes], tick) << "the probe waited for the watch's tick";

    ui.Post([lock] { DestroyWindow(lock); });
    EXPECT_TRUE(Eventually([] { return TheApp().form2 == nullptr; }));
  }
  TheApp().drives = nullptr;
}

// The key file's attribute bits are the platform's: a wrong one would let a
// hidden file, a folder or a link pass for a key file.
static_assert(kAttrHidden == FILE_ATTRIBUTE_HIDDEN);
static_assert(kAttrSystem == FILE_ATTRIBUTE_SYSTEM);
static_assert(kAttrDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kAttrReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);

// How the key file was last opened.
std::atomic<DWORD> g_open_access{0}, g_open_disposition{0}, g_open_flags{0};

HANDLE WINAPI RecordingOpen(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE template_file) {
  g_open_access = access;
  g_open_disposition = disposition;
  g_open_flags = flags;
  return CreateFileW(name, access, share, security, disposition, flags, template_file);
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

  SystemKeyFiles keys(RecordingOpen);
  std::uint32_t attributes = 0;
  std::string bytes;
  ASSERT_TRUE(keys.Attributes(root, attributes));
  EXPECT_TRUE(IsKeyFileAttributes(attributes));
  attributes = 0;
  ASSERT_TRUE(keys.Read(root, attributes, bytes, 12));
  EXPECT_TRUE(IsKeyFileAttributes(attributes));
  EXPECT_EQ(bytes, "[Option]\r\nna");
  // A link named like the key file is opened itself, not followed (Wine makes
  // no links, so the call is looked at): its attributes then show the link,
  // and the read stops there. Opened to read only, never created.
  EXPECT_TRUE(g_open_flags & FILE_FLAG_OPEN_REPARSE_POINT);
  EXPECT_EQ(g_open_access, static_cast<DWORD>(GENERIC_READ));
  EXPECT_EQ(g_open_disposition, static_cast<DWORD>(OPEN_EXISTING));

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
