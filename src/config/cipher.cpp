#include "config/cipher.h"

#include <cmath>
#include <stdexcept>

#include "config/codepage.h"
#include "config/rng.h"

namespace tolvane {

namespace {

constexpr int kFirstPrintable = 32;
constexpr int kLastPrintable = 126;
constexpr int kPrintableCount = kLastPrintable - kFirstPrintable + 1;  // 95

// Character code as the platform's character-code function gives it: ASCII
// bytes as they are, a double-byte character as its two bytes read as a
// signed 16-bit number (negative for every lead byte).
template <typename Fn>
void ForEachCharCode(std::string_view text936, Fn&& fn) {
  for (std::size_t i = 0; i < text936.size();) {
    const std::size_t len = Cp936CharLength(text936, i);
    const auto lead = static_cast<unsigned char>(text936[i]);
    int code = lead;
    if (len == 2) {
      const auto trail = static_cast<unsigned char>(text936[i + 1]);
      code = static_cast<std::int16_t>(static_cast<std::uint16_t>((lead << 8) | trail));
    }
    fn(code);
    i += len;
  }
}

std::int32_t DigestTerm(int shift, int code) {
  const double term = std::ldexp(static_cast<double>(code), shift);
  // The platform raises an overflow error here; a double-byte character at a
  // high shift can get there, the fixed ASCII key text never does.
  if (term < -2147483648.0 || term > 2147483647.0) {
    throw std::overflow_error("KeyDigest: term outside the signed 32-bit range");
  }
  return static_cast<std::int32_t>(term);
}

bool IsPrintable(int code) { return code >= kFirstPrintable && code <= kLastPrintable; }

// Both directions start from the same generator state and draw one value per
// printable character, so the n-th printable character of the password and
// the n-th character of the cipher text see the same shift.
ClassicRandom SeededGenerator(std::string_view key936) {
  ClassicRandom rng;
  rng.Reset();
  rng.Seed(static_cast<double>(KeyDigest(key936)));
  return rng;
}

int NextShift(ClassicRandom& rng) {
  // The product is taken in double precision, as the platform does; r can be
  // 0..95, and 95 shifts exactly like 0.
  return static_cast<int>(std::floor(static_cast<double>(rng.Next()) * 96.0));
}

}  // namespace

std::int32_t KeyDigest(std::string_view text936) {
  std::uint32_t a = 0;
  int s1 = 0;
  int s2 = 0;
  ForEachCharCode(text936, [&](int code) {
    a ^= static_cast<std::uint32_t>(DigestTerm(s1, code));
    a ^= static_cast<std::uint32_t>(DigestTerm(s2, code));
    s1 = (s1 + 7) % 19;
    s2 = (s2 + 13) % 23;
  });
  return static_cast<std::int32_t>(a);
}

std::string EncipherPassword(std::string_view password936, std::string_view key936) {
  ClassicRandom rng = SeededGenerator(key936);
  std::string out;
  ForEachCharCode(password936, [&](int c) {
    if (!IsPrintable(c)) return;  // dropped without a draw
    const int r = NextShift(rng);
    out.push_back(static_cast<char>((c - kFirstPrintable + r) % kPrintableCount + kFirstPrintable));
  });
  return out;
}

std::string DecipherPassword(std::string_view cipher936, std::string_view key936) {
  ClassicRandom rng = SeededGenerator(key936);
  std::string out;
  ForEachCharCode(cipher936, [&](int c) {
    if (!IsPrintable(c)) return;  // skipped without a draw, as enciphering does
    const int r = NextShift(rng);
    int p = (c - kFirstPrintable - r) % kPrintableCount;
    if (p < 0) p += kPrintableCount;
    out.push_back(static_cast<char>(p + kFirstPrintable));
  });
  return out;
}

}  // namespace tolvane
