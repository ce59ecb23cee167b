// The bit field's bulk operations written once over a processor-path policy `Ops`. Each path's
// unit instantiates `Kernels<Ops>` with an `Ops` of its own in an anonymous namespace, so every
// instantiation has internal linkage and no code compiled for one processor can stand in for
// another's. For that reason everything here is a member of the template, and the code calls
// only compiler builtins and `Ops`, never an inline function shared with other units.
//
// `Ops` provides, for its 128-bit mask type W:
//   load(u128) / store(W), zero(), W supports &, |, ^, ~
//   up/down/left/right(W)        the four neighbour shifts, never crossing a lane
//   is_zero(W), popcount(W), popcount64(u64), first_seed(W)
//   lane_span(W)                 per lane: the bits from 0 up to its highest set bit
//   compact(planes, kept)        per lane: keep the counted area's bits at `kept` positions,
//                                packed to the bottom of the lane (gravity)
//   kCompactsAnyHolesAtOnce      whether compact costs the same for any number of holes
// and may provide settled(planes) and close_single_runs(planes, cleared), a shorter gravity for
// the chain loop (see the x86 vector paths), and ternary<table>(a, b, c), any bitwise function of
// three masks in one instruction (see logic).
#pragma once

#include <concepts>
#include <cstdint>

#include "../chain/gradual_chain_score_calculator.hpp"
#include "bit_kernels.hpp"
#include "bit_layout.hpp"

namespace velmo::bit_kernels {

template <class Ops>
struct Kernels {
    using W = typename Ops::W;
    // A colour with fewer vanishing cells than two minimal groups is a single group; so is the
    // whole step when all colours together vanish fewer.
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

    // --- gravity -------------------------------------------------------------------------------

    // In every lane, the empty cells at or below the highest ojama or colour cell are holes; the
    // counted area's cells close over them, and the rows that gravity never moves keep their bits.
    //
    // A path whose compaction costs the same for any number of holes may close over every empty
    // cell instead while no WALL cell lies inside the counted area: the empty cells above a
    // column's highest puyo then have only empty cells above them, so closing over them moves
    // nothing but zeros, and the span of the highest puyo need not be computed.
    static bool walls_inside(const Planes& planes) {
        return !Ops::is_zero(planes.p1 & ~(planes.p0 | planes.p2) & Ops::load(bit_layout::kCountedArea));
    }

    static void drop(Planes& planes) {
        if constexpr (Ops::kCompactsAnyHolesAtOnce) {
            if (!walls_inside(planes)) [[likely]] {
                Ops::compact(planes, ~(planes.p0 | planes.p1 | planes.p2));
                return;
            }
        }
        const W puyo = planes.p0 | planes.p2;
        const W holes = Ops::lane_span(puyo) & ~(puyo | planes.p1);
        if (Ops::is_zero(holes)) return;
        Ops::compact(planes, holes);
    }

    // Empties `cleared` and lets everything fall, on a path that closes over every empty cell
    // and a field without WALL cells inside the counted area. The cleared cells become holes
    // themselves, and the compaction drops whatever a hole holds, so the planes need not be
    // cleared first: gravity then starts from planes that are already at hand.
    static void clear_and_drop_without_inner_walls(Planes& planes, W cleared) {
        Ops::compact(planes, ~(planes.p0 | planes.p1 | planes.p2) | cleared);
    }

    static void drop_entry(BitPlanes& field) {
        Planes planes = load(field);
        drop(planes);
        store(planes, field);
    }

    // --- vanishing -----------------------------------------------------------------------------

    // Receivers of the vanished groups of one step. `add_single` takes a colour's whole vanishing
    // count when that is one group or none (0 cells); `add_lone_group` the step's only group,
    // with a function that reads its colour code, for a receiver that needs it.
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
        // One group is one colour, whichever it is: the score needs only the number of colours.
        template <class CodeOf>
        void add_lone_group(std::uint32_t size, CodeOf) {
            num_vanished += size;
            bonus_sum += score_rules::connection_bonus<Ops>(size);
            colors = 1;
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
        template <class CodeOf>
        void add_lone_group(std::uint32_t size, CodeOf code_of) {
            add(size, code_of());
        }
    };

    // --- three-input logic ----------------------------------------------------------------------

