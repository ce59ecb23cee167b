// A beam-search player. The beam runs over the pairs the player can see (the current one and
// the game's visible next pairs) and, past them, pairs drawn from the project's SplitMix64
// seeded by (seed, turn), so a choice depends only on the configuration and the game. Quiet
// positions are scored by their best potential chain (detect with up to `max_added` puyos) plus
// the field's shape (a U-shaped height profile with the spawn column low, links of same colours,
// nothing in the 13th and 14th rows). A path that fires a chain worth `fire_score` or more ends
// there, valued at that chain; smaller chains are wasted material and are not searched, except
// when the player must fire (near the top, or no quiet move survives), from `last_turn` on, or
// on the last placements before `end_turn`, the game's length, past which nothing is searched.
#pragma once

#include <cstdint>

#include "../game/game.hpp"
#include "../game/interrupt.hpp"

namespace velmo {

struct BeamConfig {
    unsigned width = 64;
    unsigned depth = 4;  // pairs searched, the current one included
    std::uint64_t seed = 0;
    std::uint64_t node_budget = 0;  // children evaluated per move; 0: no limit
    double time_budget_ms = 0;      // per move; 0: no limit (a time limit makes the choice machine-dependent)
    std::uint32_t fire_score = 80000;
    std::uint64_t last_turn = ~std::uint64_t{0};
    std::uint64_t end_turn = ~std::uint64_t{0};  // the turn no placement reaches (a game of 54 placements: 54)
    unsigned max_added = 2;                      // puyos added by the potential-chain evaluation
};

struct BeamStats {
    std::uint64_t nodes = 0;
    unsigned depth_reached = 0;
};

// The chosen move, or -1 when the game has no legal move. Asks `stop` between expansions and
// throws Interrupted when it says stop.
int beam_search_move(const Game& game, const BeamConfig& config, BeamStats* stats = nullptr, const StopCheck& stop = {});

// The evaluation of a quiet position, in points (for tests and tuning).
double evaluate_position(const BitField& field, unsigned max_added = 2);

}  // namespace velmo
