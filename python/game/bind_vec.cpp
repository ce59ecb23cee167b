// VecGame: a batch of one-player games stepped in native code without the interpreter lock. The
// output arrays are NumPy arrays allocated once, here; the core writes into their memory on every
// step and the same (read-only) arrays are returned each time. VecGame(..., versus=True) makes a
// VecMatch (vec_match.hpp), the batch of matches.
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "batch_binding.hpp"
#include "bindings.hpp"
#include "game/batch.hpp"
#include "game/env_layout.hpp"
#include "game/random.hpp"
#include "interop.hpp"
#include "numpy_buffers.hpp"
#include "observation.hpp"
#include "vec_actions.hpp"
#include "vec_match.hpp"

namespace velmo_game {
namespace {

using namespace nb::literals;

class VecGame {
public:
    explicit VecGame(const velmo::BatchConfig& config) {
        const std::size_t n = config.num_envs;
        const std::size_t rows = 1 + config.visible;
        field = owned_.zeros<std::uint8_t>({n, kFieldRows, kFieldColumns});
        pairs = owned_.zeros<std::uint8_t>({n, rows, 2});
        reward = owned_.zeros<float>({n});
        terminated = owned_.zeros<bool>({n});
        truncated = owned_.zeros<bool>({n});
        action_mask = owned_.zeros<std::int8_t>({n, velmo::kNumMoves});  // int8, as every mask of the package
        chain = owned_.zeros<std::int32_t>({n});
        score = owned_.zeros<std::int64_t>({n});
        episode_steps = owned_.zeros<std::int64_t>({n});
        final_field = owned_.zeros<std::uint8_t>({n, kFieldRows, kFieldColumns});
        final_pairs = owned_.zeros<std::uint8_t>({n, rows, 2});
        seeds = owned_.zeros<std::uint64_t>({n});
        substituted = owned_.zeros<bool>({n});
        move_score = owned_.zeros<std::int64_t>({n});
        velmo::BatchOutputs out{data_of<std::uint8_t>(field), data_of<std::uint8_t>(pairs), data_of<float>(reward),
                                data_of<std::uint8_t>(terminated), data_of<std::uint8_t>(truncated), data_of<std::uint8_t>(action_mask),
                                data_of<std::int32_t>(chain), data_of<std::int64_t>(score), data_of<std::int64_t>(episode_steps),
                                data_of<std::uint8_t>(final_field), data_of<std::uint8_t>(final_pairs), data_of<std::uint64_t>(seeds)};
        out.substituted = data_of<std::uint8_t>(substituted);
        out.move_score = data_of<std::int64_t>(move_score);
        try {
            nb::gil_scoped_release release;
            batch_ = std::make_unique<velmo::GameBatch>(config, out, python_signal_check());
        } catch (const velmo::Interrupted&) {
            throw nb::python_error();
        }
        result_ = nb::make_tuple(nb::make_tuple(field, pairs), reward, terminated, truncated);
        sampled_ = owned_.zeros<std::int64_t>({n});
        sampled_data_ = data_of<std::int64_t>(sampled_);
        staged_.emplace(n, 0, velmo::kNumMoves - 1, "(" + std::to_string(n) + ",)", "game");
    }

    nb::object step(nb::handle actions_argument) {
        BatchCalls::Busy busy(calls);
        calls.refuse_if_unfinished();
        // The batch steps its own copy: another thread changing the caller's array while the lock
        // is released cannot slip an unchecked move in.
        const std::int64_t* data = staged_->stage(actions_argument);
        if (auto refusal = batch_->check(data)) {
            const std::string where = "actions[" + std::to_string(refusal->index) + "] = " + std::to_string(refusal->action);
            if (refusal->out_of_range) raise_value_error(where + " is outside 0..21 (an index into velmo.Hand.enumerate()); no game moved");
            raise_value_error(where + " (" + hand_text(static_cast<std::uint64_t>(refusal->action)) +
                              ") is not legal in that game; action_masks marks the legal moves; no game moved");
        }
        run_interruptible([&](const velmo::StopCheck& stop) { return batch_->step(data, stop); },
                          [&] { calls.mark_unfinished("a step was interrupted part way (some games moved, others not)"); });
        return result_;
    }

