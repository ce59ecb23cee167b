// The bit field's bulk operations written once over a processor-path policy `Ops`. Each path's
// unit instantiates `Kernels<Ops>` with an `Ops` of its own in an anonymous namespace, so every
// instantiation has internal linkage and no code compiled for one processor can stand in for
// another's. For that reason everything here is a member of the template, and the code calls
// only compiler builtins and `Ops`, never an inline function shared with other units.
//
// `Ops` provides, for its 128-bit mask type W and its vector V of several colour masks:
//   load(u128) / store(W), zero(), W and V support &, |, ^, ~
//   up/down/left/right(W or V)   the four neighbour shifts, never crossing a lane
//   is_zero(W or V), popcount(W), first_seed(W)
//   kColorsPerVector, colour_planes(planes, pass), color_code(pass, i), lane(V, i), merge(V)
//   lane_span(W)                 per lane: the bits from 0 up to its highest set bit
//   compact(planes, holes)       per lane: remove the hole bits of the counted area (gravity)
//   kCompactsAnyHolesAtOnce      whether compact costs the same for any number of holes
#pragma once

#include <cstdint>

#include "../chain/gradual_chain_score_calculator.hpp"
#include "bit_kernels.hpp"
#include "bit_layout.hpp"

namespace velmo::bit_kernels {

template <class Ops>
struct Kernels {
    using W = typename Ops::W;
    using V = typename Ops::V;
    static constexpr unsigned kColorsPerVector = Ops::kColorsPerVector;
    static constexpr unsigned kPasses = 4 / kColorsPerVector;
    // A colour with fewer vanishing cells than two minimal groups is a single group.
    static constexpr unsigned kCellsOfTwoGroups = 8;

    struct Planes {
        W p0, p1, p2;
    };

    static Planes load(const BitPlanes& field) { return {Ops::load(field.p0), Ops::load(field.p1), Ops::load(field.p2)}; }
    static void store(const Planes& planes, BitPlanes& field) {
        field.p0 = Ops::store(planes.p0);
        field.p1 = Ops::store(planes.p1);
        field.p2 = Ops::store(planes.p2);
    }

    // --- mask helpers --------------------------------------------------------------------------

    static W with_neighbours(W v) { return v | Ops::up(v) | Ops::down(v) | Ops::left(v) | Ops::right(v); }

    // The connected part of `cells` that contains `seed`.
    static W grow(W seed, W cells) {
        W group = seed;
        for (;;) {
            const W next = cells & with_neighbours(group);
            if (Ops::is_zero(next ^ group)) return group;
            group = next;
        }
    }

    static bool same(const Planes& a, const Planes& b) { return Ops::is_zero((a.p0 ^ b.p0) | (a.p1 ^ b.p1) | (a.p2 ^ b.p2)); }

    static void clear(Planes& planes, W cells) {
        const W keep = ~cells;
        planes.p0 = planes.p0 & keep;
        planes.p1 = planes.p1 & keep;
        planes.p2 = planes.p2 & keep;
    }

    // --- gravity -------------------------------------------------------------------------------

    // In every lane, the empty cells at or below the highest ojama or colour cell are holes; the
    // counted area's cells close over them, and the rows that gravity never moves keep their bits.
    //
    // A path whose compaction costs the same for any number of holes may close over every empty
    // cell instead while no WALL cell lies inside the counted area: the empty cells above a
    // column's highest puyo then have only empty cells above them, so closing over them moves
    // nothing but zeros, and the span of the highest puyo need not be computed.
    static void drop(Planes& planes) {
        const W puyo = planes.p0 | planes.p2;
        const W empty = ~(puyo | planes.p1);
        if constexpr (Ops::kCompactsAnyHolesAtOnce) {
            const W walls_inside = planes.p1 & ~puyo & Ops::load(bit_layout::kCountedArea);
            if (Ops::is_zero(walls_inside)) [[likely]] {
                Ops::compact(planes, empty);
                return;
            }
        }
        const W holes = Ops::lane_span(puyo) & empty;
        if (Ops::is_zero(holes)) return;
        Ops::compact(planes, holes);
    }

    static void drop_entry(BitPlanes& field) {
        Planes planes = load(field);
        drop(planes);
        store(planes, field);
    }

