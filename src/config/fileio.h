// The few file-system services the portable core needs. Implemented by
// fileio_win.cpp (Windows) and fileio_posix.cpp (native test build). Paths are
// Windows paths; the POSIX twin reads '\' as '/'.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane {

// Reads at most `limit` bytes of the file. False when it cannot be opened/read.
bool ReadFileBytes(const std::wstring& path, std::string& out, std::size_t limit = static_cast<std::size_t>(-1));

// Replaces the file's content with `bytes` so that a crash leaves either the
// old file or the new one, never a half-written file: writes a temporary file
// beside it, flushes it and renames it over the target.
bool ReplaceFileAtomically(const std::wstring& path, std::string_view bytes);

// True for an existing ordinary file: not a directory, not hidden, not system.
bool IsOrdinaryFile(const std::wstring& path);

// True when something exists at the path (any attributes).
bool PathExists(const std::wstring& path);

// Deletes the file; true when it is gone afterwards.
bool DeleteFileAt(const std::wstring& path);

// Value of an environment variable, empty when unset.
std::wstring GetEnv(const wchar_t* name);

}  // namespace tolvane
