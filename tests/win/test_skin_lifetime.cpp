// What the skin engine holds and when it lets go: subclassing, counts,
// graphics objects, window properties and the shared template.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "gdi_count.h"
#include "skin/face_template.h"
#include "skin_support.h"

namespace tolvane::test {
namespace {

const wchar_t* const kEngineProps[] = {L"PROCADDR", L"MOUSEFLAG", L"TIMERID", L"OLDSTATE", L"ALPHALEVEL",
                                       L"HDC0",     L"HDC1",      L"HDC2",    L"HDC3",     L"BMP0",
                                       L"BMP1",     L"BMP2",      L"BMP3"};

// Engine properties still on windows as they reach WM_NCDESTROY, counted by
// a hook that sees each message before the window does.
int g_leftoverProps = 0;
int g_windowsChecked = 0;

BOOL CALLBACK CountEngineProp(HWND, LPWSTR name, HANDLE, ULONG_PTR) {
  if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) == 0) return TRUE;  // an atom, not ours
  for (const wchar_t* ours : kEngineProps) {
    if (wcscmp(name, ours) == 0) ++g_leftoverProps;
  }
  return TRUE;
}

LRESULT CALLBACK WatchDestroy(int code, WPARAM wp, LPARAM lp) {
  const auto* msg = reinterpret_cast<const CWPSTRUCT*>(lp);
  if (code == HC_ACTION && msg->message == WM_NCDESTROY) {
    ++g_windowsChecked;
    EnumPropsExW(msg->hwnd, CountEngineProp, 0);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

class SkinLifetime : public SkinFormTest {
 protected:
  static skin::EngineState Engine() { return skin::CurrentEngineState(); }
};

TEST_F(SkinLifetime, SkinWindowTwiceSubclassesNothingTwice) {
  HWND b1 = AddPushButton(form_, L"One", 10, 10, 81, 25);
  HWND b2 = AddPushButton(form_, L"Two", 10, 40, 81, 25);
  HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE, 10, 80, 120, 22, form_, nullptr,
                              nullptr, nullptr);
  const skin::EngineState base = Engine();

  EXPECT_EQ(skin::SkinWindow(form_), 1);
  EXPECT_EQ(Engine().buttonCount, base.buttonCount + 2);
  EXPECT_EQ(Engine().formCount, base.formCount + 1);
  const auto proc = [](HWND w) { return GetWindowLongPtrW(w, GWLP_WNDPROC); };
  EXPECT_EQ(proc(form_), reinterpret_cast<LONG_PTR>(&skin::FormWndProc));
  EXPECT_EQ(proc(b1), reinterpret_cast<LONG_PTR>(&skin::ButtonWndProc));
  EXPECT_EQ(proc(edit), reinterpret_cast<LONG_PTR>(&skin::BorderWndProc));
  const INT_PTR replaced = Prop(b1, L"PROCADDR");
  EXPECT_NE(replaced, 0);
  EXPECT_NE(replaced, reinterpret_cast<INT_PTR>(&skin::ButtonWndProc));

  // A second call only picks up what is new.
  HWND b3 = AddPushButton(form_, L"Three", 10, 110, 81, 25);
  EXPECT_EQ(skin::SkinWindow(form_), 0);
  EXPECT_EQ(skin::SkinWindow(b1), 0);
  EXPECT_EQ(Engine().buttonCount, base.buttonCount + 3);
  EXPECT_EQ(Engine().formCount, base.formCount + 1);
  EXPECT_EQ(Prop(b1, L"PROCADDR"), replaced);
  EXPECT_NE(Prop(b3, L"HDC0"), 0);
  EXPECT_NE(Prop(form_, L"PROCADDR"), reinterpret_cast<INT_PTR>(&skin::FormWndProc));

  // The chain still ends in the system's procedures.
  wchar_t text[16] = {};
  GetWindowTextW(b2, text, 16);
  EXPECT_STREQ(text, L"Two");
  EXPECT_EQ(SendMessageW(b1, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

// Framed controls: a sunken client edge becomes a flat line, blue while
// enabled and grey while disabled, with the control's background inside;
// controls without that edge keep their frame.
TEST_F(SkinLifetime, SunkenEdgesBecomeAFlatLine) {
  ShowWindow(form_, SW_SHOW);
  HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE, 10, 10, 120, 22, form_, nullptr,
                              nullptr, nullptr);
  HWND list = CreateWindowExW(0, L"ListBox", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 40, 120, 60, form_, nullptr,
                              nullptr, nullptr);
  UpdateWindow(form_);
  const Face listBefore = ReadScreen(list);
  ASSERT_NE(ReadScreen(edit).at(0, 0), 0x54A5D5u);

  skin::SkinWindow(form_);
  const Face framed = ReadScreen(edit);
  HDC client = GetDC(edit);
  const COLORREF bk = GetBkColor(client);
  ReleaseDC(edit, client);
  const unsigned inner = ((bk & 0xFF) << 16) | (bk & 0xFF00) | ((bk >> 16) & 0xFF);
  for (int x : {0, 60, 119}) {
    EXPECT_EQ(framed.at(x, 0), 0x54A5D5u) << x;
    EXPECT_EQ(framed.at(x, 21), 0x54A5D5u) << x;
  }
  EXPECT_EQ(framed.at(0, 11), 0x54A5D5u);
  EXPECT_EQ(framed.at(1, 11), inner);
  EXPECT_EQ(framed.at(2, 11), inner);
  EXPECT_EQ(framed.at(60, 1), inner);
  EXPECT_EQ(MaxDifference(ReadScreen(list), listBefore, 0), 0);

  EnableWindow(edit, FALSE);
  SendMessageW(edit, WM_NCPAINT, 1, 0);
  EXPECT_EQ(ReadScreen(edit).at(60, 0), 0xCCCCCCu);
}

// Destroying a skinned button gives back its eight objects and lowers the
// count; the last skinned window takes the template with it, and the next
// SkinWindow builds a new one.
TEST_F(SkinLifetime, CountsAndTemplateFollowTheWindows) {
  ASSERT_EQ(Engine().buttonCount, 0);
  ASSERT_EQ(Engine().formCount, 0);
  HWND b1 = AddPushButton(form_, L"One", 10, 10, 81, 25);
  AddPushButton(form_, L"Two", 10, 40, 81, 25);
  skin::SkinWindow(form_);
  ASSERT_TRUE(Engine().ready);
  ASSERT_EQ(Engine().buttonCount, 2);
  ASSERT_EQ(Engine().formCount, 1);

  HGDIOBJ surfaces[8];
  const wchar_t* names[] = {L"HDC0", L"HDC1", L"HDC2", L"HDC3", L"BMP0", L"BMP1", L"BMP2", L"BMP3"};
  for (int i = 0; i < 8; ++i) {
    surfaces[i] = GetPropW(b1, names[i]);
    ASSERT_NE(GetObjectType(surfaces[i]), 0u) << i;
  }
  DestroyWindow(b1);
  EXPECT_EQ(Engine().buttonCount, 1);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(GetObjectType(surfaces[i]), 0u) << "surface object " << i << " left";
  EXPECT_TRUE(Engine().ready);

  const HDC templateDc = Engine().templateDc;
  const HBITMAP templateBitmap = Engine().templateBitmap;
  DestroyWindow(form_);
  EXPECT_EQ(Engine().buttonCount, 0);
  EXPECT_EQ(Engine().formCount, 0);
  EXPECT_FALSE(Engine().ready);
  EXPECT_EQ(Engine().templateDc, nullptr);
  EXPECT_EQ(GetObjectType(templateDc), 0u);
  EXPECT_EQ(GetObjectType(templateBitmap), 0u);

  // The first call builds the template whatever the window; an unlisted class
  // is not skinned.
  form_ = CreateSkinTestForm();
  HWND edit = CreateWindowExW(0, L"Edit", L"", WS_CHILD, 0, 0, 50, 20, form_, nullptr, nullptr, nullptr);
  EXPECT_EQ(skin::SkinWindow(edit), 0);
  EXPECT_TRUE(Engine().ready);
  ASSERT_NE(Engine().templateDc, nullptr);
  EXPECT_EQ(GetPixel(Engine().templateDc, 8, 19), skin::ToColorRef(0x62AFE1));
  EXPECT_EQ(skin::SkinWindow(form_), 1);
  DestroyWindow(form_);
  EXPECT_FALSE(Engine().ready);
}

TEST_F(SkinLifetime, ManyFormCyclesLeaveNothingBehind) {
  const auto cycle = [](int* objectsWhileAlive) {
    HWND form = CreateSkinTestForm();
    ShowWindow(form, SW_SHOW);
    HWND ok = AddPushButton(form, L"保存", 10, 10, 81, 25);
    AddPushButton(form, L"卸载配置", 100, 10, 81, 25);
    HWND off = AddPushButton(form, L"Off", 190, 10, 57, 20);
    EnableWindow(off, FALSE);
    CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE, 10, 50, 120, 22, form, nullptr, nullptr,
                    nullptr);
    CreateWindowExW(0, L"ListBox", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 80, 120, 60, form, nullptr, nullptr,
                    nullptr);
    skin::SkinWindow(form);
    SetFocus(ok);
    SendMessageW(ok, WM_MOUSEMOVE, 0, 0);
    for (int i = 0; i < 5; ++i) SendMessageW(ok, WM_TIMER, 1, 0);
    SetWindowPos(ok, nullptr, 0, 0, 90, 30, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EnableWindow(off, TRUE);
    AddPushButton(form, L"Late", 10, 150, 81, 25);
    skin::SkinWindow(form);
    if (objectsWhileAlive) *objectsWhileAlive = GdiObjectCount();
    DestroyWindow(form);
    DrainMessages();
  };

  cycle(nullptr);  // the system's lazily created objects (fonts, stock DCs)
  const int before = GdiObjectCount();
  ASSERT_GT(before, 0);
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, WatchDestroy, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  g_leftoverProps = 0;
  g_windowsChecked = 0;

  int whileAlive = 0;
  constexpr int kCycles = 60;
  for (int i = 0; i < kCycles; ++i) cycle(i == 0 ? &whileAlive : nullptr);
  UnhookWindowsHookEx(hook);

  // 4 buttons x 8 surface objects plus the template: the count sees them.
  EXPECT_GE(whileAlive - before, 34);
  EXPECT_EQ(GdiObjectCount(), before);
  EXPECT_GE(g_windowsChecked, kCycles * 7);
  EXPECT_EQ(g_leftoverProps, 0);
  EXPECT_EQ(Engine().buttonCount, 0);
  EXPECT_EQ(Engine().formCount, 0);
  EXPECT_FALSE(Engine().ready);
}

// What the test saw of the message box while it was open.
struct BoxSeen {
  HWND box = nullptr;
  bool boxSkinned = false;
  int buttons = 0;
  int skinnedButtons = 0;
  int borderedOthers = 0;
  int buttonCount = 0;
  int formCount = 0;
  int ticks = 0;
};
BoxSeen g_seen;
UINT_PTR g_boxTimer = 0;

BOOL CALLBACK FindBox(HWND hwnd, LPARAM) {
  if (skin::WindowClassName(hwnd) == L"#32770" && IsWindowVisible(hwnd)) {
    g_seen.box = hwnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK InspectBoxChild(HWND child, LPARAM) {
  if (skin::WindowClassName(child) == L"Button") {
    ++g_seen.buttons;
    if (Prop(child, L"PROCADDR") && Prop(child, L"HDC0") &&
        GetWindowLongPtrW(child, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&skin::ButtonWndProc)) {
      ++g_seen.skinnedButtons;
    }
  } else if (GetWindowLongPtrW(child, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&skin::BorderWndProc)) {
    ++g_seen.borderedOthers;
  }
  return TRUE;
}

void CALLBACK LookForBox(HWND, UINT, UINT_PTR, DWORD) {
  ++g_seen.ticks;
  EnumThreadWindows(GetCurrentThreadId(), FindBox, 0);
  if (!g_seen.box && g_seen.ticks < 100) return;
  KillTimer(nullptr, g_boxTimer);
  if (!g_seen.box) return;
  g_seen.boxSkinned = Prop(g_seen.box, L"PROCADDR") != 0 &&
                      GetWindowLongPtrW(g_seen.box, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&skin::FormWndProc);
  EnumChildWindows(g_seen.box, InspectBoxChild, 0);
  g_seen.buttonCount = skin::CurrentEngineState().buttonCount;
  g_seen.formCount = skin::CurrentEngineState().formCount;
  PostMessageW(g_seen.box, WM_COMMAND, IDOK, 0);
}

TEST_F(SkinLifetime, MessageBoxFromSkinnedFormIsSkinnedAndUndone) {
  AddPushButton(form_, L"OK", 10, 10, 81, 25);
  ShowWindow(form_, SW_SHOW);
  SetForegroundWindow(form_);
  ASSERT_EQ(GetActiveWindow(), form_);
  skin::SkinWindow(form_);
  const skin::EngineState base = Engine();

  g_seen = {};
  g_boxTimer = SetTimer(nullptr, 0, 20, LookForBox);
  ASSERT_NE(g_boxTimer, 0u);
  const int answer = MessageBoxW(form_, L"你还没有配置Tolvane哦！", L"提示：", MB_OKCANCEL | MB_ICONINFORMATION);

  ASSERT_NE(g_seen.box, nullptr) << "no message box seen";
  EXPECT_EQ(answer, IDOK);
  EXPECT_TRUE(g_seen.boxSkinned);
  EXPECT_EQ(g_seen.buttons, 2);
  EXPECT_EQ(g_seen.skinnedButtons, g_seen.buttons);
  EXPECT_GE(g_seen.borderedOthers, 1);  // its text and icon
  EXPECT_EQ(g_seen.buttonCount, base.buttonCount + g_seen.buttons);
  EXPECT_EQ(g_seen.formCount, base.formCount + 1);

  // Closed: the box and its buttons undid themselves on their WM_DESTROY.
  EXPECT_FALSE(IsWindow(g_seen.box));
  EXPECT_EQ(Engine().buttonCount, base.buttonCount);
  EXPECT_EQ(Engine().formCount, base.formCount);
  EXPECT_TRUE(Engine().ready);
}

}  // namespace
}  // namespace tolvane::test
