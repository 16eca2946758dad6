// Which windows the skin engine takes on, decided from their window class
// name alone, and the names under which it keeps its state on a window.
#pragma once
#include <span>
#include <string>
#include <string_view>

namespace tolvane::skin {

// Lower-case names; a window's class name is lower-cased before the lookup.
// Besides our own class names the lists hold further form and command-button
// class names; windows of those classes are treated alike.
std::span<const std::wstring_view> ButtonClasses();
std::span<const std::wstring_view> FormClasses();
std::span<const std::wstring_view> ActivationClasses();

// ASCII letters only: window class names of interest are ASCII, and a
// locale-dependent lower-casing must not make two names meet.
std::wstring LowerClassName(std::wstring_view className);

bool IsButtonClass(std::wstring_view className);
bool IsFormClass(std::wstring_view className);
bool IsActivationClass(std::wstring_view className);

// Only push buttons take the template's face. Check boxes, radio buttons and
// group boxes share the system button class, but drawn as push buttons they
// hide their own state: the font dialog's underline and strikeout boxes could
// no longer be ticked and its group frames would cover the sample.
bool TakesPushButtonFace(unsigned long style);

enum class SkinKind { None, Button, Form };
SkinKind ClassifyWindowClass(std::wstring_view className);

// A window named by WM_ACTIVATE is skinned only when it is a real other
// window of this process whose class takes part in activation changes.
// Windows of other processes are never touched: their procedure cannot be
// replaced, while their properties, style and region could still be changed.
struct ActivationPartner {
  bool present;       // lParam non-zero
  bool isSelf;        // lParam is the window that got WM_ACTIVATE
  bool sameProcess;   // belongs to our process
  std::wstring_view className;
};
bool ShouldSkinPartner(const ActivationPartner& partner);

// Window property names of the engine's per-window state.
inline constexpr wchar_t kPropProcAddr[] = L"PROCADDR";
inline constexpr wchar_t kPropMouseFlag[] = L"MOUSEFLAG";
inline constexpr wchar_t kPropTimerId[] = L"TIMERID";
inline constexpr wchar_t kPropOldState[] = L"OLDSTATE";
inline constexpr wchar_t kPropAlphaLevel[] = L"ALPHALEVEL";
// Set by SetShield: the face carries the elevation shield before its caption.
inline constexpr wchar_t kPropShield[] = L"SHIELD";
// "HDC0".."HDC3" and "BMP0".."BMP3": the state surfaces and their bitmaps.
const wchar_t* SurfaceDcProp(int state);
const wchar_t* SurfaceBitmapProp(int state);

}  // namespace tolvane::skin
