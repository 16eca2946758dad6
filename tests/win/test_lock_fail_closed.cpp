// The lock fails closed: a lock window, a cover or a keyboard hook thread
// that the system refuses is tried again on a later tick, and until it stands
// the session is locked. A stand-in lock system refuses the first windows of
// a class or the first thread starts, reports a second monitor, and counts
// the session locks it is asked for (never locking this session for real).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "lock/form2_win.h"
#include "lock/lock_system_win.h"
#include "lock/watchdog_win.h"
#include "platform/app_win.h"
#include "resource.h"
#include "setup/form1_win.h"
#include "ui_thread.h"

namespace tolvane {
namespace {

class RefusingSystem : public LockSystem {
 public:
  RefusingSystem(const wchar_t* refused_class, int window_refusals, int thread_refusals)
      : refused_class_(refused_class), window_refusals_(window_refusals), thread_refusals_(thread_refusals) {}

  HWND Create(DWORD ex_style, const wchar_t* class_name, const wchar_t* title, DWORD style, int x, int y, int width,
              int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) override {
    const bool named = HIWORD(reinterpret_cast<UINT_PTR>(class_name)) != 0;
    if (refused_class_ && named && std::wcscmp(class_name, refused_class_) == 0 && window_refusals_ > 0) {
      --window_refusals_;
      ++refused_;
      return nullptr;
    }
    return LockSystem::Create(ex_style, class_name, title, style, x, y, width, height, parent, menu, instance, param);
  }
  bool StartThread(std::thread& thread, std::function<void()> body) override {
    if (thread_refusals_ > 0) {
      --thread_refusals_;
      ++refused_;
      return false;
    }
    ++threads_started_;
    return LockSystem::StartThread(thread, std::move(body));
  }
  void LockSession() override { ++session_locks_; }
  std::vector<Monitor> Monitors() override { return monitors_; }

  std::vector<Monitor> monitors_ = {{Rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, true}};
  std::atomic<int> refused_{0}, threads_started_{0}, session_locks_{0};

 private:
  const wchar_t* refused_class_;
  std::atomic<int> window_refusals_, thread_refusals_;
};

bool LockUp() { return TheApp().form2 != nullptr && TheApp().LockActive(); }

class FailClosed : public ::testing::Test {
 protected:
  void SetUp() override {
    // A stand-in watchdog (this very process, alive, and an event nobody
    // sets): the lock adopts it instead of starting the test program again.
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0);
    HANDLE unlocked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    AdoptWatchdog(reinterpret_cast<std::uintptr_t>(unlocked), reinterpret_cast<std::uintptr_t>(self));
    ASSERT_TRUE(WatchdogArmed());
  }
  void TearDown() override {
    TheApp().lock_system = nullptr;
    DisarmWatchdog();
  }

  void Use(std::shared_ptr<RefusingSystem> system) {
    system_ = system;
    TheApp().lock_system = system;
  }

  // Takes the lock down on its thread, as the program's own code would.
  static void TakeDown(UiThread& ui) {
    ui.Post([] {
      if (TheApp().form2) DestroyWindow(TheApp().form2->hwnd());
    });
    EXPECT_TRUE(Eventually([] { return TheApp().form2 == nullptr; }));
  }

  std::shared_ptr<RefusingSystem> system_;
};

TEST_F(FailClosed, ALockWindowTheDesktopRefusesComesOnALaterTickAndTheSessionIsLockedMeanwhile) {
  Use(std::make_shared<RefusingSystem>(TOLVANE_FORM2_CLASS, 2, 0));
  Form1 form1;
  bool up_at_load = true;
  int locks_at_load = 0;
  UiThread ui([&] {
    TheApp().form1 = &form1;
    form1.Load(true);
    up_at_load = LockUp();
    locks_at_load = system_->session_locks_.load();
    return form1.hwnd();
  });
  ASSERT_NE(ui.hwnd(), nullptr);
  EXPECT_FALSE(up_at_load) << "the stand-in refused the lock window";
  EXPECT_GE(locks_at_load, 1) << "the session stays open while the lock window is refused";
  EXPECT_FALSE(IsWindowVisible(ui.hwnd())) << "the setup window must not stand in for the lock";
  ASSERT_TRUE(Eventually(LockUp)) << "the lock window was never tried again";
  EXPECT_EQ(system_->refused_.load(), 2);
  EXPECT_GE(system_->session_locks_.load(), 2) << "each refusal asks for the session lock";
  EXPECT_FALSE(IsWindowVisible(ui.hwnd()));

  TakeDown(ui);
  ui.Post([&form1] { form1.Unload(); });
  EXPECT_TRUE(Eventually([&form1] { return form1.hwnd() == nullptr; }));
  TheApp().form1 = nullptr;
}

TEST_F(FailClosed, ACoverTheDesktopRefusesIsMadeOnALaterTickAndTheSessionIsLockedMeanwhile) {
  auto system = std::make_shared<RefusingSystem>(TOLVANE_COVER_CLASS, 2, 0);
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const Rect second{width, 0, width + 640, 480};
  system->monitors_.push_back({second, false});
  Use(system);
  UiThread ui([] {
    ShowLockWindow();
    return TheApp().form2 ? TheApp().form2->hwnd() : nullptr;
  });
  ASSERT_NE(ui.hwnd(), nullptr) << "the lock window itself stands";
  const auto cover = [] { return FindWindowW(TOLVANE_COVER_CLASS, nullptr); };
  // The cover is made first and shown a moment later: wait for it to show.
  ASSERT_TRUE(Eventually([&] { return cover() != nullptr && IsWindowVisible(cover()); }))
      << "the second monitor was left bare";
  RECT r{};
  GetWindowRect(cover(), &r);
  EXPECT_EQ((Rect{r.left, r.top, r.right, r.bottom}), second);
  EXPECT_EQ(system_->refused_.load(), 2);
  EXPECT_GE(system_->session_locks_.load(), 1) << "the session stays open while a monitor is bare";

  TakeDown(ui);
  EXPECT_EQ(cover(), nullptr) << "the cover goes with the lock";
}

TEST_F(FailClosed, AHookThreadThatCannotStartIsStartedOnALaterTickAndTheSessionIsLockedMeanwhile) {
  Use(std::make_shared<RefusingSystem>(nullptr, 0, 2));
  UiThread ui([] {
    ShowLockWindow();
    return TheApp().form2 ? TheApp().form2->hwnd() : nullptr;
  });
  ASSERT_NE(ui.hwnd(), nullptr) << "the lock window stands without its hook";
  ASSERT_TRUE(Eventually([&] { return system_->threads_started_.load() == 1; }))
      << "the hook thread was never tried again";
  EXPECT_EQ(system_->refused_.load(), 2);
  EXPECT_GE(system_->session_locks_.load(), 1) << "the session stays open while the keyboard is unguarded";

  TakeDown(ui);
}

}  // namespace
}  // namespace tolvane
