// abot, the about box: product and version, author, contact, the web site as
// a link and the copyright. One at most: asking again brings it forward.
#pragma once
#include "platform/dpi_win.h"
#include "platform/window_win.h"

namespace tolvane {

// Shows the about box, or brings the open one forward.
void ShowAbout();

class About : public Window {
 public:
  static constexpr int kClientWidth = 248;
  static constexpr int kClientHeight = 140;

  bool Load();
  void BringForward();
  void Unload();

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void Form_Load();
  void Form_DpiChanged(const DpiChange& change);
  void Label4_Click();
  // The link font and the icon picture, made for the layout's DPI.
  void MakeDpiResources();
  // Puts the window at r, sized so that its client area is the design one
  // at the layout's DPI.
  void FitClientArea(const RECT& r);

  ScaledLayout layout_;
  HWND Label1_ = nullptr, Frame1_ = nullptr, Label5_ = nullptr, Label6_ = nullptr, Label4_ = nullptr,
       Label2_ = nullptr, Icon_ = nullptr;
  HFONT link_font_ = nullptr;
  HICON icon_picture_ = nullptr;
};

}  // namespace tolvane
