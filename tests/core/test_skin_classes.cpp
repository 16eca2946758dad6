// Which windows the skin engine takes on.
#include <gtest/gtest.h>

#include "skin/skin_classes.h"

namespace tolvane::skin {
namespace {

TEST(SkinClasses, ClassifiesByLowerCasedName) {
  struct Case {
    const wchar_t* name;
    SkinKind kind;
    bool activation;
  };
  const Case cases[] = {
      {L"Button", SkinKind::Button, false},
      {L"BUTTON", SkinKind::Button, false},
      {L"ThunderRT6CommandButton", SkinKind::Button, false},
      {L"ThunderCommandButton", SkinKind::Button, false},
      {L"#32770", SkinKind::Form, true},
      {L"ThunderRT6FormDC", SkinKind::Form, true},
      {L"ThunderFormDC", SkinKind::Form, true},
      {L"Form", SkinKind::Form, true},
      {L"TolvaneForm1", SkinKind::Form, true},
      {L"TolvaneForm2", SkinKind::Form, true},
      {L"TolvaneForm3", SkinKind::Form, true},
      {L"TolvaneForm5", SkinKind::Form, true},
      {L"TolvaneAbout", SkinKind::Form, true},
      {L"NewHelpClass", SkinKind::None, true},  // activates but is never skinned
      {L"TolvaneCover", SkinKind::None, false},
      {L"Edit", SkinKind::None, false},
      {L"Buttons", SkinKind::None, false},
      {L"#32771", SkinKind::None, false},
      {L"", SkinKind::None, false},
  };
  for (const Case& c : cases) {
    const std::wstring_view name(c.name);
    EXPECT_EQ(ClassifyWindowClass(name), c.kind) << std::string(name.begin(), name.end());
    EXPECT_EQ(IsActivationClass(name), c.activation) << std::string(name.begin(), name.end());
  }
}

TEST(SkinClasses, ListsAreLowerCase) {
  for (auto list : {ButtonClasses(), FormClasses(), ActivationClasses()}) {
    for (std::wstring_view name : list) EXPECT_EQ(LowerClassName(name), name);
  }
}

TEST(SkinClasses, ActivationPartnerMustBeAnotherWindowOfOurs) {
  struct Case {
    ActivationPartner partner;
    bool skin;
  };
  const Case cases[] = {
      {{true, false, true, L"#32770"}, true},
      {{true, false, true, L"TolvaneForm3"}, true},
      {{true, false, false, L"#32770"}, false},  // another program's message box
      {{true, true, true, L"TolvaneForm1"}, false},
      {{false, false, true, L""}, false},
      {{true, false, true, L"Edit"}, false},
  };
  int i = 0;
  for (const Case& c : cases) EXPECT_EQ(ShouldSkinPartner(c.partner), c.skin) << "case " << i++;
}

}  // namespace
}  // namespace tolvane::skin

namespace tolvane::skin {
namespace {

TEST(SkinClasses, OnlyPushButtonsTakeTheFace) {
  struct Case {
    unsigned long style;
    bool face;
  } cases[] = {
      {0x00, true},                 // BS_PUSHBUTTON
      {0x01, true},                 // BS_DEFPUSHBUTTON
      {0x50010001, true},           // WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON
      {0x02, false},                // BS_CHECKBOX
      {0x03, false},                // BS_AUTOCHECKBOX: the font dialog's underline box
      {0x04, false},                // BS_RADIOBUTTON
      {0x07, false},                // BS_GROUPBOX: the font dialog's frames
      {0x09, false},                // BS_AUTORADIOBUTTON
      {0x0B, false},                // BS_OWNERDRAW: someone else draws it
      {0x0C, false},                // BS_SPLITBUTTON
  };
  for (const auto& c : cases) EXPECT_EQ(TakesPushButtonFace(c.style), c.face) << std::hex << c.style;
}

}  // namespace
}  // namespace tolvane::skin
