// Password digest and the keyed shift cipher of printable characters. All text
// here is code page 936 bytes: an ASCII byte is one character (codes 0-127), a
// lead byte 0x81-0xFE with its trail byte is one double-byte character whose
// code is negative.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

// The fixed key text held by the setup and lock windows' hidden txtPassword.
inline constexpr char kKeyText[] = "vemro";

// Throws std::overflow_error where the platform raises its overflow error: a
// term outside the signed 32-bit range, which only a double-byte character at
// a high shift produces. The fixed key text cannot.
std::int32_t KeyDigest(std::string_view text936);
std::string EncipherPassword(std::string_view password936, std::string_view key936 = kKeyText);
std::string DecipherPassword(std::string_view cipher936, std::string_view key936 = kKeyText);

}  // namespace tolvane
