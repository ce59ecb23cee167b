// Writing one player's view of a match into caller-owned bytes: its pairs (the field cells are
// written by write_field_cells). Shared by Match.observation and the batches of matches.
#pragma once

#include <cstdint>

#include "game/match.hpp"

namespace velmo_game {

// Player p's current pair and `visible` next ones, child then axis, 2 (1 + visible) bytes.
inline void write_match_pairs(const velmo::Match& match, unsigned p, unsigned visible, std::uint8_t* out) {
    const velmo::MatchPlayer& player = match.player(p);
    for (unsigned k = 0; k <= visible; ++k) {
        const velmo::GamePair pair = player.sequence.at(player.turn + k);
        out[2 * k] = velmo::bit_code(pair.child());
        out[2 * k + 1] = velmo::bit_code(pair.axis());
    }
}

}  // namespace velmo_game
