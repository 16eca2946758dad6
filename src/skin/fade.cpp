#include "fade.h"

#include <algorithm>

#include "face_template.h"

namespace tolvane::skin {

FadeStep NextFadeStep(int alpha) {
  const int next = alpha + kAlphaStep;
  const int blend = std::clamp(alpha, 0, 255);
  if (next >= kFadeEnd) return {blend, 0, true};
  return {blend, next, false};
}

std::vector<int> FadeAlphas(int startAlpha) {
  std::vector<int> alphas;
  int alpha = startAlpha;
  for (;;) {
    const FadeStep step = NextFadeStep(alpha);
    alphas.push_back(step.blendAlpha);
    if (step.finished) return alphas;
    alpha = step.nextAlpha;
  }
}

int FadeStepCount(int startAlpha) { return static_cast<int>(FadeAlphas(startAlpha).size()); }

ButtonReaction ApplyButtonEvent(ButtonLook& look, ButtonEvent event) {
  ButtonReaction r;
  switch (event) {
    case ButtonEvent::MouseMove:
      // Leave-tracking is armed once per visit; later moves change nothing.
      if (look.mouseFlag != 0) break;
      look.mouseFlag = 1;
      look.state = kFaceHot;
      look.alpha = kAlphaMouseEnter;
      r.trackLeave = true;
      r.startFade = true;
      break;
    case ButtonEvent::LeftDown:
      look.state = kFacePressed;
      look.alpha = kAlphaLeftDown;
      r.startFade = true;
      break;
    case ButtonEvent::SpaceDown:
      look.state = kFacePressed;
      look.alpha = kAlphaSpaceDown;
      r.startFade = true;
      break;
    case ButtonEvent::LeftUp:
    case ButtonEvent::MouseLeave:
    case ButtonEvent::SpaceUp:
      // Back to normal even with the mouse still over the button: the
      // cleared flag lets the next move make it hot again.
      look.mouseFlag = 0;
      look.state = kFaceNormal;
      look.alpha = kAlphaRestart;
      r.startFade = true;
      break;
    case ButtonEvent::FocusChange:
      look.alpha = kAlphaRestart;
      r.recompose = true;
      r.startFade = true;
      break;
    case ButtonEvent::Enabled:
      look.state = kFaceNormal;
      r.showAtOnce = true;
      break;
    case ButtonEvent::Disabled:
      look.state = kFaceDisabled;
      r.showAtOnce = true;
      break;
  }
  return r;
}

}  // namespace tolvane::skin
