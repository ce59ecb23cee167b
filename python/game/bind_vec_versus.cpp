// VecGame(..., versus=True): a batch of two-player matches. Actions are (N, 2) integers, 0..21 a
// move and 22 the wait, as in the PettingZoo environment; every output row holds player 0, then
// player 1.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <string>

#include "interop.hpp"
#include "match_object.hpp"
#include "numpy_buffers.hpp"
#include "observation.hpp"
#include "vec_versus.hpp"

namespace velmo_game {

using namespace nb::literals;
using velmo::kNumPlayers;
using velmo::kNumVersusActions;
using velmo::kWaitAction;

velmo::MatchBatchConfig versus_config(const velmo::BatchConfig& batch, nb::handle rules, nb::handle timing) {
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

VersusVec::VersusVec(const velmo::MatchBatchConfig& config)
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

void VersusVec::raise_refusal(const velmo::MatchBatchRefusal& refusal) const {
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

nb::object VersusVec::step(nb::handle actions_argument, std::string& unfinished) {
    // The batch steps its own copy of the actions (see StagedActions).
    const std::int64_t* data = staged_.stage(actions_argument);
    if (auto refusal = batch_->check(data)) raise_refusal(*refusal);
    run_interruptible([&](const velmo::StopCheck& stop) { return batch_->step(data, stop); },
                      [&] { unfinished = "a step was interrupted part way (some matches moved, others not)"; });
    return result_;
}

nb::object VersusVec::reset(std::optional<std::uint64_t> seed, std::string& unfinished) {
    run_interruptible([&](const velmo::StopCheck& stop) { return batch_->reset(seed, stop); },
                      [&] { unfinished = "a reset was interrupted part way (some matches started their episode, others not)"; });
    unfinished.clear();
    return nb::make_tuple(field, pairs, pending_ojama);
}

nb::object VersusVec::match(nb::handle index) const {
    const auto i = static_cast<std::size_t>(int_in_range(index, "index", 0, static_cast<std::int64_t>(batch_->size()) - 1));
    return nb::cast(PyMatch{batch_->match(i), batch_->config().batch.visible});
}

}  // namespace velmo_game
