// The 128-bit unsigned integer of the bit field's planes (GCC and Clang provide it natively).
#pragma once

#include <cstdint>

namespace velmo {

__extension__ using u128 = unsigned __int128;

constexpr u128 make_u128(std::uint64_t high, std::uint64_t low) { return (static_cast<u128>(high) << 64) | low; }
constexpr std::uint64_t low64(u128 v) { return static_cast<std::uint64_t>(v); }
constexpr std::uint64_t high64(u128 v) { return static_cast<std::uint64_t>(v >> 64); }

}  // namespace velmo
