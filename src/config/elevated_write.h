// Writing the settings file when this process lacks the right to.
//
// The settings file lives in the Windows folder, which a standard account (or
// an administrator's unelevated token) may read but not change. A write that
// the system refuses with "access denied" is handed, once, to an elevated
// instance of the program started for that one write: it receives the write
// on its command line as a request, checks it, does it and reports through its
// exit code. It shows no window and takes no part in the single-instance rule.
//
// The elevated instance trusts as little as it can: it only ever touches the
// settings file of its own environment (the request names the file the asking
// instance means, and a different one is refused, never written), only the
// section "Option", only plain key names, and values that the platform writer
// could have written itself. The request travels on the command line rather
// than in a file: nothing another program in the session could change between
// the asking and the elevated instance, and nothing left behind.
#pragma once
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/fileio.h"
#include "config/settings.h"

namespace tolvane {

enum class SettingsOp {
  Set,      // the keys, in order, over what the file holds (as WriteOptions)
  Replace,  // the file becomes the keys alone, in order
  Remove,   // the file goes
};

struct SettingsRequest {
  SettingsOp op = SettingsOp::Set;
  std::wstring path;  // the settings file the asking instance reads
  std::vector<std::pair<std::wstring, std::wstring>> values;  // section Option
  bool operator==(const SettingsRequest&) const = default;
};

// A request for this process's settings file. Values are cut as the writer
// cuts them (first NUL, 128 characters), so the request holds exactly what
// reaches the file.
SettingsRequest MakeSettingsRequest(SettingsOp op, std::span<const OptionValue> values = {});

// The argument that names the elevated write, and the request's one-argument
// form: letters and digits as they are, everything else escaped, so it needs
// no quoting on a command line and passes any argument splitter unchanged.
inline constexpr wchar_t kElevatedWriteSwitch[] = L"--elevated-write";
std::wstring EncodeSettingsRequest(const SettingsRequest& request);

// The request back, or nothing when the text is not one this program would
// send: bad escapes, an unknown operation, more keys than any write has, a key
// that is not a plain ASCII name, a value longer than the writer's buffer or
// with a line break or NUL in it, values for a removal, none for a write.
inline constexpr std::size_t kMaxRequestChars = 16 * 1024;
inline constexpr std::size_t kMaxRequestValues = 16;
inline constexpr std::size_t kMaxKeyChars = 32;
std::optional<SettingsRequest> DecodeSettingsRequest(std::wstring_view text);

// The elevated instance's exit codes. Success is a code of its own, not 0: a
// program that exits 0 without having understood the request (an older copy
// of the program would take it for a second start and quit) reports nothing.
enum ElevatedExit : int {
  kElevatedWritten = 0x7E50,
  kElevatedInvalid = 0x7E51,          // the arguments are no well-formed request
  kElevatedWrongFile = 0x7E52,        // the request names another settings file than this instance's
  kElevatedUnrepresentable = 0x7E53,  // a key or value has no code page 936 form; nothing written
  kElevatedRefused = 0x7E54,          // even the elevated instance was refused
  kElevatedFailed = 0x7E55,           // unreadable file, full disk, ...
};

// The whole of the elevated instance: `args` are the program's arguments
// after its name ({kElevatedWriteSwitch, request}). Returns the exit code.
int RunElevatedWrite(const std::vector<std::wstring>& args);

// The write with this process's own rights, to this process's settings file
// (the request's path is not used). `refused`: the system answered
// "access denied" (more rights might do it).
struct DirectWrite {
  WriteResult result = WriteResult::Ok;
  bool refused = false;
};
DirectWrite WriteDirectly(const SettingsRequest& request);

// The write as the windows do it: directly, and when that is refused, once
// more by an elevated instance. Declined when no elevated instance ran (the
// user said no to the prompt, or none could be started).
WriteResult WriteSettings(const SettingsRequest& request);

// For a write already tried directly: its error, and when that was a refusal,
// the same write by an elevated instance.
WriteResult ElevateIfRefused(FileError direct, const SettingsRequest& request);

// Starts an elevated instance with {kElevatedWriteSwitch, argument} and waits
// for it: its exit code, or nothing when none ran. The Windows build installs
// one that asks the system (see elevation_win.h); tests put a stand-in here.
// None installed: a refused write stays refused.
using SettingsElevator = std::function<std::optional<int>(const std::wstring& argument)>;
void SetSettingsElevator(SettingsElevator elevator);

}  // namespace tolvane
