#include "search.hpp"

namespace velmo {
namespace {

bool is_settled_without_inner_walls(const BitField& field) {
    const BitPlanes& p = field.bit_planes();
    const u128 inner_walls = p.p1 & ~(p.p0 | p.p2) & bit_layout::kCountedArea;
    if (inner_walls != 0) return false;
    BitField dropped = field;
    dropped.drop();
    return dropped == field;
}

// Whether `v` has at least two, or three, set bits: the lowest ones cleared leave some. Cheaper
// than a count without the popcount instruction, and every trial asks it.
constexpr bool has_two_bits(u128 v) { return (v & (v - 1)) != 0; }
constexpr bool has_three_bits(u128 v) {
    v &= v - 1;
    return (v & (v - 1)) != 0;
}

// Where puyos dropped one after another into column x land: for each k up to `count` (fewer
// than asked when the column fills up), the first k cells, the cells beside them that are in the
// connection region, and how many of those k are in it.
// Only the first `count` entries are written or read: the arrays are left unfilled, since clearing
// them for every column of every evaluated field cost more than the rest of the landing.
struct Landing {
    std::array<u128, kMaxAddedPuyos> strip;
    std::array<u128, kMaxAddedPuyos> around;
    std::array<std::uint8_t, kMaxAddedPuyos> connecting;
    unsigned count = 0;
};

Landing landing_cells(const BitField& field, std::uint64_t x, unsigned max_added) {
    // A puyo dropped takes the lowest empty cell of the column, so k of them take its k lowest
    // empty cells, whatever their colour. Read from the column's lane of the occupancy; a full
    // column (no empty cell, the top wall included) takes none.
    const unsigned lane = static_cast<unsigned>(bit_layout::kLaneBits * x);
    std::uint64_t empty = ~static_cast<std::uint64_t>(field.occupancy() >> lane) & bit_layout::kLaneAll;
    Landing landing;
    u128 strip = 0, connecting_strip = 0;
    unsigned connecting = 0;
    for (; landing.count < max_added && empty != 0; ++landing.count, empty &= empty - 1) {
        // Bit r of a lane is the r-th row from the bottom: the lowest empty cell is the lowest bit.
        const u128 cell = u128{1} << (lane + static_cast<unsigned>(__builtin_ctzll(empty)));
        strip |= cell;
        if ((cell & bit_layout::kConnectionRegion) != 0) {
            connecting_strip |= cell;
            ++connecting;
        }
        landing.strip[landing.count] = strip;
        landing.around[landing.count] = neighbours(connecting_strip) & ~connecting_strip;
        landing.connecting[landing.count] = static_cast<std::uint8_t>(connecting);
    }
    return landing;
}

// Whether the first k landing cells, filled with one colour, join a group of four or more, on a
// field whose groups of that colour are `sizes`. The cells beside the strip that belong to one
// group are all beside one puyo of it only when that group is a path of three, so below four
// counting the cells beside it (pairs twice) is counting distinct groups.
bool reaches_four(const Landing& landing, unsigned k, const GroupSizes& sizes, u128 color_cells) {
    const unsigned own = landing.connecting[k - 1];
    const u128 beside = landing.around[k - 1] & color_cells;
    switch (own) {
        case 0: return false;
        case 1: {
            if ((beside & sizes.triple) != 0) return true;
            const u128 pairs = beside & sizes.pair, lones = beside & sizes.lone;
            return (pairs != 0 && (lones != 0 || has_two_bits(pairs))) || has_three_bits(lones);
        }
        case 2: return (beside & (sizes.pair | sizes.triple)) != 0 || has_two_bits(beside);
        case 3: return beside != 0;
        default: return true;
    }
}

ChainTotals totals_of(const ChainResult& result) { return ChainTotals{result.score, result.chain}; }

// Tries one column and colour; true with `result` filled when some k <= max_added fires.
// `color_cells`: the field's cells of `color` in the connection region; `sizes`: their groups,
// or null where the field is not settled or has a pending group, and every trial runs its chain.
bool try_column(const BitField& field, const Landing& landing, std::uint64_t x, BitPuyoType color, unsigned max_added,
                const GroupSizes* sizes, u128 color_cells, PotentialChain& result) {
    for (unsigned k = 1; k <= max_added; ++k) {
        if (k > landing.count) return false;  // the column is full
        // On a settled field without a pending group, only the added puyos' group can vanish.
        if (sizes != nullptr && !reaches_four(landing, k, *sizes, color_cells)) continue;
        const u128 strip = landing.strip[k - 1];
        const unsigned code = bit_code(color);
        const BitPlanes& p = field.bit_planes();
        BitField after = BitField::from_planes((code & 1) != 0 ? p.p0 | strip : p.p0, (code & 2) != 0 ? p.p1 | strip : p.p1,
                                               (code & 4) != 0 ? p.p2 | strip : p.p2);
        // A settled field with the column's lowest empty cells filled is settled still.
        const ChainTotals chain = sizes != nullptr ? after.run_settled_chain() : totals_of(after.run_chain());
        if (chain.chain == 0) continue;
        result.field = after;
        result.chain = chain.chain;
        result.score = chain.score;
        result.column = static_cast<std::uint8_t>(x);
        result.color = color;
        result.added = static_cast<std::uint8_t>(k);
        return true;
    }
    return false;
}

// Fills `slot()` with each potential chain found and then calls `found()`: the chains are written
// where the caller keeps them, with no copy per chain.
template <class Slot, class Found>
void for_each_potential_chain(const BitField& field, unsigned max_added, ColumnSet columns, Slot&& slot, Found&& found) {
    if (max_added < 1) max_added = 1;
    if (max_added > kMaxAddedPuyos) max_added = kMaxAddedPuyos;
    // A field that is not settled, or holds a group of four (one more round of vanishing would
    // empty it), fires whatever is dropped on it: its trials cannot be judged by the group of the
    // added puyos alone, and each runs its chain.
    const bool settled = is_settled_without_inner_walls(field);
    bool exact_only = !settled;
    std::array<BitPuyoType, 4> present{};
    std::array<u128, 4> present_cells{};
    std::array<GroupSizes, 4> present_sizes{};
    std::size_t num_present = 0;
    for (const BitPuyoType color : kGameColors) {
        if (!field.has_type(color)) continue;
        present_cells[num_present] = cells_of_color(field.bit_planes(), color);
        if (settled) {
            present_sizes[num_present] = group_sizes(present_cells[num_present]);
            exact_only = exact_only || !present_sizes[num_present].below_four;
        }
        present[num_present++] = color;
    }
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        if (((columns >> x) & 1U) == 0) continue;
        const Landing landing = landing_cells(field, x, max_added);
        for (std::size_t c = 0; c < num_present; ++c) {
            const GroupSizes* sizes = exact_only ? nullptr : &present_sizes[c];
            if (try_column(field, landing, x, present[c], max_added, sizes, present_cells[c], slot())) found();
        }
    }
}

}  // namespace

