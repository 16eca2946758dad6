// The platform's classic pseudo-random generator: a 24-bit linear congruential
// generator. Stored ciphers depend on its exact sequence, so every detail
// (reset, seeding from the upper word of a double) is reproduced.
#pragma once
#include <cstdint>

namespace tolvane {

class ClassicRandom {
 public:
  static constexpr std::uint32_t kInitialState = 0x50000;

  // Next value in [0, 1), single precision.
  float Next();
  // The random-number function called with -1: reset to a fixed state.
  void Reset();
  // The randomise statement: mixes the upper 32 bits of `d` into the state.
  void Seed(double d);

  std::uint32_t state() const { return state_; }

 private:
  std::uint32_t state_ = kInitialState;
};

}  // namespace tolvane
