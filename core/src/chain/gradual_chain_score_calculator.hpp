// GradualChainScoreCalculator: the score of a chain, accumulated step by step. During a step the
// vanishing groups are fed in (size, group bonus, colour); `commit_chain_step` turns them into the
// step's score: vanished puyos x multiplier x 10, the multiplier being the chain bonus of the
// step number plus the group bonuses plus the colour bonus, at least 1 and at most 999.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "chain_result.hpp"

namespace velmo {

// Indexed by the chain number of the step (1 for the first).
inline constexpr std::uint32_t CHAIN_BONUS[20] = {0,   0,   8,   16,  32,  64,  96,  128, 160, 192,
                                                  224, 256, 288, 320, 352, 384, 416, 448, 480, 512};
// Indexed by min(group size, 11).
inline constexpr std::uint32_t CONNECTION_BONUS[12] = {0, 0, 0, 0, 0, 2, 3, 4, 5, 6, 7, 10};
// Indexed by the number of colours that vanished in the step.
inline constexpr std::uint32_t COLOR_BONUS[6] = {0, 0, 3, 6, 12, 24};

inline constexpr std::size_t kNumColorFlags = 30;
inline constexpr std::uint32_t kMaxMultiplier = 999;

namespace score_rules {

// Templates over the caller's processor path (`void` for plain code), so that each path of the
// bit kernels compiles and links its own copy.

template <class Path = void>
constexpr std::uint32_t connection_bonus(std::uint64_t group_size) {
    return CONNECTION_BONUS[group_size < 11 ? group_size : 11];
}

// The score of one committed step. A 20th step or more than 5 colours lie outside what any field
// can produce; they are scored with the last table entry.
template <class Path = void>
constexpr std::uint32_t step_score(std::uint32_t chain_number, std::uint32_t bonus_sum,
                                          std::uint32_t num_colors, std::uint32_t num_vanished) {
    const std::uint32_t chain_bonus = CHAIN_BONUS[chain_number < 19 ? chain_number : 19];
    const std::uint32_t color_bonus = COLOR_BONUS[num_colors < 5 ? num_colors : 5];
    const std::uint32_t sum = chain_bonus + bonus_sum + color_bonus;
    const std::uint32_t multiplier = sum == 0 ? 1 : (sum < kMaxMultiplier ? sum : kMaxMultiplier);
    return num_vanished * multiplier * 10;
}

}  // namespace score_rules

class GradualChainScoreCalculator {
public:
    // One vanishing group of the current step. Colour codes beyond the flags share the last flag.
    void add_group(std::uint64_t size, std::uint8_t color_code) {
        num_vanished_ += static_cast<std::uint32_t>(size);
        bonus_sum_ += score_rules::connection_bonus(size);
        used_colors_[color_code < kNumColorFlags ? color_code : kNumColorFlags - 1] = true;
    }

    // Closes the current step; a step in which nothing vanished is not a chain step.
    void commit_chain_step();

    [[nodiscard]] const StepScores& step_scores() const { return step_scores_; }
    [[nodiscard]] std::uint32_t score() const { return score_; }
    [[nodiscard]] std::uint32_t chain() const { return chain_; }
    [[nodiscard]] std::uint32_t bonus_sum() const { return bonus_sum_; }
    [[nodiscard]] std::uint32_t num_vanished() const { return num_vanished_; }
    [[nodiscard]] const std::array<bool, kNumColorFlags>& used_colors() const { return used_colors_; }

    // The chain's result (the step scores are held inline: nothing is allocated).
    [[nodiscard]] ChainResult into_result() const { return ChainResult{step_scores_, score_, chain_}; }

private:
    StepScores step_scores_;
    std::uint32_t score_ = 0;
    std::uint32_t chain_ = 0;
    std::uint32_t bonus_sum_ = 0;
    std::uint32_t num_vanished_ = 0;
    std::array<bool, kNumColorFlags> used_colors_{};
};

}  // namespace velmo
