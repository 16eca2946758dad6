// Fade arithmetic and the button's look transitions.
#include <gtest/gtest.h>

#include "skin/face_template.h"
#include "skin/fade.h"

namespace tolvane::skin {
namespace {

TEST(SkinFade, StepCountsAndEnds) {
  struct Case {
    int start, steps, last;
  };
  // 15 ms per step: 62 steps is about 0.9 s, 86 steps about 1.3 s.
  const Case cases[] = {{0, 86, 255}, {10, 82, 253}, {50, 69, 254}, {70, 62, 253}};
  for (const Case& c : cases) {
    const std::vector<int> alphas = FadeAlphas(c.start);
    EXPECT_EQ(FadeStepCount(c.start), c.steps) << "from " << c.start;
    ASSERT_EQ(static_cast<int>(alphas.size()), c.steps) << "from " << c.start;
    EXPECT_EQ(alphas.front(), c.start);
    EXPECT_EQ(alphas.back(), c.last);
    for (std::size_t i = 1; i < alphas.size(); ++i) ASSERT_EQ(alphas[i] - alphas[i - 1], 3);
  }
}

TEST(SkinFade, LastStepResetsAlpha) {
  EXPECT_EQ(NextFadeStep(252).finished, false);
  EXPECT_EQ(NextFadeStep(252).nextAlpha, 255);
  const FadeStep last = NextFadeStep(253);
  EXPECT_TRUE(last.finished);
  EXPECT_EQ(last.blendAlpha, 253);
  EXPECT_EQ(last.nextAlpha, 0);
}

// Sequences of events as a user produces them, with the look after each.
TEST(SkinFade, LookFollowsTheUser) {
  using E = ButtonEvent;
  struct Step {
    E event;
    ButtonLook after;
    bool trackLeave, startFade, showAtOnce;
  };
  const Step click[] = {
      {E::MouseMove, {kFaceHot, 70, 1}, true, true, false},
      {E::MouseMove, {kFaceHot, 70, 1}, false, false, false},  // same visit: nothing
      {E::LeftDown, {kFacePressed, 10, 1}, false, true, false},
      {E::LeftUp, {kFaceNormal, 0, 0}, false, true, false},    // normal, not hot
      {E::MouseMove, {kFaceHot, 70, 1}, true, true, false},    // next move: hot again
      {E::MouseLeave, {kFaceNormal, 0, 0}, false, true, false},
      {E::SpaceDown, {kFacePressed, 50, 0}, false, true, false},
      {E::SpaceDown, {kFacePressed, 50, 0}, false, true, false},  // key repeat restarts at 50
      {E::SpaceUp, {kFaceNormal, 0, 0}, false, true, false},
      {E::Disabled, {kFaceDisabled, 0, 0}, false, false, true},
      {E::Enabled, {kFaceNormal, 0, 0}, false, false, true},
  };
  ButtonLook look;
  int i = 0;
  for (const Step& s : click) {
    const ButtonReaction r = ApplyButtonEvent(look, s.event);
    EXPECT_EQ(look, s.after) << "step " << i;
    EXPECT_EQ(r.trackLeave, s.trackLeave) << "step " << i;
    EXPECT_EQ(r.startFade, s.startFade) << "step " << i;
    EXPECT_EQ(r.showAtOnce, s.showAtOnce) << "step " << i;
    EXPECT_FALSE(r.recompose) << "step " << i;
    ++i;
  }
}

// A focus change keeps the look and the mouse state, redraws the faces and
// fades them in from scratch.
TEST(SkinFade, FocusChangeKeepsTheLook) {
  ButtonLook look{kFacePressed, 37, 1};
  const ButtonReaction r = ApplyButtonEvent(look, ButtonEvent::FocusChange);
  EXPECT_EQ(look, (ButtonLook{kFacePressed, 0, 1}));
  EXPECT_TRUE(r.recompose);
  EXPECT_TRUE(r.startFade);
  EXPECT_FALSE(r.showAtOnce);
}

}  // namespace
}  // namespace tolvane::skin
