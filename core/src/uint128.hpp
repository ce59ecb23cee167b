// The 128-bit unsigned integer of the bit field's planes (GCC and Clang provide it natively).
#pragma once

#include <cstdint>

namespace velmo {

__extension__ using u128 = unsigned __int128;

constexpr u128 make_u128(std::uint64_t high, std::uint64_t low) { return (static_cast<u128>(high) << 64) | low; }
constexpr std::uint64_t low64(u128 v) { return static_cast<std::uint64_t>(v); }
constexpr std::uint64_t high64(u128 v) { return static_cast<std::uint64_t>(v >> 64); }

// The set bits of a word, inline. The baseline x86-64 build has no popcount instruction, and the
// compiler's builtin there is a library call, slower than these few operations where the search
// counts groups millions of times a move.
constexpr unsigned popcount64(std::uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555);
    v = (v & 0x3333333333333333) + ((v >> 2) & 0x3333333333333333);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<unsigned>((v * 0x0101010101010101) >> 56);
}
constexpr unsigned popcount128(u128 v) { return popcount64(low64(v)) + popcount64(high64(v)); }
static_assert(popcount128(~u128{0}) == 128 && popcount128(make_u128(1, 0x8000'0000'0000'0001)) == 3);

}  // namespace velmo
