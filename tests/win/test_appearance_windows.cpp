// The appearance editor and the window chrome as windows: the close box's
// states under mouse messages, Form5's load from a settings file the editor
// never wrote, and what its two buttons store.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/app_win.h"
#include "appearance/appearance.h"
#include "appearance/chrome_win.h"
#include "appearance/form5_win.h"
#include "config/codepage.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "resource.h"

namespace tolvane {
namespace {

// --- Chrome ----------------------------------------------------------------

// A frameless form with the chrome and nothing else; counts close clicks.
class ChromeHost : public Window {
 public:
  bool Create() {
    if (!RegisterFormClass(L"TolvaneChromeTestHost", nullptr)) return false;
    if (!CreateFormWindow(0, L"TolvaneChromeTestHost", L"chrome test", WS_POPUP | WS_CLIPCHILDREN, 40, 40,
                          Chrome::kClientWidth, Chrome::kClientHeight, nullptr)) {
      return false;
    }
    return chrome.Attach(hwnd_, kCloseId) != nullptr;
  }
  ~ChromeHost() override {
    if (hwnd_) DestroyWindow(hwnd_);
  }

  static constexpr int kCloseId = 77;
  Chrome chrome;
  int close_clicks = 0;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    LRESULT r = 0;
    if (chrome.HandleFormMessage(msg, wp, lp, &r)) return r;
    if (msg == WM_COMMAND && LOWORD(wp) == kCloseId && HIWORD(wp) == BN_CLICKED) ++close_clicks;
    return Window::HandleMessage(msg, wp, lp);
  }
};

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

TEST(Chrome, CloseBoxFollowsTheEventTable) {
  using State = Chrome::CloseState;
  ChromeHost host;
  ASSERT_TRUE(host.Create());
  HWND box = host.chrome.close_box();
  ASSERT_EQ(GetDlgCtrlID(box), ChromeHost::kCloseId);
  RECT rc;
  GetWindowRect(box, &rc);
  MapWindowPoints(nullptr, host.hwnd(), reinterpret_cast<POINT*>(&rc), 2);
  EXPECT_EQ(rc.left, 304);
  EXPECT_EQ(rc.top, 8);
  EXPECT_EQ(rc.right - rc.left, 24);
  EXPECT_EQ(rc.bottom - rc.top, 20);
  EXPECT_EQ(host.chrome.close_state(), State::Normal);

  SendMessageW(box, WM_MOUSEMOVE, 0, At(5, 5));
  EXPECT_EQ(host.chrome.close_state(), State::Hover);

  // Any button shows the pressed picture; there is no mouse-up handling.
  SendMessageW(box, WM_RBUTTONDOWN, MK_RBUTTON, At(6, 6));
  EXPECT_EQ(host.chrome.close_state(), State::Pressed);
  SendMessageW(box, WM_RBUTTONUP, 0, At(6, 6));
  EXPECT_EQ(host.chrome.close_state(), State::Pressed);
  EXPECT_EQ(host.close_clicks, 0);

  // Moving over the background is refreshSkin.
  SendMessageW(host.hwnd(), WM_MOUSEMOVE, 0, At(150, 150));
  EXPECT_EQ(host.chrome.close_state(), State::Normal);

  // A press released away from the box is no click, and a move that only
  // repeats the press position keeps the pressed picture.
  SendMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5));
  SendMessageW(box, WM_MOUSEMOVE, MK_LBUTTON, At(5, 5));
  EXPECT_EQ(host.chrome.close_state(), State::Pressed);
  SendMessageW(box, WM_LBUTTONUP, 0, At(-60, 90));
  EXPECT_EQ(host.close_clicks, 0);
  EXPECT_EQ(host.chrome.close_state(), State::Pressed);
  EXPECT_NE(GetCapture(), box);

  SendMessageW(box, WM_MOUSEMOVE, 0, At(7, 7));
  EXPECT_EQ(host.chrome.close_state(), State::Hover);

  // Press and release on the box: one click.
  SendMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5));
  SendMessageW(box, WM_LBUTTONUP, 0, At(6, 6));
  EXPECT_EQ(host.close_clicks, 1);

  // A release on the box without a press on it first is no click.
  SendMessageW(box, WM_LBUTTONUP, 0, At(6, 6));
  EXPECT_EQ(host.close_clicks, 1);
}

