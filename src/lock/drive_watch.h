// The lock window's drive watch: once a second it lists the removable drives,
// gives each of the first six a message line, and reports the first drive
// whose key file carries the stored cipher. The system is reached through
// DriveProbe (drive letters) and KeyFileSource (the key file on a drive); the
// lock window runs the tick on a worker thread (drives/probe_worker.h).
#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "drives/drive_list.h"
#include "drives/key_file.h"

namespace tolvane {

inline constexpr std::size_t kWatchSlots = 6;

// A key file is a small INI file. Anything beyond this is not read, so a
// huge file cannot keep the watch busy for long.
inline constexpr std::size_t kKeyFileReadLimit = 64 * 1024;

// Every line of `contents` (code page 936 bytes) that contains all the words
// of `keyword` (split at single blanks), each appended after one blank. Lines
// end at CR, LF or CR LF. Words are looked for at character boundaries only,
// so a trail byte never starts a match. When `cut_at_bound` is set the text
// stopped at the read limit: its last, unterminated line is incomplete and is
// not looked at.
std::string FindKeyword(std::string_view contents, std::string_view keyword, bool cut_at_bound = false);

// `text` without its first `count` characters (code page 936).
std::string DropLeadingChars(std::string_view text, std::size_t count);

// Reads the key file of `drive` through `source` and returns what follows
// " name=" on its name line(s) (Text4). False when the file cannot be read or
// has no name line, or when what was opened is no key file (swapped for a
// link since it was looked at). `text3`, when given, receives FindKeyword's
// result.
bool ReadKeyCipher(KeyFileSource& source, const std::wstring& drive, std::string& cipher,
                   std::string* text3 = nullptr);

// The stored cipher (Text6) against the one found on a drive (Text4), with
// trailing blanks removed from both: the settings reader trims them from the
// stored value, so a cipher that ends in a blank would otherwise never match.
// An empty cipher never matches.
bool CipherMatches(std::string_view found, std::string_view stored);

enum class SlotOutcome {
  Empty,      // no drive for this slot, or not looked at after a match
  NoKeyFile,  // " 无效哦，换个磁盘试试！"
  Mismatch,   // " 密码验证失败哦！" (also: unreadable key file, no name line)
  Match,      // " 验证成功！"
};

// "你插入的可移动磁盘 " + drive + tail; "" for Empty.
std::wstring SlotMessage(const std::wstring& drive, SlotOutcome outcome);

struct WatchSlot {
  std::wstring drive;   // Text5(i): "E:"
  std::string cipher;   // Text4(i): the cipher read from the drive's key file
  SlotOutcome outcome = SlotOutcome::Empty;
  std::wstring message; // Label1(i)
};

struct WatchTick {
  std::vector<std::wstring> list;  // List1: every removable drive with a medium
  std::array<WatchSlot, kWatchSlots> slots;
  std::wstring last_drive;  // Text1: the last drive whose key file was read
  std::string found;        // Text3: FindKeyword's result for that drive
  int matched = -1;         // the slot that released the lock, or -1
};

// The key check of one drive that the watch lists: NoKeyFile when there is
// no ordinary key file, Match when it carries `stored_cipher`, Mismatch
// otherwise (also an unreadable file or one without a name line). `cipher`
// receives what was read; `text3`, when given and the file was read,
// FindKeyword's result.
SlotOutcome CheckKeyFile(KeyFileSource& keys, const std::wstring& drive, std::string_view stored_cipher,
                         std::string& cipher, std::string* text3 = nullptr);

// One tick of the watch. Stops at the first matching slot.
WatchTick RunDriveWatch(DriveProbe& probe, const NumberFormat& nf, KeyFileSource& keys, std::string_view stored_cipher);

}  // namespace tolvane
