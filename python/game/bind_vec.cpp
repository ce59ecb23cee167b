// VecGame: a batch of one-player games stepped in native code without the interpreter lock. The
// output arrays are NumPy arrays allocated once, here; the core writes into their memory on every
// step and the same (read-only) arrays are returned each time.
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bindings.hpp"
#include "game/batch.hpp"
#include "game/random.hpp"
#include "interop.hpp"
#include "vec_actions.hpp"
#include "numpy_buffers.hpp"
#include "observation.hpp"
#include "vec_versus.hpp"

namespace velmo_game {
namespace {

using namespace nb::literals;
using velmo::AutoReset;

AutoReset autoreset_from_name(const std::string& name) {
    if (name == "next_step") return AutoReset::NextStep;
    if (name == "same_step") return AutoReset::SameStep;
    if (name == "disabled") return AutoReset::Disabled;
    raise_value_error("autoreset must be 'next_step', 'same_step' or 'disabled', not '" + name + "'");
}

const char* autoreset_name(AutoReset mode) {
    switch (mode) {
        case AutoReset::NextStep: return "next_step";
        case AutoReset::SameStep: return "same_step";
        case AutoReset::Disabled: return "disabled";
    }
    return "next_step";
}

class VecGame {
public:
    explicit VecGame(const velmo::BatchConfig& config) {
        const std::size_t n = config.num_envs;
        const std::size_t rows = 1 + config.visible;
        field_ = owned_.zeros<std::uint8_t>({n, kFieldRows, kFieldColumns});
        pairs_ = owned_.zeros<std::uint8_t>({n, rows, 2});
        reward_ = owned_.zeros<float>({n});
        terminated_ = owned_.zeros<bool>({n});
        truncated_ = owned_.zeros<bool>({n});
        mask_ = owned_.zeros<std::int8_t>({n, velmo::kNumMoves});  // int8, as every mask of the package
        chain_ = owned_.zeros<std::int32_t>({n});
        score_ = owned_.zeros<std::int64_t>({n});
        steps_ = owned_.zeros<std::int64_t>({n});
        final_field_ = owned_.zeros<std::uint8_t>({n, kFieldRows, kFieldColumns});
        final_pairs_ = owned_.zeros<std::uint8_t>({n, rows, 2});
        seeds_ = owned_.zeros<std::uint64_t>({n});
        substituted_ = owned_.zeros<bool>({n});
        velmo::BatchOutputs out{data_of<std::uint8_t>(field_), data_of<std::uint8_t>(pairs_), data_of<float>(reward_),
                                data_of<std::uint8_t>(terminated_), data_of<std::uint8_t>(truncated_), data_of<std::uint8_t>(mask_),
                                data_of<std::int32_t>(chain_), data_of<std::int64_t>(score_), data_of<std::int64_t>(steps_),
                                data_of<std::uint8_t>(final_field_), data_of<std::uint8_t>(final_pairs_), data_of<std::uint64_t>(seeds_)};
        out.substituted = data_of<std::uint8_t>(substituted_);
        try {
            nb::gil_scoped_release release;
            batch_ = std::make_unique<velmo::GameBatch>(config, out, python_signal_check());
        } catch (const velmo::Interrupted&) {
            throw nb::python_error();
        }
        result_ = nb::make_tuple(nb::make_tuple(field_, pairs_), reward_, terminated_, truncated_);
        sampled_ = owned_.zeros<std::int64_t>({n});
        sampled_data_ = data_of<std::int64_t>(sampled_);
        staged_.emplace(n, 0, velmo::kNumMoves - 1, "(" + std::to_string(n) + ",)", "game");
    }

    // A batch of matches: the arrays VecGame shares with the one-player batch are the versus ones.
    explicit VecGame(std::unique_ptr<VersusVec> versus) : versus_(std::move(versus)) {
        const VersusVec& v = *versus_;
        field_ = v.field;
        pairs_ = v.pairs;
        reward_ = v.reward;
        terminated_ = v.terminated;
        truncated_ = v.truncated;
        mask_ = v.action_mask;
        chain_ = v.chain;
        score_ = v.score;
        steps_ = v.episode_steps;
        final_field_ = v.final_field;
        final_pairs_ = v.final_pairs;
        seeds_ = v.seeds;
        substituted_ = v.substituted;
    }

    nb::object step(nb::handle actions_argument) {
        Busy busy(busy_);
        refuse_if_unfinished();
        if (versus_) return versus_->step(actions_argument, unfinished_);
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
                          [&] { unfinished_ = "a step was interrupted part way (some games moved, others not)"; });
        return result_;
    }

