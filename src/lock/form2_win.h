// Form2, the lock window: a borderless topmost window over the primary
// monitor (plain cover windows over the others) with the background picture,
// the caption, six message lines of the drive watch and the two password
// boxes. Its guards (watchdog, keyboard hook, Alt+Tab hot key, cleared
// accessibility hot keys, close refusal, topmost and foreground timer,
// covers) are in force before the lock counts as up, and only the three ways
// out (key drive, unlock password, setup password) take them down.
#pragma once
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/app_win.h"
#include "platform/window_win.h"
#include "config/cipher.h"
#include "drives/probe_worker.h"
#include "lock/drive_watch.h"
#include "lock/guard_message.h"
#include "lock/key_guard.h"
#include "lock/keyboard_hook_win.h"
#include "lock/lock_layout.h"
#include "lock/password_box.h"
#include "lock/relock.h"
#include "lock/shortcut_guard_win.h"
#include "lock/try_limit.h"

namespace tolvane {

// Creates the lock window and puts it up. False when the window could not be
// created; the lock is then not up.
bool ShowLockWindow();

class Form2 : public Window {
 public:
  static constexpr UINT_PTR kTimer1 = 1;  // topmost, foreground and watchdog, 500 ms
  static constexpr UINT kTimer1Interval = 500;
  static constexpr UINT_PTR kTimer2 = 2;  // drive watch, 1000 ms: asks the watch's worker for a tick
  static constexpr UINT kTimer2Interval = 1000;
  static constexpr int kHotKeyAltTab = 1;

  // Creates the window, runs Form_Load and shows it.
  bool Load();
  // A key matched or the unlock password was typed: closes the other windows
  // and ends the program at once; with "relock" on, the lock goes and the
  // program stays in the tray. `drive` is the key drive that opened it.
  void UnloadLock(WayOut way, const std::wstring& drive = {});
  // A drive came or went: the watch's worker looks at once, and the
  // one-second count starts afresh from there.
  void RequestDriveWatchTick();

  bool lock_up() const { return lock_up_; }

  // The place `cover` must keep while the lock is up; false when it is no
  // cover of this lock, or the lock is on its way out.
  bool GuardsCover(HWND cover, Rect& place) const;
  // A window of the lock was moved where it was not asked first: the lock
  // puts it back as soon as this thread is free.
  void PutBackSoon();

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnFinalDestroy() override;

 private:
  void Form_Load();
  void Form_LoadFace();
  void Form_Unload();
  bool Form_QueryUnload(UnloadMode mode);  // true: the close is refused
  void Form_KeyDown(WPARAM vk);
  void Form_Paint();
  void Image1_Click();
  void Text_Click(Box box);
  void Text_Change(Box box);
  void Timer1_Timer();
  void Timer2_Timer();
  void Watch_Tick();  // a tick's result is back from the worker
  void StartDriveWatch();
  void EnterSetup();
  void StayUnlocked();
  // Every legitimate way out: the shortcuts come back, the watchdog stands
  // down, other programs may take the foreground again.
  void LeaveLock();
  void TellGuardWayOut(const GuardMessage& claim);
  void TakeForeground();
  // While the lock is up and none of its ways out has begun, its windows
  // keep their place whoever asks.
  bool Guarding() const { return lock_up_ && !let_go_; }
  // The lock window and every cover back on their places, shown and topmost.
  void StayShown();
  HWND FocusTarget() const;

  void CreateControls();
  void ReadAppearance();
  // The fonts of the lines and the boxes and the boxes' place, at dpi_.
  void ScaleFontsAndBoxes();
  void LayOut();
  void PlaceLabels();  // the caption and the lines on the screen as laid out
  void LoadImage1();
  void LayCovers(const std::vector<Rect>& rects);
  // Makes the covers that are still missing; true when every one stands.
  bool MendCovers();
  void DestroyCovers();
  // The settings as read at load or later: the stored drive, cipher and
  // password, and the drive watch that compares with them.
  void TakeSettings(const std::string& settings);
  // While the settings file could not be read: once a second, again. False
  // when the window is gone (the file held no configuration after all).
  bool RereadSettings();
  void ShowBoxes();
  void Act(BoxOutcome outcome);
  // After each event of the boxes: their guesses go to the try
  // limit (and its file), and the boxes are refused while the limit says so.
  void CountTries();
  // The refusal line counts down, and goes when the refusal has run out.
  void ShowRefusal();
  void DrawLabel(const DRAWITEMSTRUCT& d);
  void SetCaption(HWND label, const std::wstring& text);
  HWND BoxWindow(Box box) const { return box == Box::Unlock ? Text9_ : Text10_; }

