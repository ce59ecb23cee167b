// The beam-search player. From each first move (a "root") the beam runs over the pairs the
// player can see (the current one and the game's visible next pairs) and, past them, over
// `queues` futures of pairs drawn from the project's SplitMix64 seeded by (seed, turn, queue),
// so a choice depends only on the configuration and the game.
//
// The evaluation only decides which positions stay in the beam. The first move is chosen by what
// its subtree reaches: the best chain fired anywhere below it within the horizon (a chain on
// sampled pairs discounted by level, one worth `fire_score` or more above every quiet outcome)
// and the evaluation of its best quiet leaf, averaged over the futures. A leaf whose potential
// chain is worth firing counts as that chain fired just past the horizon, so a future whose pairs
// missed the trigger does not argue for firing a smaller chain now. Firing now is simply the root
// whose own chain beats everything its siblings reach. In a match, the ojama on its way falls on
// the positions the search reaches.
//
// A quiet position is valued by its potential chains (detect with up to `max_added` puyos), by
// length more than score, with the trigger's height and the room beside it; the links of two and
// three left once that chain has fired; how far the left of the field matches a few chain bases
// with consistent colours; and costs for wells, bumps, the spawn column's height and puyos in the
// 13th and 14th rows. Moves pay for a split pair and, per puyo, for popping small chains. The
// weights change with the stage of the game (by puyo count).
#pragma once

#include <atomic>
#include <cstdint>

#include "../game/game.hpp"
#include "../game/rules.hpp"

