#include "lock/drive_watch.h"

#include "config/codepage.h"

#include <utility>

namespace tolvane {
namespace {

constexpr wchar_t kMessageHead[] = L"你插入的可移动磁盘 ";
constexpr wchar_t kTailNoKeyFile[] = L" 无效哦，换个磁盘试试！";
constexpr wchar_t kTailMismatch[] = L" 密码验证失败哦！";
constexpr wchar_t kTailMatch[] = L" 验证成功！";
constexpr char kNameKeyword[] = "name=";

std::vector<std::string_view> SplitWords(std::string_view keyword) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  for (;;) {
    const std::size_t blank = keyword.find(' ', start);
    words.push_back(keyword.substr(start, blank == std::string_view::npos ? std::string_view::npos : blank - start));
    if (blank == std::string_view::npos) return words;
    start = blank + 1;
  }
}

// `word` in `line`, starting at a character boundary.
bool ContainsWord(std::string_view line, std::string_view word) {
  if (word.empty()) return true;
  for (std::size_t pos = 0; pos + word.size() <= line.size(); pos += Cp936CharLength(line, pos)) {
    if (line.compare(pos, word.size(), word) == 0) return true;
  }
  return false;
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

std::string FindKeyword(std::string_view contents, std::string_view keyword, bool cut_at_bound) {
  const std::vector<std::string_view> words = SplitWords(keyword);
  std::string found;
  std::size_t pos = 0;
  while (pos < contents.size()) {
    // CR and LF never occur inside a double-byte character, so a byte search
    // for them is safe.
    const std::size_t end = contents.find_first_of("\r\n", pos);
    if (end == std::string_view::npos && cut_at_bound) break;
    const std::string_view line = contents.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    bool all = true;
    for (const auto& w : words) {
      if (!ContainsWord(line, w)) {
        all = false;
        break;
      }
    }
    if (all) {
      found += ' ';
      found.append(line);
    }
    if (end == std::string_view::npos) break;
    pos = end + 1;
    if (contents[end] == '\r' && pos < contents.size() && contents[pos] == '\n') ++pos;
  }
  return found;
}

std::string DropLeadingChars(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < count && pos < text.size(); ++i) pos += Cp936CharLength(text, pos);
  return std::string(text.substr(pos));
}

bool ReadKeyCipher(KeyFileSource& source, const std::wstring& drive, std::string& cipher, std::string* text3) {
  cipher.clear();
  if (text3) text3->clear();
  std::string bytes;
  // One byte more than the bound tells a file that ends at the bound from one
  // that goes on past it.
  std::uint32_t attributes = 0;
  if (!source.Read(drive, attributes, bytes, kKeyFileReadLimit + 1) || !IsKeyFileAttributes(attributes)) return false;
  const bool cut = bytes.size() > kKeyFileReadLimit;
  if (cut) bytes.resize(kKeyFileReadLimit);
  const std::string found = FindKeyword(bytes, kNameKeyword, cut);
  if (text3) *text3 = found;
  if (found.empty()) return false;
  // Text3 reads " name=<cipher>": the blank and the five characters of the keyword go.
  cipher = DropLeadingChars(found, 6);
  return true;
}

bool CipherMatches(std::string_view found, std::string_view stored) {
  found = TrimTrailingBlanks(found);
  stored = TrimTrailingBlanks(stored);
  return !stored.empty() && found == stored;
}

std::wstring SlotMessage(const std::wstring& drive, SlotOutcome outcome) {
  const wchar_t* tail = nullptr;
  switch (outcome) {
    case SlotOutcome::Empty:
      return {};
    case SlotOutcome::NoKeyFile:
      tail = kTailNoKeyFile;
      break;
    case SlotOutcome::Mismatch:
      tail = kTailMismatch;
      break;
    case SlotOutcome::Match:
      tail = kTailMatch;
      break;
  }
  return kMessageHead + drive + tail;
}

SlotOutcome CheckKeyFile(KeyFileSource& keys, const std::wstring& drive, std::string_view stored_cipher,
                         std::string& cipher, std::string* text3) {
  cipher.clear();
  std::uint32_t attributes = 0;
  if (!keys.Attributes(drive, attributes) || !IsKeyFileAttributes(attributes)) return SlotOutcome::NoKeyFile;
  // An unreadable key file (drive pulled between the two looks) or one
  // without a name line is a failed check: the lock stays.
  const bool read = ReadKeyCipher(keys, drive, cipher, text3);
  return read && CipherMatches(cipher, stored_cipher) ? SlotOutcome::Match : SlotOutcome::Mismatch;
}

WatchTick RunDriveWatch(DriveProbe& probe, const NumberFormat& nf, KeyFileSource& keys, std::string_view stored_cipher) {
  WatchTick tick;
  tick.list = ScanRemovableDrives(probe, nf);
  for (std::size_t i = 0; i < kWatchSlots && i < tick.list.size(); ++i) {
    WatchSlot& slot = tick.slots[i];
    slot.drive = DriveOfEntry(tick.list[i]);
    std::string found;
    slot.outcome = CheckKeyFile(keys, slot.drive, stored_cipher, slot.cipher, &found);
    if (slot.outcome != SlotOutcome::NoKeyFile) {
      tick.last_drive = slot.drive;
      tick.found = std::move(found);
    }
    slot.message = SlotMessage(slot.drive, slot.outcome);
    if (slot.outcome == SlotOutcome::Match) {
      tick.matched = static_cast<int>(i);
      break;
    }
  }
  return tick;
}

}  // namespace tolvane
