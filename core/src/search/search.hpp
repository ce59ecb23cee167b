// Search primitives over the bit field: potential chains (the chains a few more puyos of one
// colour dropped into one column would fire), the expansion of a pair into its legal children,
// and a stable 64-bit field hash for transposition tables. Nothing here allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "../field/bit_field.hpp"
#include "../game/moves.hpp"
#include "../game/pair_sequence.hpp"
#include "../game/random.hpp"

namespace velmo {

// The hash of a field: h = 0, then for the six 64-bit words of the planes (p0 low, p0 high, p1
// low, p1 high, p2 low, p2 high) h = mix64((h ^ word) + kGoldenGamma). Fixed: stored tables
// depend on it.
constexpr std::uint64_t field_hash(const BitField& field) {
    std::uint64_t h = 0;
    for (const u128 plane : field.planes()) {
        h = mix64((h ^ low64(plane)) + kGoldenGamma);
        h = mix64((h ^ high64(plane)) + kGoldenGamma);
    }
    return h;
}

inline constexpr unsigned kMaxAddedPuyos = kMaxHeight;
// Six columns times four colours.
inline constexpr std::size_t kMaxPotentialChains = 24;

// The cells of `color` in the connection region, where groups form.
inline u128 cells_of_color(const BitPlanes& p, BitPuyoType color) {
    const unsigned code = bit_code(color);
    return ((code & 1) != 0 ? p.p0 : ~p.p0) & ((code & 2) != 0 ? p.p1 : ~p.p1) & p.p2 & bit_layout::kConnectionRegion;
}

// The cells beside those of `v`: above and below in its lane, and in the lanes left and right.
inline u128 beside(u128 v) {
    return ((v >> 1) & bit_layout::kLaneNotTopBit) | ((v << 1) & bit_layout::kLaneNotBottomBit) | (v << 16) | (v >> 16);
}

// `v` and the cells beside it.
inline u128 neighbours(u128 v) { return v | beside(v); }

// The cells of one colour by the size of the group they belong to. Where no group has four cells
// (`below_four`), every group is a lone cell, a pair or a path of three, and a path of three is its
// middle cell (the only one with two neighbours of its colour) and the cells beside it; so the
// sizes are a few masks, with no flood fill. A group of four or more has a cell with three
// neighbours or two middle cells side by side, which is how `below_four` is told; the three
// masks mean nothing where it is false.
struct GroupSizes {
    u128 lone = 0;
    u128 pair = 0;
    u128 triple = 0;
    bool below_four = true;
};

inline GroupSizes group_sizes(u128 cells) {
    const u128 up = cells & ((cells >> 1) & bit_layout::kLaneNotTopBit);
    const u128 down = cells & ((cells << 1) & bit_layout::kLaneNotBottomBit);
    const u128 left = cells & (cells << 16);
    const u128 right = cells & (cells >> 16);
    const u128 vertical = up | down, horizontal = left | right;
    const u128 middles = (up & down) | (left & right) | (vertical & horizontal);
    const u128 branches = (up & down & horizontal) | (left & right & vertical);
    const u128 middle_pairs = middles & beside(middles);
    GroupSizes sizes;
    sizes.triple = cells & neighbours(middles);
    sizes.pair = (vertical | horizontal) & ~sizes.triple;
    sizes.lone = cells & ~(vertical | horizontal);
    sizes.below_four = (branches | middle_pairs) == 0;
    return sizes;
}

struct PotentialChain {
    BitField field;        // after the added puyos and the whole chain
    std::uint32_t chain = 0;
    std::uint32_t score = 0;
    std::uint8_t column = 0;  // internal column 1..6
    BitPuyoType color = BitPuyoType::Empty;
    std::uint8_t added = 0;  // 1..max_added
};

struct PotentialChains {
    std::array<PotentialChain, kMaxPotentialChains> items;
    std::size_t count = 0;
};

// For every column 1..6 (ascending) and every colour RED, BLUE, YELLOW, GREEN present on the
// field (in that order): the fewest puyos k = 1..max_added of that colour dropped one after
// another into the column (each by `put`, into the lowest empty cell) after which the whole
// chain fires; one result per column and colour that fires. A column that fills up first
// gives none. max_added is clamped to 1..kMaxAddedPuyos. `columns` (bit x for column x) limits the
// columns tried.
inline constexpr ColumnSet kAllColumns = ColumnSet(((1U << (kLastPlayableColumn + 1)) - 1) & ~((1U << kFirstPlayableColumn) - 1));
static_assert(kAllColumns == 0x7E);
void detect_potential_chains(const BitField& field, unsigned max_added, PotentialChains& out, ColumnSet columns = kAllColumns);

// The best of them: the highest score, ties to the fewer added puyos, then to the earlier one.
std::optional<PotentialChain> best_potential_chain(const BitField& field, unsigned max_added);

struct Child {
    BitField field;  // settled, after the whole chain
    std::uint32_t chain = 0;
    std::uint32_t score = 0;
    std::uint8_t move = 0;  // index into kAllHands
    bool game_over = false;  // the death cell is occupied afterwards
};

struct Children {
    std::array<Child, kNumMoves> items;
    std::size_t count = 0;
};

// Every legal placement of `pair` on `field` (legal_move_mask), in move order.
void expand(const BitField& field, GamePair pair, Children& out);

}  // namespace velmo
