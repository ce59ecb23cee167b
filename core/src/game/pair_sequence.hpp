// PairSequence: the pairs a game deals, by index, for any index. A sequence is a plain value: the
// balanced loop and explicit lists are held inline, the uniform kind is computed per index.
//
// The kinds:
// - Balanced, the arcade's rule: the seed picks the colours (3 of the four bit-field colours, or
//   all four), then deals a loop of 128 pairs, 256 puyos in which the colours appear equally often
//   (64 each for four colours; 86, 85, 85 for three, 256 not being divisible by three), shuffled,
//   with the first two pairs holding at most three colours. The loop repeats.
// - Uniform: every puyo drawn independently, uniformly over the chosen colours.
// - Explicit: a given list of 1 to kMaxExplicitPairs pairs, repeating from its start.
//
// How a seed becomes pairs (fixed: stored games and replays depend on it):
// 1. g = SplitMix64(seed). For three colours, g.below(4) names the colour left out of
//    RED, BLUE, YELLOW, GREEN; the others keep that order.
// 2. Balanced: puyo k of the loop starts as colour k mod n; a Fisher-Yates shuffle swaps puyo k
//    with puyo g.below(k + 1) for k = 255 down to 1. If the first four puyos then hold four
//    colours, puyo 3 is swapped with the first later puyo whose colour is among puyos 0..2.
//    Pair i is (axis = puyo 2i, child = puyo 2i + 1).
// 3. Uniform: key = g.next(); puyo k is colour scale_to(mix64(key + kGoldenGamma * (k + 1)), n),
//    and pair i is (axis = puyo 2i, child = puyo 2i + 1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "../pair.hpp"
#include "../puyotype/puyotype.hpp"

namespace velmo {

using GamePair = Pair<BitPuyoType>;

enum class SequenceKind : std::uint8_t { Balanced = 0, Uniform = 1, Explicit = 2 };

inline constexpr std::size_t kBalancedLoopPairs = 128;
inline constexpr std::size_t kMaxExplicitPairs = 256;
inline constexpr std::array<BitPuyoType, 4> kGameColors = {BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow,
                                                           BitPuyoType::Green};

class PairSequence {
public:
    // Balanced, four colours, seed 0: a copy of the one dealt at first use, so that default
    // games (a batch's slots before their first reset) cost no dealing each.
    PairSequence() : PairSequence(default_sequence()) {}

    // num_colors must be 3 or 4 and kind Balanced or Uniform (the binding checks).
    static PairSequence seeded(std::uint64_t seed, unsigned num_colors, SequenceKind kind);
    // 1 to kMaxExplicitPairs pairs of the four colours (the binding checks).
    static PairSequence from_pairs(std::span<const GamePair> pairs);

    [[nodiscard]] GamePair at(std::uint64_t index) const {
        if (kind_ == SequenceKind::Uniform) return uniform_pair(index);
        // A balanced loop's length is a constant power of two: no division on a game's every move.
        if (kind_ == SequenceKind::Balanced) return pairs_[index % kBalancedLoopPairs];
        return pairs_[index % length_];
    }

    [[nodiscard]] SequenceKind kind() const { return kind_; }
    [[nodiscard]] std::uint64_t seed() const { return seed_; }
    // The colours in use, in the order RED, BLUE, YELLOW, GREEN.
    [[nodiscard]] std::span<const BitPuyoType> colors() const { return {colors_.data(), num_colors_}; }
    // The pairs of one loop (balanced, explicit); empty for the uniform kind.
    [[nodiscard]] std::span<const GamePair> loop() const {
        return {pairs_.data(), kind_ == SequenceKind::Uniform ? std::size_t{0} : std::size_t{length_}};
    }

    friend bool operator==(const PairSequence& a, const PairSequence& b);

private:
    static const PairSequence& default_sequence();
    PairSequence(SequenceKind kind, std::uint64_t seed) : kind_(kind), seed_(seed) {}

    [[nodiscard]] GamePair uniform_pair(std::uint64_t index) const;
    [[nodiscard]] BitPuyoType uniform_puyo(std::uint64_t k) const;

    SequenceKind kind_;
    std::uint8_t num_colors_ = 0;
    std::uint16_t length_ = 1;  // pairs in the loop; never 0, so `at` never divides by zero
    std::array<BitPuyoType, 4> colors_{};
    std::uint64_t seed_;
    std::uint64_t uniform_key_ = 0;
    std::array<GamePair, kMaxExplicitPairs> pairs_{};
};

}  // namespace velmo
