#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <array>
#include <bit>
#include <string>

#include "bindings.hpp"
#include "field/field_state.hpp"
#include "interop.hpp"
#include "numpy_buffers.hpp"
#include "game/env_rules.hpp"
#include "observation.hpp"

namespace velmo_game {
namespace {

using velmo::Game;
using velmo::PairSequence;
using namespace nb::literals;

// Version 2 adds the held all-clear bonus; a version 1 state (7 values) restores with none held.
constexpr int kGameStateVersion = 2;
constexpr std::size_t kGameStateLength = 8;

// What one move did, as Python sees it.
struct MoveResult {
    std::uint64_t move = 0;
    velmo::MoveOutcome outcome;
};

Game make_game(nb::handle seed, nb::handle colors, nb::handle visible, nb::handle field, nb::handle sequence) {
    const auto shown = static_cast<unsigned>(int_in_range(visible, "visible", 0, velmo::kMaxVisiblePairs));
    const velmo::BitField start = field.is_none() ? velmo::BitField{} : field_from_python(field, "field");
    return Game(start, sequence.is_none() ? make_seeded(seed, colors, "balanced") : sequence_from_python(sequence, "sequence"), shown);
}

// An int (NumPy's included; TypeError naming `what` for a bool, a float or anything else) as a
// move, an int outside 0..21 as -1; `as_int` gets the int, for messages.
std::int64_t move_or_minus_one(nb::handle value, const char* what, nb::object& as_int) {
    if (!PyIndex_Check(value.ptr()) || PyBool_Check(value.ptr())) {
        raise_type_error(std::string(what) + " must be an int, not " + python_type_name(value));
    }
    as_int = nb::steal(PyNumber_Index(value.ptr()));
    if (!as_int.is_valid()) throw nb::python_error();
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
    if (overflow == 0 && v == -1 && PyErr_Occurred()) throw nb::python_error();
    return overflow != 0 || v < 0 || v >= static_cast<long long>(velmo::kNumMoves) ? -1 : static_cast<std::int64_t>(v);
}

std::uint64_t move_from_python(nb::handle move) {
    nb::object as_int;
    const std::int64_t v = move_or_minus_one(move, "move", as_int);
    if (v < 0) {
        raise_value_error("move must be in 0..21 (an index into velmo.Hand.enumerate()), not " + nb::cast<std::string>(nb::str(as_int)));
    }
    return static_cast<std::uint64_t>(v);
}

// Built with the C API directly: the list is filled in one pass with the interpreter's cached
// small ints, which halves the cost of the call most game loops make every move.
nb::list legal_move_list(velmo::MoveMask mask) {
    nb::list out = nb::steal<nb::list>(PyList_New(std::popcount(mask)));
    if (!out.is_valid()) throw nb::python_error();
    Py_ssize_t i = 0;
    for (std::size_t move = 0; move < velmo::kNumMoves; ++move) {
        if (((mask >> move) & 1) != 0) PyList_SET_ITEM(out.ptr(), i++, PyLong_FromSize_t(move));
    }
    return out;
}

MoveResult play(Game& game, nb::handle move_argument) {
    if (game.is_over()) raise_value_error("the game is over: no move can be played");
    const std::uint64_t move = move_from_python(move_argument);
    auto outcome = game.play(move);
    if (!outcome) {
        raise_value_error("move " + std::to_string(move) + " (" + hand_text(move) +
                          ") is not legal here; game.legal_moves() lists the legal ones");
    }
    return MoveResult{move, outcome.value()};
}

nb::tuple next_pairs(const Game& game) {
    nb::list out;
    for (unsigned k = 0; k < game.visible(); ++k) out.append(pair_to_python(game.next_pair(k)));
    return nb::tuple(out);
}

// Masks are int8 everywhere (the environments', the batches'): Gymnasium's Discrete.sample(mask=)
// takes int8 only.
using MaskArray = nb::ndarray<nb::numpy, std::int8_t, nb::shape<22>>;
using FieldArray = nb::ndarray<nb::numpy, std::uint8_t, nb::shape<14, 6>>;
using PairsArray = nb::ndarray<nb::numpy, std::uint8_t, nb::shape<-1, 2>>;

template <class Array, std::size_t N>
Array owned_array(const std::array<std::size_t, N>& shape, std::size_t size, auto&& fill) {
    auto* data = new std::uint8_t[size > 0 ? size : 1]{};
    nb::capsule owner(data, [](void* p) noexcept { delete[] static_cast<std::uint8_t*>(p); });
    fill(data);
    return Array(data, N, shape.data(), owner);
}

MaskArray action_mask(const Game& game) {
    return owned_array<MaskArray, 1>({velmo::kNumMoves}, velmo::kNumMoves,
                                     [&](std::uint8_t* data) { write_action_mask(game.legal_moves(), data); });
}

nb::tuple observation(const Game& game) {
    auto field = owned_array<FieldArray, 2>({14, 6}, kFieldCells, [&](std::uint8_t* data) { write_field_cells(game.field(), data); });
    const std::size_t rows = 1 + game.visible();
    auto pairs = owned_array<PairsArray, 2>({rows, 2}, 2 * rows, [&](std::uint8_t* data) { write_visible_pairs(game, data); });
    return nb::make_tuple(field, pairs);
}

// Scratch arrays for a single-game environment: `fill` writes a game's observation and legal
// moves into NumPy arrays made once, so that a step pays for one small NumPy copy per array
// instead of a fresh allocation handed over to NumPy (about 900 ns less per step).
class ObservationBuffer {
public:
    explicit ObservationBuffer(unsigned visible) : visible_(visible) {
        field_ = owned_.zeros<std::uint8_t>({kFieldRows, kFieldColumns});
        pairs_ = owned_.zeros<std::uint8_t>({1 + std::size_t{visible}, 2});
        mask_ = owned_.zeros<std::int8_t>({velmo::kNumMoves});
        field_data_ = data_of<std::uint8_t>(field_);
        pairs_data_ = data_of<std::uint8_t>(pairs_);
        mask_data_ = data_of<std::uint8_t>(mask_);
    }

