// INI text held as code page 936 bytes, with the behaviour of the platform's
// profile functions: case-insensitive section and key lookup, replacement in
// place, new keys at the end of their section, a 127-byte read bound, a cut at
// the first NUL, blanks trimmed, empty text for anything missing. Writing
// re-serialises the file with CRLF line ends, as the platform does.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane {

class IniText {
 public:
  IniText() = default;
  explicit IniText(std::string bytes);

  // Value of `key` in `section`, at most `buffer_size - 1` bytes (never a half
  // double-byte character is returned), or "" when anything is missing.
  std::string Get(std::string_view section, std::string_view key, std::size_t buffer_size = 128) const;

  // Sets `key` in `section` to `value` (cut at its first NUL), creating the
  // section at the end of the file and the key at the end of its section.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // The whole file as it should be written.
  std::string Serialize() const;

 private:
  std::string bytes_;
};

}  // namespace tolvane
