// The C++ value behind a Python velmo_game.Match, shared by the Match binding and the batches that
// hand out copies of their matches.
#pragma once

#include "game/match.hpp"

namespace velmo_game {

// A match as Python holds it: the core value and how many next pairs its views show.
struct PyMatch {
    velmo::Match match;
    unsigned visible = 2;
};

}  // namespace velmo_game
