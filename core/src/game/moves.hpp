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

namespace moves_detail {

// The moves whose columns all lie in [left, right] (both in 1..6): whatever else a field holds,
// these are the moves a pair can reach when exactly those columns are reachable.
constexpr MoveMask moves_within(std::uint64_t left, std::uint64_t right) {
    MoveMask mask = 0;
    for (std::size_t move = 0; move < kNumMoves; ++move) {
        const Hand hand = kAllHands[move];
        std::uint64_t low = hand.x;
        std::uint64_t high = hand.x;
        if (hand.rotation == Rotation::Left) low = hand.x - 1;
        if (hand.rotation == Rotation::Right) high = hand.x + 1;
        if (low >= left && high <= right) mask |= MoveMask{1} << move;
    }
    return mask;
}

constexpr auto make_range_masks() {
    std::array<std::array<MoveMask, kFieldWidth>, kFieldWidth> masks{};
    for (std::uint64_t left = kFirstPlayableColumn; left <= kLastPlayableColumn; ++left) {
        for (std::uint64_t right = left; right <= kLastPlayableColumn; ++right) masks[left][right] = moves_within(left, right);
    }
    return masks;
}
inline constexpr auto kRangeMasks = make_range_masks();

// The vertical moves with the child below, by column.
constexpr auto make_child_below_masks() {
    std::array<MoveMask, kFieldWidth> masks{};
    for (std::size_t move = 0; move < kNumMoves; ++move) {
        if (kAllHands[move].rotation == Rotation::Bottom) masks[kAllHands[move].x] |= MoveMask{1} << move;
    }
    return masks;
}
inline constexpr auto kChildBelowMasks = make_child_below_masks();

}  // namespace moves_detail

// The rule above, by table: the reachable run of columns picks the moves that stay inside it,
// and a column too high for a pair with its child below drops that move.
inline MoveMask legal_move_mask(const BitField& field) {
    std::array<std::uint64_t, kFieldWidth> height{};
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) height[x] = field.get_height(x);
    if (height[kSpawnColumn] > kMaxPassableHeight) return 0;

    // The reachable columns form one run around the spawn column.
    std::uint64_t leftmost = kSpawnColumn;
    while (leftmost > kFirstPlayableColumn && height[leftmost - 1] <= kMaxPassableHeight) --leftmost;
    std::uint64_t rightmost = kSpawnColumn;
    while (rightmost < kLastPlayableColumn && height[rightmost + 1] <= kMaxPassableHeight) ++rightmost;

    MoveMask mask = moves_detail::kRangeMasks[leftmost][rightmost];
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        if (height[x] > 11) mask &= ~moves_detail::kChildBelowMasks[x];
    }
    return mask;
}

}  // namespace velmo
