// VecMatch (vec_match.hpp): the batch of matches, its checks of actions and its arrays.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <string>

#include "interop.hpp"
#include "match_object.hpp"
#include "numpy_buffers.hpp"
#include "observation.hpp"
#include "vec_match.hpp"

namespace velmo_game {

using namespace nb::literals;
using velmo::kNumPlayers;
using velmo::kNumVersusActions;
using velmo::kWaitAction;

velmo::MatchBatchConfig match_batch_config(const velmo::BatchConfig& batch, nb::handle rules, nb::handle timing) {
    if (!rules.is_none() && !nb::isinstance<velmo::Rules>(rules)) raise_type_error("rules must be a Rules, not " + python_type_name(rules));
    if (!timing.is_none() && !nb::isinstance<velmo::Timing>(timing)) {
        raise_type_error("timing must be a Timing, not " + python_type_name(timing));
    }
    velmo::MatchBatchConfig config{batch, rules.is_none() ? velmo::Rules{} : nb::cast<const velmo::Rules&>(rules),
                                   timing.is_none() ? velmo::Timing{} : nb::cast<const velmo::Timing&>(timing)};
    if (config.rules.frame_limit == 0) {
        raise_value_error("rules.frame_limit must be at least 1 in a batch: a match must reach its first decision");
    }
    return config;
}

VecMatch::VecMatch(const velmo::MatchBatchConfig& config)
    : staged_(config.batch.num_envs, kNumPlayers, kWaitAction,
              "(" + std::to_string(config.batch.num_envs) + ", 2), one action per player", "match") {
    const std::size_t n = config.batch.num_envs;
    const std::size_t rows = 1 + config.batch.visible;
    const auto per_player = [&]<class T>() { return owned_.zeros<T>({n, kNumPlayers}); };
    const auto per_match = [&]<class T>() { return owned_.zeros<T>({n}); };
    field = owned_.zeros<std::uint8_t>({n, kNumPlayers, kFieldRows, kFieldColumns});
    pairs = owned_.zeros<std::uint8_t>({n, kNumPlayers, rows, 2});
    pending_ojama = per_player.template operator()<std::uint32_t>();
    reward = per_player.template operator()<float>();
    terminated = per_match.template operator()<bool>();
    truncated = per_match.template operator()<bool>();
    action_mask = owned_.zeros<std::int8_t>({n, kNumPlayers, kNumVersusActions});  // int8, as every mask of the package
    due = per_player.template operator()<bool>();
    chain = per_player.template operator()<std::int32_t>();
    score = per_player.template operator()<std::int64_t>();
    ojama_sent = per_player.template operator()<std::uint32_t>();
    ojama_received = per_player.template operator()<std::uint32_t>();
    substituted = per_player.template operator()<bool>();
    winner = per_match.template operator()<std::int8_t>();
    frame = per_match.template operator()<std::int64_t>();
    episode_steps = per_match.template operator()<std::int64_t>();
    final_field = owned_.zeros<std::uint8_t>({n, kNumPlayers, kFieldRows, kFieldColumns});
    final_pairs = owned_.zeros<std::uint8_t>({n, kNumPlayers, rows, 2});
    final_pending_ojama = per_player.template operator()<std::uint32_t>();
    seeds = per_match.template operator()<std::uint64_t>();

    velmo::MatchBatchOutputs out;
    out.field = data_of<std::uint8_t>(field);
    out.pairs = data_of<std::uint8_t>(pairs);
    out.pending_ojama = data_of<std::uint32_t>(pending_ojama);
    out.reward = data_of<float>(reward);
    out.terminated = data_of<std::uint8_t>(terminated);
    out.truncated = data_of<std::uint8_t>(truncated);
    out.action_mask = data_of<std::uint8_t>(action_mask);
    out.due = data_of<std::uint8_t>(due);
    out.chain = data_of<std::int32_t>(chain);
    out.score = data_of<std::int64_t>(score);
    out.ojama_sent = data_of<std::uint32_t>(ojama_sent);
    out.ojama_received = data_of<std::uint32_t>(ojama_received);
    out.substituted = data_of<std::uint8_t>(substituted);
    out.winner = data_of<std::int8_t>(winner);
    out.frame = data_of<std::int64_t>(frame);
    out.episode_steps = data_of<std::int64_t>(episode_steps);
    out.final_field = data_of<std::uint8_t>(final_field);
    out.final_pairs = data_of<std::uint8_t>(final_pairs);
    out.final_pending_ojama = data_of<std::uint32_t>(final_pending_ojama);
    out.seeds = data_of<std::uint64_t>(seeds);
    try {
        nb::gil_scoped_release release;
        batch_ = std::make_unique<velmo::MatchBatch>(config, out, python_signal_check());
    } catch (const velmo::Interrupted&) {
        throw nb::python_error();
    }
    result_ = nb::make_tuple(nb::make_tuple(field, pairs, pending_ojama), reward, terminated, truncated);
}

void VecMatch::raise_refusal(const velmo::MatchBatchRefusal& refusal) const {
    const std::string where = "actions[" + std::to_string(refusal.index) + ", " + std::to_string(refusal.player) + "] = " +
                              std::to_string(refusal.action);
    const std::string who = "player " + std::to_string(refusal.player) + " of match " + std::to_string(refusal.index);
    const std::string rest = "; action_masks marks the allowed actions; no match moved";
    switch (refusal.kind) {
        case velmo::MatchRefusalKind::OutOfRange:
            raise_value_error(where + " is outside 0..22 (0..21 a move of velmo.Hand.enumerate(), 22 the wait); no match moved");
        case velmo::MatchRefusalKind::Illegal:
            raise_value_error(where + " (" + hand_text(static_cast<std::uint64_t>(refusal.action)) + ") is not legal for " + who + rest);
        case velmo::MatchRefusalKind::MustMove:
            raise_value_error(where + " (wait), but " + who + " is due to move" + rest);
        case velmo::MatchRefusalKind::MustWait:
            raise_value_error(where + ", but " + who + " is not due: its action must be 22 (wait)" + rest);
    }
    raise_value_error(where + " is refused; no match moved");
}

nb::object VecMatch::step(nb::handle actions_argument) {
    BatchCalls::Busy busy(calls);
    calls.refuse_if_unfinished();
    // The batch steps its own copy of the actions (see StagedActions).
    const std::int64_t* data = staged_.stage(actions_argument);
    if (auto refusal = batch_->check(data)) raise_refusal(*refusal);
    run_interruptible([&](const velmo::StopCheck& stop) { return batch_->step(data, stop); },
                      [&] { calls.mark_unfinished("a step was interrupted part way (some matches moved, others not)"); });
    return result_;
}

nb::object VecMatch::reset(nb::handle seed) {
    const ResetSeeds seeds = reset_seeds_from_python(seed, size());
    BatchCalls::Busy busy(calls);
    reset_batch(*batch_, calls, seeds, "matches");
    return nb::make_tuple(field, pairs, pending_ojama);
}

nb::object VecMatch::match(nb::handle index) const {
    const auto i = static_cast<std::size_t>(int_in_range(index, "index", 0, static_cast<std::int64_t>(batch_->size()) - 1));
    return nb::cast(PyMatch{batch_->match(i), batch_->config().batch.visible});
}

namespace {

void make_vec_match(Unmade<VecMatch> self, nb::handle num_envs, nb::handle seed, nb::handle num_threads, nb::handle colors, nb::handle visible,
                    nb::handle autoreset, nb::handle max_steps, nb::handle rules, nb::handle timing, nb::handle illegal,
                    double illegal_penalty, nb::handle first_copy) {
    VecMatch* const place = self.place();
    const velmo::BatchConfig batch =
        batch_config_from_python(num_envs, seed, num_threads, colors, visible, autoreset, max_steps, illegal, illegal_penalty, first_copy);
    new (place) VecMatch(match_batch_config(batch, rules, timing));
}

}  // namespace

void bind_vec_match(nb::module_& m) {
    nb::class_<VecMatch> cls(m, "VecMatch",
        "A batch of two-player matches stepped together in native code without the interpreter\n"
        "lock.\n\n"
        "Match ``i`` is ``Match(seeds[i], colors=colors, visible=visible, rules=rules,\n"
        "timing=timing)``. The seeds derive from ``seed`` and the index only, so results never\n"
        "depend on ``num_threads``. Every output is a read-only NumPy array owned by the batch and\n"
        "rewritten in place by each ``step`` and ``reset``: copy what you keep. Every output row\n"
        "holds player 0, then player 1.");
    cls.def("__init__", &make_vec_match,
            "num_envs"_a, nb::kw_only(), "seed"_a = 0, "num_threads"_a = nb::none(), "colors"_a = 4, "visible"_a = 2,
            "autoreset"_a = "next_step", "max_steps"_a = nb::none(), "rules"_a = nb::none(), "timing"_a = nb::none(),
            "illegal"_a = "raise", "illegal_penalty"_a = 0.0, "first_copy"_a = 0,
            nb::sig("def __init__(self, num_envs: int, *, seed: int = 0, num_threads: int | None = None, colors: int = 4, "
                    "visible: int = 2, autoreset: str = 'next_step', max_steps: int | None = None, rules: Rules | None = None, "
                    "timing: Timing | None = None, illegal: str = 'raise', illegal_penalty: float = 0.0, first_copy: int = 0) -> None"),
            "``num_envs`` matches seeded from ``seed``, stepped by ``num_threads`` threads (default:\n"
            "the CPUs available).\n\n"
            "Args:\n"
            "    autoreset: 'next_step', 'same_step' or 'disabled' (Gymnasium's meanings).\n"
            "    max_steps: truncate an episode after that many steps (None: no limit).\n"
            "    rules, timing: the matches' ``Rules`` and ``Timing`` (``Rules()`` and ``Timing()``\n"
            "        by default).\n"
            "    illegal: 'raise' refuses a step holding an action that does not fit (ValueError,\n"
            "        nothing moves); 'substitute' plays the lowest legal move of a due player\n"
            "        instead, subtracts ``illegal_penalty`` from its reward and marks it in\n"
            "        ``substituted``.\n"
            "    first_copy: the environment copy of match 0 (``episode_seed``'s ``copy``): match\n"
            "        ``i`` plays ``episode_seed(seed, first_copy + i, episode)``.\n\n"
            "Raises:\n"
            "    ValueError: a value out of range, an unknown mode, rules no batch can play.\n"
            "    TypeError: an argument of the wrong type.")
        .def("step", &VecMatch::step, "actions"_a,
             nb::sig("def step(self, actions: numpy.typing.ArrayLike) -> tuple[tuple[numpy.ndarray, ...], numpy.ndarray, "
                     "numpy.ndarray, numpy.ndarray]"),
             "Advance every match to its next decision, as ``Match.step`` does.\n\n"
             "``actions[i, p]`` is player ``p``'s action in match ``i``: a move (0..21, an index into\n"
             "``velmo.Hand.enumerate()``) of a due player or 22 (wait) of one who is not. Returns\n"
             "((field, pairs, pending_ojama), rewards, terminated, truncated), the batch's own\n"
             "arrays. A match waiting for its reset ignores its actions (any value in range).\n\n"
             "Raises:\n    ValueError: actions of the wrong shape or dtype, out of range, or (with\n"
             "        ``illegal='raise'``) an action that does not fit anywhere; then nothing changes.")
        .def("reset", &VecMatch::reset, "seed"_a = nb::none(),
             nb::sig("def reset(self, seed: int | collections.abc.Sequence[int] | numpy.ndarray | None = None) -> tuple[numpy.ndarray, ...]"),
             "Start every match's next episode. With one ``seed`` the batch is reseeded as if new;\n"
             "with one seed per match, match ``i`` starts episode 0 of ``seed[i]``.\n\n"
             "Returns (field, pairs, pending_ojama).")
        .def_prop_ro("versus", [](const VecMatch&) { return true; }, "True: the batch holds two-player matches.")
        .def_prop_ro("rules", [](const VecMatch& v) { return v.batch().config().rules; }, nb::sig("def rules(self) -> Rules"),
                     "The matches' rules.")
        .def_prop_ro("timing", [](const VecMatch& v) { return v.batch().config().timing; }, nb::sig("def timing(self) -> Timing"),
                     "The matches' timing.")
        .def("match", [](const VecMatch& v, nb::handle index) { return v.calls.guarded([&] { return v.match(index); }); },
             "index"_a, nb::sig("def match(self, index: int) -> Match"), "A copy of match ``index``.")
        .def("__repr__", [](const VecMatch& v) { return batch_repr("VecMatch", v); });
    bind_batch_settings(cls, "The number of matches.");
    bind_batch_arrays<VecMatch>(cls, {
        {"field", &VecMatch::field, "(N, 2, 14, 6) uint8 fields."},
        {"pairs", &VecMatch::pairs, "(N, 2, 1 + visible, 2) uint8 pairs (child, axis)."},
        {"rewards", &VecMatch::reward,
         "(N, 2) float32: +1 / -1 for the winner / loser in the step a match ends, else 0; less\n"
         "``illegal_penalty`` where ``substituted``."},
        {"terminated", &VecMatch::terminated, "(N,) bool: the match was won, or drawn by both topping out."},
        {"truncated", &VecMatch::truncated, "(N,) bool: cut at ``max_steps`` or undecided at the rules' frame limit."},
        {"action_masks", &VecMatch::action_mask, "(N, 2, 23) int8: a due player's legal moves, else only 22 (wait)."},
        {"chain", &VecMatch::chain, "(N, 2) int32: the chain of the last move, 0 for a player who waited."},
        {"score", &VecMatch::score, "(N, 2) int64: each player's total score."},
        {"episode_steps", &VecMatch::episode_steps, "(N,) int64: steps in the episode."},
        {"final_field", &VecMatch::final_field, "same_step mode: the last fields of the matches that ended this step."},
        {"final_pairs", &VecMatch::final_pairs, "same_step mode: the last pairs of the matches that ended this step."},
        {"final_pending_ojama", &VecMatch::final_pending_ojama,
         "same_step mode: the last pending ojama of the matches that ended this step."},
        {"seeds", &VecMatch::seeds, "(N,) uint64: the seed of each match's current episode (``Match(seeds[i])``)."},
        {"substituted", &VecMatch::substituted,
         "(N, 2) bool: the action did not fit and the lowest legal move was played\n(``illegal='substitute'``)."},
        {"pending_ojama", &VecMatch::pending_ojama, "(N, 2) uint32 ojama pending against each player."},
        {"due", &VecMatch::due, "(N, 2) bool: the player must move now (its action a move, not 22)."},
        {"ojama_sent", &VecMatch::ojama_sent, "(N, 2) uint32: ojama the player committed against the opponent in the step."},
        {"ojama_received", &VecMatch::ojama_received, "(N, 2) uint32: ojama fallen on the player's field in the step."},
        {"winner", &VecMatch::winner,
         "(N,) int8: 0 or 1 for a match won (in the step, or waiting for its reset), -1 for a draw\nor a match in play."},
        {"frame", &VecMatch::frame, "(N,) int64: each current match's frame."},
    });
}

}  // namespace velmo_game