// --- Form5 -----------------------------------------------------------------

// Answers each message box of this thread with OK and keeps its texts.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer() {
    texts().clear();
    timer_ = SetTimer(nullptr, 0, 40, Tick);
  }
  ~MessageBoxAnswerer() { KillTimer(nullptr, timer_); }
  static std::vector<std::wstring>& texts() {
    static std::vector<std::wstring> t;
    return t;
  }

 private:
  static BOOL CALLBACK CollectStatic(HWND child, LPARAM out) {
    wchar_t cls[16] = {};
    GetClassNameW(child, cls, 16);
    if (lstrcmpiW(cls, L"Static") == 0) *reinterpret_cast<std::wstring*>(out) += GetText(child);
    return TRUE;
  }
  static BOOL CALLBACK AnswerBox(HWND w, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(w)) return TRUE;
    std::wstring text;
    EnumChildWindows(w, CollectStatic, reinterpret_cast<LPARAM>(&text));
    texts().push_back(text);
    PostMessageW(w, WM_COMMAND, IDOK, 0);
    return FALSE;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), AnswerBox, 0);
  }
  UINT_PTR timer_ = 0;
};

class Form5Test : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static int serial = 0;
    dir_ = std::wstring(temp) + L"tolvane-form5-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++serial);
    CreateDirectoryW(dir_.c_str(), nullptr);
    SetSettingsFolderForTests(dir_);
    // The test stands for the program's other windows: unloading the editor
    // must not end the message loop of the test thread.
    TheApp().FormLoaded();
  }
  void TearDown() override {
    if (HWND w = Form5Window()) DestroyWindow(w);
    --TheApp().live_forms;
    SetSettingsFolderForTests(std::nullopt);
    DeleteFileW(SettingsPath().c_str());
    RemoveDirectoryW(dir_.c_str());
  }

  std::wstring SettingsPath() const { return dir_ + L"\\vemro.qarn"; }
  static HWND Form5Window() { return FindWindowW(TOLVANE_FORM5_CLASS, nullptr); }
  static HWND Control(int id) { return GetDlgItem(Form5Window(), id); }
  static void Click(int id) {
    SendMessageW(Form5Window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
  }
  void Store(const std::vector<std::pair<std::wstring, std::wstring>>& keys) {
    for (const auto& [key, value] : keys) ASSERT_EQ(WriteOption(kSettingsSection, key, value), WriteResult::Ok);
  }
  std::wstring SettingsText() const {
    std::string bytes;
    ReadFileBytes(SettingsPath(), bytes);
    return FromCp936(bytes);
  }
  static LOGFONTW PreviewFont() {
    LOGFONTW lf = {};
    auto font = reinterpret_cast<HFONT>(SendMessageW(Control(IDC_FORM5_LABEL1), WM_GETFONT, 0, 0));
    GetObjectW(font, sizeof(lf), &lf);
    return lf;
  }
  static LONG PixelHeight(double points) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return -static_cast<LONG>(std::lround(points * dpi / 72.0));
  }

  std::wstring dir_;
};

