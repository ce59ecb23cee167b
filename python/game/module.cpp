// velmo_game._native: the game layer of the core, bound for Python. Each subsystem binds itself
// (bind_*.cpp); this file only orders them.
#include "bindings.hpp"
#include "interop.hpp"

NB_MODULE(_native, m) {
    m.doc() = "The native part of velmo_game: pair sequences and games over the velmo core.";
    // nanobind counts its objects still alive when the interpreter tears the module down and
    // reports them as leaks; values held by module globals (test parameters, a user's constants)
    // outlive that point legitimately. Leaks are checked where they can be told apart: by the
    // allocation counts of the test suite.
    nanobind::set_leak_warnings(false);
    velmo_game::import_velmo();
    velmo_game::bind_sequence(m);
    velmo_game::bind_game(m);
    velmo_game::bind_vec(m);
    velmo_game::bind_search(m);
    velmo_game::bind_match(m);
}
