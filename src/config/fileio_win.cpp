#include <windows.h>

#include <algorithm>
#include <string>

#include "config/file_handle_win.h"
#include "config/fileio.h"

namespace tolvane {

namespace {

constexpr DWORD kChunk = 64 * 1024;

bool WriteAll(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kChunk));
    DWORD written = 0;
    if (!WriteFile(h, bytes.data(), want, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool ReadUpTo(HANDLE file, std::string& out, std::size_t limit) {
  char chunk[kChunk];
  while (out.size() < limit) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(kChunk, limit - out.size()));
    DWORD got = 0;
    if (!ReadFile(file, chunk, want, &got, nullptr)) return false;
    if (got == 0) break;
    out.append(chunk, got);
  }
  return true;
}

bool ReadFileBytes(const std::wstring& path, std::string& out, std::size_t limit) {
  out.clear();
  // Others may read, write or delete meanwhile: the program never holds a
  // file open beyond one call, and neither should it block anyone else.
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid() && ReadUpTo(file.get(), out, limit);
}

namespace {

FileError ErrorOf(DWORD code) {
  // A write-protect switch or a read-only medium; "access denied" is also how
  // Wine reports a file system mounted read-only.
  return (code == ERROR_WRITE_PROTECT || code == ERROR_ACCESS_DENIED) ? FileError::Refused : FileError::Failed;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Temporary files of this target that an earlier run left behind when it
// died between creating and renaming them. Read-only ones too: a stale file
// must never stand in the way of a save. Failures are of no consequence: the
// next write picks another name.
void RemoveStaleTemporaries(const std::wstring& path) {
  const std::wstring folder = FolderOf(path);
  const std::wstring target_name = path.substr(folder.size());
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L".*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    if (!IsTemporaryNameOf(found.cFileName, target_name)) continue;
    const std::wstring stale = folder + found.cFileName;
    if (InjectedFault(FileStep::Delete, stale) != FileError::None) continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(stale.c_str(), found.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    DeleteFileW(stale.c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// A new temporary file beside `path` under a name nobody else holds:
// CREATE_NEW never opens an existing file, so a name in use, by a stale file
// or another writer, just moves on to the next one.
HANDLE CreateTemporary(const std::wstring& path, std::wstring& temp, DWORD& error) {
  static unsigned long counter = 0;
  const unsigned long seed = (GetCurrentProcessId() << 16) ^ GetTickCount();
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp = TemporaryNameFor(path, seed + (++counter) * 0x9E3779B1ul);
    const FileError injected = InjectedFault(FileStep::Create, temp);
    if (injected != FileError::None) {
      error = injected == FileError::Refused ? ERROR_WRITE_PROTECT : ERROR_WRITE_FAULT;
      return INVALID_HANDLE_VALUE;
    }
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

FileError ReplaceFileAtomically(const std::wstring& path, std::string_view bytes) {
  RemoveStaleTemporaries(path);
  std::wstring temp;
  DWORD error = 0;
  FileError result = FileError::None;
  {
    Handle file(CreateTemporary(path, temp, error));
    if (!file.valid()) return ErrorOf(error);
    result = InjectedFault(FileStep::Write, temp);
    if (result == FileError::None && !WriteAll(file.get(), bytes)) result = ErrorOf(GetLastError());
    // Flushed before the rename so that the name never points at a file whose
    // data is still in the cache when the power goes.
    if (result == FileError::None) result = InjectedFault(FileStep::Flush, temp);
    if (result == FileError::None && !FlushFileBuffers(file.get())) result = ErrorOf(GetLastError());
    if (!file.Close() && result == FileError::None) result = FileError::Failed;
  }
  if (result == FileError::None) result = InjectedFault(FileStep::Rename, path);
  if (result == FileError::None &&
      !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    result = ErrorOf(GetLastError());
  }
  // Removing our own temporary file is cleanup on a path that already
  // failed; the seam injects one failure at a time and does not count it.
  if (result != FileError::None) DeleteFileW(temp.c_str());
  return result;
}

bool IsOrdinaryFile(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  return (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool PathMissing(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsReadOnlyFile(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attrs & FILE_ATTRIBUTE_READONLY) != 0;
}

bool DeleteFileAt(const std::wstring& path) { return RemoveFile(path) == FileError::None; }

FileError RemoveFile(const std::wstring& path) {
  const FileError injected = InjectedFault(FileStep::Delete, path);
  if (injected != FileError::None) return PathExists(path) ? injected : FileError::None;
  if (DeleteFileW(path.c_str())) return FileError::None;
  const DWORD error = GetLastError();
  return PathExists(path) ? ErrorOf(error) : FileError::None;
}

bool CreateFolder(const std::wstring& path) {
  CreateDirectoryW(path.c_str(), nullptr);
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring GetEnv(const wchar_t* name) {
  // The process environment block, not the CRT's copy: what the parent gave
  // us, so nothing that decides what the lock trusts comes from here.
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return {};
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // n includes the terminating NUL here
  }
}

std::wstring SystemWindowsFolder() {
  // The system's folder (not the per-session one that Terminal Server gives
  // GetWindowsDirectoryW), and never %windir%: any parent sets that.
  std::wstring folder(MAX_PATH, L'\0');
  for (;;) {
    const UINT n = GetSystemWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    if (n == 0) return {};
    if (n < folder.size()) {
      folder.resize(n);
      break;
    }
    folder.resize(n);  // n includes the terminating NUL here
  }
  // "C:\" at a drive's root: the file name brings its own separator.
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

}  // namespace tolvane
