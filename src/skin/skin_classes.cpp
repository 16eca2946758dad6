#include "skin_classes.h"

#include <algorithm>
#include <array>

namespace tolvane::skin {
namespace {

using namespace std::literals;

constexpr std::array kButtonClasses = {
    L"thundercommandbutton"sv,
    L"thunderrt6commandbutton"sv,
    L"button"sv,  // our push buttons; also check boxes and radio buttons of system dialogs
};

constexpr std::array kFormClasses = {
    L"#32770"sv,  // message boxes and common dialogs
    L"thunderformdc"sv,
    L"thunderrt6formdc"sv,
    L"form"sv,
    L"tolvaneform1"sv,
    L"tolvaneform2"sv,
    L"tolvaneform3"sv,
    L"tolvaneform5"sv,
    L"tolvaneabout"sv,
};

// The form classes plus the help window class. The help class is in no other
// list, so SkinWindow leaves such a window alone even when it is handed one.
constexpr std::array kActivationClasses = {
    L"#32770"sv,
    L"thunderformdc"sv,
    L"thunderrt6formdc"sv,
    L"form"sv,
    L"newhelpclass"sv,
    L"tolvaneform1"sv,
    L"tolvaneform2"sv,
    L"tolvaneform3"sv,
    L"tolvaneform5"sv,
    L"tolvaneabout"sv,
};

constexpr std::array<const wchar_t*, 4> kSurfaceDcProps = {L"HDC0", L"HDC1", L"HDC2", L"HDC3"};
constexpr std::array<const wchar_t*, 4> kSurfaceBitmapProps = {L"BMP0", L"BMP1", L"BMP2", L"BMP3"};

template <std::size_t N>
bool InList(const std::array<std::wstring_view, N>& list, std::wstring_view className) {
  if (className.empty()) return false;
  const std::wstring lower = LowerClassName(className);
  return std::find(list.begin(), list.end(), std::wstring_view(lower)) != list.end();
}

}  // namespace

std::span<const std::wstring_view> ButtonClasses() { return kButtonClasses; }
std::span<const std::wstring_view> FormClasses() { return kFormClasses; }
std::span<const std::wstring_view> ActivationClasses() { return kActivationClasses; }

std::wstring LowerClassName(std::wstring_view className) {
  std::wstring lower(className);
  for (wchar_t& c : lower) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lower;
}

bool IsButtonClass(std::wstring_view className) { return InList(kButtonClasses, className); }
bool IsFormClass(std::wstring_view className) { return InList(kFormClasses, className); }
bool IsActivationClass(std::wstring_view className) { return InList(kActivationClasses, className); }

bool TakesPushButtonFace(unsigned long style) {
  const unsigned long type = style & 0x0Fu;  // BS_TYPEMASK
  return type == 0x00u /* BS_PUSHBUTTON */ || type == 0x01u /* BS_DEFPUSHBUTTON */;
}

SkinKind ClassifyWindowClass(std::wstring_view className) {
  if (IsButtonClass(className)) return SkinKind::Button;
  if (IsFormClass(className)) return SkinKind::Form;
  return SkinKind::None;
}

bool ShouldSkinPartner(const ActivationPartner& partner) {
  return partner.present && !partner.isSelf && partner.sameProcess && IsActivationClass(partner.className);
}

const wchar_t* SurfaceDcProp(int state) { return kSurfaceDcProps.at(static_cast<std::size_t>(state)); }
const wchar_t* SurfaceBitmapProp(int state) { return kSurfaceBitmapProps.at(static_cast<std::size_t>(state)); }

}  // namespace tolvane::skin