    nb::object sample_actions() {
        BatchCalls::Busy busy(calls);
        calls.refuse_if_unfinished();
        {
            nb::gil_scoped_release release;
            batch_->sample_actions(sampled_data_);
        }
        return sampled_;
    }

    nb::object reset(nb::handle seed) {
        const ResetSeeds reset_seeds = reset_seeds_from_python(seed, size());
        BatchCalls::Busy busy(calls);
        reset_batch(*batch_, calls, reset_seeds, "games");
        return nb::make_tuple(field, pairs);
    }

    [[nodiscard]] const velmo::GameBatch& batch() const { return *batch_; }
    [[nodiscard]] const velmo::BatchConfig& config() const { return batch_->config(); }
    [[nodiscard]] std::size_t size() const { return batch_->size(); }
    [[nodiscard]] unsigned num_threads() const { return batch_->num_threads(); }

    nb::object field, pairs, reward, terminated, truncated, action_mask, chain, score, episode_steps, final_field, final_pairs, seeds,
        substituted, move_score;
    BatchCalls calls{"VecGame"};

private:
    OwnedArrays owned_;  // before batch_: the memory outlives the batch writing into it
    std::unique_ptr<velmo::GameBatch> batch_;
    nb::object result_;
    nb::object sampled_;
    std::int64_t* sampled_data_ = nullptr;
    std::optional<StagedActions> staged_;
};

// A ready instance of `type` (the bound class of T or a Python subclass of it) holding T(args...).
template <class T, class... Args>
nb::object make_instance(nb::handle type, Args&&... args) {
    nb::object self = nb::inst_alloc(type);
    new (nb::inst_ptr<T>(self)) T(std::forward<Args>(args)...);
    nb::inst_mark_ready(self);
    return self;
}

// VecGame is made whole by its __new__, so that its former `versus=True` form can hand back a
// VecMatch, the batch of matches, made from the same arguments (Python then runs no __init__ on
// an object that is not a VecGame, and object.__init__ on one that is).
nb::object new_vec_game(nb::handle cls, nb::handle num_envs, nb::handle seed, nb::handle num_threads, nb::handle colors, nb::handle visible,
                        nb::handle autoreset, nb::handle max_steps, bool versus, nb::handle rules, nb::handle timing, nb::handle illegal,
                        double illegal_penalty, nb::handle first_copy, nb::handle reward) {
    // VecGame.__new__(X, ...) called by hand must not build a VecGame in the memory of another type.
    const nb::handle vec_game = nb::type<VecGame>();
    if (!PyType_Check(cls.ptr()) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls.ptr()), reinterpret_cast<PyTypeObject*>(vec_game.ptr()))) {
        raise_type_error("VecGame.__new__(cls): cls must be VecGame or a subclass of it, not " + nb::cast<std::string>(nb::repr(cls)));
    }
    velmo::BatchConfig config =
        batch_config_from_python(num_envs, seed, num_threads, colors, visible, autoreset, max_steps, illegal, illegal_penalty, first_copy);
    config.rules.reward = reward_kind_from_python(reward);
    if (versus) {
        // A match's rewards are its outcome's: the forms of a move's reward do not apply.
        if (config.rules.reward != velmo::RewardKind::Score) raise_value_error("reward applies to batches of one-player games only");
        return make_instance<VecMatch>(nb::type<VecMatch>(), match_batch_config(config, rules, timing));
    }
    if (!rules.is_none() || !timing.is_none()) raise_value_error("rules and timing apply to batches of matches only (VecMatch)");
    return make_instance<VecGame>(cls, config);
}