    nb::object sample_actions() {
        if (versus_) raise_value_error("sample_actions draws one-player moves; this VecGame holds matches (versus=True)");
        Busy busy(busy_);
        refuse_if_unfinished();
        {
            nb::gil_scoped_release release;
            batch_->sample_actions(sampled_data_);
        }
        return sampled_;
    }

    nb::object reset(nb::handle seed) {
        std::optional<std::uint64_t> s;
        if (!seed.is_none()) s = seed_from_python(seed, "seed");
        Busy busy(busy_);
        if (versus_) return versus_->reset(s, unfinished_);
        run_interruptible([&](const velmo::StopCheck& stop) { return batch_->reset(s, stop); },
                          [&] { unfinished_ = "a reset was interrupted part way (some games started their episode, others not)"; });
        unfinished_.clear();
        return nb::make_tuple(field_, pairs_);
    }

    [[nodiscard]] const velmo::GameBatch& batch() const {
        if (!batch_) raise_value_error("this VecGame holds matches (versus=True): use match(index)");
        return *batch_;
    }
    [[nodiscard]] bool is_versus() const { return versus_ != nullptr; }
    [[nodiscard]] const VersusVec& versus() const {
        if (!versus_) throw nb::attribute_error("a one-player VecGame has no versus outputs (VecGame(..., versus=True) has)");
        return *versus_;
    }
    [[nodiscard]] const velmo::BatchConfig& config() const { return versus_ ? versus_->batch().config().batch : batch_->config(); }
    [[nodiscard]] std::size_t size() const { return versus_ ? versus_->batch().size() : batch_->size(); }
    [[nodiscard]] unsigned num_threads() const { return versus_ ? versus_->batch().num_threads() : batch_->num_threads(); }
    nb::object field_, pairs_, reward_, terminated_, truncated_, mask_, chain_, score_, steps_, final_field_, final_pairs_, seeds_;
    nb::object substituted_;

private:
    // One call at a time per batch: a second thread using the batch while one steps it, or a
    // callback re-entering it on the same thread (an array-like's __array__ or __index__), is
    // refused. The flag holds the calling thread's token, so the refusal can say which happened.
    struct Busy {
        explicit Busy(std::atomic<std::uintptr_t>& flag) : flag_(flag) {
            std::uintptr_t free = 0;
            if (flag_.compare_exchange_strong(free, thread_token())) return;
            throw nb::builtin_exception(nb::exception_type::runtime_error,
                                        free == thread_token() ? "this VecGame is already in a call on this thread (re-entered from a callback)"
                                                               : "this VecGame is being used by another thread");
        }
        ~Busy() { flag_.store(0); }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;
        static std::uintptr_t thread_token() {
            static thread_local const char marker = 0;
            return reinterpret_cast<std::uintptr_t>(&marker);
        }
        std::atomic<std::uintptr_t>& flag_;
    };

    // After an interrupted step or reset the batch is marked: it steps again only after a reset.
    void refuse_if_unfinished() const {
        if (!unfinished_.empty()) throw nb::builtin_exception(nb::exception_type::runtime_error, (unfinished_ + ": reset() the batch before using it again").c_str());
    }

public:
    // `read(self)` under the busy flag: a game, a match or an output array is never handed out
    // while another thread steps the batch.
    template <class Read>
    auto guarded(Read read) const {
        Busy busy(busy_);
        return read(*this);
    }

private:

