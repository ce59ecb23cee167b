// The one-player environment step: what an action does to one game under an environment's
// rules (illegal moves refused or replaced and charged, the reward and its form, termination,
// truncation at max_steps, the mask of an ending step). The batch steps each of its games with it and the
// single-game environment steps its one game with it, so the rules live here alone.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "game.hpp"

namespace velmo {

// What an environment does with an illegal move. Raise: the step is refused and nothing moves.
// Substitute: the player plays its lowest legal move instead, is charged illegal_penalty
// (subtracted from its reward) and is marked as substituted.
enum class IllegalPolicy : std::uint8_t { Raise, Substitute };

// The reward of a move, before any penalty. Score: the move's score (its chain's, with any
// all-clear bonus). LogScore: log(1 + score), which tames the score's heavy tail (0 to 100,000
// and more). Chain: the move's chain length, 0 when nothing vanished.
enum class RewardKind : std::uint8_t { Score, LogScore, Chain };

struct EnvRules {
    IllegalPolicy illegal = IllegalPolicy::Raise;
    float illegal_penalty = 0;
    std::uint64_t max_steps = 0;  // 0: no truncation
    RewardKind reward = RewardKind::Score;
};

inline float move_reward(RewardKind kind, std::uint64_t score, unsigned chain) {
    switch (kind) {
        case RewardKind::Score: return static_cast<float>(score);
        case RewardKind::LogScore: return static_cast<float>(std::log1p(static_cast<double>(score)));
        case RewardKind::Chain: return static_cast<float>(chain);
    }
    return static_cast<float>(score);
}

// The mask of a step that ends an episode: any action, which is ignored (the episode waits for
// its reset), so that masked samplers always have a move to draw.
inline constexpr MoveMask kEndingMask = (MoveMask{1} << kNumMoves) - 1;

struct ChosenMove {
    unsigned move;
    bool substituted;
};

inline bool is_legal_action(MoveMask legal, std::int64_t action) {
    return action >= 0 && action < static_cast<std::int64_t>(kNumMoves) && ((legal >> action) & 1U) != 0;
}

// The move played for `action` given the legal moves (never empty for a player who must move):
// the action itself when it is legal, the lowest legal move otherwise.
inline ChosenMove choose_move(MoveMask legal, std::int64_t action) {
    if (is_legal_action(legal, action)) return {static_cast<unsigned>(action), false};
    return {static_cast<unsigned>(std::countr_zero(legal)), true};
}

// Whether the rules refuse `action` for a game in play with these legal moves.
inline bool refuses(const EnvRules& rules, MoveMask legal, std::int64_t action) {
    return rules.illegal == IllegalPolicy::Raise && !is_legal_action(legal, action);
}

struct EnvStep {
    MoveOutcome outcome;
    float reward = 0;  // the move's reward in the rules' form, less the penalty of a substituted move
    bool substituted = false;
    bool terminated = false;
    bool truncated = false;

    [[nodiscard]] bool ended() const { return terminated || truncated; }
    // The mask the step hands out with `next_legal`, the game's legal moves after it.
    [[nodiscard]] MoveMask mask(MoveMask next_legal) const { return ended() ? kEndingMask : next_legal; }
};

// Plays `action` in `game` (in play, `legal` its legal moves, the action not refused by
// `refuses`); `episode_steps` counts the episode's moves, this one included.
inline EnvStep step_env(Game& game, MoveMask legal, std::int64_t action, std::uint64_t episode_steps, const EnvRules& rules) {
    const ChosenMove chosen = choose_move(legal, action);
    EnvStep step;
    step.outcome = game.play_legal(chosen.move);
    step.substituted = chosen.substituted;
    step.terminated = step.outcome.game_over;
    step.truncated = !step.terminated && rules.max_steps != 0 && episode_steps >= rules.max_steps;
    step.reward = move_reward(rules.reward, step.outcome.score(), step.outcome.chain.chain) - (chosen.substituted ? rules.illegal_penalty : 0.0F);
    return step;
}

}  // namespace velmo