const char* element_type_name(velmo::ElementType type) {
    switch (type) {
        case velmo::ElementType::UInt8: return "uint8";
        case velmo::ElementType::Int8: return "int8";
        case velmo::ElementType::UInt32: return "uint32";
    }
    return "uint8";
}

template <std::size_t N>
nb::tuple codes_of(const std::array<velmo::BitPuyoType, N>& types) {
    nb::list codes;
    for (const velmo::BitPuyoType t : types) codes.append(velmo::bit_code(t));
    return nb::tuple(codes);
}

// The declaration of an environment kind (core/src/game/env_layout.hpp) as plain Python values.
nb::dict env_layout_to_python(nb::handle kind_argument, nb::handle visible_argument) {
    if (!nb::isinstance<nb::str>(kind_argument)) raise_type_error("kind must be a str, not " + python_type_name(kind_argument));
    const auto kind_name = nb::cast<std::string>(kind_argument);
    if (kind_name != "game" && kind_name != "match") raise_value_error("kind must be 'game' or 'match', not '" + kind_name + "'");
    const auto visible = static_cast<unsigned>(int_in_range(visible_argument, "visible", 0, velmo::kMaxVisiblePairs));
    const velmo::EnvLayout layout = velmo::env_layout(kind_name == "game" ? velmo::EnvKind::OnePlayer : velmo::EnvKind::Versus, visible);
    nb::dict arrays;
    for (std::size_t i = 0; i < layout.num_arrays; ++i) {
        const velmo::ObservationArray& a = layout.arrays[i];
        nb::list shape;
        for (std::size_t d = 0; d < a.rank; ++d) shape.append(a.shape[d]);
        arrays[a.name] = nb::make_tuple(nb::tuple(shape), element_type_name(a.type), static_cast<std::int64_t>(a.low),
                                        static_cast<std::int64_t>(a.high));
    }
    nb::dict out;
    out["num_actions"] = layout.num_actions;
    out["wait_action"] = layout.wait_action < 0 ? nb::object(nb::none()) : nb::object(nb::int_(layout.wait_action));
    out["arrays"] = arrays;
    out["plane_types"] = codes_of(velmo::kPlaneTypes);
    out["pair_colours"] = codes_of(velmo::kPairColours);
    return out;
}

}  // namespace

