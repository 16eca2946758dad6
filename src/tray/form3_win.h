// Form3: a form that is never shown and only owns the tray menu. The setup
// window pops the menu up on a right press on the tray icon.
#pragma once
#include <string>

#include "platform/window_win.h"

namespace tolvane {

// Puts `owner` (the setup window) in the foreground and pops up the tray
// menu at the cursor, loading Form3 first if needed, then runs the chosen
// item. Does nothing while the lock window is up: every item leads past it.
void PopupTrayMenu(HWND owner);

// Unloads Form3 if it is loaded (the setup window's unload calls this).
void UnloadForm3();

// Opens a web address or a local page in the user's default browser. False
// when the shell could not open it.
bool OpenInBrowser(const std::wstring& target);

class Form3 : public Window {
 public:
  bool Load();
  void Unload();
  HMENU menu() const { return menu_; }

  // Shows the lock's own items only when the program is configured, the relock
  // item checked as the settings file says.
  void UpdateItems(bool configured, bool relock_on);
  // Runs the item with that identifier (IDM_*).
  void Menu_Click(UINT id);

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void password_Click();
  void mshow_Click();
  void Help_Click();
  void setting_Click();
  void about_Click();
  void mexit_Click();
  void relock_Click();
  void locknow_Click();

  HMENU menu_ = nullptr;  // the popup "menu": its items are what shows
};

}  // namespace tolvane
