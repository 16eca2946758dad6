// Form5, the appearance editor: the caption text, font, colour and background
// picture of the lock window. It edits the nine appearance keys of the
// settings file and nothing else; the lock window reads them at its next
// start. Frameless, with the shared chrome; modeless and without owner.
#pragma once
#include <array>
#include <string>

#include "platform/window_win.h"
#include "appearance/appearance.h"
#include "appearance/chrome_win.h"

namespace tolvane {

// Shows the editor: loads it (reading the settings) when it is not loaded,
// otherwise only brings it forward, keeping unsaved edits.
void ShowForm5();

class Form5 : public Window {
 public:
  static constexpr int kClientWidth = Chrome::kClientWidth;
  static constexpr int kClientHeight = Chrome::kClientHeight;

  // Creates the window, runs the load steps and shows it.
  bool Load();
  // Shows the loaded window and brings it forward.
  void BringForward();
  // Unloads the window without saving.
  void Unload();

  void refreshSkin() { chrome_.refreshSkin(); }
  const Chrome& chrome() const { return chrome_; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  // The caption preview's look. The design look is 黑体 24 pt bold, GB2312,
  // in the system highlight-text colour.
  struct Preview {
    float points = 24.0f;
    bool bold = true;
    bool italic = false;
    bool strikethru = false;
    bool underline = false;
    std::wstring face = L"黑体";
    BYTE charset = GB2312_CHARSET;
    TextColour colour = {true, COLOR_HIGHLIGHTTEXT};
  };

  void Form_Load();
  void Form_Unload();
  void Text1_Change();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();

  void CreateControls();
  // A face from the settings file comes without its character set: the
  // system then picks the one that goes with the face.
  void ApplyFontBlock(const FontBlock& block, BYTE charset = DEFAULT_CHARSET);
  void RebuildPreviewFont();
  LOGFONTW PreviewLogFont() const;
  COLORREF PreviewColour() const;
  void SaveAndUnload(const AppearanceValues& values);
  std::wstring Text3(std::size_t i) const;
  void SetText3(std::size_t i, const std::wstring& text);

  Chrome chrome_;
  ScaledLayout layout_;  // the controls at the window's DPI
  Preview preview_;
  HFONT preview_font_ = nullptr;
  HWND Label4_ = nullptr, Label1_ = nullptr, Label2_ = nullptr, Label3_ = nullptr, Text1_ = nullptr,
       Command1_ = nullptr, Text2_ = nullptr, Command2_ = nullptr, Command3_ = nullptr, Command4_ = nullptr;
  // Text3(0)..Text3(6): the seven font texts, in key order, as hidden boxes.
  std::array<HWND, kFontBlockKeys> Text3_ = {};
};

}  // namespace tolvane
