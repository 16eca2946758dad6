// Form1, the setup window: the window the program starts with. It owns the
// tray icon, decides at start whether to lock, keeps the list of removable
// drives fresh and saves or removes the configuration.
#pragma once
#include <string>

#include "app/window_win.h"
#include "appearance/chrome_win.h"
#include "config/cipher.h"

namespace tolvane {

class Form1 : public Window {
 public:
  static constexpr int kClientWidth = 340;
  static constexpr int kClientHeight = 263;
  static constexpr UINT_PTR kTimer1 = 1;
  static constexpr UINT kTimer1Interval = 3000;

  // Creates the window and runs Form_Load. False when the window can't be made.
  bool Load();
  // Shows the window in its normal state and brings it forward.
  void ShowNormal();
  // Unloads the form: the tray icon goes first, then the window.
  void Unload();
  // Puts the close box back to its normal picture.
  void refreshSkin() { chrome_.refreshSkin(); }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void Form_Load();
  void Form_Unload();
  void Form_Resize(WPARAM state);
  void Tray_Mouse(UINT mouse_msg);
  void Timer1_Timer();
  void List1_Click();
  void Command1_Click();
  void Command2_Click();
  void ScanDrives();
  int Message(const std::wstring& text, UINT icon);

  HWND Hint_ = nullptr;
  HWND Label4_ = nullptr, List1_ = nullptr, Label1_ = nullptr, Text1_ = nullptr, Label2_ = nullptr,
       Text2_ = nullptr, Label3_ = nullptr, Command1_ = nullptr, Command2_ = nullptr;
  Chrome chrome_;  // frame picture, close box, moving by the background
  bool lock_pending_ = false;  // configured, but the lock window isn't up yet
  std::wstring Text3_;  // Text3: the chosen drive ("E:"), empty until one is chosen
  std::wstring txtCipher_;                     // txtCipher: the cipher text during a save
  const std::string txtPassword_ = kKeyText;  // txtPassword: the cipher key text
};

}  // namespace tolvane
