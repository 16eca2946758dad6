// Every window at 100, 125, 150 and 200 %: laid out at each DPI through
// WM_DPICHANGED (as when the window moves to a monitor of that scale), every
// label, box and button still holds its whole text, and nothing sticks out of
// its window. Fonts are made for the DPI in pixels, so the measures hold
// whatever the DPI of the test's own screen.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/app_win.h"
#include "platform/display_scale.h"
#include "platform/dpi_win.h"
#include "appearance/appearance.h"
#include "appearance/chrome_win.h"
#include "appearance/form5_win.h"
#include "config/settings.h"
#include "lock/form2_win.h"
#include "lock/password_box.h"
#include "resource.h"
#include "setup/status_line.h"
#include "setup/form1_win.h"
#include "skin/face_template.h"
#include "skin/mskinbutton_win.h"
#include "skin_support.h"
#include "tray/about_win.h"

namespace tolvane {
namespace {

constexpr int kDpis[] = {96, 120, 144, 192};

std::wstring ClassOf(HWND h) {
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  return name;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
  return out;
}

// The extent of `text` (lines split at "\r\n") in the control's font.
SIZE TextExtent(HWND control, const std::wstring& text, bool single_line) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT rc = {0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc,
            DT_CALCRECT | DT_NOPREFIX | (single_line ? DT_SINGLELINE : 0u));
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

RECT ClientIn(HWND control, HWND form) {
  RECT rc;
  GetWindowRect(control, &rc);
  MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

// The place a control has for its text: a static's client area, an edit's
// formatting rectangle (its margins off), a skinned button's caption box.
struct Room {
  RECT rect;
  bool single_line;
};

Room TextRoom(HWND control, int dpi) {
  const std::wstring cls = ClassOf(control);
  RECT client;
  GetClientRect(control, &client);
  if (_wcsicmp(cls.c_str(), L"Edit") == 0) {
    RECT format = client;
    SendMessageW(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    // The formatting rectangle of a single-line box may run past the client
    // area at the bottom; what shows is the part inside it.
    format.top = std::max(format.top, client.top);
    format.bottom = std::min(format.bottom, client.bottom);
    return {format, true};
  }
  if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    RECT window;
    GetWindowRect(control, &window);
    const skin::Box b = skin::CaptionBox(window.right - window.left, window.bottom - window.top, dpi);
    return {{b.left, b.top, b.right, b.bottom}, true};
  }
  return {client, false};
}

// Texts a control must hold besides the one it shows now: every status line
// of the setup window, and in the empty boxes a line as tall as any typed.
std::vector<std::wstring> TextsFor(HWND control) {
  const std::wstring now = [&] {
    const int n = GetWindowTextLengthW(control);
    std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
    s.resize(static_cast<std::size_t>(GetWindowTextW(control, s.data(), n + 1)));
    return s;
  }();
  std::vector<std::wstring> texts;
  if (!now.empty()) texts.push_back(now);
  switch (GetDlgCtrlID(control)) {
    case IDC_FORM1_LABEL3:
      texts = {kStatusChoose, kStatusNoDrive, std::wstring(kStatusChosenHead) + L"W:"};
      break;
    case IDC_FORM1_TEXT1:
    case IDC_FORM1_TEXT2:
      texts.push_back(L"****************");
      break;
    case IDC_FORM2_TEXT9:
    case IDC_FORM2_TEXT10:
      texts = {kUnlockPlaceholder, kSetupPlaceholder};
      break;
    case IDC_FORM2_LABEL2:
      texts.push_back(L"挂机中，请勿操作！");  // the design caption, whatever the settings hold
      break;
    default:
      break;
  }
  return texts;
}

bool Measured(HWND control) {
  const std::wstring cls = ClassOf(control);
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  if (_wcsicmp(cls.c_str(), L"Static") == 0) {
    const LONG_PTR kind = style & SS_TYPEMASK;
    return kind != SS_ICON && kind != SS_ETCHEDFRAME;
  }
  return _wcsicmp(cls.c_str(), L"Edit") == 0 || _wcsicmp(cls.c_str(), L"Button") == 0;
}

// Checks every visible control of `form` (and the hidden password boxes,
// which F2 and F3 show): inside the form's client area, text within its room.
// Returns how many texts were measured.
int ExpectEverythingFits(HWND form, int dpi, const std::vector<int>& also_hidden = {}) {
  RECT form_client;
  GetClientRect(form, &form_client);
  int measured = 0;
  for (HWND c : Children(form)) {
    const int id = GetDlgCtrlID(c);
    const bool wanted = IsWindowVisible(c) ||
                        std::find(also_hidden.begin(), also_hidden.end(), id) != also_hidden.end();
    if (!wanted) continue;
    const RECT at = ClientIn(c, form);
    EXPECT_TRUE(at.left >= 0 && at.top >= 0 && at.right <= form_client.right && at.bottom <= form_client.bottom)
        << "control " << id << " sticks out of its window at " << dpi << " DPI";
    if (_wcsicmp(ClassOf(c).c_str(), L"ListBox") == 0) {
      RECT client;
      GetClientRect(c, &client);
      const SIZE entry = TextExtent(c, L"W: 1,023.50 MB", true);
      const auto item = static_cast<int>(SendMessageW(c, LB_GETITEMHEIGHT, 0, 0));
      EXPECT_GE(item, entry.cy) << "list " << id << " at " << dpi;
      EXPECT_LE(entry.cx, client.right - GetSystemMetrics(SM_CXVSCROLL)) << "list " << id << " at " << dpi;
      ++measured;
      continue;
    }
    if (!Measured(c)) continue;
    const Room room = TextRoom(c, dpi);
    for (const std::wstring& text : TextsFor(c)) {
      const SIZE need = TextExtent(c, text, room.single_line);
      EXPECT_LE(need.cx, room.rect.right - room.rect.left)
          << "control " << id << " cuts \"" << ::testing::PrintToString(text) << "\" at " << dpi << " DPI";
      EXPECT_LE(need.cy, room.rect.bottom - room.rect.top)
          << "control " << id << " cuts the height of its text at " << dpi << " DPI";
      ++measured;
    }
  }
  return measured;
}

// WM_DPICHANGED as the system sends it: the new DPI and a suggested window
// rectangle at the window's current top-left.
void ChangeDpi(HWND form, int dpi, SIZE window_size) {
  RECT r;
  GetWindowRect(form, &r);
  RECT suggested = {r.left, r.top, r.left + window_size.cx, r.top + window_size.cy};
  SendMessageW(form, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

int FontPixelHeight(HWND control) {
  LOGFONTW lf = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
  return lf.lfHeight;
}

// A settings folder of the test's own with no settings file: the setup
// window then stays up instead of locking.
class ScaledWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"tolvane-scale-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir_.c_str(), nullptr);
    SetSettingsFolderForTests(dir_);
    TheApp().FormLoaded();  // the forms under test must not end the thread's loop
  }
  void TearDown() override {
    --TheApp().live_forms;
    SetSettingsFolderForTests(std::nullopt);
    RemoveDirectoryW(dir_.c_str());
  }

  std::wstring dir_;
};

// The two frameless windows: client area, close box, fonts and every text.
TEST_F(ScaledWindows, FramelessWindowsFitAtEveryScale) {
  Form1 form1;
  ASSERT_TRUE(form1.Load(false));
  ShowForm5();
  HWND form5 = FindWindowW(TOLVANE_FORM5_CLASS, nullptr);
  ASSERT_NE(form5, nullptr);
  for (HWND form : {form1.hwnd(), form5}) {
    for (int dpi : kDpis) {
      SCOPED_TRACE(testing::Message() << (form == form5 ? "Form5" : "Form1") << " at " << dpi << " DPI");
      ChangeDpi(form, dpi, {ScaleToDpi(340, dpi), ScaleToDpi(263, dpi)});
      RECT client;
      GetClientRect(form, &client);
      EXPECT_EQ(client.right, ScaleToDpi(340, dpi));
      EXPECT_EQ(client.bottom, ScaleToDpi(263, dpi));
      EXPECT_EQ(WindowDpi(form), dpi);
      const int close_id = form == form5 ? IDC_FORM5_CLOSE : IDC_FORM1_CLOSE;
      const RECT close = ClientIn(GetDlgItem(form, close_id), form);
      const DesignRect expected = ScaleRect({304, 8, 24, 20}, dpi);
      EXPECT_EQ(close.left, expected.x);
      EXPECT_EQ(close.top, expected.y);
      EXPECT_EQ(close.right - close.left, expected.width);
      EXPECT_EQ(close.bottom - close.top, expected.height);
      const int title = form == form5 ? IDC_FORM5_LABEL4 : IDC_FORM1_LABEL4;
      EXPECT_EQ(FontPixelHeight(GetDlgItem(form, title)), FontHeightForDpi(9.75, dpi));
      if (form == form5) EXPECT_EQ(FontPixelHeight(GetDlgItem(form, IDC_FORM5_LABEL1)), FontHeightForDpi(24, dpi));
      EXPECT_GE(ExpectEverythingFits(form, dpi), form == form5 ? 9 : 11);
    }
  }
  DestroyWindow(form5);
  form1.Unload();
}

TEST_F(ScaledWindows, AboutBoxFitsAtEveryScale) {
  ShowAbout();
  HWND about = FindWindowW(TOLVANE_ABOUT_CLASS, nullptr);
  ASSERT_NE(about, nullptr);
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(about, GWL_STYLE));
  for (int dpi : kDpis) {
    SCOPED_TRACE(testing::Message() << "about box at " << dpi << " DPI");
    ChangeDpi(about, dpi, WindowSizeForClient(ScaleToDpi(248, dpi), ScaleToDpi(140, dpi), style, 0, dpi));
    RECT client;
    GetClientRect(about, &client);
    EXPECT_EQ(client.right, ScaleToDpi(248, dpi));
    EXPECT_EQ(client.bottom, ScaleToDpi(140, dpi));
    EXPECT_GE(ExpectEverythingFits(about, dpi), 5);
    // The four lines of the frame stay inside it.
    const RECT frame = ClientIn(GetDlgItem(about, IDC_ABOUT_FRAME), about);
    for (int id : {IDC_ABOUT_LABEL5, IDC_ABOUT_LABEL6, IDC_ABOUT_LABEL4, IDC_ABOUT_LABEL2}) {
      const RECT line = ClientIn(GetDlgItem(about, id), about);
      EXPECT_TRUE(line.left > frame.left && line.right < frame.right && line.top > frame.top &&
                  line.bottom < frame.bottom)
          << "line " << id;
    }
  }
  SendMessageW(about, WM_CLOSE, 0, 0);
}

// The lock window: its message lines, its caption and both password boxes
// (shown one at a time by F2 and F3) with their placeholders.
TEST_F(ScaledWindows, LockWindowFitsAtEveryScale) {
  ASSERT_TRUE(ShowLockWindow());
  Form2* lock = TheApp().form2;
  ASSERT_NE(lock, nullptr);
  HWND form = lock->hwnd();
  // The lock covers first; its lines and boxes follow from the message loop.
  MSG m;
  while (!GetDlgItem(form, IDC_FORM2_TEXT9) && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  ASSERT_NE(GetDlgItem(form, IDC_FORM2_TEXT9), nullptr) << "the lock's face never came";
  for (int dpi : kDpis) {
    SCOPED_TRACE(testing::Message() << "lock window at " << dpi << " DPI");
    RECT r;
    GetWindowRect(form, &r);
    ChangeDpi(form, dpi, {r.right - r.left, r.bottom - r.top});
    const RECT box = ClientIn(GetDlgItem(form, IDC_FORM2_TEXT9), form);
    EXPECT_EQ(box.left, TwipsToPixels(840, dpi));
    EXPECT_EQ(box.top, TwipsToPixels(480, dpi));
    EXPECT_EQ(box.right, TwipsToPixels(840 + 2175, dpi));
    // As tall as the twips say, or taller where the font's line needs it.
    EXPECT_GE(box.bottom, TwipsToPixels(480 + 270, dpi));
    EXPECT_EQ(box.bottom - box.top, std::max<int>(TwipsToPixels(750, dpi) - TwipsToPixels(480, dpi),
                                                  OneLineHeight(GetDlgItem(form, IDC_FORM2_TEXT9))));
    EXPECT_EQ(FontPixelHeight(GetDlgItem(form, IDC_FORM2_TEXT9)), FontHeightForDpi(9, dpi));
    EXPECT_GE(ExpectEverythingFits(form, dpi, {IDC_FORM2_TEXT9, IDC_FORM2_TEXT10}), 8);
  }
  DestroyWindow(form);
  EXPECT_EQ(TheApp().form2, nullptr);
}

}  // namespace
}  // namespace tolvane

namespace tolvane::test {
namespace {

// A skinned button on a form laid out at 150 %: the template's corners come
// out 6 x 8, made only of the template's own corner colours (stretched by
// whole pixels, nothing blended), and the caption keeps the 3-pixel inset.
class ScaledSkin : public SkinFormTest {};

TEST_F(ScaledSkin, CornersScaleCrispAndCaptionKeepsItsInset) {
  constexpr int kDpi = 144;
  MarkWindowDpi(form_, kDpi);
  const DesignRect r = ScaleRect({10, 10, 81, 25}, kDpi);
  HWND button = AddPushButton(form_, L"修 改", r.x, r.y, r.width, r.height);
  ASSERT_EQ(skin::SkinWindow(button), 1);
  const int cw = ScaleToDpi(skin::kSideWidth, kDpi), ch = ScaleToDpi(skin::kEndHeight, kDpi);
  ASSERT_EQ(cw, 6);
  ASSERT_EQ(ch, 8);
  for (int s = 0; s < skin::kFaceStateCount; ++s) {
    SCOPED_TRACE(testing::Message() << "face " << s);
    const Face face = ReadFace(button, s);
    ASSERT_EQ(face.w, r.width);
    const int y0 = skin::kBandHeight * s;
    struct Corner {
      int x0, y0;      // in the face
      int tx0, ty0;    // in the band
    };
    const Corner corners[] = {{0, 0, 0, 0}, {face.w - cw, 0, 5, 0}, {0, face.h - ch, 0, 16},
                              {face.w - cw, face.h - ch, 5, 16}};
    for (const Corner& c : corners) {
      std::vector<unsigned> palette;
      for (int ty = 0; ty < skin::kEndHeight; ++ty) {
        for (int tx = 0; tx < skin::kSideWidth; ++tx) palette.push_back(skin::TemplatePixel(c.tx0 + tx, y0 + c.ty0 + ty));
      }
      for (int y = 0; y < ch; ++y) {
        for (int x = 0; x < cw; ++x) {
          const unsigned got = face.at(c.x0 + x, c.y0 + y);
          EXPECT_NE(std::find(palette.begin(), palette.end(), got), palette.end())
              << "corner pixel " << c.x0 + x << "," << c.y0 + y << " is " << std::hex << got;
        }
      }
    }
    // The outermost pixel of each corner is the template's.
    EXPECT_EQ(face.at(0, 0), skin::TemplatePixel(0, y0));
    EXPECT_EQ(face.at(face.w - 1, 0), skin::TemplatePixel(8, y0));
    EXPECT_EQ(face.at(0, face.h - 1), skin::TemplatePixel(0, y0 + 20));
    EXPECT_EQ(face.at(face.w - 1, face.h - 1), skin::TemplatePixel(8, y0 + 20));
    // Caption ink only inside the scaled inset.
    const unsigned ink = s == skin::kFaceDisabled ? 0x808080 : 0x000000;
    int inside = 0, outside = 0;
    for (int y = 0; y < face.h; ++y) {
      for (int x = 0; x < face.w; ++x) {
        if (face.at(x, y) != ink) continue;
        const bool in = x >= 3 && x < face.w - 3 && y >= 3 && y < face.h - 3;
        (in ? inside : outside)++;
      }
    }
    EXPECT_GT(inside, 10);
    EXPECT_EQ(outside, 0);
  }
}

}  // namespace
}  // namespace tolvane::test
