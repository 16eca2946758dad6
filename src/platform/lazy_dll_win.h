// Libraries the lock never needs (the common dialogs of the appearance
// editor, COM for the browser launch and the picture decoder) are loaded on
// first use instead of at start: every statically imported DLL is mapped,
// initialised and kept in the working set before the first window can cover
// the screen.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

namespace tolvane {

// Loads a library from the system folder only: a DLL of the same name beside
// the program (on a USB stick, say) must never be picked up instead. Adds one
// reference, which the caller releases with FreeLibrary.
HMODULE LoadSystemLibrary(const wchar_t* dll);

// The address of `name` in the system library `dll`, which is loaded and kept
// for the rest of the run; nullptr when either is missing. Each call adds a
// reference: call it once per function and keep the result.
FARPROC LazyProc(const wchar_t* dll, const char* name);

template <typename Fn>
Fn* LazyFn(const wchar_t* dll, const char* name) {
  return reinterpret_cast<Fn*>(reinterpret_cast<void*>(LazyProc(dll, name)));
}

// For a process that runs with rights its caller lacks (the guardian service,
// the elevated settings write): every later LoadLibrary, also one made inside
// a system DLL, searches the system folder only, never the program's own
// folder or the current one. Call it first thing. False on a Windows 7
// without the loader update, where only the current folder is left out.
bool LoadLibrariesFromSystemOnly();

// The guardian service's session calls (wtsapi32, userenv), loaded from the
// system folder at first use: a static import is loaded before the first
// line runs, from beside the exe first. FALSE with ERROR_PROC_NOT_FOUND
// when the library or the function is missing.
BOOL QueryUserToken(ULONG session, HANDLE* token);
BOOL DisconnectSession(DWORD session);
BOOL CreateUserEnvironment(void** environment, HANDLE token, BOOL inherit);
BOOL DestroyUserEnvironment(void* environment);

// comctl32 (the themed common controls and window subclassing) on first
// use: mapping and starting it is the largest part of the program's start
// that a bare window does not have, and the lock covers the screen without it.
// LoadCommonControls: before the first control of a window is made.
void LoadCommonControls();
BOOL SubclassControl(HWND hwnd, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data);
BOOL RemoveSubclass(HWND hwnd, SUBCLASSPROC proc, UINT_PTR id);
LRESULT CallNextSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// COM on the calling thread for as long as the object lives, with ole32
// loaded for it alone. When the last user goes, ole32 is released again and
// with it the in-process servers COM loaded (the picture decoder).
class ScopedCom {
 public:
  explicit ScopedCom(DWORD apartment = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ~ScopedCom();
  ScopedCom(const ScopedCom&) = delete;
  ScopedCom& operator=(const ScopedCom&) = delete;

  bool ok() const { return initialised_; }
  // CoCreateInstance of an in-process server; E_FAIL when COM is not up.
  HRESULT Create(REFCLSID clsid, REFIID iid, void** out) const;

 private:
  HMODULE ole32_ = nullptr;
  bool initialised_ = false;
};

}  // namespace tolvane