void bind_vec(nb::module_& m) {
    m.def("env_layout", &env_layout_to_python, "kind"_a, "visible"_a = 2,
          nb::sig("def env_layout(kind: str, visible: int = 2) -> dict[str, typing.Any]"),
          "What an environment of ``kind`` ('game': one player, 'match': versus) with ``visible``\n"
          "next pairs shows and takes, as the batches write it: ``num_actions``, ``wait_action``\n"
          "(None for one player), ``arrays`` (each observation array's name to its shape, dtype\n"
          "name, lowest and highest value), and the ``PuyoType`` numbers of the one-hot\n"
          "``plane_types`` (field) and ``pair_colours`` (pairs). Every Python space of the package\n"
          "is built from it.");
    m.def("episode_seed",
          [](nb::handle seed, nb::handle copy, nb::handle episode) {
              return velmo::episode_seed(seed_from_python(seed, "seed"), seed_from_python(copy, "copy"), seed_from_python(episode, "episode"));
          },
          "seed"_a, "copy"_a = 0, "episode"_a = 0,
          nb::sig("def episode_seed(seed: int, copy: int = 0, episode: int = 0) -> int"),
          "The seed of episode ``episode`` (from 0) of environment copy ``copy`` run under ``seed``:\n"
          "every environment of the package plays ``Game(episode_seed(seed, copy, episode))`` (a\n"
          "versus one ``Match(...)`` of it). A single environment is copy 0; a batch's game ``i``\n"
          "is copy ``i``. Copies seeded ``s, s + 1, ...`` never share a game.");
    bind_vec_match(m);
    nb::class_<VecGame> cls(m, "VecGame",
        "A batch of one-player games stepped together in native code without the interpreter lock.\n\n"
        "Game ``i`` is ``Game(seeds[i], colors=colors, visible=visible)``. The seeds derive from\n"
        "``seed`` and the index only, so results never depend on ``num_threads``. Every output is a\n"
        "read-only NumPy array owned by the batch and rewritten in place by each ``step`` and\n"
        "``reset``: copy what you keep. ``VecGame(n, versus=True, ...)`` makes a ``VecMatch``, the\n"
        "batch of two-player matches.");
    cls.def_static("__new__", &new_vec_game,
             "cls"_a, "num_envs"_a, nb::kw_only(), "seed"_a = 0, "num_threads"_a = nb::none(), "colors"_a = 4, "visible"_a = 2,
             "autoreset"_a = "next_step", "max_steps"_a = nb::none(), "versus"_a = false, "rules"_a = nb::none(),
             "timing"_a = nb::none(), "illegal"_a = "raise", "illegal_penalty"_a = 0.0, "first_copy"_a = 0, "reward"_a = "score",
             nb::sig("def __new__(cls, num_envs: int, *, seed: int = 0, num_threads: int | None = None, colors: int = 4, "
                     "visible: int = 2, autoreset: str = 'next_step', max_steps: int | None = None, versus: bool = False, "
                     "rules: Rules | None = None, timing: Timing | None = None, illegal: str = 'raise', "
                     "illegal_penalty: float = 0.0, first_copy: int = 0, reward: str = 'score') -> VecGame"),
             "``num_envs`` games seeded from ``seed``, stepped by ``num_threads`` threads (default:\n"
             "the CPUs available).\n\n"
             "Args:\n"
             "    autoreset: 'next_step', 'same_step' or 'disabled' (Gymnasium's meanings).\n"
             "    max_steps: truncate an episode after that many steps (None: no limit).\n"
             "    versus: True makes a ``VecMatch`` of ``num_envs`` matches instead, with the other\n"
             "        arguments (``rules`` and ``timing`` among them); ``VecMatch(...)`` says so directly.\n"
             "    illegal: 'raise' refuses a step holding an illegal action (ValueError, nothing\n"
             "        moves); 'substitute' plays the lowest legal move instead, subtracts\n"
             "        ``illegal_penalty`` from that game's reward and marks it in ``substituted``.\n"
             "    first_copy: the environment copy of game 0 (``episode_seed``'s ``copy``): game ``i``\n"
             "        plays ``episode_seed(seed, first_copy + i, episode)``. A single environment of\n"
             "        copy ``c`` is a batch of one with ``first_copy=c``.\n"
             "    reward: each move's reward: its ``'score'``, ``'log_score'`` (log(1 + score)) or\n"
             "        ``'chain'`` (its chain length).\n\n"
             "Raises:\n"
             "    ValueError: a value out of range, an unknown mode, rules or timing without\n"
             "        ``versus=True``.\n"
             "    TypeError: an argument of the wrong type.")
        // Python runs __init__ after __new__ where a call goes through type.__call__ (a subclass,
        // for one): the object is already whole, so there is nothing to do.
        .def("__init__", [](nb::handle, nb::args, nb::kwargs) {}, nb::sig("def __init__(self, *args: typing.Any, **kwargs: typing.Any) -> None"),
             "Nothing: ``__new__`` makes the batch whole.")
        .def("step", &VecGame::step, "actions"_a,
             nb::sig("def step(self, actions: numpy.typing.ArrayLike) -> tuple[tuple[numpy.ndarray, ...], numpy.ndarray, "
                     "numpy.ndarray, numpy.ndarray]"),
             "Play one move in every game: ``actions[i]`` (an index into ``velmo.Hand.enumerate()``) is\n"
             "game ``i``'s. Returns ((field, pairs), rewards, terminated, truncated), the batch's own\n"
             "arrays. A game waiting for its reset ignores its action (any value in range).\n\n"
             "Raises:\n    ValueError: actions of the wrong shape or dtype, out of range, or (with\n"
             "        ``illegal='raise'``) an illegal action anywhere; then nothing changes.")
        .def("sample_actions", &VecGame::sample_actions,
             nb::sig("def sample_actions(self) -> numpy.ndarray"),
             "A random legal action for every game, drawn in native code: uniform over the moves\n"
             "``action_masks`` allows (any of the 22 for a game waiting for its reset).\n\n"
             "Game ``i`` draws from its own seeded stream, restarted by ``reset(seed=...)``, so the\n"
             "draws never depend on ``num_threads``. Returns the batch's own read-only (N,) int64\n"
             "array, rewritten by the next call: ``step(batch.sample_actions())`` plays them.")
        .def("reset", &VecGame::reset, "seed"_a = nb::none(),
             nb::sig("def reset(self, seed: int | collections.abc.Sequence[int] | numpy.ndarray | None = None) -> tuple[numpy.ndarray, ...]"),
             "Start every game's next episode. With one ``seed`` the batch is reseeded as if new; with\n"
             "one seed per game, game ``i`` starts episode 0 of ``seed[i]``, the game a single\n"
             "environment of its copy plays after ``reset(seed=seed[i])``.\n\n"
             "Returns (field, pairs).")
        .def_prop_ro("versus", [](const VecGame&) { return false; }, "False: the batch holds one-player games (see VecMatch).")
        .def_prop_ro("reward", [](const VecGame& v) { return reward_name(v.config().rules.reward); }, nb::sig("def reward(self) -> str"),
                     "The form of each move's reward: 'score', 'log_score' or 'chain'.")
        .def("game", [](const VecGame& v, nb::handle index) {
                 return v.calls.guarded([&] { return v.batch().game(static_cast<std::size_t>(int_in_range(index, "index", 0, static_cast<std::int64_t>(v.size()) - 1))); });
             }, "index"_a, nb::sig("def game(self, index: int) -> Game"), "A copy of game ``index``.")
        .def("__repr__", [](const VecGame& v) { return batch_repr("VecGame", v); });
    bind_batch_settings(cls, "The number of games.");
    bind_batch_arrays<VecGame>(cls, {
        {"field", &VecGame::field, "(N, 14, 6) uint8 fields."},
        {"pairs", &VecGame::pairs, "(N, 1 + visible, 2) uint8 pairs (child, axis)."},
        {"rewards", &VecGame::reward,
         "(N,) float32: each move's reward (its score unless ``reward`` says otherwise), less\n``illegal_penalty`` where ``substituted``."},
        {"terminated", &VecGame::terminated, "(N,) bool: the game is over."},
        {"truncated", &VecGame::truncated, "(N,) bool: cut at ``max_steps``."},
        {"action_masks", &VecGame::action_mask,
         "(N, 22) int8: 1 for the legal moves (all 1 for a game waiting for its reset, whose\naction is ignored)."},
        {"chain", &VecGame::chain, "(N,) int32: the chain of the last move."},
        {"score", &VecGame::score, "(N,) int64: each game's total score."},
        {"move_score", &VecGame::move_score, "(N,) int64: the score of each game's last move (0 for a game reset in the step)."},
        {"episode_steps", &VecGame::episode_steps, "(N,) int64: steps in the episode."},
        {"final_field", &VecGame::final_field, "same_step mode: the last field of the games that ended this step."},
        {"final_pairs", &VecGame::final_pairs, "same_step mode: the last pairs of the games that ended this step."},
        {"seeds", &VecGame::seeds, "(N,) uint64: the seed of each game's current episode (``Game(seeds[i])``)."},
        {"substituted", &VecGame::substituted,
         "(N,) bool: the action was illegal and the lowest legal move was played\n(``illegal='substitute'``)."},
    });
}

}  // namespace velmo_game
