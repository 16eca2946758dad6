// The portable half of the single instance: what a claim on the session can
// find, and the answer by which a running copy of the program proves itself
// to a later start (instance_win.h carries it between the two processes).
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

namespace tolvane {

enum class InstanceClaim {
  Claimed,      // this process holds the session's instance mutex
  HeldByOurs,   // another holds it, and a running copy of this program proved itself
  HeldByOther,  // it is held, and nothing that answered proved to be this program
};

using DoorKey = std::array<std::uint8_t, 16>;
using DoorNonce = std::array<std::uint8_t, 16>;

// SipHash-2-4: a keyed function whose value cannot be worked out without the
// key, however many values of chosen inputs one has seen.
std::uint64_t SipHash24(const DoorKey& key, std::string_view data);

// The key both sides derive from the bytes of the program file they run.
DoorKey DoorKeyOf(std::string_view program_bytes);

// What the running copy answers to a later start's challenge: bound to the
// nonce, to the process that asks and to the process that answers, so that
// an answer obtained from one door is worth nothing for another, nor for
// another start. Never 0, which is what a window that ignores the challenge
// returns.
std::uint32_t DoorAnswer(const DoorKey& key, const DoorNonce& nonce, std::uint32_t asker_pid,
                         std::uint32_t door_pid);

}  // namespace tolvane
