// INI text held as code page 936 bytes, with the behaviour of the platform's
// profile functions: case-insensitive section and key lookup (ASCII letters
// only), replacement in place, new keys at the end of their section, a 127-byte
// read bound, a cut at the first NUL, blanks trimmed, empty text for anything
// missing. A write that changes something re-serialises the whole file as the
// platform does: CRLF line ends, no blanks around '=', blank lines dropped;
// comment lines and lines without '=' are kept.
//
// Files are always taken as code page 936; the platform would also honour a
// UTF-8 or UTF-16 byte-order mark, which the program never writes.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane {

class IniText {
 public:
  IniText() = default;
  explicit IniText(std::string bytes);

  // Value of `key` in `section`, at most `buffer_size - 1` bytes, or "" when
  // anything is missing. A value wrapped in matching quotes comes without them.
  //
  // Where the bound falls inside a double-byte character the whole character
  // is left out. The platform's ANSI call does the same and leaves the
  // caller's own byte at that position, before the terminating NUL; a caller
  // that clears its buffer, as the program's reader does, gets this result.
  std::string Get(std::string_view section, std::string_view key, std::size_t buffer_size = 128) const;

  // Sets `key` in `section` to `value` (cut at its first NUL, blanks kept),
  // creating the section at the end of the file and the key at the end of its
  // section. When the key already holds that value nothing changes,
  // not even the layout of a hand-written file.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // The whole file as it should be written: the bytes given to the constructor
  // until a Set changes something.
  std::string Serialize() const;

 private:
  std::string bytes_;
};

}  // namespace tolvane
