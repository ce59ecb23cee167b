// A beam-search player. The beam runs over the pairs the player can see (the current one and
// the game's visible next pairs) and, past them, pairs drawn from the project's SplitMix64
// seeded by (seed, turn), so a choice depends only on the configuration and the game. Positions
// are scored by the best potential chain (detect with up to two added puyos) plus the field's
// shape; the player fires when the chain the current move sets off is worth `fire_score`, when
// it must (no quiet move survives), or from `last_turn` on, when any chain beats none.
#pragma once

#include <cstdint>

#include "../game/game.hpp"

namespace velmo {

struct BeamConfig {
    unsigned width = 64;
    unsigned depth = 4;  // pairs searched, the current one included
    std::uint64_t seed = 0;
    std::uint64_t node_budget = 0;  // children evaluated per move; 0: no limit
    double time_budget_ms = 0;      // per move; 0: no limit (a time limit makes the choice machine-dependent)
    std::uint32_t fire_score = 80000;
    std::uint64_t last_turn = ~std::uint64_t{0};
};

struct BeamStats {
    std::uint64_t nodes = 0;
    unsigned depth_reached = 0;
};

// The chosen move, or -1 when the game has no legal move.
int beam_search_move(const Game& game, const BeamConfig& config, BeamStats* stats = nullptr);

// The evaluation of a quiet position, in points (for tests and tuning).
double evaluate_position(const BitField& field);

}  // namespace velmo