  static LRESULT CALLBACK EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);

  // Visible controls.
  HWND Label2_ = nullptr;               // the caption
  std::array<HWND, 6> Label1_ = {};     // the message lines of the drive slots
  HWND Text9_ = nullptr;                // unlock box
  HWND Text10_ = nullptr;               // setup box
  HWND Label3_ = nullptr;               // "too many tries", where the boxes show
  HBITMAP Image1_ = nullptr;            // the background, stretched to the screen; null: plain dark
  HDC image_dc_ = nullptr;              // Image1 selected for painting
  HGDIOBJ image_dc_old_ = nullptr;
  int image_width_ = 0, image_height_ = 0;  // the size Image1 was decoded at
  HFONT label2_font_ = nullptr;
  HFONT label1_font_ = nullptr;
  CaptionFont caption_font_;            // the caption's font as the settings give it
  int dpi_ = 96;                        // the DPI of the monitor the lock covers
  COLORREF label2_color_ = 0;
  int label2_height_ = 0;
  int label1_height_ = 0;
  int width_ = 0, height_ = 0;          // Image1's size: the primary monitor in pixels
  Rect lock_place_;                     // where the lock window stands: the primary monitor
  bool put_back_posted_ = false;        // a StayShown is on its way through the queue
  bool let_go_ = false;                 // a way out has begun: the program moves its windows as it likes
  std::vector<HWND> covers_;            // plain cover windows on the other monitors; null: not made yet
  std::vector<Rect> cover_rects_;       // where they stand, one for each of covers_

  // Working values, named after the hidden controls that held them.
  std::wstring Text1;                   // the drive whose key file was read last ("drive" setting at load)
  std::wstring Text2;                   // the raw "name" value of the settings file
  std::string Text3;                    // FindKeyword's result for that drive (code page 936)
  std::array<std::string, 6> Text4;     // the cipher found on each slot's drive (code page 936)
  std::array<std::wstring, 6> Text5;    // each slot's drive ("E:")
  std::string Text6;                    // the stored cipher: "name" without the prefix (code page 936)
  std::wstring Text7;                   // the password, deciphered from Text6
  const std::string txtPassword = kKeyText;  // the cipher key text
  std::wstring Text11;                  // the "photo" setting
  std::vector<std::wstring> List1;      // removable drives of the last tick
  KeyboardHook hHook;                   // the keyboard guard (hook thread)
  // The drive watch's worker: the probe and the key-file reads never run on
  // this window's thread. RequestTick asks for a tick at once (at a drive's
  // arrival, say).
  std::unique_ptr<ProbeWorker<WatchTick>> watch_;
  SystemShortcutGuard shortcuts_{TheApp().system_parameters};  // accessibility hot keys, cleared while locked

  PasswordBoxes boxes_{L""};
  TryLimit tries_;                      // failed guesses, kept in tries_file_
  ShortcutStateFileAt tries_file_{LocalStatePath(L"tries.txt")};  // beside the shortcuts' state
  NumberFormat nf_;
  bool loaded_ = false;                 // the window exists and counts among the forms
  bool lock_up_ = false;
  bool face_up_ = false;                // controls, fonts and picture are in place
  bool syncing_ = false;                // the window itself is setting a box's text
  bool leaving_ = false;                // unlocked, the window goes at the next message
  bool entering_setup_ = false;         // the setup password matched, the window goes at the next message
  std::wstring unlocked_by_;            // the key drive that opened the lock, "" for the password
  HWND focus_child_ = nullptr;          // the box that had the focus when the window lost activation
  bool session_ending_ = false;         // told the session ends: the shortcuts are back until the next tick
  bool settings_pending_ = false;       // the settings file could not be read yet: nothing opens the lock
};

}  // namespace tolvane
