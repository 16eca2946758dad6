#include "appearance/form5_win.h"

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>
#include <cmath>

#include "platform/app_win.h"
#include "platform/lazy_dll_win.h"
#include "config/settings.h"
#include "resource.h"
#include "config/elevation_win.h"
#include "skin/mskinbutton_win.h"

namespace tolvane {
namespace {

constexpr wchar_t kMsgTitle[] = L"提示：";

// The image types the lock window can show come first; the path is not
// checked, so "all files" stays available as before.
constexpr wchar_t kPictureFilter[] =
    L"图片文件 (*.jpg;*.jpeg;*.gif;*.bmp)\0*.jpg;*.jpeg;*.gif;*.bmp\0"
    L"所有文件 (*.*)\0*.*\0";

wchar_t LocaleDecimal() {
  wchar_t buf[8] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8) > 1 && buf[0] != L'\0') return buf[0];
  return L'.';
}

// The default printer's DC, so the chooser can offer printer fonts too; null
// when there is no printer, and the chooser then lists screen fonts. The
// profile entry is "name,driver,port".
// The common dialogs serve this window alone; comdlg32 and the printing
// libraries it pulls in load when the window first asks for a chooser.
BOOL ChooseFontNow(CHOOSEFONTW* cf) {
  static auto* const fn = LazyFn<BOOL WINAPI(CHOOSEFONTW*)>(L"comdlg32.dll", "ChooseFontW");
  return fn ? fn(cf) : FALSE;
}

BOOL GetOpenFileNameNow(OPENFILENAMEW* ofn) {
  static auto* const fn = LazyFn<BOOL WINAPI(OPENFILENAMEW*)>(L"comdlg32.dll", "GetOpenFileNameW");
  return fn ? fn(ofn) : FALSE;
}

// 0 when the last chooser was cancelled, an error code when it failed.
DWORD ChooserError() {
  static auto* const fn = LazyFn<DWORD WINAPI()>(L"comdlg32.dll", "CommDlgExtendedError");
  return fn ? fn() : CDERR_INITIALIZATION;
}

HDC DefaultPrinterDc() {
  wchar_t device[512] = {};
  if (GetProfileStringW(L"windows", L"device", L"", device, 512) == 0) return nullptr;
  std::wstring name(device);
  name.resize(std::min(name.size(), name.find(L',')));
  if (name.empty()) return nullptr;
  return CreateDCW(L"WINSPOOL", name.c_str(), nullptr, nullptr);
}

// Copies at most N - 1 characters and the NUL.
template <std::size_t N>
void CopyCut(wchar_t (&field)[N], const std::wstring& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  text.copy(field, n);
  field[n] = L'\0';
}

}  // namespace

void ShowForm5() {
  static Form5 form5;
  TheApp().form5 = &form5;
  if (form5.hwnd()) {
    form5.BringForward();
  } else {
    form5.Load();
  }
}

bool Form5::Load() {
  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOLVANE));
  if (!RegisterFormClass(TOLVANE_FORM5_CLASS, icon)) return false;
  const POINT at = CentredOnWorkArea(kClientWidth, kClientHeight);
  if (!CreateFormWindow(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, TOLVANE_FORM5_CLASS, L"界面设置",
                        WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU, at.x, at.y, kClientWidth, kClientHeight, nullptr)) {
    return false;
  }
  layout_.Attach(hwnd_, WindowDpi(hwnd_));
  Chrome::CentreAtDpi(hwnd_, layout_.dpi());
  TheApp().FormLoaded();
  Form_Load();
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
  SetFocus(Text1_);
  return true;
}

void Form5::BringForward() {
  if (!hwnd_) return;
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(hwnd_);
}