    OwnedArrays owned_;  // before batch_: the memory outlives the batch writing into it
    std::unique_ptr<velmo::GameBatch> batch_;
    std::unique_ptr<VersusVec> versus_;
    nb::object result_;
    nb::object sampled_;
    std::int64_t* sampled_data_ = nullptr;
    std::optional<StagedActions> staged_;  // one-player batches only
    mutable std::atomic<std::uintptr_t> busy_{0};
    std::string unfinished_;  // what an interruption left half done; empty when whole
};

unsigned default_threads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

void make_vec_game(Unmade<VecGame> self, nb::handle num_envs, nb::handle seed, nb::handle num_threads, nb::handle colors, nb::handle visible,
                   const std::string& autoreset, nb::handle max_steps, bool versus, nb::handle rules, nb::handle timing,
                   const std::string& illegal, double illegal_penalty, nb::handle first_copy) {
    VecGame* const place = self.place();
    const auto n = static_cast<std::size_t>(int_in_range(num_envs, "num_envs", 1, 1 << 24));
    const auto s = seed_from_python(seed, "seed");
    const unsigned threads = num_threads.is_none() ? default_threads()
                                                   : static_cast<unsigned>(int_in_range(num_threads, "num_threads", 1, 256));
    const auto c = static_cast<unsigned>(int_in_range(colors, "colors", 3, 4));
    const auto v = static_cast<unsigned>(int_in_range(visible, "visible", 0, velmo::kMaxVisiblePairs));
    const AutoReset mode = autoreset_from_name(autoreset);
    velmo::BatchConfig config{n, s, c, v, threads, mode, env_rules_from_python(max_steps, illegal, illegal_penalty)};
    config.first_copy = seed_from_python(first_copy, "first_copy");
    if (versus) {
        new (place) VecGame(std::make_unique<VersusVec>(versus_config(config, rules, timing)));
        return;
    }
    if (!rules.is_none() || !timing.is_none()) raise_value_error("rules and timing apply to batches of matches only (versus=True)");
    new (place) VecGame(config);
}

}  // namespace

