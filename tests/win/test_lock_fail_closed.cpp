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
#include <thread>
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
  bool StartThread(GuardedThread& thread, std::function<void()> body) override {
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
    // A stand-in watchdog (this very process, alive, an event nobody sets,
    // and a heartbeat a thread of this fixture keeps going): the lock adopts
    // it instead of starting the test program again.
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0);
    HANDLE unlocked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE beats = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Heartbeats), nullptr);
    beats_ = static_cast<Heartbeats*>(MapViewOfFile(beats, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Heartbeats)));
    ASSERT_NE(beats_, nullptr);
    beating_ = true;
    beater_ = std::thread([this] {
      while (beating_) {
        InterlockedIncrement(reinterpret_cast<volatile LONG*>(&beats_->watchdog));
        Sleep(100);
      }
    });
    AdoptWatchdog(reinterpret_cast<std::uintptr_t>(unlocked), reinterpret_cast<std::uintptr_t>(self),
                  reinterpret_cast<std::uintptr_t>(beats));
    ASSERT_TRUE(WatchdogArmed());
  }
  void TearDown() override {
    TheApp().lock_system = nullptr;
    DisarmWatchdog();
    beating_ = false;
    if (beater_.joinable()) beater_.join();
    if (beats_) UnmapViewOfFile(beats_);
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
  Heartbeats* beats_ = nullptr;
  std::atomic<bool> beating_{false};
  std::thread beater_;
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

// Another program moves a window of the lock aside, each way any program
// may ask the system for it (here another thread of the test stands in: its
// calls reach the window's thread as another process's do).
struct Displacement {
  const char* what;
  void (*act)(HWND);
};

const Displacement kDisplacements[] = {
    {"hidden", [](HWND h) { ShowWindow(h, SW_HIDE); }},
    {"minimised", [](HWND h) { ShowWindow(h, SW_MINIMIZE); }},
    {"moved off the screens",
     [](HWND h) { SetWindowPos(h, nullptr, 30000, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE); }},
    {"moved without the window being asked",
     [](HWND h) {
       SetWindowPos(h, nullptr, 30000, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSENDCHANGING);
     }},
    {"shrunk", [](HWND h) { SetWindowPos(h, nullptr, 0, 0, 64, 48, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE); }},
    {"lowered to the bottom",
     [](HWND h) { SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); }},
    {"taken out of the topmost band",
     [](HWND h) { SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); }},
};

// Shown, not minimised, topmost and on `place` again within a second (half
// a second on Windows; Wine gets some slack).
bool BackWithinASecond(HWND h, const Rect& place) {
  const auto stands = [h, &place] {
    RECT r{};
    GetWindowRect(h, &r);
    return IsWindowVisible(h) && !IsIconic(h) && (GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_TOPMOST) &&
           Rect{r.left, r.top, r.right, r.bottom} == place;
  };
  for (DWORD waited = 0; waited < 1000; waited += 10) {
    if (stands()) return true;
    Sleep(10);
  }
  return stands();
}

TEST_F(FailClosed, ALockWindowOrCoverAnotherProgramMovesAsideIsBackWithinASecond) {
  auto system = std::make_shared<RefusingSystem>(nullptr, 0, 0);
  const Rect primary = system->monitors_[0].rect;
  const Rect second{primary.right, 0, primary.right + 640, 480};
  system->monitors_.push_back({second, false});
  Use(system);
  UiThread ui([] {
    ShowLockWindow();
    return TheApp().form2 ? TheApp().form2->hwnd() : nullptr;
  });
  ASSERT_NE(ui.hwnd(), nullptr);
  const auto cover = [] { return FindWindowW(TOLVANE_COVER_CLASS, nullptr); };
  ASSERT_TRUE(Eventually([&] { return cover() != nullptr && IsWindowVisible(cover()); }));
  const struct {
    const char* which;
    HWND window;
    Rect place;
  } windows[] = {{"the cover", cover(), second}, {"the lock window", ui.hwnd(), primary}};
  for (const auto& w : windows) {
    ASSERT_TRUE(BackWithinASecond(w.window, w.place)) << w.which << " does not stand at the start";
    for (const Displacement& d : kDisplacements) {
      d.act(w.window);
      EXPECT_TRUE(BackWithinASecond(w.window, w.place)) << w.which << " " << d.what;
    }
  }
  EXPECT_EQ(cover(), windows[0].window) << "the cover is the one made at the start";
  EXPECT_TRUE(LockUp());

  // The program's own way out still takes both down.
  TakeDown(ui);
  EXPECT_EQ(cover(), nullptr);
}

}  // namespace
}  // namespace tolvane
