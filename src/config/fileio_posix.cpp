// POSIX twin of the file services for the native test build. Paths arrive in
// Windows form; '\' is read as '/'. POSIX has no hidden or system attribute,
// so an existing regular file is always ordinary.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/fileio.h"

namespace tolvane {

namespace {

std::string NativePath(const std::wstring& path) {
  std::wstring p = path;
  for (wchar_t& c : p) {
    if (c == L'\\') c = L'/';
  }
  return std::filesystem::path(p).string();
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool ReadFileBytes(const std::wstring& path, std::string& out, std::size_t limit) {
  out.clear();
  std::FILE* f = std::fopen(NativePath(path).c_str(), "rb");
  if (!f) return false;
  char chunk[65536];
  bool ok = true;
  while (out.size() < limit) {
    const std::size_t want = std::min(sizeof chunk, limit - out.size());
    const std::size_t got = std::fread(chunk, 1, want, f);
    out.append(chunk, got);
    if (got < want) {
      ok = !std::ferror(f);
      break;
    }
  }
  std::fclose(f);
  return ok;
}

bool ReplaceFileAtomically(const std::wstring& path, std::string_view bytes) {
  const std::string target = NativePath(path);
  const std::string temp = target + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool IsOrdinaryFile(const std::wstring& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const std::wstring& path) {
  struct stat st {};
  return ::lstat(NativePath(path).c_str(), &st) == 0;
}

bool DeleteFileAt(const std::wstring& path) {
  ::unlink(NativePath(path).c_str());
  return !PathExists(path);
}

std::wstring GetEnv(const wchar_t* name) {
  const char* value = std::getenv(std::filesystem::path(name).string().c_str());
  if (!value) return {};
  return std::filesystem::path(value).wstring();
}

}  // namespace tolvane
