// Ojama falling on a field, shared by the match (which draws the columns of the remainder) and
// the search (which expects the worst columns for it).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "../field/bit_field.hpp"
#include "moves.hpp"

namespace velmo {

inline constexpr std::uint64_t kPlayableColumns = kLastPlayableColumn - kFirstPlayableColumn + 1;
// Ojama enters from the 14th row and stacks up to the 13th.
inline constexpr int kOjamaEntryRow = 14;
inline constexpr std::uint64_t kOjamaTopRow = 13;

using OjamaShares = std::array<std::uint32_t, kPlayableColumns>;

struct OjamaFall {
    std::uint32_t placed = 0;
    std::uint32_t discarded = 0;
    int rows = 0;  // the longest fall, from the 14th row
};

// Each column (left to right) takes its share of ojama up to the 13th row; the rest is discarded.
inline OjamaFall place_ojama(BitField& field, const OjamaShares& share) {
    OjamaFall result;
    for (std::uint64_t i = 0; i < kPlayableColumns; ++i) {
        const std::uint64_t x = kFirstPlayableColumn + i;
        const std::uint64_t height = field.get_height(x);
        const std::uint64_t room = height < kOjamaTopRow ? kOjamaTopRow - height : 0;
        const auto placed = static_cast<std::uint32_t>(std::min<std::uint64_t>(share[i], room));
        for (std::uint32_t k = 0; k < placed; ++k) (void)field.put(x, BitPuyoType::Ojama);
        result.placed += placed;
        result.discarded += share[i] - placed;
        if (placed > 0) result.rows = std::max(result.rows, kOjamaEntryRow - static_cast<int>(height + 1));
    }
    return result;
}

// The shares of a fall of `count` ojama whose remainder (past whole rows of six) lands where it
// hurts most: the spawn column first, then outwards from it. A search that cannot know the drawn
// columns plans for these.
inline OjamaShares worst_case_shares(std::uint32_t count) {
    constexpr std::array<std::uint64_t, kPlayableColumns> kByHarm = {2, 3, 1, 4, 0, 5};  // column indices 0..5
    static_assert(kDeathColumn - kFirstPlayableColumn == kByHarm[0]);
    OjamaShares share{};
    share.fill(count / static_cast<std::uint32_t>(kPlayableColumns));
    for (std::uint32_t i = 0; i < count % kPlayableColumns; ++i) ++share[kByHarm[i]];
    return share;
}

}  // namespace velmo