    // --- vanishing -----------------------------------------------------------------------------

    // Receivers of the vanished groups of one step. `add_single` takes a colour's whole vanishing
    // count when that is one group or none (0 cells).
    struct NoScore {
        static constexpr bool kWantsGroups = false;
        void add(std::uint32_t, std::uint8_t) {}
        void add_single(std::uint32_t, std::uint8_t) {}
    };
    struct StepTally {
        static constexpr bool kWantsGroups = true;
        std::uint32_t num_vanished = 0;
        std::uint32_t bonus_sum = 0;
        std::uint32_t colors = 0;  // bit c set: a group of code c vanished
        void add(std::uint32_t size, std::uint8_t code) {
            num_vanished += size;
            bonus_sum += score_rules::connection_bonus<Ops>(size);
            colors |= 1u << (code & 31);
        }
        // Without a branch: a count of 0 adds nothing, its bonus entry being 0.
        void add_single(std::uint32_t count, std::uint8_t code) {
            num_vanished += count;
            bonus_sum += score_rules::connection_bonus<Ops>(count);
            colors |= static_cast<std::uint32_t>(count != 0) << (code & 31);
        }
    };
    struct GroupList {
        static constexpr bool kWantsGroups = true;
        VanishedGroups* out;
        void add(std::uint32_t size, std::uint8_t code) {
            if (out->count < kMaxGroupsPerStep) out->groups[out->count++] = VanishedGroup{size, code};
        }
        void add_single(std::uint32_t count, std::uint8_t code) {
            if (count != 0) add(count, code);
        }
    };

    // The cells of the colours of L that belong to groups of 4 or more (none: all zero).
    // D2 holds the cells with at least two same-coloured neighbours; W the cells with three, and
    // the D2 cells next to another D2 cell. A group of 3 or fewer has no W cell, while every cell
    // of a larger group is a W cell or next to one. Computed without a branch: both passes run
    // side by side and only their union is tested.
    static V find_vanishing(V L) {
        const V u = Ops::up(L), d = Ops::down(L), l = Ops::left(L), r = Ops::right(L);
        const V vertical = u | d;
        const V horizontal = l | r;
        const V middle_of_column = L & u & d;
        const V middle_of_row = L & l & r;
        const V d2 = middle_of_column | middle_of_row | (L & vertical & horizontal);
        const V w = (middle_of_row & vertical) | (middle_of_column & horizontal) |
                    (d2 & (Ops::down(d2) | Ops::left(d2) | Ops::up(d2) | Ops::right(d2)));
        return L & (w | Ops::up(w) | Ops::down(w) | Ops::left(w) | Ops::right(w));
    }

    // Splits one colour's vanishing cells into groups for the receiver.
    template <class Receiver>
    static void report_groups(W vanishing, W color_cells, std::uint8_t code, Receiver& receiver) {
        const unsigned count = Ops::popcount(vanishing);
        if (count < kCellsOfTwoGroups) [[likely]] {
            receiver.add_single(count, code);
            return;
        }
        W remaining = vanishing;
        while (!Ops::is_zero(remaining)) {
            const W group = grow(Ops::first_seed(remaining), color_cells);
            receiver.add(Ops::popcount(group), code);
            remaining = remaining & ~group;
        }
    }

    // Empties every group of 4 or more in the connection region and the ojama touching them.
    template <class Receiver>
    static bool vanish(Planes& planes, Receiver& receiver) {
        V colors[kPasses];
        V vanishing[kPasses];
        W vanishing_all = Ops::zero();
#pragma GCC unroll 4
        for (unsigned pass = 0; pass < kPasses; ++pass) {
            colors[pass] = Ops::colour_planes(planes, pass);
            vanishing[pass] = find_vanishing(colors[pass]);
            vanishing_all = vanishing_all | Ops::merge(vanishing[pass]);
        }
        if (Ops::is_zero(vanishing_all)) return false;
        if constexpr (Receiver::kWantsGroups) {
#pragma GCC unroll 4
            for (unsigned pass = 0; pass < kPasses; ++pass) {
#pragma GCC unroll 4
                for (unsigned i = 0; i < kColorsPerVector; ++i) {
                    report_groups(Ops::lane(vanishing[pass], i), Ops::lane(colors[pass], i), Ops::color_code(pass, i), receiver);
                }
            }
        }
        const W ojama = planes.p0 & ~planes.p1 & ~planes.p2;
        const W touched_ojama = with_neighbours(vanishing_all) & ojama & Ops::load(bit_layout::kCountedArea);
        clear(planes, vanishing_all | touched_ojama);
        return true;
    }

