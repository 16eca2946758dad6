// A skinned button's look and its fade, driven by the messages a user's
// actions produce. WM_TIMER is sent by the test, so every step is counted.
#include <gtest/gtest.h>

#include "skin/face_template.h"
#include "skin_support.h"

namespace tolvane::test {
namespace {

class SkinButtonStates : public SkinFormTest {
 protected:
  void SetUp() override {
    SkinFormTest::SetUp();
    button_ = AddPushButton(form_, L"OK", 20, 20, 81, 25);
    ASSERT_EQ(skin::SkinWindow(button_), 1);
  }

  INT_PTR State() const { return Prop(button_, L"OLDSTATE"); }
  INT_PTR Alpha() const { return Prop(button_, L"ALPHALEVEL"); }
  INT_PTR TimerId() const { return Prop(button_, L"TIMERID"); }
  INT_PTR MouseFlag() const { return Prop(button_, L"MOUSEFLAG"); }

  // Sends fade steps until the fade timer is gone; the number of steps sent.
  int RunFade(int limit = 300) {
    int steps = 0;
    while (TimerId() != 0 && steps < limit) {
      SendMessageW(button_, WM_TIMER, 1, 0);
      ++steps;
    }
    return steps;
  }

  // Whether the system delivers a fade tick to the button within ~100 ms.
  bool TimerTicks() {
    MSG msg;
    for (int i = 0; i < 10; ++i) {
      Sleep(10);
      if (PeekMessageW(&msg, button_, WM_TIMER, WM_TIMER, PM_REMOVE)) return msg.wParam == 1;
    }
    return false;
  }

