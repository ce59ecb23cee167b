// velmo_game._native: the game layer of the core, bound for Python. Each subsystem binds itself
// (bind_*.cpp); this file only orders them.
#include "bindings.hpp"
#include "interop.hpp"

NB_MODULE(_native, m) {
    m.doc() = "The native part of velmo_game: pair sequences and games over the velmo core.";
    velmo_game::import_velmo();
    velmo_game::bind_sequence(m);
    velmo_game::bind_game(m);
    velmo_game::bind_search(m);
}
