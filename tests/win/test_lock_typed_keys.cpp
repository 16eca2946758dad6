// The lock's message loop against keys and characters that no keyboard
// typed: only key-downs the hook noted reach the lock window and its boxes,
// each with the characters it makes, once; the boxes take no paste.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/app_win.h"
#include "lock/form2_win.h"
#include "lock/typed_keys_win.h"
#include "lock_pump.h"
#include "resource.h"

namespace tolvane {
namespace {

std::wstring TextOf(HWND h) {
  wchar_t buf[256] = {};
  GetWindowTextW(h, buf, 256);
  return buf;
}

BOOL WINAPI RefusingSpi(UINT, UINT, PVOID, UINT) { return FALSE; }

void PutOnClipboard(const wchar_t* text) {
  if (!OpenClipboard(nullptr)) return;
  EmptyClipboard();
  const SIZE_T bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
  if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    std::memcpy(GlobalLock(mem), text, bytes);
    GlobalUnlock(mem);
    if (!SetClipboardData(CF_UNICODETEXT, mem)) GlobalFree(mem);
  }
  CloseClipboard();
}

// A lock whose failed guesses go to a folder of the test's own. Whether a
// password is configured does not matter: nothing typed here is one.
class LockTyping : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH] = {}, old[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tmp);
    folder_ = std::wstring(tmp) + L"tolvane-typing-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", old, MAX_PATH);
    old_local_ = n && n < MAX_PATH ? old : L"";
    SetEnvironmentVariableW(L"LOCALAPPDATA", folder_.c_str());
    TheApp().system_parameters = RefusingSpi;
    ASSERT_TRUE(ShowLockWindow());
    lock_ = TheApp().form2->hwnd();
    ASSERT_TRUE(PumpUntil([this] { return GetDlgItem(lock_, IDC_FORM2_TEXT9) != nullptr; })) << "no face";
    box_ = GetDlgItem(lock_, IDC_FORM2_TEXT9);
  }
  void TearDown() override {
    if (TheApp().form2) DestroyWindow(TheApp().form2->hwnd());
    PumpUntil([] { return TheApp().form2 == nullptr; });
    TheApp().system_parameters = SystemParametersInfoW;
    for (const wchar_t* f : {L"\\Tolvane\\tries.txt", L"\\Tolvane\\shortcuts.txt"}) DeleteFileW((folder_ + f).c_str());
    RemoveDirectoryW((folder_ + L"\\Tolvane").c_str());
    RemoveDirectoryW(folder_.c_str());
    SetEnvironmentVariableW(L"LOCALAPPDATA", old_local_.empty() ? nullptr : old_local_.c_str());
  }

  // F2 as the keyboard sends it, after whatever is queued already: the box
  // shows only if nothing before it toggled it.
  bool CallUpUnlockBox() {
    PostKeyAsKeyboard(lock_, VK_F2);
    if (!PumpUntil([this] { return IsWindowVisible(box_) != FALSE; })) return false;
    SendMessageW(box_, WM_LBUTTONUP, 0, 0);  // a click clears the placeholder
    return TextOf(box_).empty();
  }

  // A key from the keyboard, after whatever is queued already; true when it
  // was the only thing the box took.
  bool TypedAloneAfterTheRest() {
    PostKeyAsKeyboard(box_, 'X');
    PumpUntil([this] { return !TextOf(box_).empty(); });
    return TextOf(box_) == L"x";
  }

  std::wstring folder_, old_local_;
  HWND lock_ = nullptr;
  HWND box_ = nullptr;
};

TEST_F(LockTyping, KeyboardKeysTypeAndForgedKeysAndCharactersDoNot) {
  // F2 posted and sent: no box. Were either taken, the keyboard's F2 below
  // would hide the box again.
  PostMessageW(lock_, WM_KEYDOWN, VK_F2, 1 | (0x3C << 16));
  SendMessageW(lock_, WM_KEYDOWN, VK_F2, 1 | (0x3C << 16));
  PostMessageW(lock_, WM_SYSKEYDOWN, VK_F2, 1 | (0x3C << 16));
  ASSERT_TRUE(CallUpUnlockBox());

  const struct {
    UINT msg;
    WPARAM wp;
  } forged[] = {{WM_CHAR, 'a'},      {WM_KEYDOWN, 'B'},   {WM_UNICHAR, 'c'}, {WM_IME_CHAR, 'd'},
                {WM_SYSCHAR, 'e'},   {WM_DEADCHAR, '^'},  {WM_PASTE, 0}};
  PutOnClipboard(L"pasted");
  for (const auto& f : forged) {
    const LPARAM lp = 1 | static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(f.wp), MAPVK_VK_TO_VSC) << 16);
    PostMessageW(box_, f.msg, f.wp, lp);
    PostMessageW(lock_, f.msg, f.wp, lp);
    SendMessageW(box_, f.msg, f.wp, lp);
  }
  EXPECT_TRUE(TypedAloneAfterTheRest()) << "the box holds " << TextOf(box_).size() << " characters";
}

TEST_F(LockTyping, PasteFromTheKeyboardIsRefusedToo) {
  ASSERT_TRUE(CallUpUnlockBox());
  PutOnClipboard(L"pasted");
  // Ctrl+V and Shift+Insert as the keyboard types them: the modifier in the
  // thread's key state, the key noted by the hook.
  BYTE saved[256] = {};
  ASSERT_TRUE(GetKeyboardState(saved));
  const struct {
    UINT modifier;
    UINT key;
  } pastes[] = {{VK_CONTROL, 'V'}, {VK_SHIFT, VK_INSERT}};
  for (const auto& p : pastes) {
    BYTE state[256];
    std::memcpy(state, saved, sizeof(state));
    state[p.modifier] = 0x80;
    SetKeyboardState(state);
    PostKeyAsKeyboard(box_, p.key);
    // The key is handled (and its state read) while the modifier is down.
    PumpUntil([] {
      MSG m;
      return !PeekMessageW(&m, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE);
    });
    SetKeyboardState(saved);
  }
  EXPECT_TRUE(TypedAloneAfterTheRest()) << "the box holds " << TextOf(box_).size() << " characters";
}

}  // namespace
}  // namespace tolvane
