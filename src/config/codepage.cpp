#include "config/codepage.h"

namespace tolvane {

namespace {

// A lead byte without its trail, and 0xFF, are never characters of their own.
// The Windows converter still maps some of them (0xFF to a private-use
// character); refusing them here keeps both builds' results the same.
bool HasLoneHighByte(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t len = Cp936CharLength(bytes, i);
    if (len == 1 && static_cast<unsigned char>(bytes[i]) > 0x80) return true;
    i += len;
  }
  return false;
}

}  // namespace

std::wstring FromCp936(std::string_view bytes) {
  std::wstring out;
  if (!HasLoneHighByte(bytes) && DecodeCp936Strict(bytes, out)) return out;
  // Something is invalid: one bad character costs one replacement character
  // and the text around it survives.
  out.clear();
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t len = Cp936CharLength(bytes, i);
    const std::string_view unit = bytes.substr(i, len);
    std::wstring one;
    if (!HasLoneHighByte(unit) && DecodeCp936Strict(unit, one) && one.size() == 1) {
      out += one;
    } else {
      out += L'\uFFFD';
    }
    i += len;
  }
  return out;
}

}  // namespace tolvane
