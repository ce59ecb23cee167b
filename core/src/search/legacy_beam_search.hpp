// The beam-search player as it was before it chose its move by the chains its search reaches:
// the first move of the best-valued path, quiet positions valued by one potential chain and a
// U-shaped height profile. Kept unchanged as a fixed opponent and baseline (the "legacy"
// preset), so the current player's strength can be measured against it on any build.
#pragma once

#include "beam_search.hpp"

namespace velmo {

// The chosen move, or -1 when the game has no legal move. Reads width, depth, seed, the budgets,
// fire_score, last_turn, end_turn and max_added of `config`.
int legacy_beam_search_move(const Game& game, const BeamConfig& config, BeamStats* stats = nullptr);

// That player's evaluation of a quiet position, in points.
double legacy_evaluate_position(const BitField& field, unsigned max_added);

}  // namespace velmo