void bind_vec(nb::module_& m) {
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
    nb::class_<VecGame>(m, "VecGame",
        "A batch of one-player games, or of two-player matches, stepped together in native code\n"
        "without the interpreter lock.\n\n"
        "Game ``i`` is ``Game(seeds[i], colors=colors, visible=visible)``; with ``versus=True``,\n"
        "match ``i`` is ``Match(seeds[i], colors=colors, visible=visible, rules=rules,\n"
        "timing=timing)``. The seeds derive from ``seed`` and the index only, so results never\n"
        "depend on ``num_threads``. Every output is a read-only NumPy array owned by the batch and\n"
        "rewritten in place by each ``step`` and ``reset``: copy what you keep.")
        .def("__init__", &make_vec_game,
             "num_envs"_a, nb::kw_only(), "seed"_a = 0, "num_threads"_a = nb::none(), "colors"_a = 4, "visible"_a = 2,
             "autoreset"_a = "next_step", "max_steps"_a = nb::none(), "versus"_a = false, "rules"_a = nb::none(),
             "timing"_a = nb::none(), "illegal"_a = "raise", "illegal_penalty"_a = 0.0, "first_copy"_a = 0,
             nb::sig("def __init__(self, num_envs: int, *, seed: int = 0, num_threads: int | None = None, colors: int = 4, "
                     "visible: int = 2, autoreset: str = 'next_step', max_steps: int | None = None, versus: bool = False, "
                     "rules: Rules | None = None, timing: Timing | None = None, illegal: str = 'raise', "
                     "illegal_penalty: float = 0.0, first_copy: int = 0) -> None"),
             "``num_envs`` games (``versus=True``: matches) seeded from ``seed``, stepped by\n"
             "``num_threads`` threads (default: the CPUs available).\n\n"
             "Args:\n"
             "    autoreset: 'next_step', 'same_step' or 'disabled' (Gymnasium's meanings).\n"
             "    max_steps: truncate an episode after that many steps (None: no limit).\n"
             "    versus: hold two-player matches; actions are then ``(num_envs, 2)``, 0..21 a move\n"
             "        and 22 the wait, and the outputs have a player axis (player 0 first).\n"
             "    rules, timing: the matches' ``Rules`` and ``Timing`` (versus only; ``Rules()`` and\n"
             "        ``Timing()`` by default).\n"
             "    illegal: 'raise' refuses a step holding an illegal action (ValueError, nothing\n"
             "        moves); 'substitute' plays the lowest legal move instead, subtracts\n"
             "        ``illegal_penalty`` from that player's reward and marks it in ``substituted``.\n"
             "    first_copy: the environment copy of game 0 (``episode_seed``'s ``copy``): game ``i``\n"
             "        plays ``episode_seed(seed, first_copy + i, episode)``. A single environment of\n"
             "        copy ``c`` is a batch of one with ``first_copy=c``.\n\n"
             "Raises:\n"
             "    ValueError: a value out of range, an unknown mode, rules or timing without\n"
             "        ``versus=True``.\n"
             "    TypeError: rules or timing of the wrong type.")
        .def("step", &VecGame::step, "actions"_a,
             nb::sig("def step(self, actions: numpy.typing.ArrayLike) -> tuple[tuple[numpy.ndarray, ...], numpy.ndarray, "
                     "numpy.ndarray, numpy.ndarray]"),
             "Play one step in every game or match.\n\n"
             "One-player: ``actions[i]`` (an index into ``velmo.Hand.enumerate()``) is game ``i``'s\n"
             "move; returns ((field, pairs), rewards, terminated, truncated).\n"
             "Versus: ``actions[i, p]`` is player ``p``'s action in match ``i``, a move of a due\n"
             "player or 22 (wait) of one who is not; each match advances to its next decision, as\n"
             "``Match.step`` does; returns ((field, pairs, pending_ojama), rewards, terminated,\n"
             "truncated).\n"
             "The arrays are the batch's own. A game or match waiting for its reset ignores its\n"
             "actions (any value in range).\n\n"
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
             nb::sig("def reset(self, seed: int | None = None) -> tuple[numpy.ndarray, ...]"),
             "Start every game's (match's) next episode (with ``seed``: reseed the batch, as if new).\n\n"
             "Returns (field, pairs), versus (field, pairs, pending_ojama).")
        .def_prop_ro("num_envs", [](const VecGame& v) { return v.size(); }, "The number of games or matches.")
        .def_prop_ro("num_threads", [](const VecGame& v) { return v.num_threads(); }, "The worker threads (the caller's included).")
        .def_prop_ro("seed", [](const VecGame& v) { return v.config().seed; }, "The batch seed.")
        .def_prop_ro("first_copy", [](const VecGame& v) { return v.config().first_copy; }, "The environment copy of game 0.")
        .def_prop_ro("visible", [](const VecGame& v) { return v.config().visible; }, "How many next pairs are shown.")
        .def_prop_ro("colors", [](const VecGame& v) { return v.config().colors; }, "The number of colours.")
        .def_prop_ro("autoreset", [](const VecGame& v) { return autoreset_name(v.config().autoreset); }, "The auto-reset mode.")
        .def_prop_ro("max_steps", [](const VecGame& v) { return max_steps_to_python(v.config().rules); }, nb::sig("def max_steps(self) -> int | None"), "The episode length limit, or None.")
        .def_prop_ro("versus", [](const VecGame& v) { return v.is_versus(); }, "Whether the batch holds two-player matches.")
        .def_prop_ro("illegal", [](const VecGame& v) { return illegal_name(v.config().rules); },
                     nb::sig("def illegal(self) -> str"), "What an illegal action does: 'raise' or 'substitute'.")
        .def_prop_ro("illegal_penalty", [](const VecGame& v) { return static_cast<double>(v.config().rules.illegal_penalty); },
                     "Subtracted from the reward of a substituted action.")
        .def_prop_ro("field", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.field_; }); }, nb::sig("def field(self) -> numpy.ndarray"),
                     "(N, 14, 6) uint8 fields; versus (N, 2, 14, 6).")
        .def_prop_ro("pairs", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.pairs_; }); }, nb::sig("def pairs(self) -> numpy.ndarray"),
                     "(N, 1 + visible, 2) uint8 pairs (child, axis); versus (N, 2, 1 + visible, 2).")
        .def_prop_ro("rewards", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.reward_; }); }, nb::sig("def rewards(self) -> numpy.ndarray"),
                     "(N,) float32: each move's score; versus (N, 2): +1 / -1 for the winner / loser in the\n"
                     "step a match ends, else 0; less ``illegal_penalty`` where ``substituted``.")
        .def_prop_ro("terminated", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.terminated_; }); }, nb::sig("def terminated(self) -> numpy.ndarray"),
                     "(N,) bool (versus: the match was won, or drawn by both topping out).")
        .def_prop_ro("truncated", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.truncated_; }); }, nb::sig("def truncated(self) -> numpy.ndarray"),
                     "(N,) bool: cut at ``max_steps`` (versus: or undecided at the rules' frame limit).")
        .def_prop_ro("action_masks", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.mask_; }); }, nb::sig("def action_masks(self) -> numpy.ndarray"),
                     "(N, 22) int8: 1 for the legal moves (all 1 for a game waiting for its reset, whose\n"
                     "action is ignored). "
                     "Versus (N, 2, 23): a due player's legal moves, else only 22 (wait).")
        .def_prop_ro("chain", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.chain_; }); }, nb::sig("def chain(self) -> numpy.ndarray"),
                     "(N,) int32: the chain of the last move; versus (N, 2), 0 for a player who waited.")
        .def_prop_ro("score", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.score_; }); }, nb::sig("def score(self) -> numpy.ndarray"),
                     "(N,) int64: each game's total score; versus (N, 2).")
        .def_prop_ro("episode_steps", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.steps_; }); }, nb::sig("def episode_steps(self) -> numpy.ndarray"),
                     "(N,) int64: steps in the episode.")
        .def_prop_ro("final_field", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.final_field_; }); }, nb::sig("def final_field(self) -> numpy.ndarray"),
                     "same_step mode: the last field of the games that ended this step.")
        .def_prop_ro("final_pairs", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.final_pairs_; }); }, nb::sig("def final_pairs(self) -> numpy.ndarray"),
                     "same_step mode: the last pairs of the games that ended this step.")
        .def_prop_ro("seeds", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.seeds_; }); }, nb::sig("def seeds(self) -> numpy.ndarray"),
                     "(N,) uint64: the seed of each game's current episode (``Game(seeds[i])``, versus\n"
                     "``Match(seeds[i])``).")
        .def_prop_ro("substituted", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.substituted_; }); }, nb::sig("def substituted(self) -> numpy.ndarray"),
                     "(N,) bool, versus (N, 2): the action was illegal and the lowest legal move was played\n"
                     "(``illegal='substitute'``).")
        // The outputs only matches have (AttributeError on a one-player batch).
        .def_prop_ro("pending_ojama", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.versus().pending_ojama; }); },
                     nb::sig("def pending_ojama(self) -> numpy.ndarray"), "Versus: (N, 2) uint32 ojama pending against each player.")
        .def_prop_ro("due", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.versus().due; }); }, nb::sig("def due(self) -> numpy.ndarray"),
                     "Versus: (N, 2) bool: the player must move now (its action a move, not 22).")
        .def_prop_ro("ojama_sent", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.versus().ojama_sent; }); }, nb::sig("def ojama_sent(self) -> numpy.ndarray"),
                     "Versus: (N, 2) uint32: ojama the player committed against the opponent in the step.")
        .def_prop_ro("ojama_received", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.versus().ojama_received; }); },
                     nb::sig("def ojama_received(self) -> numpy.ndarray"), "Versus: (N, 2) uint32: ojama fallen on the player's field in the step.")
        .def_prop_ro("winner", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.versus().winner; }); }, nb::sig("def winner(self) -> numpy.ndarray"),
                     "Versus: (N,) int8: 0 or 1 for a match won (in the step, or waiting for its reset),\n"
                     "-1 for a draw or a match in play.")
        .def_prop_ro("frame", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.versus().frame; }); }, nb::sig("def frame(self) -> numpy.ndarray"),
                     "Versus: (N,) int64: each current match's frame.")
        .def_prop_ro("final_pending_ojama", [](const VecGame& v) { return v.guarded([](const VecGame& g) { return g.versus().final_pending_ojama; }); },
                     nb::sig("def final_pending_ojama(self) -> numpy.ndarray"),
                     "Versus, same_step mode: the last pending ojama of the matches that ended this step.")
        .def_prop_ro("rules", [](const VecGame& v) { return v.versus().batch().config().rules; }, nb::sig("def rules(self) -> Rules"),
                     "Versus: the matches' rules.")
        .def_prop_ro("timing", [](const VecGame& v) { return v.versus().batch().config().timing; }, nb::sig("def timing(self) -> Timing"),
                     "Versus: the matches' timing.")
        .def("game", [](const VecGame& v, nb::handle index) {
                 return v.guarded([&](const VecGame& g) { return g.batch().game(static_cast<std::size_t>(int_in_range(index, "index", 0, static_cast<std::int64_t>(g.batch().size()) - 1))); });
             }, "index"_a, nb::sig("def game(self, index: int) -> Game"), "A copy of game ``index`` (one-player batches).")
        .def("match", [](const VecGame& v, nb::handle index) {
                 if (!v.is_versus()) raise_value_error("this VecGame holds one-player games (versus=False): use game(index)");
                 return v.guarded([&](const VecGame& g) { return g.versus().match(index); });
             }, "index"_a, nb::sig("def match(self, index: int) -> Match"), "A copy of match ``index`` (versus batches).")
        .def("__len__", [](const VecGame& v) { return v.size(); })
        .def("__repr__", [](const VecGame& v) {
            return "VecGame(" + std::to_string(v.size()) + ", seed=" + std::to_string(v.config().seed) + ", num_threads=" +
                   std::to_string(v.num_threads()) + ", colors=" + std::to_string(v.config().colors) + ", visible=" +
                   std::to_string(v.config().visible) + (v.is_versus() ? ", versus=True)" : ")");
        });
}

}  // namespace velmo_game
