#include "platform/lazy_dll_win.h"

#include <objbase.h>

namespace tolvane {

HMODULE LoadSystemLibrary(const wchar_t* dll) {
  HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    // Windows 7 without the loader update knows no LOAD_LIBRARY_SEARCH_*.
    wchar_t path[MAX_PATH];
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n > 0 && n < MAX_PATH - 40) {
      lstrcatW(path, L"\\");
      lstrcatW(path, dll);
      module = LoadLibraryW(path);
    }
  }
  return module;
}

namespace {

using CoInitializeExFn = HRESULT WINAPI(LPVOID, DWORD);
using CoUninitializeFn = void WINAPI();
using CoCreateInstanceFn = HRESULT WINAPI(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);

template <typename Fn>
Fn* Proc(HMODULE module, const char* name) {
  return reinterpret_cast<Fn*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

FARPROC LazyProc(const wchar_t* dll, const char* name) {
  HMODULE module = LoadSystemLibrary(dll);
  return module ? GetProcAddress(module, name) : nullptr;
}

bool LoadLibrariesFromSystemOnly() {
  // Looked up, not imported: a Windows 7 without the loader update lacks it,
  // and an import would keep the program from starting there at all.
  using SetDefaultDllDirectoriesFn = BOOL WINAPI(DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  auto* set = kernel32 ? reinterpret_cast<SetDefaultDllDirectoriesFn*>(
                             reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")))
                       : nullptr;
  if (set && set(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  SetDllDirectoryW(L"");
  return false;
}

namespace {

BOOL Missing() {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return FALSE;
}

}  // namespace

BOOL QueryUserToken(ULONG session, HANDLE* token) {
  static auto* const fn = LazyFn<BOOL WINAPI(ULONG, HANDLE*)>(L"wtsapi32.dll", "WTSQueryUserToken");
  return fn ? fn(session, token) : Missing();
}

BOOL DisconnectSession(DWORD session) {
  // The first argument is WTS_CURRENT_SERVER_HANDLE, this machine.
  static auto* const fn = LazyFn<BOOL WINAPI(HANDLE, DWORD, BOOL)>(L"wtsapi32.dll", "WTSDisconnectSession");
  return fn ? fn(nullptr, session, FALSE) : Missing();
}

BOOL CreateUserEnvironment(void** environment, HANDLE token, BOOL inherit) {
  static auto* const fn = LazyFn<BOOL WINAPI(void**, HANDLE, BOOL)>(L"userenv.dll", "CreateEnvironmentBlock");
  return fn ? fn(environment, token, inherit) : Missing();
}

BOOL DestroyUserEnvironment(void* environment) {
  static auto* const fn = LazyFn<BOOL WINAPI(void*)>(L"userenv.dll", "DestroyEnvironmentBlock");
  return fn ? fn(environment) : Missing();
}

namespace {

template <typename Fn>
Fn* Comctl(const char* name) {
  return LazyFn<Fn>(L"comctl32.dll", name);
}

}  // namespace

void LoadCommonControls() {
  static const bool done = [] {
    auto* init = Comctl<BOOL WINAPI(const INITCOMMONCONTROLSEX*)>("InitCommonControlsEx");
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES};
    return init && init(&icc);
  }();
  (void)done;
}

BOOL SubclassControl(HWND hwnd, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data) {
  static auto* const fn = Comctl<BOOL WINAPI(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR)>("SetWindowSubclass");
  return fn ? fn(hwnd, proc, id, data) : FALSE;
}

BOOL RemoveSubclass(HWND hwnd, SUBCLASSPROC proc, UINT_PTR id) {
  static auto* const fn = Comctl<BOOL WINAPI(HWND, SUBCLASSPROC, UINT_PTR)>("RemoveWindowSubclass");
  return fn ? fn(hwnd, proc, id) : FALSE;
}

LRESULT CallNextSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  // Called only from procedures that SetWindowSubclass installed, so comctl32 is there.
  static auto* const fn = Comctl<LRESULT WINAPI(HWND, UINT, WPARAM, LPARAM)>("DefSubclassProc");
  return fn ? fn(hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

ScopedCom::ScopedCom(DWORD apartment) {
  ole32_ = LoadSystemLibrary(L"ole32.dll");
  if (!ole32_) return;
  auto* init = Proc<CoInitializeExFn>(ole32_, "CoInitializeEx");
  // S_FALSE (already initialised here) also needs its CoUninitialize.
  initialised_ = init && SUCCEEDED(init(nullptr, apartment));
}

ScopedCom::~ScopedCom() {
  if (initialised_) {
    if (auto* uninit = Proc<CoUninitializeFn>(ole32_, "CoUninitialize")) uninit();
  }
  if (ole32_) FreeLibrary(ole32_);
}

HRESULT ScopedCom::Create(REFCLSID clsid, REFIID iid, void** out) const {
  *out = nullptr;
  if (!initialised_) return E_FAIL;
  auto* create = Proc<CoCreateInstanceFn>(ole32_, "CoCreateInstance");
  return create ? create(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out) : E_FAIL;
}

}  // namespace tolvane
