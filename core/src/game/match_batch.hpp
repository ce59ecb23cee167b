// MatchBatch: many two-player matches stepped together on the worker pool of the one-player batch.
//
// One step advances every match to its own next decision (a Match::step), exactly as the
// PettingZoo environment does per step: each player sends an action, 0..21 a move or kWaitAction;
// the players due to move play theirs, the others must wait. Rewards are +1 for the winner and -1
// for the loser in the step a match ends, 0 otherwise, less the penalty of a substituted move.
//
// Everything a step reports is written into caller-owned buffers, one row per match and within it
// one per player (player 0 first), so a step allocates nothing. Match i's result depends only on
// its seed and its actions: the thread count changes the speed, never the numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "batch.hpp"
#include "match.hpp"

namespace velmo {

// The action of a player who is not due to move; a player's actions are 0..kWaitAction.
inline constexpr std::int64_t kWaitAction = static_cast<std::int64_t>(kNumMoves);
inline constexpr std::size_t kNumVersusActions = kNumMoves + 1;

struct MatchBatchConfig {
    // num_envs matches; max_steps counts a match's steps (decisions); colors and visible apply to
    // both players.
    BatchConfig batch;
    Rules rules;
    Timing timing;
};

// Where a step writes. Arrays marked (N, 2, ...) hold player 0's row, then player 1's.
struct MatchBatchOutputs {
    std::uint8_t* field = nullptr;           // (N, 2, 14, 6)
    std::uint8_t* pairs = nullptr;           // (N, 2, 1 + visible, 2)
    std::uint32_t* pending_ojama = nullptr;  // (N, 2) committed against each player, not fallen yet
    float* reward = nullptr;                 // (N, 2)
    std::uint8_t* terminated = nullptr;      // (N,) bool
    std::uint8_t* truncated = nullptr;       // (N,) bool
    std::uint8_t* action_mask = nullptr;     // (N, 2, 23) bool
    std::uint8_t* due = nullptr;             // (N, 2) bool: the player must move now
    std::int32_t* chain = nullptr;           // (N, 2) the chain of the player's move in this step
    std::int64_t* score = nullptr;           // (N, 2) the player's total
    std::uint32_t* ojama_sent = nullptr;     // (N, 2) committed against the opponent in this step
    std::uint32_t* ojama_received = nullptr; // (N, 2) fallen on the player's field in this step
    std::uint8_t* substituted = nullptr;     // (N, 2) bool: the player's action was replaced
    std::int8_t* winner = nullptr;           // (N,) 0 or 1 once the match has been won, else -1
    std::int64_t* frame = nullptr;           // (N,) the match frame
    std::int64_t* episode_steps = nullptr;   // (N,)
    std::uint8_t* final_field = nullptr;     // same_step only, rows of matches that ended this step
    std::uint8_t* final_pairs = nullptr;
    std::uint32_t* final_pending_ojama = nullptr;
    std::uint64_t* seeds = nullptr;          // (N,) the seed of each match's current episode
};

// Why `check` refuses a step.
enum class MatchRefusalKind : std::uint8_t {
    OutOfRange,  // outside 0..kWaitAction
    Illegal,     // a move the due player cannot make
    MustMove,    // a wait from a due player
    MustWait,    // a move from a player who is not due
};

struct MatchBatchRefusal {
    std::size_t index;
    unsigned player;
    std::int64_t action;
    MatchRefusalKind kind;
};

class MatchBatch {
public:
    // Throws Interrupted when `stop` ends the first reset.
    MatchBatch(const MatchBatchConfig& config, const MatchBatchOutputs& outputs, const StopCheck& stop = {});

    [[nodiscard]] std::size_t size() const { return matches_.size(); }
    [[nodiscard]] const MatchBatchConfig& config() const { return config_; }
    [[nodiscard]] const Match& match(std::size_t i) const { return matches_[i]; }
    [[nodiscard]] unsigned num_threads() const { return pool_.size(); }

    // The match of a seed as Match(seed, colors=..., rules=..., timing=...) makes it in Python:
    // both players on the balanced sequence of the seed, ojama columns from derive_seed(seed, 1).
    [[nodiscard]] static Match seeded_match(std::uint64_t seed, unsigned colors, const Rules& rules, const Timing& timing);

    // Every match starts its next episode (seed given: the batch is reseeded, episodes count
    // anew). Match i plays episode_seed(seed, first_copy + i, episode).
    // False when `stop` ended it part way (only some matches started their episode).
    bool reset(std::optional<std::uint64_t> seed, const StopCheck& stop = {});
    // Every match i starts episode 0 of seeds[i] (size() seeds); the batch seed becomes seeds[0].
    bool reset_each(const std::uint64_t* seeds, const StopCheck& stop = {});
    // The first action `step` would refuse, actions[2 i + p] being player p's in match i. Out of
    // range is always refused; the rest only under IllegalPolicy::Raise. A match waiting for its
    // reset accepts any action in range.
    [[nodiscard]] std::optional<MatchBatchRefusal> check(const std::int64_t* actions) const;
    // Steps every match; the actions must have passed `check`.
    // False when `stop` ended it part way (only some matches moved).
    bool step(const std::int64_t* actions, const StopCheck& stop = {});

private:
    void start_episode(std::size_t i);
    void clear_step_outputs(std::size_t i);
    void reset_outputs(std::size_t i);
    void step_one(std::size_t i, const std::int64_t* actions);
    void write_step(std::size_t i, const StepOutcome& outcome, const std::array<bool, kNumPlayers>& substituted);
    void write_observation(std::size_t i);
    void write_waiting_masks(std::size_t i);
    void keep_final_observation(std::size_t i);
    bool start_all(const StopCheck& stop);

    [[nodiscard]] std::size_t pair_bytes() const { return 2 * (1 + std::size_t{config_.batch.visible}); }

    MatchBatchConfig config_;
    MatchBatchOutputs out_;
    std::vector<Match> matches_;
    // The legal moves of each player as of the last write (0: not due), so that `check` and the
    // substitution need not recompute them.
    std::vector<std::array<MoveMask, kNumPlayers>> legal_;
    EpisodeSeeds seeds_;
    std::vector<std::uint8_t> waiting_;  // ended, not yet reset
    WorkerPool pool_;
};

}  // namespace velmo
