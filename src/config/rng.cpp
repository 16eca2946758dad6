#include "config/rng.h"

#include <bit>

namespace tolvane {

namespace {
constexpr std::uint32_t kMultiplier = 0x43FD43FD;
constexpr std::uint32_t kIncrement = 0xC39EC3;
constexpr std::uint32_t kStateMask = 0xFFFFFF;  // the state is 24 bits wide
constexpr float kStateScale = 1.0f / 16777216.0f;
}  // namespace

float ClassicRandom::Next() {
  // Unsigned arithmetic wraps modulo 2^32; only the low 24 bits are kept, so
  // the wrap never changes the result.
  state_ = (state_ * kMultiplier + kIncrement) & kStateMask;
  // 24 bits fit a float's mantissa: the value is exact.
  return static_cast<float>(state_) * kStateScale;
}

void ClassicRandom::Reset() {
  // The platform derives the reset state from the single-precision argument -1.
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(-1.0f);
  state_ = (bits + (bits >> 24)) & kStateMask;
  Next();  // the platform returns this value; callers discard it
}

void ClassicRandom::Seed(double d) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(d);
  const auto hi = static_cast<std::uint32_t>(bits >> 32);
  // Only the middle 16 bits of the state change: the same seed applied to
  // different states gives different sequences, which is why every cipher
  // call resets first.
  state_ = (state_ & 0xFF0000FFu) | (((hi ^ (hi >> 16)) & 0xFFFFu) << 8);
}

}  // namespace tolvane
