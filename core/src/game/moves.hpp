// The moves of a game: the 22 hands of kAllHands by index, and which of them a player can make.
//
// The movement rule: a pair appears over the spawn column (internal column 3, Python column 2) and
// is moved sideways one column at a time before it drops. It can pass over or land in a column
// only while that column's stack is at most 12 high (its 13th row free); a column reaching the
// 13th row is a wall to the pair, as is everything beyond it. A move is legal when every column
// the pair occupies at its destination is reachable that way from the spawn column and
// `put_pair` accepts the placement (a vertical pair with its child below needs a stack of at most
// 11). Heights are the field's own `get_height`, the unbroken stack from the bottom.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "../field/bit_field.hpp"
#include "../hand.hpp"

namespace velmo {

inline constexpr std::size_t kNumMoves = kAllHands.size();
inline constexpr std::uint64_t kSpawnColumn = 3;
inline constexpr std::uint64_t kMaxPassableHeight = 12;
// The death cell: the third column's cell in the 12th row.
inline constexpr std::uint64_t kDeathColumn = 3;
inline constexpr std::uint64_t kDeathRow = 3;

// Bit i set: move i is legal on `field`.
using MoveMask = std::uint32_t;

inline bool is_death_cell_occupied(const BitField& field) {
    return field.get(kDeathColumn, kDeathRow) != BitPuyoType::Empty;
}

inline MoveMask legal_move_mask(const BitField& field) {
    std::array<std::uint64_t, kFieldWidth> height{};
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) height[x] = field.get_height(x);
    if (height[kSpawnColumn] > kMaxPassableHeight) return 0;

    // The reachable columns form one run around the spawn column.
    std::uint64_t leftmost = kSpawnColumn;
    while (leftmost > kFirstPlayableColumn && height[leftmost - 1] <= kMaxPassableHeight) --leftmost;
    std::uint64_t rightmost = kSpawnColumn;
    while (rightmost < kLastPlayableColumn && height[rightmost + 1] <= kMaxPassableHeight) ++rightmost;
    const auto reachable = [&](std::uint64_t x) { return x >= leftmost && x <= rightmost; };

    MoveMask mask = 0;
    for (std::size_t move = 0; move < kNumMoves; ++move) {
        const Hand hand = kAllHands[move];
        bool legal = reachable(hand.x);
        switch (hand.rotation) {
            case Rotation::Top: break;
            case Rotation::Bottom: legal = legal && height[hand.x] <= 11; break;
            case Rotation::Left: legal = legal && reachable(hand.x - 1); break;
            case Rotation::Right: legal = legal && reachable(hand.x + 1); break;
        }
        if (legal) mask |= MoveMask{1} << move;
    }
    return mask;
}

}  // namespace velmo
