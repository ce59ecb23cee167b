// Writing one player's view of a match into caller-owned bytes: its pairs (the field cells are
// written by write_field_cells). Shared by Match.observation and the batch of matches.
#pragma once

#include <cstdint>

#include "match.hpp"

namespace velmo {

// Player p's current pair and `visible` next ones, child then axis, 2 (1 + visible) bytes.
inline void write_match_pairs(const Match& match, unsigned p, unsigned visible, std::uint8_t* out) {
    const MatchPlayer& player = match.player(p);
    for (unsigned k = 0; k <= visible; ++k) {
        const GamePair pair = player.sequence.at(player.turn + k);
        out[2 * k] = bit_code(pair.child());
        out[2 * k + 1] = bit_code(pair.axis());
    }
}

}  // namespace velmo
