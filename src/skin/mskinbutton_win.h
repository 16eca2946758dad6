// The skin-button engine: restyles the program's forms, their push buttons
// and framed controls, and the message boxes and common dialogs opened from
// them, by replacing their window procedures. All state lives in window
// properties on the windows themselves; everything is undone on WM_DESTROY.
//
// A form calls SkinWindow(hwnd) once its child controls exist (at the start of
// its load), and again after adding controls later. Nothing else is needed:
// dialogs and other forms that take part in an activation change with a
// skinned form are picked up by FormWndProc. UI thread only.
#pragma once
#include <windows.h>

#include <string>

namespace tolvane::skin {

// Entry routine. Builds the shared face template on first use, whatever the
// window. A button is skinned; a form or dialog gets all its descendants
// skinned (buttons) or bordered (anything else) and is subclassed itself.
// Non-zero when hwnd itself was newly subclassed; callers may ignore it.
int SkinWindow(HWND hwnd);

// Puts the system's elevation shield on a push button (`on`) or takes it off:
// the button's own (BCM_SETSHIELD) while it is plain, drawn into the faces
// once it is skinned, since an owner-drawn button draws no shield of its own.
// Kept across the skinning.
void SetShield(HWND button, bool on);

// The parts below are the engine's own; they are declared here for tests and
// tools. Each Skin* returns 1 when it subclassed the window and 0 when the
// window already was; each Unskin* returns 1 when undone, 0 when not skinned.
BOOL CALLBACK EnumChildProc(HWND hwnd, LPARAM lParam);
int SkinForm(HWND hwnd);
int UnskinForm(HWND hwnd);
LRESULT CALLBACK FormWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
int SkinBorder(HWND hwnd);
int UnskinBorder(HWND hwnd);
LRESULT CALLBACK BorderWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
int SkinButton(HWND hwnd);
int UnskinButton(HWND hwnd);
LRESULT CALLBACK ButtonWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

void BuildTemplate();
// Deletes the template once no skinned button and no skinned form is left.
void ReleaseTemplate();
// Composes the four state surfaces of a skinned button from the template.
void PaintFaces(HWND hwnd);
void StartFade(HWND hwnd);
void StopFade(HWND hwnd);
void TrackMouseLeave(HWND hwnd);

bool ExportExists(const char* function, const wchar_t* library);
std::wstring WindowClassName(HWND hwnd);
void FrameBox(HDC dc, int left, int top, int width, int height, COLORREF colour);

struct EngineState {
  bool ready;
  bool userTrackMouse;
  HDC templateDc;
  HBITMAP templateBitmap;
  int buttonCount;
  int formCount;
};
EngineState CurrentEngineState();

}  // namespace tolvane::skin
