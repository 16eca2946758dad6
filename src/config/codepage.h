// Conversion between the program's wide text and code page 936 (GBK) bytes.
// The settings and key files always hold code page 936, whatever the system's
// own ANSI code page is, so the conversion never goes through CP_ACP.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane {

// Converts text to code page 936. Returns false when a character has no code
// page 936 form; `out` is then unspecified. Never substitutes '?'.
bool ToCp936(std::wstring_view text, std::string& out);

// Converts code page 936 bytes to wide text. Invalid sequences become U+FFFD:
// a lead byte without a valid trail byte, 0xFF, and pairs the converter does
// not know (the Windows converter maps the user-defined area to private-use
// characters, the POSIX one rejects it).
std::wstring FromCp936(std::string_view bytes);

// The platform half of FromCp936: converts the whole text or fails.
bool DecodeCp936Strict(std::string_view bytes, std::wstring& out);

// Byte structure of code page 936. A trail byte can be '@'..'~' (0x40-0x7E),
// so '\', '[' and ']' may sit inside a character; anything that looks for
// those in 936 text must step over whole characters. Bytes below 0x40 (CR, LF,
// blanks, '=', quotes) never occur inside a double-byte character.
inline bool IsCp936Lead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
inline bool IsCp936Trail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Length in bytes (1 or 2) of the character that starts at `pos`. A lead byte
// without a valid trail byte after it counts as one byte on its own.
inline std::size_t Cp936CharLength(std::string_view bytes, std::size_t pos) {
  if (pos + 1 < bytes.size() && IsCp936Lead(static_cast<unsigned char>(bytes[pos])) &&
      IsCp936Trail(static_cast<unsigned char>(bytes[pos + 1]))) {
    return 2;
  }
  return 1;
}

}  // namespace tolvane
