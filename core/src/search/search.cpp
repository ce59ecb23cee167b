#include "search.hpp"

namespace velmo {
namespace {

// Whether one more round of vanishing would empty anything: a field like that fires whatever
// is dropped on it, so its trials cannot be judged by the group of the added puyos alone.
bool has_pending_group(const BitField& field) {
    BitField trial = field;
    BitField before = trial;
    trial.vanish(nullptr);
    return !(trial == before);
}

bool is_settled_without_inner_walls(const BitField& field) {
    const BitPlanes& p = field.bit_planes();
    const u128 inner_walls = p.p1 & ~(p.p0 | p.p2) & bit_layout::kCountedArea;
    if (inner_walls != 0) return false;
    BitField dropped = field;
    dropped.drop();
    return dropped == field;
}

// Whether `v` has four or more set bits: three lowest bits cleared leave some. Cheaper than a
// count without the popcount instruction, and the potential-chain search asks it of every trial.
constexpr bool has_four_bits(u128 v) {
    v &= v - 1;
    v &= v - 1;
    v &= v - 1;
    return v != 0;
}

// Grows `group` through `cells` until it has four cells (true) or holds every cell of `cells`
// connected to it (false). Either way it stays inside the group it grows towards, so the next
// added puyo's trial can go on from it.
bool grows_to_four(u128& group, u128 cells) {
    for (;;) {
        if (has_four_bits(group)) return true;
        const u128 next = cells & neighbours(group);
        if (next == group) return false;
        group = next;
    }
}

// Where puyos dropped one after another into column x land: the cells of the first `count`
// (fewer when the column fills up).
struct Landing {
    std::array<Position, kMaxAddedPuyos> cells{};
    unsigned count = 0;
};

Landing landing_cells(const BitField& field, std::uint64_t x, unsigned max_added) {
    // A puyo dropped takes the lowest empty cell of the column, so k of them take its k lowest
    // empty cells, whatever their colour. Read from the column's lane of the occupancy; a full
    // column (no empty cell, the top wall included) takes none.
    std::uint64_t empty = ~static_cast<std::uint64_t>(field.occupancy() >> (bit_layout::kLaneBits * x)) & bit_layout::kLaneAll;
    Landing landing;
    for (; landing.count < max_added && empty != 0; ++landing.count, empty &= empty - 1) {
        const auto bit = static_cast<std::uint64_t>(__builtin_ctzll(empty));
        landing.cells[landing.count] = Position{x, bit_layout::kLaneBits - 1 - bit};
    }
    return landing;
}

// Tries one column and colour; true with `result` filled when some k <= max_added fires.
// `field_cells`: the field's cells of `color` in the connection region.
bool try_column(const BitField& field, const Landing& landing, std::uint64_t x, BitPuyoType color, unsigned max_added,
                bool exact_only, u128 field_cells, PotentialChain& result) {
    u128 added_cells = 0;
    u128 group = 0;  // the added puyos' group so far: each added puyo only grows it
    for (unsigned k = 1; k <= max_added; ++k) {
        if (k > landing.count) return false;  // the column is full
        const Position at = landing.cells[k - 1];
        const u128 cell = u128{1} << bit_layout::cell_bit(at.x, at.y);
        added_cells |= cell;
        // On a settled field without a pending group, only the added puyos' group can vanish.
        if (!exact_only) {
            const u128 cells = field_cells | (added_cells & bit_layout::kConnectionRegion);
            group |= cell & cells;
            if (!grows_to_four(group, cells)) continue;
        }
        BitField after = field;
        for (unsigned i = 0; i < k; ++i) after.set(landing.cells[i].x, landing.cells[i].y, color);
        const ChainResult chain = after.run_chain();
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

template <class Visit>
void for_each_potential_chain(const BitField& field, unsigned max_added, Visit&& visit) {
    if (max_added < 1) max_added = 1;
    if (max_added > kMaxAddedPuyos) max_added = kMaxAddedPuyos;
    const bool exact_only = !is_settled_without_inner_walls(field) || has_pending_group(field);
    std::array<BitPuyoType, 4> present{};
    std::array<u128, 4> present_cells{};
    std::size_t num_present = 0;
    for (const BitPuyoType color : kGameColors) {
        if (!field.has_type(color)) continue;
        present_cells[num_present] = cells_of_color(field.bit_planes(), color);
        present[num_present++] = color;
    }
    PotentialChain result;
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        const Landing landing = landing_cells(field, x, max_added);
        for (std::size_t c = 0; c < num_present; ++c) {
            if (try_column(field, landing, x, present[c], max_added, exact_only, present_cells[c], result)) visit(result);
        }
    }
}

}  // namespace

void detect_potential_chains(const BitField& field, unsigned max_added, PotentialChains& out) {
    out.count = 0;
    for_each_potential_chain(field, max_added, [&](const PotentialChain& found) {
        if (out.count < kMaxPotentialChains) out.items[out.count++] = found;
    });
}

std::optional<PotentialChain> best_potential_chain(const BitField& field, unsigned max_added) {
    std::optional<PotentialChain> best;
    for_each_potential_chain(field, max_added, [&](const PotentialChain& found) {
        if (!best || found.score > best->score || (found.score == best->score && found.added < best->added)) best = found;
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