void Form5::Unload() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void Form5::CreateControls() {
  // Labels take the mouse (SS_NOTIFY) so that moving or pressing on them
  // neither resets the close box nor drags the window; only the preview drags.
  const DWORD label = WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_NOTIFY;
  Label4_ = layout_.Create(L"STATIC", L"界面设置", label, {8, 10, 73, 17}, IDC_FORM5_LABEL4, 0, FontRole::Title);
  // The preview keeps its own font, made for the layout's DPI.
  Label1_ = layout_.Create(L"STATIC", kDefaultCaption, WS_VISIBLE | SS_CENTER | SS_NOPREFIX, {8, 48, 321, 49},
                           IDC_FORM5_LABEL1, 0, FontRole::Own);
  Label2_ = layout_.Create(L"STATIC", L"文字提示：", label, {24, 131, 65, 17}, IDC_FORM5_LABEL2);
  Label3_ = layout_.Create(L"STATIC", L"背景图片：", label, {24, 163, 65, 17}, IDC_FORM5_LABEL3);
  // Created in tab order: Text1, Command1, Text2, Command2, Command3, Command4.
  const DWORD edit = WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
  const DWORD button = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  Text1_ = layout_.Create(L"EDIT", kDefaultCaption, edit, {88, 128, 137, 19}, IDC_FORM5_TEXT1, WS_EX_CLIENTEDGE);
  Command1_ = layout_.Create(L"BUTTON", L"字 体", button, {240, 128, 57, 20}, IDC_FORM5_COMMAND1);
  Text2_ = layout_.Create(L"EDIT", L"", edit, {88, 160, 137, 19}, IDC_FORM5_TEXT2, WS_EX_CLIENTEDGE);
  Command2_ = layout_.Create(L"BUTTON", L"浏 览", button, {240, 160, 57, 20}, IDC_FORM5_COMMAND2);
  Command3_ = layout_.Create(L"BUTTON", L"修 改", button, {56, 224, 81, 25}, IDC_FORM5_COMMAND3);
  Command4_ = layout_.Create(L"BUTTON", L"默 认", button, {200, 224, 81, 25}, IDC_FORM5_COMMAND4);
  for (std::size_t i = 0; i < Text3_.size(); ++i) {
    Text3_[i] = CreateControl(hwnd_, L"EDIT", L"", ES_AUTOHSCROLL, 0, 0, 0, 0,
                              IDC_FORM5_TEXT3_0 + static_cast<int>(i));
  }
  chrome_.Attach(hwnd_, IDC_FORM5_CLOSE);
  chrome_.MovesWindow(Label1_);
  preview_ = Preview{};
  RebuildPreviewFont();
}

void Form5::Form_Load() {
  CreateControls();

  // 1. The skin engine takes the window and its buttons. Both saving buttons
  // carry the shield when the settings file takes an elevated instance.
  skin::SkinWindow(hwnd_);
  const bool shield = !CanWriteSettingsFile();
  skin::SetShield(Command3_, shield);
  skin::SetShield(Command4_, shield);

  // 2. The nine keys, each into its holder.
  for (std::size_t i = 0; i < kFontBlockKeys; ++i) SetText3(i, ReadOption(kSettingsSection, kAppearanceKeys[i]));
  SetWindowTextW(Text1_, ReadOption(kSettingsSection, kAppearanceKeys[kKeyLabel]).c_str());
  SetWindowTextW(Text2_, ReadOption(kSettingsSection, kAppearanceKeys[kKeyPhoto]).c_str());

  // 3. and 4. An empty caption loads as the design caption.
  if (GetWindowTextLengthW(Text1_) == 0) SetWindowTextW(Text1_, kDefaultCaption);
  Text1_Change();

  // 5. The font block applies only as a whole; a hand-edited value that does
  // not convert leaves the design look.
  FontBlockTexts texts;
  for (std::size_t i = 0; i < kFontBlockKeys; ++i) texts[i] = Text3(i);
  if (const auto block = ParseFontBlock(texts, LocaleDecimal())) ApplyFontBlock(*block);
}

void Form5::Form_Unload() {
  if (preview_font_) SendMessageW(Label1_, WM_SETFONT, 0, FALSE);
}

void Form5::Text1_Change() { SetWindowTextW(Label1_, GetText(Text1_).c_str()); }

void Form5::ApplyFontBlock(const FontBlock& block, BYTE charset) {
  preview_.points = block.points;
  preview_.bold = block.bold;
  preview_.italic = block.italic;
  preview_.strikethru = block.strikethru;
  preview_.underline = block.underline;
  if (!block.name.empty()) {
    preview_.face = block.name;
    preview_.charset = charset;
  }
  preview_.colour = block.colour;
  RebuildPreviewFont();
}