namespace velmo {

// When a crowded field lowers the chain worth firing: the legacy player's rule and the default
// of the beam player's `crowded` and `full` weights.
// Puyos on the field (of 78 cells) from which the chain the player waits for shrinks, down to any
// chain at kFullPuyos: a full field fires what it has rather than lose.
inline constexpr std::uint64_t kCrowdedPuyos = 62;
inline constexpr std::uint64_t kFullPuyos = 76;

// The evaluation's weights, per feature (points per unit). Stage multipliers scale the chain
// and shape groups: the build stage (few puyos) favours shape, the end stage the chain.
// The thirteen tuned ones come from benchmarks/tune_player.py (CMA-ES, 40 games a trial), rounded.
struct EvalWeights {
    double chain = 1633;           // per link of the best potential chain
    double chain_squared = 440;    // per link squared
    double score = 0.39;           // per point of its score
    double added = 685;            // per puyo the potential chain needs
    double trigger_height = 108;   // per row the trigger sits above the bottom (extendable below)
    double trigger_room = 76;      // per empty cell beside the trigger column, up to the 12th row
    double link2 = 93;             // per group of two left after the potential chain
    double link3 = 139;            // per group of three left after it
    double template_match = 158;   // per satisfied template pair (colours equal or different as it wants)
    double well = 361;             // per row of a column two or more below both neighbours
    double bump = 152;             // per row of height step past one between neighbours
    double profile = 122;          // per squared row off the U-shaped profile
    double hidden = 900;           // per puyo in the 13th and 14th rows
    double split = 150;            // per pair placed on unequal heights (a split)
    double popped = 1410;          // per puyo popped in a chain too small to fire
    double left = 0;               // per puyo left after the potential chain, scaled up with the stage
    // A leaf's potential chain worth firing counts as fired past the horizon, by this share of its
    // score (0: only chains fired within the horizon count).
    double leaf_chain = 1;
    // The share of its discounted score a chain fired on drawn pairs (or held at a leaf below
    // them) counts, against one fired on the pairs the player sees. Above 1: the player searches
    // again each turn with the pairs it then sees, and builds on past one future's plan, so it
    // gains by waiting a little longer for the bigger chain. Over 500 games 1.1 raised the median
    // by 1,600 and the share at 100,000 by 2.4 points, for one point less at 80,000; 0.9 fired
    // 80,000-point chains where the default went on to 110,000 (a median lower by 4,300 on one
    // set of 100), and 1.2 waited too long.
    double drawn = 1.1;
    // Per squared row of the spawn column above the 8th, and of its neighbours above the 9th. A
    // quarter of the former 10,000 and 5,000: the lighter costs let the build use those columns'
    // top rows before it fires, a longer chain on the same field. Halving them first raised the
    // median by 1,000 to 4,100 on each of three sets of 100 seeds; halving them again, once the
    // top rule read only the field moved from, by 1,550 over 500 games and the share at 100,000
    // by 4 points.
    double spawn = 2500;
    double spawn_side = 1250;
    // Those two costs' multiple in a match, where ojama lands on the stack: at the one-player
    // costs the player lost more matches to small early attacks. 4 keeps a match's costs at
    // 10,000 and 5,000, where they were before the one-player costs were halved again (at twice
    // the halved costs it lost 8 of 200 games to the greedy player on seeds 100 to 199).
    double match_spawn = 4;
    // Puyos from which the score worth firing falls, linearly, to any chain at `full`.
    double crowded = static_cast<double>(kCrowdedPuyos), full = static_cast<double>(kFullPuyos);
    // Heights of the spawn column and of the column right of it, on the field the player moves
    // from, from which any chain is worth firing. 12 and 13: only a column in the 13th row forces
    // a fire; forcing one from 11 and 12 fired 60,000-point chains in games that went on to build
    // 90,000 (a tenth lower mean).
    double fire_height = 12, fire_side_height = 13;
    // Puyo counts that bound the stages, and the multipliers of the chain terms in each.
    double build_end = 30, end_start = 56;
    double build_chain = 0.8, end_chain = 1.3;
};

// The weights by name, for the bindings and the tuner.
struct EvalWeightField {
    const char* name;
    double EvalWeights::*member;
};
inline constexpr EvalWeightField kEvalWeightFields[] = {
    {"chain", &EvalWeights::chain},
    {"chain_squared", &EvalWeights::chain_squared},
    {"score", &EvalWeights::score},
    {"added", &EvalWeights::added},
    {"trigger_height", &EvalWeights::trigger_height},
    {"trigger_room", &EvalWeights::trigger_room},
    {"link2", &EvalWeights::link2},
    {"link3", &EvalWeights::link3},
    {"template_match", &EvalWeights::template_match},
    {"well", &EvalWeights::well},
    {"bump", &EvalWeights::bump},
    {"profile", &EvalWeights::profile},
    {"hidden", &EvalWeights::hidden},
    {"split", &EvalWeights::split},
    {"popped", &EvalWeights::popped},
    {"left", &EvalWeights::left},
    {"leaf_chain", &EvalWeights::leaf_chain},
    {"drawn", &EvalWeights::drawn},
    {"spawn", &EvalWeights::spawn},
    {"spawn_side", &EvalWeights::spawn_side},
    {"match_spawn", &EvalWeights::match_spawn},
    {"crowded", &EvalWeights::crowded},
    {"full", &EvalWeights::full},
    {"fire_height", &EvalWeights::fire_height},
    {"fire_side_height", &EvalWeights::fire_side_height},
    {"build_end", &EvalWeights::build_end},
    {"end_start", &EvalWeights::end_start},
    {"build_chain", &EvalWeights::build_chain},
    {"end_chain", &EvalWeights::end_chain},
};

// Puyos the evaluation may add to find a field's potential chains. Three also see a chain whose
// trigger needs a puyo below it: stronger than two, at a quarter more time per move.
inline constexpr unsigned kEvalMaxAdded = 3;

struct BeamConfig {
    // Width 96: over three sets of 100 seeds with three futures, a median higher by about 3,000
    // and 5 more games in 100 at 80,000 than width 72. Wider beams (108 to 160) gained nothing.
    unsigned width = 96;
    unsigned depth = 12;  // pairs searched, the current one included
    std::uint64_t seed = 0;
    std::uint64_t node_budget = 0;  // children evaluated per move, all futures together; 0: no limit
    double time_budget_ms = 0;      // per move; 0: no limit (a time limit makes the choice machine-dependent)
    std::uint32_t fire_score = 90000;
    std::uint64_t last_turn = ~std::uint64_t{0};
    std::uint64_t end_turn = ~std::uint64_t{0};  // the turn no placement reaches (a game of 54 placements: 54)
    unsigned max_added = kEvalMaxAdded;          // puyos added by the potential-chain evaluation
    unsigned queues = 4;                         // futures of pairs searched past the visible ones (each a beam of `width`)
    // The futures' pairs: drawn at random (false), or fixed queues that cycle through every pair of
    // two different colours, each future starting elsewhere in the cycle (true).
    bool fixed_queues = false;
    // At most this many futures in a match: with a third the player held its chain through small
    // attacks it could have answered, and lost more early matches to the greedy player.
    unsigned match_queues = 2;
    // The futures searched first: when each of them chooses the same first move, the rest are not
    // searched (0: every future, always). The first two of four agree on about half the moves,
    // where the other two change one move in twelve, so four futures cost what three did; over
    // 500 games that gained 1,500 in the median and 4 games in 100 at both 80,000 and 100,000
    // over three futures.
    unsigned settle_queues = 2;
    unsigned threads = 1;                        // the futures are shared among this many threads
    double discount = 0.97;                      // per sampled level, on a chain fired that deep
    EvalWeights weights{};
    bool match = false;  // the player is one of a match's (its evaluation weighs the spawn costs by `match_spawn`)
    // Ojama on its way to the player, in a match: `incoming_ojama` fall after the placement of
    // level `incoming_level` (0: the current pair's), less what the chains fired before then
    // offset, at most `max_ojama_per_fall` at once (the rest after the next placements), the
    // remainder past whole rows where it hurts most. The search sees the fields it leaves.
    std::uint32_t incoming_ojama = 0;
    unsigned incoming_level = 0;
    std::uint32_t target_points = Rules{}.target_points;
    std::uint32_t max_ojama_per_fall = Rules{}.max_ojama_per_fall;
    // Set from another thread to stop the search: the move is then chosen from what was searched.
    const std::atomic<bool>* stop = nullptr;
};

// How the player reads a match (its Python front applies these before it searches): an attack of
// kThreatOjama or more on its way is a threat (a row of ojama and more); an opponent whose best
// chain in reach sends fewer than kSpentOjama has spent its material.
inline constexpr std::uint32_t kThreatOjama = 12;
inline constexpr std::uint32_t kSpentOjama = 12;

struct BeamStats {
    std::uint64_t nodes = 0;
    unsigned depth_reached = 0;
};

// The chosen move, or -1 when the game has no legal move.
int beam_search_move(const Game& game, const BeamConfig& config, BeamStats* stats = nullptr);

// The evaluation of a quiet position, in points (for tests and tuning).
double evaluate_position(const BitField& field, unsigned max_added = kEvalMaxAdded, const EvalWeights& weights = {});

// The evaluation's features one by one, unweighted (for tests and tuning).
struct EvalFeatures {
    unsigned chain = 0;           // links of the best potential chain (by value), 0 when none
    std::uint32_t score = 0;      // its score
    unsigned added = 0;           // puyos it needs
    unsigned trigger_height = 0;  // the trigger column's height before the added puyos
    unsigned trigger_room = 0;    // empty cells up to the 12th row in the columns beside the trigger
    unsigned link2 = 0;           // groups of exactly two left after the potential chain fires
    unsigned link3 = 0;           // groups of exactly three left after it
    int template_match = 0;       // template pairs satisfied minus pairs broken (the best template)
    unsigned wells = 0;           // rows of wells
    unsigned bumps = 0;           // rows of steps past one
    double profile = 0;           // squared distance to the U-shaped profile
    unsigned hidden = 0;          // puyos in the 13th and 14th rows
    unsigned left = 0;            // puyos left on the field once the potential chain has fired
};
EvalFeatures evaluate_features(const BitField& field, unsigned max_added = kEvalMaxAdded, const EvalWeights& weights = {});

}  // namespace velmo
