#include "lock/form2_win.h"

#include <commctrl.h>
#include <dbt.h>
#include <imm.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "platform/app_win.h"
#include "platform/dpi_win.h"
#include "platform/lazy_dll_win.h"
#include "platform/message_guard_win.h"
#include "config/cipher.h"
#include "config/codepage.h"
#include "config/fileio.h"
#include "config/settings.h"
#include "drives/drives_win.h"
#include "lock/device_notice.h"
#include "lock/guard_link_win.h"
#include "lock/lock_system_win.h"
#include "lock/picture_win.h"
#include "lock/stay_shown.h"
#include "lock/typed_keys_win.h"
#include "lock/watchdog_win.h"
#include "resource.h"
#include "skin/mskinbutton_win.h"

namespace tolvane {
namespace {

// The lock window's own posts carry the program's mark (OwnPostMark), and
// the two that leave the lock act only once the window's own check has
// decided so: another program may post any of these numbers.
//
// Posted by the setup box: the lock window must not destroy itself inside
// the edit control's own change notification.
constexpr UINT kWmEnterSetup = WM_APP + 20;
// Posted by the drive watch's worker: a tick's result is ready.
constexpr UINT kWmWatchTick = WM_APP + 21;
// Posted on losing activation: taking the foreground back from inside the
// deactivation itself would fight the activation still under way.
constexpr UINT kWmTakeForeground = WM_APP + 22;
// Posted on an unlock that keeps the program in the tray ("relock" on): the
// lock window must not destroy itself inside the handler that unlocked it.
constexpr UINT kWmStayUnlocked = WM_APP + 23;
// The second half of the load, once the dark cover is on the screen.
constexpr UINT kWmLoadFace = WM_APP + 24;
// Posted when a window of the lock was moved, hidden or minimised without
// being asked first: put back once the change that did it has returned.
constexpr UINT kWmStayShown = WM_APP + 25;

// Behind the caption when there is no picture, or none that can be read.
constexpr COLORREF kDarkBackground = RGB(0x10, 0x14, 0x1C);

constexpr wchar_t kDesignCaption[] = L"挂机中，请勿操作！";
constexpr wchar_t kDesignLine[] = L"你插入的可移动磁盘 F:密码验证失败哦！";
constexpr wchar_t kSetupBalloonText[] = L"在这里使用右键可以进入界面设置哦！";
constexpr wchar_t kSetupBalloonTitle[] = L"温馨提示：";
constexpr wchar_t kSongTi[] = L"宋体";
// The character that Ctrl+V types.
constexpr WPARAM kCharCtrlV = 0x16;

// The wall clock in milliseconds since 1970 (UTC): a refusal of the boxes
// outlives the process, so it cannot be kept on the tick count.
std::int64_t WallClockMs() {
  FILETIME ft = {};
  GetSystemTimeAsFileTime(&ft);
  const std::int64_t ticks = (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr std::int64_t kTicksTo1970 = 116'444'736'000'000'000;  // 100 ns ticks from 1601
  return (ticks - kTicksTo1970) / 10'000;
}

TryRecord LoadTryRecord(ShortcutStateFile& file) {
  std::string text;
  return file.Load(text) ? ParseTryRecord(text) : TryRecord{};
}

void SaveTryRecord(ShortcutStateFile& file, const TryRecord& r) {
  if (r == TryRecord{}) {
    file.Remove();
  } else {
    file.Save(FormatTryRecord(r));
  }
}

// The password boxes: 840, 480, 2175 x 270 twips, 56, 32, 145 x 18 pixels at
// 96 DPI; their edges are scaled so that the box keeps its place at any DPI.
constexpr int kBoxLeft = 840, kBoxTop = 480, kBoxWidth = 2175, kBoxHeight = 270;

RECT BoxRect(int dpi) {
  return {TwipsToPixels(kBoxLeft, dpi), TwipsToPixels(kBoxTop, dpi), TwipsToPixels(kBoxLeft + kBoxWidth, dpi),
          TwipsToPixels(kBoxTop + kBoxHeight, dpi)};
}

HBRUSH DarkBrush() {
  static HBRUSH brush = CreateSolidBrush(kDarkBackground);
  return brush;
}

int LineHeight(HWND hwnd, HFONT font) {
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm = {};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return std::max(1, static_cast<int>(tm.tmHeight + tm.tmExternalLeading) + 2);
}

ScreenCover CurrentScreens() {
  const Rect primary{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return CoverMonitors(TheApp().LockSystemInUse().Monitors(), primary);
}

StackTo StackOf(HWND after) {
  if (after == HWND_TOP) return StackTo::Top;
  if (after == HWND_TOPMOST) return StackTo::Topmost;
  if (after == HWND_NOTOPMOST) return StackTo::NotTopmost;
  if (after == HWND_BOTTOM) return StackTo::Bottom;
  return StackTo::BelowAnother;
}

// WM_WINDOWPOSCHANGING runs on the window's own thread also when another
// program asks for the change: there it is bent back before it happens.
void HoldPlace(WINDOWPOS& pos, const Rect& place) {
  PlaceChange asked;
  asked.hide = (pos.flags & SWP_HIDEWINDOW) != 0;
  asked.move = (pos.flags & SWP_NOMOVE) == 0;
  asked.size = (pos.flags & SWP_NOSIZE) == 0;
  asked.restack = (pos.flags & SWP_NOZORDER) == 0;
  asked.stack = StackOf(pos.hwndInsertAfter);
  asked.x = pos.x;
  asked.y = pos.y;
  asked.cx = pos.cx;
  asked.cy = pos.cy;
  const PlaceChange held = HoldPlace(asked, place);
  if (held == asked) return;
  if (!held.hide) pos.flags &= ~static_cast<UINT>(SWP_HIDEWINDOW);
  pos.x = held.x;
  pos.y = held.y;
  pos.cx = held.cx;
  pos.cy = held.cy;
  if (held.stack == StackTo::Topmost) pos.hwndInsertAfter = HWND_TOPMOST;
}

WindowPlace PlaceOf(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return {IsWindowVisible(h) != FALSE, IsIconic(h) != FALSE, (GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0,
          Rect{r.left, r.top, r.right, r.bottom}};
}

void PutBack(HWND h, const Rect& place) {
  if (IsIconic(h)) ShowWindow(h, SW_SHOWNOACTIVATE);
  SetWindowPos(h, HWND_TOPMOST, place.left, place.top, place.width(), place.height(), SWP_SHOWWINDOW | SWP_NOACTIVATE);
}

LRESULT CALLBACK CoverProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Form2* lock = TheApp().form2;
  Rect place;
  switch (msg) {
    case WM_WINDOWPOSCHANGING: {
      const LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
      if (lock && lock->GuardsCover(hwnd, place)) HoldPlace(*reinterpret_cast<WINDOWPOS*>(lp), place);
      return r;
    }
    case WM_WINDOWPOSCHANGED: {
      const LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
      if (lock && lock->GuardsCover(hwnd, place) && OutOfPlace(PlaceOf(hwnd), place)) lock->PutBackSoon();
      return r;
    }
    case WM_SHOWWINDOW:
      // Hiding cannot be refused here, only in the move that follows; the
      // put-back catches a hide that skips it.
      if (!wp && lock && lock->GuardsCover(hwnd, place)) {
        lock->PutBackSoon();
        return 0;
      }
      break;
    case WM_CLOSE:
      return 0;  // a cover goes only with the lock window
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE || (wp & 0xFFF0) == SC_MINIMIZE) return 0;
      break;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;  // the keyboard stays with the lock window
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

bool RegisterCoverClass() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  if (GetClassInfoExW(GetModuleHandleW(nullptr), TOLVANE_COVER_CLASS, &wc)) return true;
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = CoverProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = DarkBrush();
  wc.lpszClassName = TOLVANE_COVER_CLASS;
  return RegisterClassExW(&wc) != 0;
}

// The appearance window and the tray menu's form, each only if it is open.
void CloseOtherForms() { TheApp().CloseSideForms(); }

// After the setup password: the setup window comes up with its hint. Runs
// once the lock window is gone, so it touches nothing of it.
void ShowSetupAfterLock() { TheApp().ShowSetup(kSetupBalloonText, kSetupBalloonTitle); }

}  // namespace

bool App::LockActive() const { return form2 != nullptr && form2->lock_up(); }

bool ShowLockWindow() {
  App& app = TheApp();
  if (app.form2) return true;
  // The watchdog comes first, also while the window cannot be made yet (the
  // setup window retries): a configured program killed now comes back locked.
  ArmWatchdog();
  auto* form = new Form2;
  app.form2 = form;
  if (!form->Load()) {
    app.form2 = nullptr;
    delete form;
    // The caller tries again on its next tick; until then Windows' own lock
    // screen stands in for this one.
    app.LockSystemInUse().LockSession();
    return false;
  }
  AnnounceLockToGuard();
  return true;
}

bool Form2::Load() {
  if (!RegisterFormClass(TOLVANE_FORM2_CLASS, nullptr)) return false;
  const Rect screen = CurrentScreens().lock;
  lock_place_ = screen;
  // Topmost and without a taskbar button from the start; shown only once the
  // guards are in place.
  if (!CreateFormWindow(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, TOLVANE_FORM2_CLASS, L"", WS_POPUP | WS_CLIPCHILDREN,
                        screen.left, screen.top, screen.width(), screen.height(), nullptr,
                        TheApp().LockSystemInUse())) {
    return false;
  }
  loaded_ = true;
  TheApp().FormLoaded();
  Form_Load();
  lock_up_ = true;
  ShowWindow(hwnd_, SW_SHOW);
  // The plain dark cover reaches the screen now; the picture, the fonts and
  // the controls follow from the message loop.
  UpdateWindow(hwnd_);
  TakeForeground();
  // Without its face the lock has no password boxes and no drive lines: when
  // the queue refuses the message, the face comes now rather than never.
  if (!PostOwn(hwnd_, kWmLoadFace)) Form_LoadFace();
  return true;
}

void Form2::CreateControls() {
  LoadCommonControls();
  const DWORD label = SS_OWNERDRAW | SS_NOPREFIX | WS_VISIBLE;
  Label2_ = CreateControl(hwnd_, L"STATIC", kDesignCaption, label, 0, 0, 1, 1, IDC_FORM2_LABEL2);
  for (int i = 0; i < 6; ++i) {
    Label1_[i] = CreateControl(hwnd_, L"STATIC", kDesignLine, label, 0, 0, 1, 1, IDC_FORM2_LABEL1_0 + i);
  }
  const DWORD box = WS_TABSTOP | ES_AUTOHSCROLL;
  // Placed and given their font at the window's DPI by ScaleFontsAndBoxes.
  Text9_ = CreateControl(hwnd_, L"EDIT", kUnlockPlaceholder, box, 0, 0, 1, 1, IDC_FORM2_TEXT9, WS_EX_CLIENTEDGE);
  Text10_ = CreateControl(hwnd_, L"EDIT", kSetupPlaceholder, box, 0, 0, 1, 1, IDC_FORM2_TEXT10, WS_EX_CLIENTEDGE);
  // Shown instead of the boxes while they are refused.
  Label3_ = CreateControl(hwnd_, L"STATIC", L"", SS_OWNERDRAW | SS_NOPREFIX, 0, 0, 1, 1, IDC_FORM2_LABEL3);
  // The boxes pass F2/F3 and clicks on to the form's handlers.
  SubclassControl(Text9_, EditProc, IDC_FORM2_TEXT9, reinterpret_cast<DWORD_PTR>(this));
  SubclassControl(Text10_, EditProc, IDC_FORM2_TEXT10, reinterpret_cast<DWORD_PTR>(this));
  // No input method: its candidate and composition windows put text in that
  // no key made, and any program can drive them.
  static const auto associate = LazyFn<HIMC WINAPI(HWND, HIMC)>(L"imm32.dll", "ImmAssociateContext");
  if (associate) {
    associate(Text9_, nullptr);
    associate(Text10_, nullptr);
  }
}

void Form2::ReadAppearance() {
  caption_font_ = LockCaptionFont(
      [](std::wstring_view key) { return ReadOption(kSettingsSection, key); },
      nf_.decimal.empty() ? L'.' : nf_.decimal[0]);
  const CaptionFont& f = caption_font_;
  label2_color_ = f.colour.system ? GetSysColor(static_cast<int>(f.colour.value)) : f.colour.value;
  SetWindowTextW(Label2_, ReadOption(kSettingsSection, L"label").c_str());
}

void Form2::ScaleFontsAndBoxes() {
  const CaptionFont& f = caption_font_;
  const bool design_face = f.face == kSongTi;
  HFONT caption = MakeFontForDpi(f.face, f.points, f.bold, f.italic, f.underline, f.strikethru,
                                 design_face ? GB2312_CHARSET : DEFAULT_CHARSET, dpi_);
  if (!caption) caption = MakeFontForDpi(kSongTi, 27.75, true, false, false, false, GB2312_CHARSET, dpi_);
  HFONT line = MakeFontForDpi(kSongTi, 9.75, false, false, false, false, GB2312_CHARSET, dpi_);
  if (label2_font_) DeleteObject(label2_font_);
  if (label1_font_) DeleteObject(label1_font_);
  label2_font_ = caption;
  label1_font_ = line;
  label2_height_ = LineHeight(hwnd_, label2_font_);
  label1_height_ = LineHeight(hwnd_, label1_font_);
  // The labels draw themselves with these fonts; they carry them too, so
  // that anything that measures a label sees the font it is drawn in.
  SendMessageW(Label2_, WM_SETFONT, reinterpret_cast<WPARAM>(label2_font_), FALSE);
  for (HWND l : Label1_) SendMessageW(l, WM_SETFONT, reinterpret_cast<WPARAM>(label1_font_), FALSE);
  SendMessageW(Label3_, WM_SETFONT, reinterpret_cast<WPARAM>(label1_font_), FALSE);
  const RECT box = BoxRect(dpi_);
  SetWindowPos(Label3_, nullptr, box.left, box.top, std::max(1, static_cast<int>(width_ - box.left)), label1_height_,
               SWP_NOZORDER | SWP_NOACTIVATE);
  for (HWND h : {Text9_, Text10_}) {
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(UiFontForDpi(dpi_)), FALSE);
    const int height = std::max(static_cast<int>(box.bottom - box.top), OneLineHeight(h));
    SetWindowPos(h, nullptr, box.left, box.top, box.right - box.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// Cover first: what it takes to cover the screen and guard the keyboard runs
// here, before the window shows. What only makes the lock look as configured
// (the skin template, the fonts, the picture decode) waits for
// Form_LoadFace, so the desktop is not on show while it runs.
void Form2::Form_Load() {
  nf_ = UserNumberFormat();
  dpi_ = WindowDpi(hwnd_);
  MarkWindowDpi(hwnd_, dpi_);
  LayOut();

  // The system keeps Alt+Tab to itself on most versions; the title says
  // whether the registration took ("1") or not ("0"), the lock goes on either way.
  const BOOL hot = RegisterHotKey(hwnd_, kHotKeyAltTab, MOD_ALT, VK_TAB);
  SetWindowTextW(hwnd_, hot ? L"1" : L"0");
  // A failed install is retried on the hook's own thread, a thread that
  // could not start on Timer1; the lock goes up either way.
  hHook.Start(TheApp().LockSystemInUse());
  shortcuts_.Engage();

  // The failed tries of earlier locks count: a restart must not give a
  // fresh set of them.
  tries_ = TryLimit(LoadTryRecord(tries_file_), WallClockMs());
  SaveTryRecord(tries_file_, tries_.record());

  std::string settings;
  settings_pending_ = ReadSettingsFile(settings) == SettingsRead::Unreadable;
  TakeSettings(settings);

  SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
}

void Form2::TakeSettings(const std::string& settings) {
  Text1 = OptionIn(settings, kSettingsSection, L"drive");
  Text2 = OptionIn(settings, kSettingsSection, L"name");
  // A value no longer than the prefix holds no cipher: nothing will match it,
  // neither a drive nor a typed password, and the lock stays. So it is while
  // the settings file cannot be read.
  Text6 = CipherOfNameValue(Text2);
  Text7 = Text6.empty() ? std::wstring() : FromCp936(DecipherPassword(Text6, txtPassword));
  boxes_ = PasswordBoxes(Text7);
  boxes_.SetRefused(tries_.Refused(WallClockMs()));
  StartDriveWatch();
}

bool Form2::RereadSettings() {
  std::string settings;
  const SettingsRead read = ReadSettingsFile(settings);
  if (read == SettingsRead::Unreadable) return true;  // still held: the lock stays as it is
  settings_pending_ = false;
  if (!HoldsConfiguration(OptionIn(settings, kSettingsSection, L"name"))) {
    // Read at last, it holds no configuration (gone, or damaged): what a
    // start with this file shows, the setup window. Only a program that may
    // write the file can bring this about, and it decides the next start's
    // lock anyway.
    EnterSetup();  // `this` is gone afterwards
    return false;
  }
  if (watch_) watch_->Stop();  // never waits for a drive
  TakeSettings(settings);
  if (face_up_) {
    ReadAppearance();
    ScaleFontsAndBoxes();
    PlaceLabels();
    ShowBoxes();
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
  }
  return true;
}

void Form2::Form_LoadFace() {
  if (face_up_ || !hwnd_) return;
  // The picture first: its decode needs memory for a moment, and the least
  // else is loaded now (no fonts, no skin, not the setup window's controls).
  Text11 = ReadOption(kSettingsSection, L"photo");
  LoadImage1();
  CreateControls();
  skin::SkinWindow(hwnd_);
  ReadAppearance();
  ScaleFontsAndBoxes();
  face_up_ = true;
  LayOut();
  // A key that came before the boxes existed has its box shown now.
  if (boxes_.state(Box::Unlock).visible || boxes_.state(Box::Setup).visible) ShowBoxes();
  ShowRefusal();
  // The design lines stand for one second from here, until the first tick.
  SetTimer(hwnd_, kTimer2, kTimer2Interval, nullptr);
}

void Form2::LayOut() {
  const ScreenCover sc = CurrentScreens();
  width_ = sc.lock.width();
  height_ = sc.lock.height();
  lock_place_ = sc.lock;
  SetWindowPos(hwnd_, HWND_TOPMOST, sc.lock.left, sc.lock.top, width_, height_, SWP_NOACTIVATE);
  if (!face_up_) {
    LayCovers(sc.covers);
    return;
  }

  PlaceLabels();
  LoadImage1();
  LayCovers(sc.covers);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void Form2::PlaceLabels() {
  const LockLayout l = LayoutLabels(width_, height_, label2_height_, label1_height_);
  SetWindowPos(Label2_, nullptr, l.label2.x, l.label2.y, std::max(1, width_ - l.label2.x), label2_height_,
               SWP_NOZORDER | SWP_NOACTIVATE);
  for (int i = 0; i < 6; ++i) {
    SetWindowPos(Label1_[i], nullptr, l.label1[i].x, l.label1[i].y, std::max(1, width_ - l.label1[i].x),
                 label1_height_, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Form2::LoadImage1() {
  if (Image1_ && image_width_ == width_ && image_height_ == height_) return;  // already at this size
  if (image_dc_) {
    SelectObject(image_dc_, image_dc_old_);
    DeleteDC(image_dc_);
    image_dc_ = nullptr;
  }
  if (Image1_) {
    DeleteObject(Image1_);
    Image1_ = nullptr;
  }
  const bool photo_exists = !Text11.empty() && IsOrdinaryFile(Text11);
  Image1_ = LoadStretchedPicture(BackgroundPicturePath(Text11, photo_exists, ProgramFolder()), width_, height_);
  if (!Image1_) return;  // plain dark background, the lock stays up
  image_width_ = width_;
  image_height_ = height_;
  image_dc_ = CreateCompatibleDC(nullptr);
  if (image_dc_) {
    image_dc_old_ = SelectObject(image_dc_, Image1_);
  } else {
    DeleteObject(Image1_);
    Image1_ = nullptr;
  }
}

void Form2::LayCovers(const std::vector<Rect>& rects) {
  // Laid again when the face comes up: covers already in place stay, so the
  // other monitors are never bare for a moment.
  if (rects == cover_rects_ && covers_.size() == rects.size()) return;
  DestroyCovers();
  cover_rects_ = rects;
  covers_.assign(rects.size(), nullptr);
  MendCovers();
}

bool Form2::MendCovers() {
  // A cover the desktop refused is a null slot until a later tick makes it.
  bool all = true;
  for (std::size_t i = 0; i < covers_.size(); ++i) {
    if (covers_[i]) continue;
    const Rect& r = cover_rects_[i];
    // The class too may have failed to register the first time.
    if (RegisterCoverClass()) {
      covers_[i] = TheApp().LockSystemInUse().Create(
          WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, TOLVANE_COVER_CLASS, L"", WS_POPUP | WS_VISIBLE, r.left,
          r.top, r.width(), r.height(), nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    all = all && covers_[i] != nullptr;
  }
  return all;
}

void Form2::DestroyCovers() {
  // Out of the guard first: a cover on its way out may be hidden.
  std::vector<HWND> going;
  going.swap(covers_);
  cover_rects_.clear();
  for (HWND c : going) {
    if (c) DestroyWindow(c);
  }
}

bool Form2::GuardsCover(HWND cover, Rect& place) const {
  if (!Guarding()) return false;
  for (std::size_t i = 0; i < covers_.size(); ++i) {
    if (covers_[i] == cover) {
      place = cover_rects_[i];
      return true;
    }
  }
  return false;
}

void Form2::PutBackSoon() {
  if (put_back_posted_ || !Guarding()) return;
  // Should the queue refuse the post, the next Timer1 tick puts it back.
  put_back_posted_ = PostOwn(hwnd_, kWmStayShown);
}

void Form2::StayShown() {
  put_back_posted_ = false;
  if (!Guarding()) return;
  for (std::size_t i = 0; i < covers_.size(); ++i) {
    if (covers_[i] && OutOfPlace(PlaceOf(covers_[i]), cover_rects_[i])) PutBack(covers_[i], cover_rects_[i]);
  }
  // Last, so that the lock window stays above its own covers.
  if (OutOfPlace(PlaceOf(hwnd_), lock_place_)) {
    PutBack(hwnd_, lock_place_);
    TakeForeground();
  }
}

void Form2::Form_Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  const RECT& r = ps.rcPaint;
  if (image_dc_) {
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, image_dc_, r.left, r.top, SRCCOPY);
  } else {
    FillRect(dc, &r, DarkBrush());
  }
  EndPaint(hwnd_, &ps);
}

void Form2::DrawLabel(const DRAWITEMSTRUCT& d) {
  // The labels are transparent: each paints the part of the background it
  // covers, then its text.
  RECT rc = d.rcItem;
  POINT at = {0, 0};
  MapWindowPoints(d.hwndItem, hwnd_, &at, 1);
  if (image_dc_) {
    BitBlt(d.hDC, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, image_dc_, at.x + rc.left, at.y + rc.top,
           SRCCOPY);
  } else {
    FillRect(d.hDC, &rc, DarkBrush());
  }
  const bool caption = d.hwndItem == Label2_;
  HGDIOBJ old = SelectObject(d.hDC, caption ? label2_font_ : label1_font_);
  SetBkMode(d.hDC, TRANSPARENT);
  SetTextColor(d.hDC, caption ? label2_color_ : RGB(255, 255, 255));
  const std::wstring text = GetText(d.hwndItem);
  DrawTextW(d.hDC, text.c_str(), static_cast<int>(text.size()), &rc, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(d.hDC, old);
}

void Form2::SetCaption(HWND label, const std::wstring& text) {
  // Rewritten every second: only a real change is repainted, or the lines flicker.
  if (GetText(label) == text) return;
  SetWindowTextW(label, text.c_str());
  InvalidateRect(label, nullptr, FALSE);
}

void Form2::Timer1_Timer() {
  // What was moved without the window being asked first, and not put back
  // since (the put-back's post refused), is put back now.
  StayShown();
  // Each restack costs a trip to the window server, twice a second for as
  // long as the lock stands; with nothing at all above the only lock window
  // (one monitor) there is nothing to restack.
  if (!covers_.empty() || GetWindow(hwnd_, GW_HWNDPREV)) {
    for (HWND c : covers_) {
      if (c) SetWindowPos(c, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    // Last, so that the lock window stays above its own covers where monitors overlap.
    SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  TakeForeground();
  // A cover or the hook thread that could not come up is tried again; until
  // both stand, Windows' own lock screen keeps a bare monitor and an
  // unguarded keyboard from being of use.
  const bool covered = MendCovers();
  if (!hHook.running()) hHook.Start(TheApp().LockSystemInUse());
  if (!covered || !hHook.running()) TheApp().LockSystemInUse().LockSession();
  ShowRefusal();
  // The lock's heartbeat; a watchdog that ended or stopped answering is replaced.
  ArmWatchdog();
  // Still here after the end of the session was announced: it was cancelled
  // or not real, and the shortcuts go back off.
  if (session_ending_) {
    session_ending_ = false;
    shortcuts_.Engage();
  }
}

HWND Form2::FocusTarget() const {
  // The box the user was typing in when the lock lost the keyboard; a box
  // that is up but was never clicked keeps its placeholder untouched.
  if (focus_child_ && (GetWindowLongPtrW(focus_child_, GWL_STYLE) & WS_VISIBLE)) return focus_child_;
  return hwnd_;
}

void Form2::TakeForeground() {
  if (GetForegroundWindow() != hwnd_ && !SetForegroundWindow(hwnd_)) {
    // Windows refuses the foreground to a process that did not receive the
    // last input; joined to the input of the window that has it, the call
    // counts as that window's own.
    HWND fg = GetForegroundWindow();
    const DWORD fg_thread = fg ? GetWindowThreadProcessId(fg, nullptr) : 0;
    const DWORD me = GetCurrentThreadId();
    if (fg_thread && fg_thread != me && AttachThreadInput(me, fg_thread, TRUE)) {
      BringWindowToTop(hwnd_);
      SetForegroundWindow(hwnd_);
      AttachThreadInput(me, fg_thread, FALSE);
    }
  }
  // Other programs' SetForegroundWindow calls are refused while locked.
  LockSetForegroundWindow(LSFW_LOCK);
  if (GetForegroundWindow() != hwnd_) return;
  const HWND f = GetFocus();
  const bool in_lock = f == hwnd_ || ((f == Text9_ || f == Text10_) && IsWindowVisible(f));
  if (!in_lock) SetFocus(FocusTarget());
}

void Form2::StartDriveWatch() {
  // The worker gets copies of all it needs: a drive that hangs may keep it
  // busy after this window is gone.
  watch_ = std::make_unique<ProbeWorker<WatchTick>>(
      [drives = TheApp().Drives(), nf = nf_, stored = Text6] {
        const auto probe = drives->NewProbe();
        const auto keys = drives->NewKeyFiles();
        return RunDriveWatch(*probe, nf, *keys, stored);
      },
      PostTo(hwnd_, kWmWatchTick));
}

void Form2::Timer2_Timer() {
  if (settings_pending_ && !RereadSettings()) return;  // `this` is gone
  watch_->RequestTick();
}

void Form2::RequestDriveWatchTick() {
  if (!watch_ || leaving_) return;
  // The regular tick comes a full interval after this one, not right on its
  // heels; before the face is up the one-second design lines still stand.
  if (face_up_) SetTimer(hwnd_, kTimer2, kTimer2Interval, nullptr);
  watch_->RequestTick();
}

void Form2::Watch_Tick() {
  std::optional<WatchTick> result = watch_->TakeResult();
  if (!result || !lock_up_ || leaving_) return;
  const WatchTick& tick = *result;
  List1 = tick.list;
  if (!tick.last_drive.empty()) {
    Text1 = tick.last_drive;
    Text3 = tick.found;
  }
  for (int i = 0; i < 6; ++i) {
    if (tick.matched >= 0 && i > tick.matched) break;  // not looked at: the program ends
    Text5[i] = tick.slots[i].drive;
    Text4[i] = tick.slots[i].cipher;
    // Before the face is up there are no lines yet; a key still opens the lock.
    if (face_up_) SetCaption(Label1_[i], tick.slots[i].message);
  }
  if (tick.matched >= 0) UnloadLock(WayOut::KeyDrive, tick.slots[static_cast<std::size_t>(tick.matched)].drive);
}

void Form2::ShowBoxes() {
  if (!face_up_) return;  // the face's load shows a box asked for before it
  for (Box box : {Box::Unlock, Box::Setup}) {
    HWND h = BoxWindow(box);
    const BoxState& s = boxes_.state(box);
    const wchar_t ch = s.masked ? L'*' : 0;
    if (static_cast<wchar_t>(SendMessageW(h, EM_GETPASSWORDCHAR, 0, 0)) != ch) {
      SendMessageW(h, EM_SETPASSWORDCHAR, ch, 0);
      InvalidateRect(h, nullptr, TRUE);
    }
    if (GetText(h) != s.text) {
      syncing_ = true;
      SetWindowTextW(h, s.text.c_str());
      syncing_ = false;
    }
    const bool shown = (GetWindowLongPtrW(h, GWL_STYLE) & WS_VISIBLE) != 0;
    if (s.visible && !shown) {
      ShowWindow(h, SW_SHOWNA);
      // The keys typed next go into the box, over its selected placeholder
      // (EditProc), as after a click into it.
      if (GetForegroundWindow() == hwnd_) SetFocus(h);
    }
    if (!s.visible && shown) {
      // A hidden box must not keep the keyboard: F2/F3 go to the form again.
      if (GetFocus() == h) SetFocus(hwnd_);
      ShowWindow(h, SW_HIDE);
    }
  }
}

void Form2::Act(BoxOutcome outcome) {
  switch (outcome) {
    case BoxOutcome::None:
      break;
    case BoxOutcome::Unlock:
      UnloadLock(WayOut::UnlockPassword);
      break;
    case BoxOutcome::EnterSetup:
      entering_setup_ = true;
      PostOwn(hwnd_, kWmEnterSetup);
      break;
  }
}

void Form2::CountTries() {
  const TryRecord before = tries_.record();
  CountGuesses(boxes_, tries_, WallClockMs());
  if (tries_.record() != before) SaveTryRecord(tries_file_, tries_.record());
  ShowRefusal();
}

void Form2::ShowRefusal() {
  const std::int64_t remaining = tries_.RemainingMs(WallClockMs());
  if (remaining <= 0 && boxes_.refused()) boxes_.SetRefused(false);
  if (!face_up_ || !Label3_) return;
  const bool shown = (GetWindowLongPtrW(Label3_, GWL_STYLE) & WS_VISIBLE) != 0;
  if (remaining > 0) {
    SetCaption(Label3_, RefusalText(remaining));
    if (!shown) ShowWindow(Label3_, SW_SHOWNA);
  } else if (shown) {
    ShowWindow(Label3_, SW_HIDE);
  }
}

void Form2::Form_KeyDown(WPARAM vk) {
  Act(boxes_.KeyDown(static_cast<unsigned>(vk)));
  CountTries();
  ShowBoxes();
}

void Form2::Text_Click(Box box) {
  Act(boxes_.Click(box));
  CountTries();
  ShowBoxes();
}

void Form2::Text_Change(Box box) {
  if (syncing_) return;
  // Only what is typed or pasted here counts. A change made on behalf of
  // another program (its WM_SETTEXT, EM_REPLACESEL, forged notification)
  // is undone and never compared: ShowBoxes puts the window's own copy back.
  if (!FromAnotherThread()) {
    Act(boxes_.Change(box, GetText(BoxWindow(box))));
    CountTries();
  }
  ShowBoxes();
}

void Form2::Image1_Click() {
  boxes_.BackgroundClick();
  CountTries();
  ShowBoxes();
}

void Form2::TellGuardWayOut(const GuardMessage& claim) {
  // Before anything of the lock goes: the guardian service, where there is
  // one, must have heard the way out before it sees the lock end. It checks
  // the claim itself, and brings the lock back if it does not hold; this
  // side goes on either way. Long enough for the service to read a key file.
  TellGuard(claim, 3000);
}

void Form2::LeaveLock() {
  // A way out: the failed tries are forgotten.
  tries_.Clear();
  SaveTryRecord(tries_file_, tries_.record());
  let_go_ = true;
  shortcuts_.Release();
  DisarmWatchdog();
  LockSetForegroundWindow(LSFW_UNLOCK);
}

void Form2::EnterSetup() {
  TellGuardWayOut({GuardRequest::SetupPassword, boxes_.state(Box::Setup).text});
  LeaveLock();
  CloseOtherForms();
  DestroyWindow(hwnd_);  // Form_Unload releases the hook; this object is gone afterwards
  ShowSetupAfterLock();
}

void Form2::UnloadLock(WayOut way, const std::wstring& drive) {
  if (leaving_) return;
  const AfterUnlock next = DecideAfterUnlock(RelockOn(ReadOption(kSettingsSection, kRelockKey)), way, drive);
  if (way == WayOut::KeyDrive) {
    TellGuardWayOut({GuardRequest::KeyDrive, drive});
  } else {
    TellGuardWayOut({GuardRequest::UnlockPassword, boxes_.state(Box::Unlock).text});
  }
  if (!next.end_program) {
    // The lock goes once this handler has returned: the unlock box calls
    // this from inside its own change notification.
    leaving_ = true;
    unlocked_by_ = next.watch_drive;
    PostOwn(hwnd_, kWmStayUnlocked);
    return;
  }
  LeaveLock();
  CloseOtherForms();
  TheApp().UnloadSetup();
  ExitProcess(0);
}

void Form2::StayUnlocked() {
  const std::wstring drive = unlocked_by_;
  LeaveLock();
  CloseOtherForms();
  DestroyWindow(hwnd_);  // Form_Unload releases the hook; this object is gone afterwards
  // The setup window stays hidden; it keeps the tray icon and watches the
  // key drive, and locks again when that drive goes.
  TheApp().StayUnlocked(drive);
}

bool Form2::Form_QueryUnload(UnloadMode mode) { return AnswerClose(mode).refuse; }

void Form2::Form_Unload() {
  lock_up_ = false;
  UnmarkWindowDpi(hwnd_);
  KillTimer(hwnd_, kTimer1);
  KillTimer(hwnd_, kTimer2);
  if (watch_) watch_->Stop();  // never waits for a drive
  hHook.Stop();
  DestroyCovers();
}

void Form2::OnFinalDestroy() {
  // A window that died inside CreateWindowEx was never counted; its object
  // belongs to ShowLockWindow, which deletes it.
  if (!loaded_) return;
  if (image_dc_) {
    SelectObject(image_dc_, image_dc_old_);
    DeleteDC(image_dc_);
  }
  if (Image1_) DeleteObject(Image1_);
  if (label1_font_) DeleteObject(label1_font_);
  if (label2_font_) DeleteObject(label2_font_);
  App& app = TheApp();
  if (app.form2 == this) app.form2 = nullptr;
  app.FormUnloaded();
  delete this;
}

LRESULT CALLBACK Form2::EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref) {
  auto* self = reinterpret_cast<Form2*>(ref);
  switch (msg) {
    case WM_SETTEXT:
      // Only the window itself sets a box's text (placeholder, cleared box);
      // another program's text is refused before the box holds it.
      if (!self->syncing_) return FALSE;
      break;
    case EM_REPLACESEL:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO:
      // Editing comes from this thread's own input; the same messages sent
      // by another program are refused.
      if (FromAnotherThread()) return 0;
      break;
    case WM_KEYDOWN:
    case WM_CHAR:
      // Only keys from the keyboard type (lock/typed_keys.h): not another
      // program's posted or sent ones, nor its SendInput.
      if (!TypedByKeyboard(h, msg, wp, lp)) return 0;
      if (msg == WM_KEYDOWN && (wp == kVkF2 || wp == kVkF3)) {
        self->Form_KeyDown(wp);
        return 0;
      }
      // Ctrl+V and Shift+Insert: the edit control pastes for these itself,
      // not always by a WM_PASTE.
      if (msg == WM_CHAR && wp == kCharCtrlV) return 0;
      if (msg == WM_KEYDOWN && wp == VK_INSERT && GetKeyState(VK_SHIFT) < 0) return 0;
      break;
    case WM_DEADCHAR:
    case WM_SYSCHAR:
    case WM_SYSDEADCHAR:
    case WM_UNICHAR:
    case WM_IME_CHAR:
    case WM_IME_COMPOSITION:
    // No paste and no context menu: what the clipboard holds was not typed,
    // and a program moving the mouse could pick the menu's paste.
    case WM_PASTE:
    case WM_CONTEXTMENU:
      return 0;
    case WM_LBUTTONUP: {
      const LRESULT r = CallNextSubclass(h, msg, wp, lp);
      self->Text_Click(h == self->Text9_ ? Box::Unlock : Box::Setup);
      return r;
    }
    case WM_SETFOCUS: {
      // A box that still shows its placeholder has it selected, so that the
      // first key typed replaces it, as a click into the box would clear it.
      const LRESULT r = CallNextSubclass(h, msg, wp, lp);
      const Box box = h == self->Text9_ ? Box::Unlock : Box::Setup;
      if (self->boxes_.state(box).text == Placeholder(box)) SendMessageW(h, EM_SETSEL, 0, -1);
      return r;
    }
    case WM_NCDESTROY:
      // The subclass goes with the box, never at another program's word.
      if (!OwnDestroy(h)) return 0;
      RemoveSubclass(h, EditProc, id);
      break;
    default:
      break;
  }
  return CallNextSubclass(h, msg, wp, lp);
}

LRESULT Form2::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == kTimer1) Timer1_Timer();
      if (wp == kTimer2) Timer2_Timer();
      return 0;
    case kWmWatchTick:
      if (IsOwnPost(wp)) Watch_Tick();
      return 0;
    case WM_KEYDOWN:
      if (TypedByKeyboard(hwnd_, msg, wp, lp)) Form_KeyDown(wp);
      return 0;
    case WM_COMMAND: {
      // Only the boxes' own notifications; Text_Change tells a change that
      // another program made.
      const auto from = reinterpret_cast<HWND>(lp);
      if (HIWORD(wp) == EN_CHANGE && LOWORD(wp) == IDC_FORM2_TEXT9 && from == Text9_) Text_Change(Box::Unlock);
      if (HIWORD(wp) == EN_CHANGE && LOWORD(wp) == IDC_FORM2_TEXT10 && from == Text10_) Text_Change(Box::Setup);
      return 0;
    }
    case kWmEnterSetup:
      if (IsOwnPost(wp) && entering_setup_) EnterSetup();  // `this` is gone afterwards
      return 0;
    case kWmStayUnlocked:
      if (IsOwnPost(wp) && leaving_) StayUnlocked();  // `this` is gone afterwards
      return 0;
    case kWmTakeForeground:
      if (IsOwnPost(wp) && lock_up_ && !leaving_) TakeForeground();
      return 0;
    case kWmLoadFace:
      if (IsOwnPost(wp)) Form_LoadFace();
      return 0;
    case kWmStayShown:
      if (IsOwnPost(wp)) StayShown();
      return 0;
    case WM_WINDOWPOSCHANGING: {
      const LRESULT r = Window::HandleMessage(msg, wp, lp);
      if (Guarding()) HoldPlace(*reinterpret_cast<WINDOWPOS*>(lp), lock_place_);
      return r;
    }
    case WM_WINDOWPOSCHANGED: {
      const LRESULT r = Window::HandleMessage(msg, wp, lp);
      // A change that skipped WM_WINDOWPOSCHANGING (SWP_NOSENDCHANGING), a
      // minimise (its state is set before the move is asked about).
      if (Guarding() && OutOfPlace(PlaceOf(hwnd_), lock_place_)) PutBackSoon();
      return r;
    }
    case WM_SHOWWINDOW:
      if (!wp && Guarding()) {
        PutBackSoon();
        return 0;
      }
      return Window::HandleMessage(msg, wp, lp);
    case WM_DEVICECHANGE: {
      DeviceNotice notice;
      notice.event = static_cast<unsigned>(wp);
      // Only these two events carry a broadcast record; others may put anything in lParam.
      const auto* hdr = wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE
                            ? reinterpret_cast<const DEV_BROADCAST_HDR*>(lp)
                            : nullptr;
      if (hdr) {
        notice.record_size = hdr->dbch_size;
        notice.device_type = hdr->dbch_devicetype;
        if (hdr->dbch_devicetype == DBT_DEVTYP_VOLUME && hdr->dbch_size >= kVolumeRecordSize) {
          notice.unit_mask = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lp)->dbcv_unitmask;
        }
      }
      // The worker takes the tick: the system, waiting for the answer to its
      // broadcast, never waits on a drive.
      if (NoticeWakesDriveWatch(notice)) RequestDriveWatchTick();
      return Window::HandleMessage(msg, wp, lp);
    }
    case WM_LBUTTONDOWN:
      Image1_Click();
      return 0;
    case WM_DRAWITEM:
      DrawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
      return TRUE;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Form_Paint();
      return 0;
    case WM_ACTIVATE:
      // Give the focus back to the box that had it, as a dialog does.
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND f = GetFocus();
        focus_child_ = (f == Text9_ || f == Text10_) ? f : nullptr;
        if (lock_up_) PostOwn(hwnd_, kWmTakeForeground);
      } else {
        SetFocus(FocusTarget());
      }
      return 0;
    case WM_DISPLAYCHANGE:
      LayOut();
      return 0;
    case WM_DPICHANGED:
      // The lock keeps covering its monitor, picture and covers as they
      // are; only the text and the boxes follow the scale.
      dpi_ = ReadDpiChange(wp, lp).dpi;
      MarkWindowDpi(hwnd_, dpi_);
      if (!face_up_) return 0;  // the face's load scales them
      ScaleFontsAndBoxes();
      PlaceLabels();
      RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
      return 0;
    case WM_HOTKEY:
      return 0;  // Alt+Tab, held here so that it switches nowhere
    case WM_CLOSE:
      if (Form_QueryUnload(UnloadMode::Menu)) return 0;
      DestroyWindow(hwnd_);
      return 0;
    case WM_SYSCOMMAND:
      switch (wp & 0xFFF0) {
        case SC_CLOSE:
          if (Form_QueryUnload(UnloadMode::Menu)) return 0;
          break;
        case SC_MINIMIZE:
        case SC_MAXIMIZE:
        case SC_MOVE:
        case SC_SIZE:
        case SC_KEYMENU:  // Alt alone would enter menu mode and eat the next key
          return 0;
        default:
          break;
      }
      return Window::HandleMessage(msg, wp, lp);
    case WM_QUERYENDSESSION:
      // Yes, and nothing more: the session may yet not end (another program
      // vetoes it), and anyone can send this message.
      return Form_QueryUnload(UnloadMode::Windows) ? FALSE : TRUE;
    case WM_ENDSESSION:
      // The window, the hook and the covers stay until the system ends the
      // process; only the user's accessibility hot keys go back now, since
      // the process may be ended at any moment after this returns. Should it
      // live on, the next Timer1 tick clears them again. Any program can
      // send this message: only the system's own word that the session is
      // ending counts.
      if (wp && lock_up_ && TheApp().LockSystemInUse().SessionEnding()) {
        shortcuts_.Release();
        session_ending_ = true;
      }
      return 0;
    case WM_DESTROY:
      Form_Unload();
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace tolvane