LOGFONTW Form5::PreviewLogFont() const {
  LOGFONTW lf = {};
  lf.lfHeight = FontHeightForDpi(preview_.points, layout_.dpi());
  lf.lfWeight = preview_.bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = preview_.italic;
  lf.lfUnderline = preview_.underline;
  lf.lfStrikeOut = preview_.strikethru;
  lf.lfCharSet = preview_.charset;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  CopyCut(lf.lfFaceName, preview_.face);
  return lf;
}

COLORREF Form5::PreviewColour() const {
  return preview_.colour.system ? GetSysColor(static_cast<int>(preview_.colour.value))
                                : static_cast<COLORREF>(preview_.colour.value);
}

void Form5::RebuildPreviewFont() {
  const LOGFONTW lf = PreviewLogFont();
  HFONT font = CreateFontIndirectW(&lf);
  if (!font) return;
  SendMessageW(Label1_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (preview_font_) DeleteObject(preview_font_);
  preview_font_ = font;
  InvalidateRect(Label1_, nullptr, TRUE);
}

std::wstring Form5::Text3(std::size_t i) const { return GetText(Text3_[i]); }

void Form5::SetText3(std::size_t i, const std::wstring& text) { SetWindowTextW(Text3_[i], text.c_str()); }

void Form5::Command1_Click() {
  // The chooser starts from the preview.
  const LOGFONTW seed = PreviewLogFont();
  const COLORREF seed_colour = PreviewColour();
  // The chooser writes into its LOGFONT even when the user cancels (Wine
  // does), so it only ever gets a copy.
  LOGFONTW chosen = seed;
  CHOOSEFONTW cf = {};
  cf.lStructSize = sizeof(cf);
  cf.hwndOwner = hwnd_;
  cf.lpLogFont = &chosen;
  cf.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT;
  cf.rgbColors = seed_colour;
  HDC printer = DefaultPrinterDc();
  if (printer) {
    cf.hDC = printer;
    cf.Flags |= CF_PRINTERFONTS;
  }
  BOOL ok = ChooseFontNow(&cf);
  DWORD error = ok ? 0 : ChooserError();
  if (!ok && error != 0 && printer) {
    // A printer whose driver cannot list fonts: offer the screen fonts alone.
    chosen = seed;
    cf.hDC = nullptr;
    cf.Flags &= ~static_cast<DWORD>(CF_PRINTERFONTS);
    cf.rgbColors = seed_colour;
    ok = ChooseFontNow(&cf);
    error = ok ? 0 : ChooserError();
  }
  if (printer) DeleteDC(printer);
  if (!ok && error == 0) return;  // cancelled: nothing changes

  // A chooser that could not be shown hands back what it was given, so the
  // preview stays and the hidden texts take the preview's font.
  if (!ok) {
    chosen = seed;
    cf.rgbColors = seed_colour;
    cf.iPointSize = 0;
  }
  FontBlock block;
  block.points = preview_.points;
  if (ok && cf.iPointSize > 0) {
    block.points = static_cast<float>(cf.iPointSize) / 10.0f;
  } else if (ok && chosen.lfHeight != 0) {
    block.points = static_cast<float>(std::abs(chosen.lfHeight)) * 72.0f / static_cast<float>(layout_.dpi());
  }
  block.bold = chosen.lfWeight >= FW_SEMIBOLD;
  block.italic = chosen.lfItalic != 0;
  block.strikethru = chosen.lfStrikeOut != 0;
  block.underline = chosen.lfUnderline != 0;
  block.name = chosen.lfFaceName;
  block.colour = TextColour{false, static_cast<std::uint32_t>(cf.rgbColors & 0x00FFFFFFu)};

  ApplyFontBlock(block, chosen.lfCharSet);
  const FontBlockTexts texts = TextsOfFontBlock(block, LocaleDecimal());
  for (std::size_t i = 0; i < kFontBlockKeys; ++i) SetText3(i, texts[i]);
}

void Form5::Command2_Click() {
  // Starts at the picture already named, when there is one that fits.
  std::wstring file(32768, L'\0');
  const std::wstring current = GetText(Text2_);
  if (current.size() < MAX_PATH) current.copy(file.data(), current.size());
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = kPictureFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  // No change of the current directory: it would hold the folder (and the
  // USB drive it may be on) open for the rest of the run.
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLESIZING;
  BOOL ok = GetOpenFileNameNow(&ofn);
  if (!ok && ChooserError() != 0 && file[0] != L'\0') {
    // The old path did not suit the chooser as a start: start empty.
    file.assign(file.size(), L'\0');
    ofn.lpstrFile = file.data();
    ok = GetOpenFileNameNow(&ofn);
  }
  if (!ok) return;
  const std::wstring chosen(file.c_str());
  if (!chosen.empty()) SetWindowTextW(Text2_, chosen.c_str());
}

void Form5::SaveAndUnload(const AppearanceValues& values) {
  const AppearanceCheck check = CheckAppearanceValues(values);
  if (check.problem != ValueProblem::None) {
    MessageBoxW(hwnd_, AppearanceProblemMessage(check).c_str(), kMsgTitle, MB_OK | MB_ICONINFORMATION);
    if (check.key == kKeyLabel) SetFocus(Text1_);
    if (check.key == kKeyPhoto) SetFocus(Text2_);
    return;
  }
  if (!WriteAppearance(values)) {
    // The window stays with the edits, so the user can try again.
    MessageBoxW(hwnd_, AppearanceWriteFailedMessage(SettingsFilePath()).c_str(), kMsgTitle, MB_OK | MB_ICONERROR);
    return;
  }
  MessageBoxW(hwnd_, kMsgAppearanceSaved, kMsgTitle, MB_OK | MB_ICONINFORMATION);
  Unload();
}

void Form5::Command3_Click() {
  AppearanceValues values;
  for (std::size_t i = 0; i < kFontBlockKeys; ++i) values[i] = Text3(i);
  values[kKeyLabel] = GetText(Text1_);
  values[kKeyPhoto] = GetText(Text2_);
  SaveAndUnload(values);
}

void Form5::Command4_Click() {
  // The editor keeps no defaults of its own: empty keys make each reader
  // fall back to its design look.
  SaveAndUnload(AppearanceValues{});
}

LRESULT Form5::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT chrome_result = 0;
  if (chrome_.HandleFormMessage(msg, wp, lp, &chrome_result)) return chrome_result;
  switch (msg) {
    case WM_COMMAND: {
      // Left open under a lock that came up later: no save, no chooser.
      if (TheApp().Locked()) return 0;
      const int id = LOWORD(wp);
      const int code = HIWORD(wp);
      if (id == IDC_FORM5_TEXT1 && code == EN_CHANGE) Text1_Change();
      if (code == BN_CLICKED) {
        switch (id) {
          case IDC_FORM5_COMMAND1:
            Command1_Click();
            break;
          case IDC_FORM5_COMMAND2:
            Command2_Click();
            break;
          case IDC_FORM5_COMMAND3:
            Command3_Click();
            break;
          case IDC_FORM5_COMMAND4:
            Command4_Click();
            break;
          case IDC_FORM5_CLOSE:
            Unload();
            break;
          default:
            break;  // IDOK / IDCANCEL from Enter and Esc: no default button
        }
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      HWND ctl = reinterpret_cast<HWND>(lp);
      if (ctl == Label1_) {
        SetTextColor(dc, PreviewColour());
      } else if (ctl == Label4_) {
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      } else {
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      }
      return reinterpret_cast<LRESULT>(chrome_.TransparentBrush(dc, ctl));
    }
    case WM_DPICHANGED:
      chrome_.ChangeDpi(layout_, ReadDpiChange(wp, lp));
      RebuildPreviewFont();
      return 0;
    case WM_CLOSE:
      Unload();
      return 0;
    case WM_DESTROY:
      Form_Unload();
      layout_.Detach();
      return 0;
    case WM_NCDESTROY:
      if (preview_font_) DeleteObject(preview_font_);
      preview_font_ = nullptr;
      Label4_ = Label1_ = Label2_ = Label3_ = Text1_ = Command1_ = Text2_ = Command2_ = Command3_ = Command4_ =
          nullptr;
      Text3_ = {};
      TheApp().FormUnloaded();
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace tolvane