    // f(a, b, c) for a bitwise function f given as a captureless generic lambda. A path with a
    // ternary-logic instruction (Ops::ternary<table>) computes it in one instruction whose table
    // is f applied to the three input columns 0xF0, 0xCC, 0xAA; other paths apply f as it is.
    // Written out like this, the grouping of each expression is the one chosen below, which keeps
    // the dependent levels of the chain loop few.
    template <class F>
    static W logic(F, W a, W b, W c) {
        if constexpr (requires { Ops::template ternary<0>(a, b, c); }) {
            constexpr auto kTable = static_cast<std::uint8_t>(F{}(0xF0u, 0xCCu, 0xAAu));
            return Ops::template ternary<kTable>(a, b, c);
        } else {
            return F{}(a, b, c);
        }
    }
    static constexpr auto kAnd3 = [](auto a, auto b, auto c) { return a & b & c; };
    static constexpr auto kOr3 = [](auto a, auto b, auto c) { return a | b | c; };
    static constexpr auto kEqualAnd = [](auto a, auto b, auto c) { return ~(a ^ b) & c; };
    static constexpr auto kMajority = [](auto a, auto b, auto c) { return (a & b) | (c & (a | b)); };
    static constexpr auto kAndThenOr = [](auto a, auto b, auto c) { return (a & b) | c; };
    static constexpr auto kAndOfOr = [](auto a, auto b, auto c) { return a & (b | c); };

    // The cells of all groups of 4 or more (none: all zero), every colour at once. Two cells are
    // linked when they are neighbours in the connection region with the same colour code, so the
    // four link masks below (same colour as the cell above, below, to the left, to the right)
    // carry everything the detection needs and no colour has to be treated on its own.
    //
    // D2 holds the cells with at least two links; W the cells with three, and the D2 cells linked
    // to another D2 cell. A group of 3 or fewer has no W cell, while every cell of a larger group
    // is a W cell or linked to one.
    //
    // In the chain loop each step waits for the one before, so the masks are formed in as few
    // dependent levels as possible: each link mask is two levels after the shifts, and a cell's
    // link to a D2 neighbour is found from the neighbour's side. The link masks mirror each other
    // (link_up is up(link_down), link_left is left(link_right)), so link_down & down(d2) equals
    // down(link_up & d2), and link_up & d2 is link_up with one more link, known before D2 itself.
    static W find_vanishing(const Planes& planes) {
        const W region = Ops::load(bit_layout::kConnectionRegion);
        // Cells of the region whose upper (left) neighbour is in the region too.
        const W region_up = region & Ops::up(region);
        const W region_left = region & Ops::left(region);
        const W p0 = planes.p0, p1 = planes.p1, p2 = planes.p2;
        // Two colour cells have the same colour when their p0 and p1 bits agree (both have p2).
        const W link_up = logic(kAnd3, logic(kEqualAnd, p0, Ops::up(p0), p2), logic(kEqualAnd, p1, Ops::up(p1), Ops::up(p2)), region_up);
        const W link_left =
            logic(kAnd3, logic(kEqualAnd, p0, Ops::left(p0), p2), logic(kEqualAnd, p1, Ops::left(p1), Ops::left(p2)), region_left);
        const W link_down = Ops::down(link_up);      // the cell below links up to this one
        const W link_right = Ops::right(link_left);  // the cell to the right links left to this one
        // Among up, down and left: at least two links, at least one, all three.
        const W two_of_three = logic(kMajority, link_up, link_down, link_left);
        const W any_of_three = logic(kOr3, link_up, link_down, link_left);
        const W all_three = logic(kAnd3, link_up, link_down, link_left);
        const W d2 = logic(kAndThenOr, any_of_three, link_right, two_of_three);
        const W three = logic(kAndThenOr, two_of_three, link_right, all_three);
        // A link in one direction plus at least one more: the D2 cells with that link.
        const W vertical = link_up | link_down;
        const W horizontal = link_left | link_right;
        const W d2_up = logic(kAndOfOr, link_up, link_down, horizontal);
        const W d2_down = logic(kAndOfOr, link_down, link_up, horizontal);
        const W d2_left = logic(kAndOfOr, link_left, link_right, vertical);
        const W d2_right = logic(kAndOfOr, link_right, link_left, vertical);
        // Cells linked to a D2 neighbour, from the neighbour's side; the fourth direction is
        // joined with the cells of three links (D2 cells themselves) in the last level of W.
        const W linked_d2 = logic(kOr3, Ops::down(d2_up), Ops::up(d2_down), Ops::left(d2_right));
        const W w = logic(kAndThenOr, linked_d2, d2, logic(kAndOfOr, d2, Ops::right(d2_left), three));
        // W and the cells linked to a W cell.
        const W up_or_w = logic(kAndThenOr, link_up, Ops::up(w), w);
        const W down = link_down & Ops::down(w);
        return logic(kAndThenOr, link_left, Ops::left(w), up_or_w) | logic(kAndThenOr, link_right, Ops::right(w), down);
    }

