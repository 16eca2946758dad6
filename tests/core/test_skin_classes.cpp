// Which windows the skin engine takes on.
#include <gtest/gtest.h>

#include <string>

#include "resource.h"
#include "skin/skin_classes.h"

namespace tolvane::skin {
namespace {

TEST(SkinClasses, ClassifiesByLowerCasedName) {
  struct Case {
    std::wstring_view name;
    SkinKind kind;
    bool activation;
  };
  const Case cases[] = {
      // The classes the program registers for its windows, under the very
      // names it registers: a renamed class that the skin lists miss would
      // leave that window plain.
      {TOLVANE_FORM1_CLASS, SkinKind::Form, true},
      {TOLVANE_FORM2_CLASS, SkinKind::Form, true},
      {TOLVANE_FORM3_CLASS, SkinKind::Form, true},
      {TOLVANE_FORM5_CLASS, SkinKind::Form, true},
      {TOLVANE_ABOUT_CLASS, SkinKind::Form, true},
      {TOLVANE_COVER_CLASS, SkinKind::None, false},  // the plain cover over other monitors
      // Classes of the system and of other form packages, matched whatever their case.
      {L"Button", SkinKind::Button, false},
      {L"BUTTON", SkinKind::Button, false},
      {L"ThunderRT6CommandButton", SkinKind::Button, false},
      {L"ThunderCommandButton", SkinKind::Button, false},
      {L"#32770", SkinKind::Form, true},
      {L"ThunderRT6FormDC", SkinKind::Form, true},
      {L"ThunderFormDC", SkinKind::Form, true},
      {L"Form", SkinKind::Form, true},
      {L"NewHelpClass", SkinKind::None, true},  // activates but is never skinned
      {L"Edit", SkinKind::None, false},
      {L"Buttons", SkinKind::None, false},
      {L"#32771", SkinKind::None, false},
      {L"", SkinKind::None, false},
  };
  for (const Case& c : cases) {
    const std::string shown(c.name.begin(), c.name.end());
    EXPECT_EQ(ClassifyWindowClass(c.name), c.kind) << shown;
    EXPECT_EQ(IsActivationClass(c.name), c.activation) << shown;
    // Upper-cased, the same window: the lookup ignores case.
    std::wstring upper(c.name);
    for (wchar_t& ch : upper) {
      if (ch >= L'a' && ch <= L'z') ch = static_cast<wchar_t>(ch - L'a' + L'A');
    }
    EXPECT_EQ(ClassifyWindowClass(upper), c.kind) << shown << " upper-cased";
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
