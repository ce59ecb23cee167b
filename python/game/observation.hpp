// The game's state as observation bytes; the writers live in the core, where the batch uses them
// too.
#pragma once

#include "game/observation.hpp"

namespace velmo_game {

using velmo::kFieldCells;
using velmo::kFieldColumns;
using velmo::kFieldRows;
using velmo::write_action_mask;
using velmo::write_field_cells;
using velmo::write_visible_pairs;

}  // namespace velmo_game
