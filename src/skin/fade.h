// How a skinned button moves between its looks: which event sets which face,
// and the fade that blends the new face over the screen in steps of rising
// opacity. Pure arithmetic; the timer and the blending are in
// mskinbutton_win.cpp.
#pragma once
#include <vector>

namespace tolvane::skin {

inline constexpr unsigned kFadeTimerId = 1;
inline constexpr unsigned kFadeIntervalMs = 15;
inline constexpr int kAlphaStep = 3;
// A step that would bring the alpha to this or beyond is the last one, so the
// last blend is at 253..255 and the picture has converged on the target face.
inline constexpr int kFadeEnd = 256;

// Start alphas: the higher, the quicker the new look is there.
inline constexpr int kAlphaMouseEnter = 70;
inline constexpr int kAlphaLeftDown = 10;
inline constexpr int kAlphaSpaceDown = 50;
inline constexpr int kAlphaRestart = 0;

struct FadeStep {
  int blendAlpha;  // constant alpha of this step's blend, 0..255
  int nextAlpha;   // value to store for the next step
  bool finished;   // this was the last step: stop the timer
};

FadeStep NextFadeStep(int alpha);

// The alphas of a whole fade from `startAlpha` (0 <= startAlpha < 256), one
// per timer tick.
std::vector<int> FadeAlphas(int startAlpha);
int FadeStepCount(int startAlpha);

// Per-button values kept in the window properties "OLDSTATE", "ALPHALEVEL"
// and "MOUSEFLAG".
struct ButtonLook {
  int state = 0;
  int alpha = 0;
  int mouseFlag = 0;
  bool operator==(const ButtonLook&) const = default;
};

enum class ButtonEvent {
  MouseMove,
  LeftDown,
  LeftUp,
  MouseLeave,
  SpaceDown,
  SpaceUp,
  FocusChange,
  Enabled,
  Disabled,
};

// What the window side must do after an event has updated the look.
struct ButtonReaction {
  bool trackLeave = false;  // ask for WM_MOUSELEAVE
  bool recompose = false;   // compose the four faces again (focus rectangle)
  bool startFade = false;   // fade towards look.state (a running fade just carries on)
  bool showAtOnce = false;  // copy the face look.state to the screen now, no fade
  bool operator==(const ButtonReaction&) const = default;
};

ButtonReaction ApplyButtonEvent(ButtonLook& look, ButtonEvent event);

}  // namespace tolvane::skin