    void fill(const Game& game) {
        check_visible(game);
        write(game, game.legal_moves());
    }

    // One step of a single-game environment (velmo::step_env, the rule the batches apply to each
    // of their games), its observation and mask written into the arrays: (chain, score,
    // terminated, truncated, substituted, reward).
    nb::tuple step(Game& game, nb::handle action, const velmo::EnvRules& rules) {
        check_visible(game);
        if (game.is_over()) raise_value_error("the game is over: call reset() first");
        nb::object as_int;
        // An int outside the moves is an illegal action, for the rules to refuse or replace.
        const std::int64_t move = move_or_minus_one(action, "action", as_int);
        const velmo::MoveMask legal = game.legal_moves();
        if (velmo::refuses(rules, legal, move)) {
            raise_value_error("move " + nb::cast<std::string>(nb::str(as_int)) +
                              " is not legal here; info['action_mask'] marks the legal ones");
        }
        // The episode's moves are the game's: an environment starts each episode on a new game.
        const velmo::EnvStep step = velmo::step_env(game, legal, move, game.turn() + 1, rules);
        write(game, step.mask(game.legal_moves()));
        return nb::make_tuple(step.outcome.chain.chain, step.outcome.score(), step.terminated, step.truncated, step.substituted,
                              static_cast<double>(step.reward));
    }

    [[nodiscard]] unsigned visible() const { return visible_; }
    nb::object field_, pairs_, mask_;

private:
    void check_visible(const Game& game) const {
        if (game.visible() != visible_) {
            raise_value_error("the game shows " + std::to_string(game.visible()) + " next pairs; this buffer holds " +
                              std::to_string(visible_));
        }
    }

    void write(const Game& game, velmo::MoveMask mask) {
        write_field_cells(game.field(), field_data_);
        write_visible_pairs(game, pairs_data_);
        write_action_mask(mask, mask_data_);
    }