TEST_F(Form5Test, LoadAppliesTheFontBlockWholeOrNotAtAll) {
  struct Case {
    const char* what;
    bool stored;  // the seven font keys are in the file
    const wchar_t* size;
    const wchar_t* colour;
    bool applied;
  } cases[] = {
      {"nothing stored", false, L"", L"", false},
      {"size not a number", true, L"abc", L"255", false},
      {"size empty", true, L"", L"255", false},
      {"colour not a number", true, L"10.5", L"red", false},
      {"as the editor writes it", true, L"10.5", L"255", true},
  };
  for (const auto& c : cases) {
    DeleteFileW(SettingsPath().c_str());
    if (c.stored) {
      Store({{L"FontSize", c.size},
             {L"FontBold", L"False"},
             {L"FontItalic", L"True"},
             {L"FontStrikethru", L"False"},
             {L"FontUnderline", L"True"},
             {L"FontName", L"宋体"},
             {L"Color", c.colour}});
    }
    ShowForm5();
    ASSERT_NE(Form5Window(), nullptr) << c.what;
    EXPECT_TRUE(IsWindowVisible(Form5Window())) << c.what;
    const LOGFONTW lf = PreviewFont();
    if (c.applied) {
      EXPECT_STREQ(lf.lfFaceName, L"宋体") << c.what;
      EXPECT_EQ(lf.lfHeight, PixelHeight(10.5)) << c.what;
      EXPECT_EQ(lf.lfWeight, FW_NORMAL) << c.what;
      EXPECT_TRUE(lf.lfItalic) << c.what;
      EXPECT_TRUE(lf.lfUnderline) << c.what;
    } else {
      EXPECT_STREQ(lf.lfFaceName, L"黑体") << c.what;
      EXPECT_EQ(lf.lfHeight, PixelHeight(24)) << c.what;
      EXPECT_EQ(lf.lfWeight, FW_BOLD) << c.what;
      EXPECT_FALSE(lf.lfItalic) << c.what;
      EXPECT_FALSE(lf.lfUnderline) << c.what;
    }
    // The texts stay as read, so a save gives them back unchanged.
    EXPECT_EQ(GetText(Control(IDC_FORM5_TEXT3_0)), c.size) << c.what;
    EXPECT_EQ(GetText(Control(IDC_FORM5_TEXT3_0 + kKeyColor)), c.colour) << c.what;
    EXPECT_EQ(GetText(Control(IDC_FORM5_LABEL1)), kDefaultCaption) << c.what;
    DestroyWindow(Form5Window());
  }
}

TEST_F(Form5Test, CaptionPreviewFollowsTheTextAndSurvivesBringingForward) {
  Store({{L"label", L"离开一会儿"}, {L"photo", L"D:\\pics\\a.jpg"}});
  ShowForm5();
  HWND form = Form5Window();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(GetText(Control(IDC_FORM5_TEXT1)), L"离开一会儿");
  EXPECT_EQ(GetText(Control(IDC_FORM5_LABEL1)), L"离开一会儿");
  EXPECT_EQ(GetText(Control(IDC_FORM5_TEXT2)), L"D:\\pics\\a.jpg");

  SetWindowTextW(Control(IDC_FORM5_TEXT1), L"");
  EXPECT_EQ(GetText(Control(IDC_FORM5_LABEL1)), L"");
  SetWindowTextW(Control(IDC_FORM5_TEXT1), L"edited");
  EXPECT_EQ(GetText(Control(IDC_FORM5_LABEL1)), L"edited");

  // Asked for again while open: the same window, nothing re-read.
  Store({{L"label", L"changed on disk"}});
  ShowForm5();
  EXPECT_EQ(Form5Window(), form);
  EXPECT_EQ(GetText(Control(IDC_FORM5_TEXT1)), L"edited");
}

TEST_F(Form5Test, SaveWritesTheNineKeysInOrderAndUnloads) {
  Store({{L"drive", L"E:"}});
  ShowForm5();
  ASSERT_NE(Form5Window(), nullptr);
  {
    MessageBoxAnswerer answer;
    Click(IDC_FORM5_COMMAND3);
  }
  ASSERT_EQ(MessageBoxAnswerer::texts().size(), 1u);
  EXPECT_EQ(MessageBoxAnswerer::texts()[0], kMsgAppearanceSaved);
  EXPECT_EQ(Form5Window(), nullptr);
  // Nothing stored loads as the design caption, and that is what is saved.
  EXPECT_EQ(SettingsText(),
            L"[Option]\r\ndrive=E:\r\nFontSize=\r\nFontBold=\r\nFontItalic=\r\nFontStrikethru=\r\n"
            L"FontUnderline=\r\nFontName=\r\nColor=\r\nlabel=挂机中，请勿操作！\r\nphoto=\r\n");
}

