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

bool ReplaceFileAtomically(const std::wstring& path, std::string_view bytes) {
  const std::wstring temp = path + L".tmp";
  bool ok = false;
  {
    Handle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    // Flushed before the rename so that the name never points at a file whose
    // data is still in the cache when the power goes.
    ok = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
    ok = file.Close() && ok;
  }
  ok = ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(temp.c_str());
  return ok;
}

bool IsOrdinaryFile(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  return (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool DeleteFileAt(const std::wstring& path) {
  DeleteFileW(path.c_str());
  return !PathExists(path);
}

std::wstring GetEnv(const wchar_t* name) {
  // The process environment block, not the CRT's copy and not the system's
  // idea of the Windows directory: "windir" is whatever the parent gave us.
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

}  // namespace tolvane
