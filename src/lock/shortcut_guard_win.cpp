#include "lock/shortcut_guard_win.h"

#include <shlobj.h>

#include "platform/lazy_dll_win.h"
#include "config/fileio.h"

namespace tolvane {
namespace {

// The state file is a few lines; anything longer is not ours.
constexpr std::size_t kStateFileLimit = 4096;

// One feature's structure, its get and set actions, and where its flags are.
template <typename T>
bool ReadStruct(SystemParametersFn spi, UINT get, T& data) {
  data = {};
  data.cbSize = sizeof(T);
  return spi(get, sizeof(T), &data, 0) != FALSE;
}

template <typename T>
bool ReadFlags(SystemParametersFn spi, UINT get, std::uint32_t& flags) {
  T data;
  if (!ReadStruct(spi, get, data)) return false;
  flags = data.dwFlags;
  return true;
}

template <typename T>
bool WriteFlags(SystemParametersFn spi, UINT get, UINT set, std::uint32_t flags) {
  T data;
  if (!ReadStruct(spi, get, data)) return false;
  data.dwFlags = flags;
  // No SPIF_UPDATEINIFILE: the change lives in this session only.
  return spi(set, sizeof(T), &data, 0) != FALSE;
}

}  // namespace

bool SystemShortcutSettings::Read(Shortcut s, std::uint32_t& flags) {
  switch (s) {
    case Shortcut::StickyKeys:
      return ReadFlags<STICKYKEYS>(spi_, SPI_GETSTICKYKEYS, flags);
    case Shortcut::FilterKeys:
      return ReadFlags<FILTERKEYS>(spi_, SPI_GETFILTERKEYS, flags);
    case Shortcut::ToggleKeys:
      return ReadFlags<TOGGLEKEYS>(spi_, SPI_GETTOGGLEKEYS, flags);
    case Shortcut::HighContrast:
      return ReadFlags<HIGHCONTRASTW>(spi_, SPI_GETHIGHCONTRAST, flags);
    case Shortcut::MouseKeys:
      return ReadFlags<MOUSEKEYS>(spi_, SPI_GETMOUSEKEYS, flags);
  }
  return false;
}

bool SystemShortcutSettings::Write(Shortcut s, std::uint32_t flags) {
  switch (s) {
    case Shortcut::StickyKeys:
      return WriteFlags<STICKYKEYS>(spi_, SPI_GETSTICKYKEYS, SPI_SETSTICKYKEYS, flags);
    case Shortcut::FilterKeys:
      return WriteFlags<FILTERKEYS>(spi_, SPI_GETFILTERKEYS, SPI_SETFILTERKEYS, flags);
    case Shortcut::ToggleKeys:
      return WriteFlags<TOGGLEKEYS>(spi_, SPI_GETTOGGLEKEYS, SPI_SETTOGGLEKEYS, flags);
    case Shortcut::HighContrast:
      // The get hands back the system's own scheme name, which the set
      // passes on unchanged.
      return WriteFlags<HIGHCONTRASTW>(spi_, SPI_GETHIGHCONTRAST, SPI_SETHIGHCONTRAST, flags);
    case Shortcut::MouseKeys:
      return WriteFlags<MOUSEKEYS>(spi_, SPI_GETMOUSEKEYS, SPI_SETMOUSEKEYS, flags);
  }
  return false;
}

bool ShortcutStateFileAt::Load(std::string& text) {
  return !path_.empty() && PathExists(path_) && ReadFileBytes(path_, text, kStateFileLimit);
}

bool ShortcutStateFileAt::Save(const std::string& text) {
  if (path_.empty()) return false;
  const auto slash = path_.find_last_of(L'\\');
  if (slash != std::wstring::npos) CreateDirectoryW(path_.substr(0, slash).c_str(), nullptr);
  return ReplaceFileAtomically(path_, text) == FileError::None;
}

void ShortcutStateFileAt::Remove() {
  if (!path_.empty()) DeleteFileAt(path_);
}

std::wstring LocalStatePath(const wchar_t* name) {
  // The system sets LOCALAPPDATA for every session; the shell's own lookup,
  // loaded only when it is missing, would map shell32 at every start before
  // the lock covers the screen.
  std::wstring folder = GetEnv(L"LOCALAPPDATA");
  if (folder.empty()) {
    using GetFolder = HRESULT WINAPI(HWND, int, HANDLE, DWORD, LPWSTR);
    static GetFolder* get_folder = LazyFn<GetFolder>(L"shell32.dll", "SHGetFolderPathW");
    wchar_t path[MAX_PATH] = {};
    if (get_folder && SUCCEEDED(get_folder(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) {
      folder = path;
    }
  }
  if (folder.empty()) return {};
  return folder + L"\\Tolvane\\" + name;
}

std::wstring ShortcutStatePath() { return LocalStatePath(L"shortcuts.txt"); }

}  // namespace tolvane