TEST_F(Form5Test, DefaultsEmptyTheNineKeysAndNothingElse) {
  Store({{L"drive", L"E:"}, {L"FontSize", L"24"}, {L"FontName", L"黑体"}, {L"label", L"x"}, {L"photo", L"y"}});
  ShowForm5();
  {
    MessageBoxAnswerer answer;
    Click(IDC_FORM5_COMMAND4);
  }
  ASSERT_EQ(MessageBoxAnswerer::texts().size(), 1u);
  EXPECT_EQ(MessageBoxAnswerer::texts()[0], kMsgAppearanceSaved);
  for (const wchar_t* key : kAppearanceKeys) EXPECT_EQ(ReadOption(kSettingsSection, key), L"") << key;
  EXPECT_EQ(ReadOption(kSettingsSection, L"drive"), L"E:");
  EXPECT_NE(SettingsText().find(L"\r\nphoto=\r\n"), std::wstring::npos);
}

TEST_F(Form5Test, AFailedWriteSaysSoAndKeepsTheEdits) {
  ShowForm5();
  SetWindowTextW(Control(IDC_FORM5_TEXT1), L"keep me");
  SetSettingsFolderForTests(dir_ + L"\\no such folder");
  {
    MessageBoxAnswerer answer;
    Click(IDC_FORM5_COMMAND3);
  }
  ASSERT_EQ(MessageBoxAnswerer::texts().size(), 1u);
  EXPECT_NE(MessageBoxAnswerer::texts()[0].find(L"配置文件写入失败"), std::wstring::npos);
  ASSERT_NE(Form5Window(), nullptr);
  EXPECT_EQ(GetText(Control(IDC_FORM5_TEXT1)), L"keep me");
}

TEST_F(Form5Test, AWriteThatFailsAtTheLastStepKeepsEveryOldKey) {
  Store({{L"drive", L"E:"}, {L"FontSize", L"24"}, {L"label", L"old"}});
  const std::wstring before = SettingsText();
  ShowForm5();
  SetWindowTextW(Control(IDC_FORM5_TEXT1), L"new caption");
  SetWindowTextW(Control(IDC_FORM5_TEXT2), L"D:\\new.jpg");
  // The rename that would put the new file in place fails: by then every
  // key had been written to the temporary file.
  SetFileFaultHook([](FileStep step, const std::wstring&) {
    return step == FileStep::Rename ? FileError::Failed : FileError::None;
  });
  {
    MessageBoxAnswerer answer;
    Click(IDC_FORM5_COMMAND3);
  }
  SetFileFaultHook(nullptr);
  ASSERT_EQ(MessageBoxAnswerer::texts().size(), 1u);
  EXPECT_EQ(MessageBoxAnswerer::texts()[0], AppearanceWriteFailedMessage(SettingsPath()));
  EXPECT_EQ(SettingsText(), before);
  ASSERT_NE(Form5Window(), nullptr) << "the window stays with the edits";
  EXPECT_EQ(GetText(Control(IDC_FORM5_TEXT1)), L"new caption");
}

TEST_F(Form5Test, ACaptionTheFileCannotHoldIsRefusedBeforeAnythingIsWritten) {
  ShowForm5();
  SetWindowTextW(Control(IDC_FORM5_TEXT1), std::wstring(64, L'锁').c_str());
  {
    MessageBoxAnswerer answer;
    Click(IDC_FORM5_COMMAND3);
  }
  ASSERT_EQ(MessageBoxAnswerer::texts().size(), 1u);
  EXPECT_NE(MessageBoxAnswerer::texts()[0].find(L"文字提示"), std::wstring::npos);
  EXPECT_NE(Form5Window(), nullptr);
  EXPECT_FALSE(PathExists(SettingsPath()));
}

TEST_F(Form5Test, CloseBoxUnloadsWithoutSaving) {
  ShowForm5();
  SetWindowTextW(Control(IDC_FORM5_TEXT1), L"unsaved");
  HWND box = Control(IDC_FORM5_CLOSE);
  ASSERT_NE(box, nullptr);
  SendMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  SendMessageW(box, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  EXPECT_EQ(Form5Window(), nullptr);
  EXPECT_FALSE(PathExists(SettingsPath()));
}

}  // namespace
}  // namespace tolvane
