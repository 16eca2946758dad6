// Settings that an older copy of the program left in the user's VirtualStore.
//
// Without an execution level in its manifest a 32-bit program's writes to the
// Windows folder from an unelevated token were quietly redirected to
// %LOCALAPPDATA%\VirtualStore\Windows\vemro.qarn, and only that user's
// programs saw them. The program now runs asInvoker without redirection and
// reads the real file only, so such a copy is found and offered for moving,
// once: a "no" is remembered, a move removes the copy.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "config/elevated_write.h"

namespace tolvane {

// The redirected twin of SettingsFilePath(): the Windows folder without its
// drive under the user's VirtualStore. Empty when LOCALAPPDATA is unset or
// the folder is no path from a root.
std::wstring VirtualStoreSettingsPath();

// Where the answer is remembered: %LOCALAPPDATA%\Tolvane\virtualstore.txt.
std::wstring MoveAnswerPath();

// The move as a settings write: the real file becomes the keys of ours that
// the copy holds, each as the program reads it there. Nothing when it holds
// none.
std::optional<SettingsRequest> MoveRequestFrom(const std::string& bytes);

// A copy with settings of ours is there and the question was not answered.
bool ShouldOfferMove();

enum class MoveOutcome {
  Moved,     // the real file holds the copy's settings; the copy is gone
  Declined,  // no elevated instance wrote it; nothing changed
  Failed,    // the copy could not be read or the real file not written
};
// Moves the copy (through an elevated instance when the folder needs one).
// A move that succeeded is remembered even when the copy stays behind.
MoveOutcome MoveVirtualStoreSettings();

// Remembers the question as answered ("no"), so it is not asked again.
void RememberMoveAnswer();

std::wstring MoveQuestion(const std::wstring& copy_path, const std::wstring& settings_path);
std::wstring MoveResultMessage(MoveOutcome outcome, const std::wstring& copy_path, const std::wstring& settings_path);

}  // namespace tolvane
