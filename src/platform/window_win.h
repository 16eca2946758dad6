// A small base for the program's windows: the C++ object lives in
// GWLP_USERDATA from WM_NCCREATE on, and each message goes to the object's
// HandleMessage. Forms derive from it and name their handlers after the
// events they implement.
#pragma once
#include <windows.h>

#include <string>

namespace tolvane {

// Where windows come from: CreateWindowExW, or a stand-in under test that
// refuses some (a desktop whose heap is exhausted does).
class WindowFactory {
 public:
  virtual ~WindowFactory() = default;
  virtual HWND Create(DWORD ex_style, const wchar_t* class_name, const wchar_t* title, DWORD style, int x, int y,
                      int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
};
WindowFactory& SystemWindows();

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window() = default;

  HWND hwnd() const { return hwnd_; }

 protected:
  // Registers a window class whose procedure forwards to HandleMessage.
  static bool RegisterFormClass(const wchar_t* class_name, HICON icon, UINT style = CS_DBLCLKS);
  HWND CreateFormWindow(DWORD ex_style, const wchar_t* class_name, const wchar_t* title, DWORD style, int x, int y,
                        int width, int height, HWND owner, WindowFactory& windows = SystemWindows());

  virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  // Called after WM_NCDESTROY, when the handle is gone.
  virtual void OnFinalDestroy() {}

  HWND hwnd_ = nullptr;

 private:
  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};

// Creates a child control with the program's dialog font.
HWND CreateControl(HWND parent, const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y, int width,
                   int height, int id, DWORD ex_style = 0);

// A font of `points` at the screen's resolution. The caller owns it. Windows
// laid out per monitor use MakeFontForDpi (dpi_win.h) instead.
HFONT MakeFont(const std::wstring& face, double points, bool bold, bool italic, bool underline, bool strike,
               BYTE charset);

// The user-interface font of the program's forms (宋体 9 pt) at the screen's
// resolution; UiFontForDpi (dpi_win.h) at a window's.
HFONT UiFont();

// The top-left corner that centres a window of this size on the work area.
POINT CentredOnWorkArea(int width, int height);

// The full path of the running program's exe; empty if the system won't say.
std::wstring ProgramPath();

// The folder of the running program, without a trailing backslash.
std::wstring ProgramFolder();

// Text of a window or control.
std::wstring GetText(HWND hwnd);

}  // namespace tolvane
