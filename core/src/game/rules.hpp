// The game rules and frame counts above the field, each written once: the one-player game, the
// versus match and the bindings read their values and defaults from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmo {

inline constexpr std::uint32_t kFramesPerSecond = 60;
// The arcade's all clear: the next chain scores this many more points, once.
inline constexpr std::uint32_t kAllClearBonus = 2100;

inline constexpr std::size_t kMoveFrameEntries = 6;   // sideways travel of 0..5 columns
inline constexpr std::size_t kSlowFallEntries = 16;   // 0..15 rows of a lone puyo's fall
inline constexpr std::uint64_t kNoFrameLimit = ~std::uint64_t{0};
inline constexpr std::uint64_t kNoMarginTime = ~std::uint64_t{0};

// Margin time: the target points in force after 1, 2, ... intervals of it; the last entry holds
// from then on. The table the arcade's versus rule and the open engines share.
inline constexpr std::array<std::uint32_t, 12> kMarginTargetPoints = {70, 52, 34, 25, 16, 12, 8, 6, 4, 3, 2, 1};

// The rules of a match; the defaults are the arcade's versus rule.
struct Rules {
    // A chain step's score plus the leftover, divided by this (at least 1), gives the ojama it
    // produces; the remainder is the new leftover. Margin time lowers it as the match goes on.
    std::uint32_t target_points = 70;
    // Points added to the first chain step fired after an all clear, converted with it.
    std::uint32_t all_clear_bonus = kAllClearBonus;
    // At most this many of the pending ojama fall at once (30: five rows; at least 1).
    std::uint32_t max_ojama_per_fall = 30;
    // Whether produced ojama first cancels the producer's own pending ojama.
    bool offsetting = true;
    // The match is a draw when no one has lost before this frame (ten minutes).
    std::uint64_t frame_limit = 10 * 60 * std::uint64_t{kFramesPerSecond};
    // From this frame on (96 s) the target points fall every margin_interval frames (16 s, at
    // least 1) through kMarginTargetPoints; kNoMarginTime: never.
    std::uint64_t margin_time = 96 * std::uint64_t{kFramesPerSecond};
    std::uint32_t margin_interval = 16 * kFramesPerSecond;

    // The target points in force at `frame`: target_points before margin time, then the smaller
    // of it and the table's entry for the intervals begun since.
    [[nodiscard]] constexpr std::uint32_t target_points_at(std::uint64_t frame) const {
        if (margin_time == kNoMarginTime || frame < margin_time) return target_points;
        const std::uint64_t step = (frame - margin_time) / (margin_interval == 0 ? 1 : margin_interval);
        const std::size_t last = kMarginTargetPoints.size() - 1;
        const std::uint32_t entry = kMarginTargetPoints[step < last ? step + 1 : last];
        return entry < target_points ? entry : target_points;
    }

    friend bool operator==(const Rules&, const Rules&) = default;
};

static_assert(Rules{}.target_points == kMarginTargetPoints[0]);
static_assert(Rules{}.target_points_at(5759) == 70 && Rules{}.target_points_at(5760) == 52 && Rules{}.target_points_at(6720) == 34);
static_assert(Rules{}.target_points_at(~std::uint64_t{0}) == 1 && Rules{0, 0, 1, true, 0, 0, 1}.target_points_at(~std::uint64_t{0}) == 0);

// Every frame count of a match, one line each (60 frames per second); the defaults follow the
// commonly published measurements of the arcade and are approximate.
struct Timing {
    // Frames from a turn's settling to the appearance of the next pair (the next pair prepared).
    std::uint32_t spawn_delay = 12;
    // Frames of moving the pair 0..5 columns sideways (the larger index for longer travel).
    std::array<std::uint32_t, kMoveFrameEntries> move_frames = {0, 4, 6, 8, 10, 12};
    // Frames per row of the pair's fall with the drop button held.
    std::uint32_t drop_frames_per_row = 2;
    // Frames of a landing (grounding): the pair's, and a split pair's second puyo's.
    std::uint32_t landing_frames = 20;
    // Frames of a lone puyo's free fall by rows (a split pair's second puyo, falling ojama).
    std::array<std::uint32_t, kSlowFallEntries> slow_fall_frames = {0,  10, 16, 22, 24, 28, 32, 34,
                                                                    36, 40, 42, 44, 46, 48, 50, 52};
    // Frames of a chain step's vanishing.
    std::uint32_t vanish_frames = 50;
    // Frames per row of the longest fall after a vanishing.
    std::uint32_t chain_fall_frames_per_row = 2;
    // Frames of the landing after that fall, if anything fell.
    std::uint32_t chain_landing_frames = 20;
    // Landing of falling ojama: up to the first threshold of ojama, up to the second, more.
    std::array<std::uint32_t, 2> ojama_landing_thresholds = {3, 18};
    std::array<std::uint32_t, 3> ojama_landing_frames = {8, 24, 32};

    friend bool operator==(const Timing&, const Timing&) = default;
};

}  // namespace velmo
