// The parts of velmo_game._native, one binding function per subsystem, called in this order by
// the module's initialisation (module.cpp).
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "game/game.hpp"

namespace velmo_game {

namespace nb = nanobind;

void bind_sequence(nb::module_& m);
void bind_game(nb::module_& m);
void bind_vec(nb::module_& m);
void bind_search(nb::module_& m);
void bind_match(nb::module_& m);

// The Python form of a sequence's kind, and back (ValueError for an unknown text).
const char* kind_name(velmo::SequenceKind kind);
velmo::SequenceKind kind_from_name(const std::string& name);

// PairSequence(seed, colors=colors, kind=kind), with its checks.
velmo::PairSequence make_seeded(nb::handle seed, nb::handle colors, const std::string& kind);
// A sequence from the Game constructor's `sequence=` argument: a PairSequence or a list of pairs.
velmo::PairSequence sequence_from_python(nb::handle sequence, const char* argument);

// How a game's or match's repr names where its pairs come from: "seed=3" for the seed's own
// balanced sequence (", colors=3" added for three colours), else "sequence=PairSequence(...)".
std::string sequence_origin(const velmo::PairSequence& sequence);

// Pickle states of a sequence and of a game: tuples of plain Python values, checked on the way in.
nb::tuple sequence_state(const velmo::PairSequence& sequence);
velmo::PairSequence sequence_from_state(nb::handle state);

}  // namespace velmo_game
