#include "platform/instance.h"

#include <string>

namespace tolvane {
namespace {

std::uint64_t Rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void Round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3) {
  v0 += v1;
  v1 = Rotl(v1, 13);
  v1 ^= v0;
  v0 = Rotl(v0, 32);
  v2 += v3;
  v3 = Rotl(v3, 16);
  v3 ^= v2;
  v0 += v3;
  v3 = Rotl(v3, 21);
  v3 ^= v0;
  v2 += v1;
  v1 = Rotl(v1, 17);
  v1 ^= v2;
  v2 = Rotl(v2, 32);
}

void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::uint64_t SipHash24(const DoorKey& key, std::string_view data) {
  const std::uint64_t k0 = Load64(key.data());
  const std::uint64_t k1 = Load64(key.data() + 8);
  std::uint64_t v0 = 0x736f6d6570736575ull ^ k0;
  std::uint64_t v1 = 0x646f72616e646f6dull ^ k1;
  std::uint64_t v2 = 0x6c7967656e657261ull ^ k0;
  std::uint64_t v3 = 0x7465646279746573ull ^ k1;
  const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
  const std::size_t n = data.size();
  const std::size_t whole = n - n % 8;
  for (std::size_t i = 0; i < whole; i += 8) {
    const std::uint64_t m = Load64(p + i);
    v3 ^= m;
    Round(v0, v1, v2, v3);
    Round(v0, v1, v2, v3);
    v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(n & 0xFF) << 56;
  for (std::size_t i = whole; i < n; ++i) last |= static_cast<std::uint64_t>(p[i]) << (8 * (i - whole));
  v3 ^= last;
  Round(v0, v1, v2, v3);
  Round(v0, v1, v2, v3);
  v0 ^= last;
  v2 ^= 0xFF;
  for (int i = 0; i < 4; ++i) Round(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

DoorKey DoorKeyOf(std::string_view program_bytes) {
  // Two fixed keys spread the file's bytes over 128 bits; what makes the
  // result the program's own is the file, not these.
  static constexpr DoorKey kSpreadLow = {'t', 'o', 'l', 'v', 'a', 'n', 'e', '.', 'd', 'o', 'o', 'r', '.', 'l', 'o', 0};
  static constexpr DoorKey kSpreadHigh = {'t', 'o', 'l', 'v', 'a', 'n', 'e', '.', 'd', 'o', 'o', 'r', '.', 'h', 'i', 0};
  const std::uint64_t lo = SipHash24(kSpreadLow, program_bytes);
  const std::uint64_t hi = SipHash24(kSpreadHigh, program_bytes);
  DoorKey key{};
  for (int i = 0; i < 8; ++i) {
    key[i] = static_cast<std::uint8_t>(lo >> (8 * i));
    key[8 + i] = static_cast<std::uint8_t>(hi >> (8 * i));
  }
  return key;
}

std::uint32_t DoorAnswer(const DoorKey& key, const DoorNonce& nonce, std::uint32_t asker_pid,
                         std::uint32_t door_pid) {
  std::string message = "tolvane door answer";
  message.append(reinterpret_cast<const char*>(nonce.data()), nonce.size());
  Put32(message, asker_pid);
  Put32(message, door_pid);
  const std::uint64_t mac = SipHash24(key, message);
  const auto answer = static_cast<std::uint32_t>(mac ^ (mac >> 32));
  return answer != 0 ? answer : 1;
}

}  // namespace tolvane