    // Splits the `count` vanishing cells of colour `code` into groups for the receiver. Fewer
    // than 8 cells are one group (or none), so only bigger colours are grown, and the cells left
    // after the grown groups are one group once fewer than 8: the last group is counted.
    template <class Receiver>
    static void report_groups(const Planes& planes, W vanishing, unsigned code, unsigned count, Receiver& receiver) {
        if (count >= kCellsOfTwoGroups) [[unlikely]] {
            const W color_cells = cells_of_code(planes, code) & Ops::load(bit_layout::kConnectionRegion);
            W remaining = vanishing & color_cells;
            while (count >= kCellsOfTwoGroups) {
                const W group = grow(Ops::first_seed(remaining), color_cells);
                const unsigned size = Ops::popcount(group);
                receiver.add(size, static_cast<std::uint8_t>(code));
                remaining = remaining & ~group;
                count -= size;
            }
        }
        receiver.add_single(count, static_cast<std::uint8_t>(code));
    }

    // Reports the groups of the vanishing cells `vanishing` (not empty). Fewer than 8 cells in
    // all are one group, whose colour is read from any of its cells. Otherwise the colours are
    // counted from the cells with p0, with p1 and with both (codes 5, 6 and 7; the rest are
    // code 4), three population counts for four colours.
    template <class Receiver>
    static void report_step(const Planes& planes, W vanishing, Receiver& receiver) {
        const unsigned count = Ops::popcount(vanishing);
        if (count < kCellsOfTwoGroups) [[likely]] {
            receiver.add_lone_group(count, [&] {
                return static_cast<std::uint8_t>(4u | (Ops::is_zero(planes.p0 & vanishing) ? 0u : 1u) |
                                                 (Ops::is_zero(planes.p1 & vanishing) ? 0u : 2u));
            });
            return;
        }
        const W with_p0 = vanishing & planes.p0;
        const W with_p1 = vanishing & planes.p1;
        const unsigned both = Ops::popcount(with_p0 & with_p1);
        const unsigned p0_only = Ops::popcount(with_p0) - both;
        const unsigned p1_only = Ops::popcount(with_p1) - both;
        report_groups(planes, vanishing, 4, count - p0_only - p1_only - both, receiver);
        report_groups(planes, vanishing, 5, p0_only, receiver);
        report_groups(planes, vanishing, 6, p1_only, receiver);
        report_groups(planes, vanishing, 7, both, receiver);
    }

    // The vanishing cells and the ojama touching them, in two levels after the shifts.
    static W cleared_cells(const Planes& planes, W vanishing) {
        const W ojama = planes.p0 & ~planes.p1 & ~planes.p2 & Ops::load(bit_layout::kCountedArea);
        return logic(kOr3, vanishing, logic(kAndOfOr, ojama, Ops::up(vanishing), Ops::down(vanishing)),
                     logic(kAndOfOr, ojama, Ops::left(vanishing), Ops::right(vanishing)));
    }