    OwnedArrays owned_;
    unsigned visible_;
    std::uint8_t* field_data_ = nullptr;
    std::uint8_t* pairs_data_ = nullptr;
    std::uint8_t* mask_data_ = nullptr;
};

nb::tuple game_state(const Game& game) {
    const auto field = velmo::encode_state(game.field());
    return nb::make_tuple(kGameStateVersion, nb::bytes(field.bytes().data(), field.bytes().size()),
                          sequence_state(game.sequence()), game.visible(), game.turn(), game.score(), game.is_over(),
                          game.all_clear_held());
}

Game game_from_state(nb::handle state) {
    const bool is_tuple = nb::isinstance<nb::tuple>(state) && nb::len(state) >= 1 && nb::isinstance<nb::int_>(state[0]);
    const int version = is_tuple ? nb::cast<int>(state[0]) : 0;
    const bool known = (version == kGameStateVersion && nb::len(state) == kGameStateLength) || (version == 1 && nb::len(state) == kGameStateLength - 1);
    if (!known || !nb::isinstance<nb::bytes>(state[1])) {
        raise_value_error("invalid Game state: expected the tuple of Game.__getstate__ (version 1 or 2)");
    }
    const auto field_bytes = nb::cast<nb::bytes>(state[1]);
    const auto* data = static_cast<const std::uint8_t*>(static_cast<const void*>(field_bytes.c_str()));
    const bool has_plane_length = field_bytes.size() == velmo::kBitFieldStateSize && data[0] == velmo::kBitFieldPlaneBytes &&
                                  std::all_of(data + 1, data + 8, [](std::uint8_t b) { return b == 0; });
    if (!has_plane_length) raise_value_error("invalid Game state: the field is not the 56-byte state of a velmo.Field");
    auto field = velmo::decode_bit_field_state({data, field_bytes.size()});
    if (!field || !velmo::is_playable_field(field.value())) raise_value_error("invalid Game state: not a playable field");
    const PairSequence sequence = sequence_from_state(state[2]);
    const auto visible = static_cast<unsigned>(int_in_range(state[3], "visible", 0, velmo::kMaxVisiblePairs));
    const bool held = version == kGameStateVersion && nb::cast<bool>(state[7]);
    return Game::restore(field.value(), sequence, visible, seed_from_python(state[4], "turn"),
                         seed_from_python(state[5], "score"), nb::cast<bool>(state[6]), held);
}

std::string game_repr(const Game& game) {
    return "Game(" + sequence_origin(game.sequence()) + ", turn=" + std::to_string(game.turn()) + ", score=" +
           std::to_string(game.score()) + (game.is_over() ? ", is_over=True)" : ")");
}

nb::tuple step_scores(const MoveResult& result) {
    nb::list out;
    for (const std::uint32_t score : result.outcome.chain.step_scores) out.append(score);
    return nb::tuple(out);
}

std::string move_result_repr(const MoveResult& r) {
    std::string steps;
    for (const std::uint32_t score : r.outcome.chain.step_scores) steps += (steps.empty() ? "" : ", ") + std::to_string(score);
    if (r.outcome.chain.step_scores.size() == 1) steps += ",";
    return "MoveResult(move=" + std::to_string(r.move) + ", chain=" + std::to_string(r.outcome.chain.chain) +
           ", score=" + std::to_string(r.outcome.score()) + ", step_scores=(" + steps + ")" +
           (r.outcome.all_clear_bonus != 0 ? ", all_clear_bonus=" + std::to_string(r.outcome.all_clear_bonus) : "") +
           ", all_clear=" + (r.outcome.all_clear ? "True" : "False") + ", game_over=" + (r.outcome.game_over ? "True" : "False") + ")";
}

void bind_move_result(nb::module_& m) {
    nb::class_<MoveResult>(m, "MoveResult", "What one move did: the chain it fired, its score, and how the game stands.")
        .def_prop_ro("move", [](const MoveResult& r) { return r.move; }, "The move played (an index into velmo.Hand.enumerate()).")
        .def_prop_ro("chain", [](const MoveResult& r) { return r.outcome.chain.chain; }, "The number of chain steps (0: no chain).")
        .def_prop_ro("score", [](const MoveResult& r) { return r.outcome.score(); },
                     "This move's score: the whole chain's, and the all-clear bonus it used.")
        .def_prop_ro("all_clear_bonus", [](const MoveResult& r) { return r.outcome.all_clear_bonus; },
                     "Points a held all-clear bonus added to this move's chain (2,100, or 0).")
        .def_prop_ro("step_scores", &step_scores, nb::sig("def step_scores(self) -> tuple[int, ...]"),
                     "The score of each chain step, in order.")
        .def_prop_ro("all_clear", [](const MoveResult& r) { return r.outcome.all_clear; },
                     "Whether the counted area is empty after the chain.")
        .def_prop_ro("game_over", [](const MoveResult& r) { return r.outcome.game_over; },
                     "Whether the move ended the game (the death cell is occupied).")
        .def("__eq__", [](const MoveResult& a, nb::handle b) -> nb::object {
                 if (!nb::isinstance<MoveResult>(b)) return nb::borrow(Py_NotImplemented);
                 const auto& other = nb::cast<const MoveResult&>(b);
                 const bool same = a.move == other.move && a.outcome.chain.step_scores == other.outcome.chain.step_scores &&
                                   a.outcome.all_clear == other.outcome.all_clear && a.outcome.game_over == other.outcome.game_over &&
                                   a.outcome.all_clear_bonus == other.outcome.all_clear_bonus;
                 return nb::bool_(same);
             }, nb::sig("def __eq__(self, other: object, /) -> bool"), "Whether both record the same move and outcome.")
        .def("__repr__", &move_result_repr);
    m.attr("MoveResult").attr("__hash__") = nb::none();
}

}  // namespace

void bind_game(nb::module_& m) {
    bind_move_result(m);
    nb::class_<Game>(m, "Game",
        "One player's game: a field, a pair sequence, a move per pair, a score and a game over.\n\n"
        "Moves are indices 0..21 into ``velmo.Hand.enumerate()``. A game is a plain value:\n"
        "``clone()``, ``copy.copy``, ``copy.deepcopy`` and ``pickle`` give games that play on\n"
        "identically.")
        .def("__init__",
             [](Unmade<Game> self, nb::handle seed, nb::handle colors, nb::handle visible, nb::handle field, nb::handle sequence) {
                 new (self.place()) Game(make_game(seed, colors, visible, field, sequence));
             },
             "seed"_a = 0, nb::kw_only(), "colors"_a = 4, "visible"_a = 2, "field"_a = nb::none(), "sequence"_a = nb::none(),
             nb::sig("def __init__(self, seed: int = 0, *, colors: int = 4, visible: int = 2, field: velmo.Field | None = None, "
                     "sequence: PairSequence | collections.abc.Sequence[velmo.Pair] | None = None) -> None"),
             "A new game on ``field`` (an empty field by default) with ``visible`` next pairs shown.\n\n"
             "The pairs are ``PairSequence(seed, colors=colors)`` unless ``sequence`` is given: a\n"
             "``PairSequence`` or a list of ``velmo.Pair`` (repeated from its start once used up);\n"
             "``seed`` and ``colors`` are then not used.\n\n"
             "Raises:\n"
             "    ValueError: a negative seed, colors other than 3 or 4, visible outside 0..128,\n"
             "        a field no game can play on, an empty or PURPLE-holding list of pairs.\n"
             "    TypeError: a field that is not a ``velmo.Field``, a sequence of something else.")
        .def_prop_ro("field", [](const Game& g) { return field_to_python(g.field()); }, nb::sig("def field(self) -> velmo.Field"),
                     "A copy of the field as a ``velmo.Field``.")
        .def_prop_ro("current_pair", [](const Game& g) { return pair_to_python(g.current_pair()); },
                     nb::sig("def current_pair(self) -> velmo.Pair"), "The pair to place now.")
        .def_prop_ro("next_pairs", &next_pairs, nb::sig("def next_pairs(self) -> tuple[velmo.Pair, ...]"),
                     "The ``visible`` pairs after the current one, nearest first.")
        .def_prop_ro("sequence", [](const Game& g) { return g.sequence(); }, "The game's pair sequence (a copy).")
        .def_prop_ro("visible", [](const Game& g) { return g.visible(); }, "How many next pairs are shown.")
        .def_prop_ro("score", [](const Game& g) { return g.score(); }, "The total score so far.")
        .def_prop_ro("turn", [](const Game& g) { return g.turn(); }, "The number of pairs placed so far.")
        .def_prop_ro("is_over", [](const Game& g) { return g.is_over(); }, "Whether the game has ended.")
        .def_prop_ro("all_clear", [](const Game& g) { return g.all_clear_held(); },
                     "Whether an all-clear bonus is held: the next chain scores 2,100 more.")
        .def("legal_moves", [](const Game& g) { return legal_move_list(g.legal_moves()); },
             nb::sig("def legal_moves(self) -> list[int]"), "The legal moves, ascending (empty once the game is over).")
        .def("action_mask", &action_mask, nb::sig("def action_mask(self) -> numpy.typing.NDArray[numpy.int8]"),
             "A ``(22,)`` int8 array: 1 where the move is legal.")
        .def("is_legal", [](const Game& g, nb::handle move) { return g.is_legal(move_from_python(move)); }, "move"_a,
             nb::sig("def is_legal(self, move: int) -> bool"),
             "Whether ``move`` is legal now (ValueError for a move outside 0..21).")
        .def("play", &play, "move"_a, nb::sig("def play(self, move: int) -> MoveResult"),
             "Place the current pair by ``move``, run the chain, and deal the next pair.\n\n"
             "Raises:\n"
             "    ValueError: a move outside 0..21, an illegal move, or any move once the game is\n"
             "        over; the game is then unchanged.\n"
             "    TypeError: a move that is not an int.")
        .def("observation", &observation,
             nb::sig("def observation(self) -> tuple[numpy.typing.NDArray[numpy.uint8], "
                     "numpy.typing.NDArray[numpy.uint8]]"),
             "The field as a ``(14, 6)`` uint8 array of ``PuyoType`` numbers (row 0 the 14th row,\n"
             "column 0 the left) and the current and next pairs as a ``(1 + visible, 2)`` uint8\n"
             "array (child, axis).")
        .def("clone", [](const Game& g) { return g; }, "An independent copy (a game is a plain value).")
        .def("__copy__", [](const Game& g) { return g; }, "An independent copy.")
        .def("__deepcopy__", [](const Game& g, nb::handle) { return g; }, "memo"_a,
             nb::sig("def __deepcopy__(self, memo: dict[int, object], /) -> Game"), "An independent copy.")
        .def("__getstate__", &game_state,
             nb::sig("def __getstate__(self) -> tuple[int, bytes, tuple[str, int, int, bytes], int, int, int, bool, bool]"),
             "The pickle state: (version, field state, sequence state, visible, turn, score, is_over,\n"
             "all_clear).")
        .def("__setstate__", [](Unmade<Game> self, nb::handle state) { new (self.place()) Game(parse_state("Game", [&] { return game_from_state(state); })); }, "state"_a,
             nb::sig("def __setstate__(self, state: tuple[int, bytes, tuple[str, int, int, bytes], int, int, int, bool, bool], /) -> None"),
             "Restore a pickled game (ValueError for a state that is not one; a state of version 1,\n"
             "written before the all-clear bonus, restores with no bonus held).")
        .def("__eq__", [](const Game& a, nb::handle b) -> nb::object {
                 if (!nb::isinstance<Game>(b)) return nb::borrow(Py_NotImplemented);
                 return nb::bool_(a == nb::cast<const Game&>(b));
             }, nb::sig("def __eq__(self, other: object, /) -> bool"), "Whether both games stand exactly alike.")
        .def("__repr__", &game_repr);
    m.attr("Game").attr("__hash__") = nb::none();

    nb::class_<velmo::EnvRules>(m, "EnvRules",
        "The rules of a single-game environment's step: what an illegal action does and when an\n"
        "episode is truncated (those of ``VecGame``, whose games step by the same native code).")
        .def("__init__", [](Unmade<velmo::EnvRules> self, nb::handle max_steps, nb::handle illegal, double illegal_penalty, nb::handle reward) {
                 velmo::EnvRules* const place = self.place();
                 velmo::EnvRules rules = env_rules_from_python(max_steps, illegal, illegal_penalty);
                 rules.reward = reward_kind_from_python(reward);
                 new (place) velmo::EnvRules(rules);
             }, nb::kw_only(), "max_steps"_a = nb::none(), "illegal"_a = "raise", "illegal_penalty"_a = 0.0, "reward"_a = "score",
             nb::sig("def __init__(self, *, max_steps: int | None = None, illegal: str = 'raise', illegal_penalty: float = 0.0, "
                     "reward: str = 'score') -> None"),
             "``max_steps`` truncates an episode after that many moves (None: never); ``illegal``\n"
             "``'raise'`` refuses an illegal action, ``'substitute'`` plays the lowest legal move and\n"
             "subtracts ``illegal_penalty`` from the reward; ``reward`` is the move's ``'score'``,\n"
             "``'log_score'`` (log(1 + score)) or ``'chain'`` (ValueError for other values).")
        .def_prop_ro("max_steps", &max_steps_to_python, nb::sig("def max_steps(self) -> int | None"), "The episode length limit, or None.")
        .def_prop_ro("illegal", &illegal_name,
                     nb::sig("def illegal(self) -> str"), "``'raise'`` or ``'substitute'``.")
        .def_prop_ro("illegal_penalty", [](const velmo::EnvRules& r) { return static_cast<double>(r.illegal_penalty); },
                     "What a substituted move costs (as float32).")
        .def_prop_ro("reward", [](const velmo::EnvRules& r) { return reward_name(r.reward); }, nb::sig("def reward(self) -> str"),
                     "The reward's form: ``'score'``, ``'log_score'`` or ``'chain'``.")
        .def("__repr__", [](const velmo::EnvRules& r) {
                 return "EnvRules(max_steps=" + nb::cast<std::string>(nb::repr(max_steps_to_python(r))) + ", illegal='" + illegal_name(r) +
                        "', illegal_penalty=" +
                        nb::cast<std::string>(nb::repr(nb::float_(static_cast<double>(r.illegal_penalty)))) + ", reward='" +
                        reward_name(r.reward) + "')";
             });

    nb::class_<ObservationBuffer>(m, "ObservationBuffer",
        "Read-only arrays that ``fill`` rewrites in place with a game's observation and legal\n"
        "moves: what a single-game environment copies out on each step.")
        .def("__init__", [](Unmade<ObservationBuffer> self, nb::handle visible) {
                 new (self.place()) ObservationBuffer(static_cast<unsigned>(int_in_range(visible, "visible", 0, velmo::kMaxVisiblePairs)));
             }, "visible"_a = 2, nb::sig("def __init__(self, visible: int = 2) -> None"),
             "Arrays for games that show ``visible`` next pairs.")
        .def("__repr__", [](const ObservationBuffer& b) { return "ObservationBuffer(" + std::to_string(b.visible()) + ")"; })
        .def("fill", &ObservationBuffer::fill, "game"_a, nb::sig("def fill(self, game: Game) -> None"),
             "Write ``game``'s field, pairs and action mask (ValueError for another ``visible``).")
        .def("step", &ObservationBuffer::step, "game"_a, "action"_a, "rules"_a,
             nb::sig("def step(self, game: Game, action: int, rules: EnvRules) -> tuple[int, int, bool, bool, bool, float]"),
             "One step of a single-game environment under ``rules``, as a batch steps each game:\n"
             "``action`` played in ``game`` (an illegal one refused or replaced by the lowest legal\n"
             "move), the game's observation written, and its mask, all ones when the step ends the\n"
             "episode. Returns (chain, score, terminated, truncated, substituted, reward), the\n"
             "reward being the move's in the rules' form less the penalty of a substituted move.\n\n"
             "Raises:\n"
             "    ValueError: the game is over, the rules refuse the action (the game is then\n"
             "        unchanged), or the game shows another number of next pairs.\n"
             "    TypeError: an action that is not an int.")
        .def_prop_ro("visible", &ObservationBuffer::visible, "How many next pairs the buffer holds.")
        .def_prop_ro("field", [](const ObservationBuffer& b) { return b.field_; },
                     nb::sig("def field(self) -> numpy.typing.NDArray[numpy.uint8]"), "``(14, 6)`` uint8, as ``Game.observation``.")
        .def_prop_ro("pairs", [](const ObservationBuffer& b) { return b.pairs_; },
                     nb::sig("def pairs(self) -> numpy.typing.NDArray[numpy.uint8]"), "``(1 + visible, 2)`` uint8, as ``Game.observation``.")
        .def_prop_ro("action_mask", [](const ObservationBuffer& b) { return b.mask_; },
                     nb::sig("def action_mask(self) -> numpy.typing.NDArray[numpy.int8]"), "``(22,)`` int8: 1 where the move is legal.");
}

}  // namespace velmo_game
