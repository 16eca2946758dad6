// The window base against messages another program can send or post: a
// destroy the program did not do itself tears nothing down, nor does a
// forged creation record, and only the program's own posts carry its mark.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/message_guard_win.h"
#include "platform/window_win.h"

namespace tolvane {
namespace {

constexpr wchar_t kClass[] = L"TolvaneMessageGuardTest";

class Counted : public Window {
 public:
  bool Create() {
    return RegisterFormClass(kClass, nullptr) &&
           CreateFormWindow(0, kClass, L"guard", WS_POPUP, 0, 0, 10, 10, nullptr) != nullptr;
  }
  int destroys = 0;
  int final_destroys = 0;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    if (msg == WM_DESTROY) ++destroys;
    return Window::HandleMessage(msg, wp, lp);
  }
  void OnFinalDestroy() override { ++final_destroys; }
};

void Pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
}

// Sends from another thread while this one pumps, as another program would.
LRESULT SendFromOutside(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  std::atomic<bool> done{false};
  std::thread outside([&] {
    SendMessageTimeoutW(h, msg, wp, lp, SMTO_BLOCK, 5000, &result);
    done = true;
  });
  while (!done) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Pump();
  }
  outside.join();
  return static_cast<LRESULT>(result);
}

TEST(MessageGuard, ForgedDestroysTearNothingDownAndTheProgramsOwnDoes) {
  Counted w;
  ASSERT_TRUE(w.Create());
  const HWND h = w.hwnd();
  for (UINT msg : {WM_DESTROY, WM_NCDESTROY}) {
    PostMessageW(h, msg, 0, 0);
    Pump();
    SendFromOutside(h, msg, 0, 0);
  }
  // A creation record of another program's making is never taken.
  CREATESTRUCTW forged = {};
  forged.lpCreateParams = reinterpret_cast<void*>(0x1234);
  SendFromOutside(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&forged));
  EXPECT_EQ(w.destroys, 0);
  EXPECT_EQ(w.final_destroys, 0);
  EXPECT_EQ(w.hwnd(), h);
  EXPECT_EQ(GetWindowLongPtrW(h, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&w));

  DestroyWindow(h);
  EXPECT_EQ(w.destroys, 1);
  EXPECT_EQ(w.final_destroys, 1);
  EXPECT_EQ(w.hwnd(), nullptr);
}

TEST(MessageGuard, OnlyTheProgramsOwnPostsCarryItsMark) {
  EXPECT_NE(OwnPostMark(), 0u);
  EXPECT_TRUE(IsOwnPost(OwnPostMark()));
  for (WPARAM forged : {WPARAM{0}, WPARAM{1}, OwnPostMark() + 1}) EXPECT_FALSE(IsOwnPost(forged)) << forged;
}

}  // namespace
}  // namespace tolvane