    // Empties every group of 4 or more in the connection region and the ojama touching them.
    template <class Receiver>
    static bool vanish(Planes& planes, Receiver& receiver) {
        const W vanishing = find_vanishing(planes);
        if (Ops::is_zero(vanishing)) return false;
        if constexpr (Receiver::kWantsGroups) report_step(planes, vanishing, receiver);
        clear(planes, cleared_cells(planes, vanishing));
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

    // The running totals of the chain loop. `step_scores` has kMaxChainSteps slots, or is null
    // when the caller wants the totals only (the chain search).
    struct Tally {
        std::uint32_t score;
        std::uint32_t num_steps;
        std::uint32_t* step_scores;
    };

    static void commit(const StepTally& step, Tally& tally) {
        const auto num_colors = static_cast<std::uint32_t>(Ops::popcount64(step.colors));
        const std::uint32_t score =
            score_rules::step_score<Ops>(tally.num_steps + 1, step.bonus_sum, num_colors, step.num_vanished);
        if (tally.step_scores != nullptr && tally.num_steps < kMaxChainSteps) tally.step_scores[tally.num_steps] = score;
        tally.score += score;
        ++tally.num_steps;
    }

    // Vanish, commit, drop, until an iteration changes nothing. An iteration that vanished
    // something has fewer colour cells afterwards (gravity keeps every bit), so only an iteration
    // without a group needs the comparison. Gravity moves cells only within the counted area, so
    // whether a WALL cell lies inside it holds for the whole chain and is decided once.
    //
    // `settled`: the caller knows that gravity would move nothing (the chain search drops its
    // trial field just before); the chain then ends at the first iteration without a group.
    static void chain(Planes& planes, Tally& tally, bool settled = false) {
        if constexpr (Ops::kCompactsAnyHolesAtOnce || kClosesSingleRuns) {
            if (!walls_inside(planes)) [[likely]] {
                chain_loop<true>(planes, tally, settled);
                return;
            }
        }
        chain_loop<false>(planes, tally, settled);
    }

    static constexpr bool kClosesSingleRuns = requires(Planes& planes, W cells) {
        { Ops::settled(planes) } -> std::same_as<bool>;
        { Ops::close_single_runs(planes, cells) } -> std::same_as<bool>;
    };

    // Gravity after emptying `cleared`, for a chain loop with or without WALL cells inside the
    // counted area.
    template <bool kWithoutInnerWalls>
    static void clear_and_drop(Planes& planes, W cleared) {
        if constexpr (kWithoutInnerWalls && Ops::kCompactsAnyHolesAtOnce) {
            clear_and_drop_without_inner_walls(planes, cleared);
        } else {
            clear(planes, cleared);
            drop(planes);
        }
    }

    // Every gravity leaves a settled field (a second pass moves nothing), so the iteration that
    // finds no group after one needs no gravity pass and no comparison: the chain is over. On a
    // path with the shorter gravity for single runs, a settled field without WALL cells inside the
    // counted area also lets a step whose cleared cells form one run per column fall that way.
    template <bool kWithoutInnerWalls>
    static void chain_loop(Planes& planes, Tally& tally, bool settled) {
        if constexpr (kWithoutInnerWalls && kClosesSingleRuns) settled = settled || Ops::settled(planes);
        for (unsigned iteration = 0; iteration < kMaxChainIterations; ++iteration) {
            const W vanishing = find_vanishing(planes);
            if (!Ops::is_zero(vanishing)) {
                StepTally step;
                report_step(planes, vanishing, step);
                commit(step, tally);
                const W cleared = cleared_cells(planes, vanishing);
                if constexpr (kWithoutInnerWalls && kClosesSingleRuns) {
                    if (settled && Ops::close_single_runs(planes, cleared)) [[likely]] continue;
                }
                clear_and_drop<kWithoutInnerWalls>(planes, cleared);
                settled = true;
                continue;
            }
            if (settled) return;
            const Planes before = planes;
            drop(planes);
            if (same(planes, before)) return;
            settled = true;
        }
    }

    // Writes only the result's fields (its construction is the caller's), so no code outside
    // this path's unit runs here.
    static void chain_entry(BitPlanes& field, ChainResult& result) {
        Planes planes = load(field);
        Tally tally{0, 0, result.step_scores.values};
        chain(planes, tally);
        store(planes, field);
        result.step_scores.count = tally.num_steps < kMaxChainSteps ? tally.num_steps : static_cast<std::uint32_t>(kMaxChainSteps);
        result.score = tally.score;
        result.chain = tally.num_steps;
    }

    static void settled_chain_totals_entry(BitPlanes& field, ChainTotals& totals) {
        Planes planes = load(field);
        Tally tally{0, 0, nullptr};
        chain(planes, tally, /*settled=*/true);
        store(planes, field);
        totals.score = tally.score;
        totals.chain = tally.num_steps;
    }

    // --- the chain search ----------------------------------------------------------------------

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
            Tally tally{0, 0, nullptr};
            chain(trial, tally, /*settled=*/true);
            if (tally.score != 0) {
                FoundChainRecord record{Ops::store(group), static_cast<std::uint8_t>(code), BitPlanes{}, tally.score, tally.num_steps};
                store(trial, record.field);
                sink(context, record);
            }
        }
    }

    static constexpr KernelTable kTable = {&drop_entry, &vanish_entry, &chain_entry, &settled_chain_totals_entry,
                                              &find_chain_by_removal};
};

}  // namespace velmo::bit_kernels
