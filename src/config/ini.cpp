#include "config/ini.h"

#include <optional>
#include <utility>
#include <vector>

#include "config/codepage.h"

namespace tolvane {

namespace {

// The profile functions trim tab, LF, VT, FF, CR, space and ^Z (a DOS
// end-of-file mark found on old media) from lines, names and values. All are
// below 0x40, so none of them can be the trail byte of a double-byte
// character and testing single bytes is safe. The ideographic space (A1 A1)
// is not trimmed.
bool IsProfileSpace(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 0x09 && b <= 0x0D) || b == 0x20 || b == 0x1A;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsProfileSpace(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsProfileSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

// Names and values end at an embedded NUL: the platform keeps them as C
// strings, so whatever follows the NUL is neither matched nor written back.
std::string_view CutAtNul(std::string_view s) { return s.substr(0, s.find('\0')); }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive for ASCII letters only, like the platform. Walks whole
// characters: a trail byte such as 0x41 is not the letter 'A', and folding it
// would make two different Chinese characters compare equal.
bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size();) {
    const std::size_t len = Cp936CharLength(a, i);
    if (len != Cp936CharLength(b, i)) return false;
    if (len == 1) {
      if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    } else if (a.substr(i, 2) != b.substr(i, 2)) {
      return false;
    }
    i += len;
  }
  return true;
}

// Position of the last ']' that is a character of its own, not the trail
// byte of a double-byte character. The platform takes the section name up to
// the last ']' on the header line.
std::size_t LastClosingBracket(std::string_view line) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < line.size();) {
    const std::size_t len = Cp936CharLength(line, i);
    if (len == 1 && line[i] == ']') found = i;
    i += len;
  }
  return found;
}

struct Entry {
  std::string name;
  std::optional<std::string> value;  // none for a line without '='
};

struct Section {
  std::string name;  // empty for the lines above the first header
  std::vector<Entry> entries;
};

// The platform's view of the file: blank lines vanish, comment lines and
// lines without '=' are entries like any other, a line that starts with '['
// but has no ']' is an entry too. A line with an empty name directly after
// another one with an empty name is dropped, as the platform drops it.
std::vector<Section> Parse(std::string_view bytes) {
  std::vector<Section> sections(1);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = Trim(bytes.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;

    if (line.front() == '[') {
      const std::size_t close = LastClosingBracket(line);
      if (close != std::string_view::npos) {
        sections.push_back({std::string(CutAtNul(Trim(line.substr(1, close - 1)))), {}});
        continue;
      }
    }

    Entry entry;
    const std::size_t eq = line.find('=');  // '=' is never a trail byte
    if (eq == std::string_view::npos) {
      entry.name = CutAtNul(line);
    } else {
      entry.name = CutAtNul(TrimRight(line.substr(0, eq)));
      entry.value = std::string(CutAtNul(TrimLeft(line.substr(eq + 1))));
    }
    std::vector<Entry>& entries = sections.back().entries;
    if (entry.name.empty() && !entries.empty() && entries.back().name.empty()) continue;
    entries.push_back(std::move(entry));
  }
  return sections;
}

std::string Render(const std::vector<Section>& sections) {
  std::string out;
  for (const Section& section : sections) {
    if (!section.name.empty()) {
      out += '[';
      out += section.name;
      out += "]\r\n";
    }
    for (const Entry& entry : section.entries) {
      out += entry.name;
      if (entry.value) {
        out += '=';
        out += *entry.value;
      }
      out += "\r\n";
    }
  }
  return out;
}

// Only the first section of a name counts, and only its keys: a key that
// appears in a later section of the same name is invisible. The empty name
// finds the lines above the first header, which always come first.
Section* FindSection(std::vector<Section>& sections, std::string_view name) {
  for (Section& section : sections) {
    if (NamesEqual(section.name, name)) return &section;
  }
  return nullptr;
}

Entry* FindEntry(Section& section, std::string_view name) {
  for (Entry& entry : section.entries) {
    if (NamesEqual(entry.name, name)) return &entry;
  }
  return nullptr;
}

// A value wrapped in a matching pair of quotes is returned without them.
std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// The longest run of whole characters that fits in `limit` bytes.
std::string_view CutToWholeChars(std::string_view v, std::size_t limit) {
  std::size_t end = 0;
  while (end < v.size()) {
    const std::size_t len = Cp936CharLength(v, end);
    if (end + len > limit) break;
    end += len;
  }
  return v.substr(0, end);
}

}  // namespace

IniText::IniText(std::string bytes) : bytes_(std::move(bytes)) {}

std::string IniText::Get(std::string_view section, std::string_view key, std::size_t buffer_size) const {
  section = CutAtNul(section);
  key = CutAtNul(key);
  // An empty key asks for nothing; a key of blanks still finds a line that
  // starts with '=', as it does on the platform.
  if (key.empty() || buffer_size == 0) return {};
  std::vector<Section> sections = Parse(bytes_);
  Section* found_section = FindSection(sections, Trim(section));
  if (!found_section) return {};
  const Entry* entry = FindEntry(*found_section, Trim(key));
  if (!entry || !entry->value) return {};
  return std::string(CutToWholeChars(StripQuotes(*entry->value), buffer_size - 1));
}

void IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  // The platform receives C strings: everything ends at the first NUL.
  section = CutAtNul(section);
  key = CutAtNul(key);
  // Stored as given, blanks at either end included, as the platform's writer
  // on Windows stores it (Wine's drops leading blanks). Readers trim them
  // anyway; the value must not change on its way into the file.
  const std::string_view new_value = CutAtNul(value);

  std::vector<Section> sections = Parse(bytes_);
  Section* target = FindSection(sections, Trim(section));
  if (!target) {
    // A created section or key keeps its trailing blanks, as the platform's does.
    sections.push_back({std::string(TrimLeft(section)), {}});
    target = &sections.back();
  }
  Entry* entry = FindEntry(*target, Trim(key));
  if (!entry) {
    target->entries.push_back({std::string(TrimLeft(key)), std::nullopt});
    entry = &target->entries.back();
  } else if (entry->value && *entry->value == new_value) {
    return;  // unchanged: the platform leaves the file exactly as it was
  }
  entry->value = std::string(new_value);
  bytes_ = Render(sections);
}

std::string IniText::Serialize() const { return bytes_; }

}  // namespace tolvane
