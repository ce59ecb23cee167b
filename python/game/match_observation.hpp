// One player's view of a match as observation bytes; the writer lives in the core, where the batch
// of matches uses it too.
#pragma once

#include "game/match_observation.hpp"

namespace velmo_game {

using velmo::write_match_pairs;

}  // namespace velmo_game
