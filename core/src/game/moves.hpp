// The moves of a game: the 22 hands of kAllHands by index, and which of them a player can make.
//
// The movement rule, the arcade's as the open engines model it (docs/games.md draws it). A pair
// appears with its axis in the 12th row of the spawn column (internal column 3, Python column 2)
// and its child above, and is moved sideways one column at a time before it drops. Heights are the
// field's own `get_height`, the unbroken stack from the bottom.
//   - The spawn column must be at most 11 high, or the pair has no move.
//   - A column at most 11 high is entered or passed freely.
//   - A column exactly 12 high is entered or passed only while the pair rides one row higher than
//     it spawned. It is lifted by a floor kick (a rotation over a column exactly 11 high pushes it
//     up a row; the kick serves the 12-high column next to it) or, at the spawn column, by a quick
//     turn when both neighbours of the spawn column are 12 high or more. It stays high while it
//     crosses 12-high columns and over one lower column after one; a second lower column in a
//     row brings it back down.
//   - A column 13 high or more is a wall to the pair, as is everything beyond it.
//   - A pair with its child below needs its column at most 11 high.
//   - No puyo is put onto an occupied cell: a vertical pair needs two empty cells in its column
//     (a puyo left in the 14th row can leave a 12-high column only one), so every legal move adds
//     exactly two puyos before its chain.
// A move is legal when every column its pair occupies is reachable and the placement rules hold;
// `put_pair` then accepts it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "../field/bit_field.hpp"
#include "../hand.hpp"

namespace velmo {

inline constexpr std::size_t kNumMoves = kAllHands.size();
inline constexpr std::uint64_t kSpawnColumn = 3;
// The highest stack the pair passes at its spawn height; the spawn column itself and a child
// below need one row less.
inline constexpr std::uint64_t kMaxPassableHeight = 11;
// The height passable only while the pair rides one row high.
inline constexpr std::uint64_t kLedgeHeight = 12;
// The death cell: the third column's cell in the 12th row.
inline constexpr std::uint64_t kDeathColumn = 3;
inline constexpr std::uint64_t kDeathRow = 3;
// The spawn column's height at which its stack takes the death cell: the game is lost there.
inline constexpr std::uint64_t kDeathHeight = kMaxHeight + 1 - kDeathRow;
// The move that drops the pair upright in the spawn column, with no shift or turn: the quickest.
inline constexpr std::size_t kSpawnDropMove = [] {
    std::size_t move = 0;
    while (kAllHands[move].x != kSpawnColumn || kAllHands[move].rotation != Rotation::Top) ++move;
    return move;
}();

// Bit i set: move i is legal on `field`.
using MoveMask = std::uint32_t;
// Bit x set (x in 1..6): internal column x.
using ColumnSet = std::uint8_t;

inline bool is_death_cell_occupied(const BitField& field) {
    return field.get(kDeathColumn, kDeathRow) != BitPuyoType::Empty;
}

namespace moves_detail {

constexpr ColumnSet columns_of(const Hand& hand) {
    ColumnSet columns = ColumnSet(1U << hand.x);
    if (hand.rotation == Rotation::Left) columns |= ColumnSet(1U << (hand.x - 1));
    if (hand.rotation == Rotation::Right) columns |= ColumnSet(1U << (hand.x + 1));
    return columns;
}

// By set of reachable columns: the moves whose columns all lie in it.
constexpr auto make_moves_within() {
    std::array<MoveMask, 1U << kFieldWidth> masks{};
    for (std::size_t set = 0; set < masks.size(); ++set) {
        for (std::size_t move = 0; move < kNumMoves; ++move) {
            const ColumnSet columns = columns_of(kAllHands[move]);
            if ((columns & set) == columns) masks[set] |= MoveMask{1} << move;
        }
    }
    return masks;
}
inline constexpr auto kMovesWithin = make_moves_within();

// The vertical moves by column, and those with the child below.
constexpr auto make_vertical_masks(bool child_below_only) {
    std::array<MoveMask, kFieldWidth> masks{};
    for (std::size_t move = 0; move < kNumMoves; ++move) {
        const Rotation rotation = kAllHands[move].rotation;
        const bool counted = rotation == Rotation::Bottom || (!child_below_only && rotation == Rotation::Top);
        if (counted) masks[kAllHands[move].x] |= MoveMask{1} << move;
    }
    return masks;
}
inline constexpr auto kVerticalMasks = make_vertical_masks(false);
inline constexpr auto kChildBelowMasks = make_vertical_masks(true);

// Empty cells of column x among its 14 playable rows.
inline unsigned empty_cells(const BitField& field, std::uint64_t x) {
    const BitPlanes& planes = field.bit_planes();
    const u128 occupied = planes.p0 | planes.p1 | planes.p2;
    const auto lane = static_cast<std::uint64_t>(occupied >> (bit_layout::kLaneBits * x)) & 0x7FFE;
    return 14U - static_cast<unsigned>(__builtin_popcountll(lane));
}

// The walk outward from the spawn column in one direction (step -1 or +1), adding every column
// the pair reaches. `high`: whether the pair can ride high where the walk starts.
inline ColumnSet walk_from_spawn(const std::array<std::uint64_t, kFieldWidth>& height, int step, bool high) {
    ColumnSet reached = 0;
    bool after_ledge = false;  // the previous column was a 12-high one the pair rode over
    for (int x = static_cast<int>(kSpawnColumn) + step; x >= int{kFirstPlayableColumn} && x <= int{kLastPlayableColumn}; x += step) {
        const std::uint64_t h = height[static_cast<std::size_t>(x)];
        if (h > kLedgeHeight || (h == kLedgeHeight && !high)) break;
        reached |= ColumnSet(1U << x);
        if (h == kLedgeHeight) {
            after_ledge = true;
        } else {
            high = h == kMaxPassableHeight || after_ledge;  // a floor kick here, or the one lower column a ride allows
            after_ledge = false;
        }
    }
    return reached;
}

}  // namespace moves_detail

// The columns a pair can reach on `field` (bit x for internal column x); none when the spawn
// column is too high.
inline ColumnSet reachable_columns(const BitField& field) {
    std::array<std::uint64_t, kFieldWidth> height{};
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) height[x] = field.get_height(x);
    if (height[kSpawnColumn] > kMaxPassableHeight) return 0;
    const bool quick_turn = height[kSpawnColumn - 1] >= kLedgeHeight && height[kSpawnColumn + 1] >= kLedgeHeight;
    const bool high_at_spawn = quick_turn || height[kSpawnColumn] == kMaxPassableHeight;
    return ColumnSet(1U << kSpawnColumn) | moves_detail::walk_from_spawn(height, -1, high_at_spawn) |
           moves_detail::walk_from_spawn(height, +1, high_at_spawn);
}

// The rule above: the reachable columns pick the moves that stay inside them, then the placement
// rules drop a child below over 11 and a vertical pair without room for both puyos.
inline MoveMask legal_move_mask(const BitField& field) {
    const ColumnSet reachable = reachable_columns(field);
    MoveMask mask = moves_detail::kMovesWithin[reachable];
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        if (((reachable >> x) & 1U) == 0) continue;
        if (field.get_height(x) > kMaxPassableHeight) mask &= ~moves_detail::kChildBelowMasks[x];
        if (moves_detail::empty_cells(field, x) < 2) mask &= ~moves_detail::kVerticalMasks[x];
    }
    return mask;
}

}  // namespace velmo