    static bool vanish_entry(BitPlanes& field, VanishedGroups* groups) {
        Planes planes = load(field);
        bool found = false;
        if (groups == nullptr) {
            NoScore none;
            found = vanish(planes, none);
        } else {
            groups->count = 0;
            GroupList list{groups};
            found = vanish(planes, list);
        }
        store(planes, field);
        return found;
    }

    // --- the chain loop ------------------------------------------------------------------------

    static void commit(const StepTally& step, ChainTally& tally) {
        const auto num_colors = static_cast<std::uint32_t>(Ops::popcount64(step.colors));
        const std::uint32_t score =
            score_rules::step_score<Ops>(tally.num_steps + 1, step.bonus_sum, num_colors, step.num_vanished);
        if (tally.num_steps < kMaxChainSteps) tally.step_scores[tally.num_steps] = score;
        tally.score += score;
        ++tally.num_steps;
    }

    // Vanish, commit, drop, until an iteration changes nothing. An iteration that vanished
    // something has fewer colour cells afterwards (gravity keeps every bit), so only an iteration
    // without a group needs the comparison.
    static void chain(Planes& planes, ChainTally& tally) {
        tally.num_steps = 0;
        tally.score = 0;
        for (unsigned iteration = 0; iteration < kMaxChainIterations; ++iteration) {
            StepTally step;
            if (vanish(planes, step)) {
                commit(step, tally);
                drop(planes);
                continue;
            }
            const Planes before = planes;
            drop(planes);
            if (same(planes, before)) return;
        }
    }

    static void chain_entry(BitPlanes& field, ChainTally& tally) {
        Planes planes = load(field);
        chain(planes, tally);
        store(planes, field);
    }

    // --- the chain search ----------------------------------------------------------------------

    static W cells_of_code(const Planes& planes, unsigned code) {
        const W p0 = (code & 1) != 0 ? planes.p0 : ~planes.p0;
        const W p1 = (code & 2) != 0 ? planes.p1 : ~planes.p1;
        const W p2 = (code & 4) != 0 ? planes.p2 : ~planes.p2;
        return p0 & p1 & p2;
    }

    static unsigned code_at(const Planes& planes, W cell) {
        return (Ops::is_zero(planes.p0 & cell) ? 0u : 1u) | (Ops::is_zero(planes.p1 & cell) ? 0u : 2u) |
               (Ops::is_zero(planes.p2 & cell) ? 0u : 4u);
    }

    // Every colour group touching an empty cell is removed on a copy, the copy falls and chains;
    // the chains that score are reported. Groups are tried by their first candidate cell, high
    // word (columns 4..7) first, each column from the bottom up.
    static void find_chain_by_removal(const BitPlanes& field, FoundChainSink sink, void* context) {
        const Planes planes = load(field);
        const W empty = ~(planes.p0 | planes.p1 | planes.p2);
        W candidates = planes.p2 & (Ops::up(empty) | Ops::down(empty) | Ops::left(empty) | Ops::right(empty));
        while (!Ops::is_zero(candidates)) {
            const W seed = Ops::first_seed(candidates);
            const unsigned code = code_at(planes, seed);
            const W group = grow(seed, cells_of_code(planes, code));
            candidates = candidates & ~group;

            Planes trial = planes;
            clear(trial, group);
            drop(trial);
            ChainTally tally;
            chain(trial, tally);
            if (tally.score != 0) {
                FoundChainRecord record{Ops::store(group), static_cast<std::uint8_t>(code), BitPlanes{}, tally.score, tally.num_steps};
                store(trial, record.field);
                sink(context, record);
            }
        }
    }

    static constexpr KernelTable kTable = {&drop_entry, &vanish_entry, &chain_entry, &find_chain_by_removal};
};

}  // namespace velmo::bit_kernels
