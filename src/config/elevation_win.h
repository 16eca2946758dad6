// The Windows half of the elevated settings write (see elevated_write.h):
// starting the elevated instance, and telling beforehand whether a save will
// need one, so that the buttons that save can carry the shield.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace tolvane {

// Runs `exe` with {kElevatedWriteSwitch, argument} through the shell's verb
// `verb` ("runas": the system's elevation prompt) and waits for it to end.
// Its exit code, or nothing when it did not run (the user said no, or it
// could not be started). The prompt belongs to the active window of this
// thread, or to no window.
std::optional<int> RunElevatedInstance(const std::wstring& exe, const std::wstring& argument,
                                       const wchar_t* verb = L"runas");

// Installs the elevator that starts this very program elevated for a write
// the process was refused.
void InstallSettingsElevator();

// False when this process may not replace (or create, or delete) the settings
// file: the folder will not let it add a file, or an existing file will not
// let it write or delete. Decided by opening the folder and the file for
// those rights and closing them again: nothing is created, changed or
// touched. A read-only file counts as writable here, since no rights help
// with that, and so does anything that is not a question of rights.
bool CanWriteSettingsFile();

}  // namespace tolvane
