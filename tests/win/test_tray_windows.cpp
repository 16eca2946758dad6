// The tray menu's items and the about box's single instance.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/app_win.h"
#include "resource.h"
#include "tray/about_win.h"
#include "tray/form3_win.h"

namespace tolvane {
namespace {

struct Item {
  std::wstring caption;  // "-" for a separator
  UINT id;               // 0 for a submenu or separator
  HMENU submenu;
};

std::vector<Item> Items(HMENU menu) {
  std::vector<Item> items;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 64;
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
    const bool separator = (info.fType & MFT_SEPARATOR) != 0;
    items.push_back({separator ? L"-" : text, info.hSubMenu ? 0 : info.wID, info.hSubMenu});
  }
  return items;
}

TEST(TrayMenu, ItemsInDisplayOrder) {
  Form3 form3;
  ASSERT_TRUE(form3.Load());
  const auto top = Items(form3.menu());
  ASSERT_EQ(top.size(), 6u);
  const std::pair<const wchar_t*, UINT> expected[] = {
      {L"密码设置", IDM_PASSWORD}, {L"界面设置", IDM_MSHOW}, {L"帮助中心", 0},
      {L"关于Tolvane", IDM_ABOUT}, {L"-", 0},                 {L"退出程序", IDM_MEXIT},
  };
  for (std::size_t i = 0; i < top.size(); ++i) {
    EXPECT_EQ(top[i].caption, expected[i].first) << i;
    EXPECT_EQ(top[i].id, expected[i].second) << i;
  }
  ASSERT_NE(top[2].submenu, nullptr);
  const auto help = Items(top[2].submenu);
  ASSERT_EQ(help.size(), 2u);
  EXPECT_EQ(help[0].caption, L"帮助文档");
  EXPECT_EQ(help[0].id, static_cast<UINT>(IDM_HELP));
  EXPECT_EQ(help[1].caption, L"赞助我们");
  EXPECT_EQ(help[1].id, static_cast<UINT>(IDM_SETTING));
  // Never shown: it only owns the menu.
  EXPECT_FALSE(IsWindowVisible(form3.hwnd()));
  form3.Unload();
  EXPECT_EQ(form3.hwnd(), nullptr);
}

int CountAboutBoxes() {
  int n = 0;
  for (HWND w = FindWindowExW(nullptr, nullptr, TOLVANE_ABOUT_CLASS, nullptr); w;
       w = FindWindowExW(nullptr, w, TOLVANE_ABOUT_CLASS, nullptr)) {
    ++n;
  }
  return n;
}

TEST(AboutBox, OneAtMostWithTheGivenClientArea) {
  TheApp().FormLoaded();  // keeps the test thread's loop alive when it closes
  Form3 form3;
  ASSERT_TRUE(form3.Load());
  form3.Menu_Click(IDM_ABOUT);
  form3.Menu_Click(IDM_ABOUT);
  EXPECT_EQ(CountAboutBoxes(), 1);
  HWND about = FindWindowW(TOLVANE_ABOUT_CLASS, nullptr);
  ASSERT_NE(about, nullptr);
  RECT rc;
  GetClientRect(about, &rc);
  EXPECT_EQ(rc.right, About::kClientWidth);
  EXPECT_EQ(rc.bottom, About::kClientHeight);
  EXPECT_EQ(GetText(GetDlgItem(about, IDC_ABOUT_LABEL1)), L"Tolvane V1.0");

  SendMessageW(about, WM_CLOSE, 0, 0);
  EXPECT_EQ(CountAboutBoxes(), 0);
  ShowAbout();  // a closed box opens afresh
  EXPECT_EQ(CountAboutBoxes(), 1);
  SendMessageW(FindWindowW(TOLVANE_ABOUT_CLASS, nullptr), WM_CLOSE, 0, 0);
  form3.Unload();
  --TheApp().live_forms;
}

}  // namespace
}  // namespace tolvane
