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
#include <ctime>
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

namespace {

FileError ErrorOf(int code) {
  return (code == EROFS || code == EACCES || code == EPERM) ? FileError::Refused : FileError::Failed;
}

// Mirrors the Windows twin: temporary files of this target left by a crash
// are removed, read-only or not.
void RemoveStaleTemporaries(const std::string& target) {
  const std::filesystem::path p(target);
  const std::filesystem::path folder = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
  const std::wstring target_name = p.filename().wstring();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    if (!IsTemporaryNameOf(entry.path().filename().wstring(), target_name)) continue;
    if (InjectedFault(FileStep::Delete, entry.path().wstring()) != FileError::None) continue;
    ::unlink(entry.path().c_str());
  }
}

}  // namespace

FileError ReplaceFileAtomically(const std::wstring& path, std::string_view bytes) {
  const std::string target = NativePath(path);
  RemoveStaleTemporaries(target);
  static unsigned long counter = 0;
  const unsigned long seed = (static_cast<unsigned long>(::getpid()) << 16) ^ static_cast<unsigned long>(::time(nullptr));
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    const std::wstring wtemp = TemporaryNameFor(path, seed + (++counter) * 0x9E3779B1ul);
    temp = NativePath(wtemp);
    const FileError injected = InjectedFault(FileStep::Create, wtemp);
    if (injected != FileError::None) return injected;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) return ErrorOf(errno);
  }
  if (fd < 0) return FileError::Failed;
  const std::wstring wtemp = std::filesystem::path(temp).wstring();
  FileError result = InjectedFault(FileStep::Write, wtemp);
  if (result == FileError::None && !WriteAll(fd, bytes)) result = ErrorOf(errno);
  if (result == FileError::None) result = InjectedFault(FileStep::Flush, wtemp);
  if (result == FileError::None && ::fsync(fd) != 0) result = ErrorOf(errno);
  if (::close(fd) != 0 && result == FileError::None) result = FileError::Failed;
  if (result == FileError::None) result = InjectedFault(FileStep::Rename, path);
  if (result == FileError::None && std::rename(temp.c_str(), target.c_str()) != 0) result = ErrorOf(errno);
  if (result != FileError::None) ::unlink(temp.c_str());
  return result;
}

bool IsOrdinaryFile(const std::wstring& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const std::wstring& path) {
  struct stat st {};
  return ::lstat(NativePath(path).c_str(), &st) == 0;
}

bool PathMissing(const std::wstring& path) {
  struct stat st {};
  return ::lstat(NativePath(path).c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool IsReadOnlyFile(const std::wstring& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

bool DeleteFileAt(const std::wstring& path) { return RemoveFile(path) == FileError::None; }

FileError RemoveFile(const std::wstring& path) {
  const FileError injected = InjectedFault(FileStep::Delete, path);
  if (injected != FileError::None) return PathExists(path) ? injected : FileError::None;
  if (::unlink(NativePath(path).c_str()) == 0) return FileError::None;
  const int error = errno;
  return PathExists(path) ? ErrorOf(error) : FileError::None;
}

bool CreateFolder(const std::wstring& path) {
  ::mkdir(NativePath(path).c_str(), 0755);
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::wstring GetEnv(const wchar_t* name) {
  const char* value = std::getenv(std::filesystem::path(name).string().c_str());
  if (!value) return {};
  return std::filesystem::path(value).wstring();
}

// The native build has no Windows folder: a folder under /dev/null, where
// nothing can ever be made, so a test that forgot to name a folder of its own
// finds no settings and cannot write any.
std::wstring SystemWindowsFolder() { return L"/dev/null/windows"; }

}  // namespace tolvane
