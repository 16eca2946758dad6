// The few file-system services the portable core needs. Implemented by
// fileio_win.cpp (Windows) and fileio_posix.cpp (native test build). Paths are
// Windows paths; the POSIX twin reads '\' as '/'.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tolvane {

// How a change to the file system failed. Refused is what a write-protected
// or read-only medium answers (the user can do something about it: flip the
// switch, take another drive); everything else is Failed.
enum class FileError { None, Refused, Failed };

// Reads at most `limit` bytes of the file. False when it cannot be opened/read.
bool ReadFileBytes(const std::wstring& path, std::string& out, std::size_t limit = static_cast<std::size_t>(-1));

// Replaces the file's content with `bytes` so that a crash leaves either the
// old file or the new one, never a half-written file: writes a temporary file
// of a name no other write uses beside it, flushes it and renames it over the
// target in one step. On failure the target is untouched and the temporary
// file is gone. Temporary files of this target left by an earlier crash are
// removed first.
FileError ReplaceFileAtomically(const std::wstring& path, std::string_view bytes);

// True for an existing ordinary file: not a directory, not hidden, not system.
bool IsOrdinaryFile(const std::wstring& path);

// True when something exists at the path (any attributes).
bool PathExists(const std::wstring& path);

// True only when the system says there is nothing at the path (no such file
// or folder). A path it cannot look at (access denied, a sharing violation,
// a failing device) is not missing: it may well hold a file.
bool PathMissing(const std::wstring& path);

// True for an existing file marked read-only.
bool IsReadOnlyFile(const std::wstring& path);

// Deletes the file; true when it is gone afterwards.
bool DeleteFileAt(const std::wstring& path);

// As DeleteFileAt, and how it failed: None when the file is gone afterwards,
// Refused when the system denied the right to delete it.
FileError RemoveFile(const std::wstring& path);

// Creates the folder (not its parents); true when it exists afterwards.
bool CreateFolder(const std::wstring& path);

// Value of an environment variable, empty when unset.
std::wstring GetEnv(const wchar_t* name);

// The system's Windows folder, as the system reports it whatever the
// environment says; no trailing separator.
std::wstring SystemWindowsFolder();

// Test seam under the functions above. Each step that changes the file
// system asks the hook first; an answer other than None makes that step fail
// as if the system had failed it. No hook: nothing is injected.
enum class FileStep { Create, Write, Flush, Rename, Delete };
using FileFaultHook = std::function<FileError(FileStep step, const std::wstring& path)>;
void SetFileFaultHook(FileFaultHook hook);
FileError InjectedFault(FileStep step, const std::wstring& path);

// The temporary name of the `attempt`-th try to replace `path`, and whether a
// file name (no folder) is one of those names for the target named
// `target_name`: "<target_name>.<8 hex digits>.tmp".
std::wstring TemporaryNameFor(const std::wstring& path, unsigned long token);
bool IsTemporaryNameOf(std::wstring_view file_name, std::wstring_view target_name);

}  // namespace tolvane