void detect_potential_chains(const BitField& field, unsigned max_added, PotentialChains& out, ColumnSet columns) {
    // One chain at most per column and colour: the items never run out.
    static_assert(kMaxPotentialChains == (kLastPlayableColumn - kFirstPlayableColumn + 1) * kGameColors.size());
    out.count = 0;
    for_each_potential_chain(
        field, max_added, columns, [&]() -> PotentialChain& { return out.items[out.count]; }, [&] { ++out.count; });
}

std::optional<PotentialChain> best_potential_chain(const BitField& field, unsigned max_added) {
    std::optional<PotentialChain> best;
    PotentialChain trial;
    for_each_potential_chain(
        field, max_added, kAllColumns, [&]() -> PotentialChain& { return trial; },
        [&] {
            if (!best || trial.score > best->score || (trial.score == best->score && trial.added < best->added)) best = trial;
        });
    return best;
}

namespace {

// The planes of one puyo of `color` in the cell `bit`, to be ORed into an empty cell.
struct PuyoBits {
    u128 p0, p1, p2;
};

PuyoBits puyo_bits(BitPuyoType color, unsigned bit) {
    const u128 cell = u128{1} << bit;
    const unsigned code = bit_code(color);
    return {(code & 1) != 0 ? cell : 0, (code & 2) != 0 ? cell : 0, (code & 4) != 0 ? cell : 0};
}

// `field` with the pair placed by `hand`, as put_hand places it: each puyo into the lowest empty
// cell of its column (the row 14 - height), the lower one of a vertical pair first. The cells are
// written directly from the parent's heights, without a column search per puyo; a vertical pair
// whose upper cell is not free (a puyo floats over a hole) goes through put_hand itself.
BitField placed(const BitField& field, const std::array<std::uint64_t, kFieldWidth>& height, u128 occupied, Hand hand,
                GamePair pair) {
    const std::uint64_t x = hand.x;
    unsigned axis_bit = 0, child_bit = 0;
    switch (hand.rotation) {
        case Rotation::Top:
        case Rotation::Bottom: {
            const unsigned lower = bit_layout::cell_bit(x, kMaxHeight - height[x]);
            const unsigned upper = bit_layout::cell_bit(x, kMaxHeight - height[x] - 1);
            if (((occupied >> upper) & 1) != 0) {
                BitField slow = field;
                (void)put_hand(slow, hand, pair);
                return slow;
            }
            axis_bit = hand.rotation == Rotation::Top ? lower : upper;
            child_bit = hand.rotation == Rotation::Top ? upper : lower;
            break;
        }
        case Rotation::Left:
        case Rotation::Right: {
            const std::uint64_t side = hand.rotation == Rotation::Left ? x - 1 : x + 1;
            axis_bit = bit_layout::cell_bit(x, kMaxHeight - height[x]);
            child_bit = bit_layout::cell_bit(side, kMaxHeight - height[side]);
            break;
        }
    }
    const PuyoBits a = puyo_bits(pair.axis(), axis_bit);
    const PuyoBits c = puyo_bits(pair.child(), child_bit);
    const BitPlanes& p = field.bit_planes();
    return BitField::from_planes(p.p0 | a.p0 | c.p0, p.p1 | a.p1 | c.p1, p.p2 | a.p2 | c.p2);
}

}  // namespace

void expand(const BitField& field, GamePair pair, Children& out) {
    out.count = 0;
    const MoveMask mask = legal_move_mask(field);
    std::array<std::uint64_t, kFieldWidth> height{};
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) height[x] = field.get_height(x);
    const u128 occupied = field.occupancy();
    for (MoveMask rest = mask; rest != 0; rest &= rest - 1) {
        const auto move = static_cast<std::size_t>(__builtin_ctz(rest));
        Child& child = out.items[out.count++];
        // A legal move is one that put_pair accepts, so every cell written here is free.
        child.field = placed(field, height, occupied, kAllHands[move], pair);
        const ChainResult chain = child.field.run_chain();
        child.chain = chain.chain;
        child.score = chain.score;
        child.move = static_cast<std::uint8_t>(move);
        child.game_over = is_death_cell_occupied(child.field);
    }
}

}  // namespace velmo