  HWND button_ = nullptr;
};

TEST_F(SkinButtonStates, FreshButtonIsNormalAndIdle) {
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(Alpha(), 0);
  EXPECT_EQ(TimerId(), 0);
  EXPECT_EQ(MouseFlag(), 0);
  EXPECT_EQ(GetWindowLongPtrW(button_, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  RECT box{};
  EXPECT_NE(GetWindowRgnBox(button_, &box), ERROR);  // rounded region set
  EXPECT_FALSE(TimerTicks());
}

TEST_F(SkinButtonStates, EachEventFadesToItsFaceInItsStepCount) {
  struct Case {
    const char* name;
    UINT msg;
    WPARAM wp;
    INT_PTR state, alpha;
    int steps;
  };
  const Case cases[] = {
      {"mouse enters", WM_MOUSEMOVE, 0, 1, 70, 62},
      {"left button down", WM_LBUTTONDOWN, MK_LBUTTON, 2, 10, 82},
      {"space down", WM_KEYDOWN, VK_SPACE, 2, 50, 69},
      {"left button up", WM_LBUTTONUP, 0, 0, 0, 86},
      {"space up", WM_KEYUP, VK_SPACE, 0, 0, 86},
      {"mouse leaves", WM_MOUSELEAVE, 0, 0, 0, 86},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SendMessageW(button_, WM_MOUSELEAVE, 0, 0);  // clean start: normal, flag clear
    RunFade();
    ASSERT_EQ(TimerId(), 0);

    SendMessageW(button_, c.msg, c.wp, 0);
    EXPECT_EQ(State(), c.state);
    EXPECT_EQ(Alpha(), c.alpha);
    EXPECT_EQ(TimerId(), 1);
    EXPECT_TRUE(TimerTicks());
    EXPECT_EQ(RunFade(), c.steps);  // the tick TimerTicks took was not processed
    EXPECT_EQ(TimerId(), 0);
    EXPECT_EQ(Alpha(), 0);
    EXPECT_EQ(State(), c.state);
    EXPECT_FALSE(TimerTicks()) << "a timer is left running";
  }
}

TEST_F(SkinButtonStates, EventDuringAFadeOnlyRetargetsIt) {
  SendMessageW(button_, WM_MOUSEMOVE, 0, 0);
  ASSERT_EQ(MouseFlag(), 1);
  for (int i = 0; i < 5; ++i) SendMessageW(button_, WM_TIMER, 1, 0);
  ASSERT_EQ(Alpha(), 85);

  // Further moves within the same visit change nothing.
  SendMessageW(button_, WM_MOUSEMOVE, 0, 0);
  EXPECT_EQ(Alpha(), 85);
  EXPECT_EQ(State(), 1);

  SendMessageW(button_, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  EXPECT_EQ(State(), 2);
  EXPECT_EQ(Alpha(), 10);
  EXPECT_EQ(TimerId(), 1);
  EXPECT_EQ(MouseFlag(), 1);
  EXPECT_EQ(RunFade(), 82);

  // After the click the button is normal though the mouse is still over it;
  // the next move makes it hot again.
  SendMessageW(button_, WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(MouseFlag(), 0);
  RunFade();
  SendMessageW(button_, WM_MOUSEMOVE, 0, 0);
  EXPECT_EQ(State(), 1);
  EXPECT_EQ(Alpha(), 70);
}

TEST_F(SkinButtonStates, EnablingShowsAFaceAtOnce) {
  EnableWindow(button_, FALSE);
  EXPECT_EQ(State(), 3);
  EXPECT_EQ(TimerId(), 0);
  EnableWindow(button_, TRUE);
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(TimerId(), 0);

  HWND disabled = AddPushButton(form_, L"Off", 20, 60, 81, 25);
  EnableWindow(disabled, FALSE);
  skin::SkinWindow(disabled);
  EXPECT_EQ(Prop(disabled, L"OLDSTATE"), 3);
}

TEST_F(SkinButtonStates, ForeignTimerWithoutFadeOnlyAdvancesAlpha) {
  SendMessageW(button_, WM_TIMER, 7, 0);
  EXPECT_EQ(Alpha(), 3);
  EXPECT_EQ(TimerId(), 0);
}

// On screen: a paint copies the face of the current state, a fade converges
// on its target face, enabling and disabling show a face at once.
TEST_F(SkinButtonStates, ScreenShowsTheFaces) {
  ShowWindow(form_, SW_SHOW);
  UpdateWindow(form_);
  const Face normal = ReadFace(button_, 0), hot = ReadFace(button_, 1), disabled = ReadFace(button_, 3);
  ASSERT_GT(MaxDifference(normal, hot), 20);
  EXPECT_EQ(MaxDifference(ReadScreen(button_), normal), 0);

  SendMessageW(button_, WM_MOUSEMOVE, 0, 0);
  SendMessageW(button_, WM_TIMER, 1, 0);
  const Face firstStep = ReadScreen(button_);
  EXPECT_GT(MaxDifference(firstStep, normal), 5) << "the first step blends in part of the hot face";
  EXPECT_GT(MaxDifference(firstStep, hot), 5) << "but not all of it";
  RunFade();
  EXPECT_LE(MaxDifference(ReadScreen(button_), hot), 2);

  // A paint in the middle of a fade shows the target at once.
  SendMessageW(button_, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  SendMessageW(button_, WM_TIMER, 1, 0);
  // The press took the focus, so the faces now carry the focus rectangle.
  ASSERT_EQ(GetFocus(), button_);
  const Face pressed = ReadFace(button_, 2), focusedNormal = ReadFace(button_, 0);
  ASSERT_GT(MaxDifference(ReadScreen(button_), pressed), 5);
  InvalidateRect(button_, nullptr, FALSE);
  UpdateWindow(button_);
  EXPECT_EQ(MaxDifference(ReadScreen(button_), pressed), 0);
  SendMessageW(button_, WM_LBUTTONUP, 0, 0);
  RunFade();
  EXPECT_LE(MaxDifference(ReadScreen(button_), focusedNormal), 2);
  SetFocus(nullptr);
  RunFade();

  EnableWindow(button_, FALSE);
  EXPECT_EQ(MaxDifference(ReadScreen(button_), disabled), 0);
  EnableWindow(button_, TRUE);
  EXPECT_EQ(MaxDifference(ReadScreen(button_), normal), 0);
}

TEST_F(SkinButtonStates, ResizeReplacesTheFaces) {
  HBITMAP before[4];
  const wchar_t* bmp[] = {L"BMP0", L"BMP1", L"BMP2", L"BMP3"};
  for (int s = 0; s < 4; ++s) before[s] = static_cast<HBITMAP>(GetPropW(button_, bmp[s]));
  SetWindowPos(button_, nullptr, 0, 0, 120, 40, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (int s = 0; s < 4; ++s) {
    HBITMAP now = static_cast<HBITMAP>(GetPropW(button_, bmp[s]));
    EXPECT_NE(now, before[s]);
    EXPECT_EQ(GetObjectType(before[s]), 0u) << "old bitmap " << s << " not deleted";
    BITMAP bm{};
    ASSERT_TRUE(GetObjectW(now, sizeof(bm), &bm));
    EXPECT_EQ(bm.bmWidth, 120);
    EXPECT_EQ(bm.bmHeight, 40);
    EXPECT_EQ(GetCurrentObject(FaceDc(button_, s), OBJ_BITMAP), now);
  }
  // The new faces are composed at the new size: bottom-right corner in place.
  const Face face = ReadFace(button_, 0);
  EXPECT_EQ(face.at(119, 39), skin::TemplatePixel(8, 20));
  EXPECT_EQ(face.at(115, 35), skin::TemplatePixel(4, 16));
  RECT box{};
  ASSERT_NE(GetWindowRgnBox(button_, &box), ERROR);
  EXPECT_GE(box.right, 120);
  EXPECT_GE(box.bottom, 40);
}

}  // namespace
}  // namespace tolvane::test
