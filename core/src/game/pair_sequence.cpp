#include "pair_sequence.hpp"

#include <algorithm>
#include <utility>

#include "random.hpp"

namespace velmo {
namespace {

constexpr std::size_t kBalancedLoopPuyos = 2 * kBalancedLoopPairs;

// Step 1 of the dealing: the colours in use.
unsigned choose_colors(SplitMix64& g, unsigned num_colors, std::array<BitPuyoType, 4>& out) {
    unsigned count = 0;
    const std::uint64_t left_out = num_colors == 3 ? g.below(4) : kGameColors.size();
    for (std::size_t c = 0; c < kGameColors.size(); ++c) {
        if (c != left_out) out[count++] = kGameColors[c];
    }
    return count;
}

// The arcade keeps the opening to three colours, so that the first two pairs never force a
// fourth colour on a player who has not yet seen the field fill.
void keep_opening_to_three_colors(std::array<BitPuyoType, kBalancedLoopPuyos>& puyos) {
    const auto in_first_three = [&](BitPuyoType t) { return t == puyos[0] || t == puyos[1] || t == puyos[2]; };
    if (in_first_three(puyos[3])) return;
    for (std::size_t k = 4; k < puyos.size(); ++k) {
        if (in_first_three(puyos[k])) {
            std::swap(puyos[3], puyos[k]);
            return;
        }
    }
}

}  // namespace

PairSequence PairSequence::seeded(std::uint64_t seed, unsigned num_colors, SequenceKind kind) {
    PairSequence sequence(kind, seed);
    SplitMix64 g(seed);
    sequence.num_colors_ = static_cast<std::uint8_t>(choose_colors(g, num_colors, sequence.colors_));
    const unsigned n = sequence.num_colors_;

    if (kind == SequenceKind::Uniform) {
        sequence.uniform_key_ = g.next();
        return sequence;
    }

    std::array<BitPuyoType, kBalancedLoopPuyos> puyos{};
    for (std::size_t k = 0; k < puyos.size(); ++k) puyos[k] = sequence.colors_[k % n];
    for (std::size_t k = puyos.size() - 1; k >= 1; --k) std::swap(puyos[k], puyos[g.below(k + 1)]);
    keep_opening_to_three_colors(puyos);

    sequence.length_ = kBalancedLoopPairs;
    for (std::size_t i = 0; i < kBalancedLoopPairs; ++i) sequence.pairs_[i] = GamePair{{puyos[2 * i + 1], puyos[2 * i]}};
    return sequence;
}

const PairSequence& PairSequence::default_sequence() {
    static const PairSequence dealt = seeded(0, 4, SequenceKind::Balanced);
    return dealt;
}

PairSequence PairSequence::from_pairs(std::span<const GamePair> pairs) {
    PairSequence sequence(SequenceKind::Explicit, 0);
    const std::size_t length = std::clamp<std::size_t>(pairs.size(), 1, kMaxExplicitPairs);
    std::copy_n(pairs.begin(), std::min(pairs.size(), length), sequence.pairs_.begin());
    sequence.length_ = static_cast<std::uint16_t>(length);
    for (const BitPuyoType color : kGameColors) {
        const bool used = std::any_of(sequence.pairs_.begin(), sequence.pairs_.begin() + length, [&](const GamePair& p) {
            return p.child() == color || p.axis() == color;
        });
        if (used) sequence.colors_[sequence.num_colors_++] = color;
    }
    return sequence;
}

BitPuyoType PairSequence::uniform_puyo(std::uint64_t k) const {
    const std::uint64_t draw = mix64(uniform_key_ + kGoldenGamma * (k + 1));
    return colors_[scale_to(draw, num_colors_)];
}

GamePair PairSequence::uniform_pair(std::uint64_t index) const {
    // 2 * index wraps for indices past 2^63; the sequence then repeats, which no game reaches.
    const std::uint64_t axis_puyo = 2 * index;
    return GamePair{{uniform_puyo(axis_puyo + 1), uniform_puyo(axis_puyo)}};
}

bool operator==(const PairSequence& a, const PairSequence& b) {
    if (a.kind_ != b.kind_ || a.seed_ != b.seed_ || a.num_colors_ != b.num_colors_ || a.colors_ != b.colors_) return false;
    if (a.kind_ == SequenceKind::Uniform) return a.uniform_key_ == b.uniform_key_;
    return a.length_ == b.length_ && std::equal(a.pairs_.begin(), a.pairs_.begin() + a.length_, b.pairs_.begin());
}

}  // namespace velmo
