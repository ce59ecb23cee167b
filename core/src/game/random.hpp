// The project's seeded generator. Everything seeded in velmo_game (pair sequences, ojama columns,
// per-game seeds of a batch, the player's sampling) draws from these functions only, so a seed
// gives the same numbers on every machine, compiler and Python version. The standard library's
// engines are exact too, but its distributions are not: their algorithms differ between library
// implementations, so bounded draws are written out here.
#pragma once

#include <cstdint>

#include "../uint128.hpp"

namespace velmo {

// SplitMix64 (Steele, Lea and Flood, 2014): the state advances by the 64-bit golden ratio and
// each output is the state passed through a fixed mixing function. Period 2^64; it passes the
// usual statistical batteries and costs a few cycles per draw.
inline constexpr std::uint64_t kGoldenGamma = 0x9E3779B97F4A7C15;

// The mixing function alone: a bijection of 64-bit values, also used to derive keys and seeds.
constexpr std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
}

// A value in [0, n) from a 64-bit draw, by the high half of draw * n: the bias is below n / 2^64,
// which no test of a game can see. For the exactly uniform form, see SplitMix64::below.
constexpr std::uint64_t scale_to(std::uint64_t draw, std::uint64_t n) {
    return high64(static_cast<u128>(draw) * n);
}

class SplitMix64 {
public:
    constexpr explicit SplitMix64(std::uint64_t seed) noexcept : state_(seed) {}

    constexpr std::uint64_t next() noexcept {
        state_ += kGoldenGamma;
        return mix64(state_);
    }

    // Exactly uniform in [0, n) for n >= 1 (Lemire's multiply-and-reject: draws whose low half
    // falls in the short first interval are redrawn).
    constexpr std::uint64_t below(std::uint64_t n) noexcept {
        u128 product = static_cast<u128>(next()) * n;
        if (low64(product) < n) {
            const std::uint64_t threshold = (0 - n) % n;
            while (low64(product) < threshold) product = static_cast<u128>(next()) * n;
        }
        return high64(product);
    }

    [[nodiscard]] constexpr std::uint64_t state() const noexcept { return state_; }

private:
    std::uint64_t state_;
};

// The seed of item `index` of a family seeded with `seed` (games of a batch, matches of a run):
// independent streams without drawing them in order.
constexpr std::uint64_t derive_seed(std::uint64_t seed, std::uint64_t index) {
    return mix64(seed + kGoldenGamma * (index + 1));
}

// The seed of episode `episode` of environment copy `copy` run under `seed`: every environment
// of the package (the single ones, each game or match of a batch) draws its games from this one
// rule. The first episode is derive_seed(seed, copy), the k-th later one derive_seed(that, k):
// copies seeded s, s + 1, ... (as vector-env wrappers seed them) and the episodes of one copy all
// get unrelated sequences, and any episode can be replayed from (seed, copy, episode) alone.
constexpr std::uint64_t episode_seed(std::uint64_t seed, std::uint64_t copy, std::uint64_t episode) {
    const std::uint64_t first = derive_seed(seed, copy);
    return episode == 0 ? first : derive_seed(first, episode);
}

// The first outputs for seed 0, pinned so that a change of the generator cannot pass unnoticed.
static_assert(SplitMix64(0).next() == 0xE220A8397B1DCDAF);

}  // namespace velmo
