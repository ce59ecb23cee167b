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

u128 neighbours(u128 v) {
    return v | ((v >> 1) & bit_layout::kLaneNotTopBit) | ((v << 1) & bit_layout::kLaneNotBottomBit) | (v << 16) | (v >> 16);
}

// The size of the group of `color` cells connected to `seed` in the connection region.
unsigned group_size(const BitField& field, u128 seed, BitPuyoType color) {
    const BitPlanes& p = field.bit_planes();
    const unsigned code = bit_code(color);
    const u128 cells = ((code & 1) != 0 ? p.p0 : ~p.p0) & ((code & 2) != 0 ? p.p1 : ~p.p1) & p.p2 & bit_layout::kConnectionRegion;
    u128 group = seed & cells;
    if (group == 0) return 0;
    for (;;) {
        const u128 next = cells & neighbours(group);
        if (next == group) break;
        group = next;
    }
    return static_cast<unsigned>(__builtin_popcountll(low64(group)) + __builtin_popcountll(high64(group)));
}

// Tries one column and colour; true with `result` filled when some k <= max_added fires.
bool try_column(const BitField& field, std::uint64_t x, BitPuyoType color, unsigned max_added, bool exact_only,
                PotentialChain& result) {
    BitField trial = field;
    u128 added_cells = 0;
    for (unsigned k = 1; k <= max_added; ++k) {
        const auto at = trial.put(x, color);
        if (!at) return false;
        added_cells |= u128{1} << bit_layout::cell_bit(at->x, at->y);
        // On a settled field without a pending group, only the added puyos' group can vanish.
        if (!exact_only && group_size(trial, added_cells, color) < 4) continue;
        BitField after = trial;
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
    std::size_t num_present = 0;
    for (const BitPuyoType color : kGameColors) {
        if (field.has_type(color)) present[num_present++] = color;
    }
    PotentialChain result;
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        for (std::size_t c = 0; c < num_present; ++c) {
            if (try_column(field, x, present[c], max_added, exact_only, result)) visit(result);
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

void expand(const BitField& field, GamePair pair, Children& out) {
    out.count = 0;
    const MoveMask mask = legal_move_mask(field);
    for (std::size_t move = 0; move < kNumMoves; ++move) {
        if (((mask >> move) & 1) == 0) continue;
        Child& child = out.items[out.count++];
        child.field = field;
        // Cannot fail: a legal move is one that put_pair accepts.
        (void)put_hand(child.field, kAllHands[move], pair);
        const ChainResult chain = child.field.run_chain();
        child.chain = chain.chain;
        child.score = chain.score;
        child.move = static_cast<std::uint8_t>(move);
        child.game_over = is_death_cell_occupied(child.field);
    }
}

}  // namespace velmo
