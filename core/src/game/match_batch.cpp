#include "match_batch.hpp"

#include <algorithm>
#include <cstring>

#include "match_observation.hpp"
#include "observation.hpp"
#include "random.hpp"

namespace velmo {

namespace {

constexpr std::size_t kPlayers = kNumPlayers;

// Whether the match ended at its frame limit, undecided: truncated rather than terminated.
bool ended_at_frame_limit(const Match& match) {
    return match.is_over() && match.winner() == kNoWinner && !match.player(0).lost && !match.player(1).lost;
}

float outcome_reward(const Match& match, unsigned p) {
    if (!match.is_over() || match.winner() == kNoWinner) return 0.0F;
    return match.winner() == static_cast<int>(p) ? 1.0F : -1.0F;
}

}  // namespace

MatchBatch::MatchBatch(const MatchBatchConfig& config, const MatchBatchOutputs& outputs, const StopCheck& stop)
    : config_(config), out_(outputs),
      legal_(config.batch.num_envs), seeds_(config.batch.num_envs, config.batch.seed, config.batch.first_copy), waiting_(config.batch.num_envs, 0),
      pool_(std::max(1u, config.batch.num_threads)) {
    const Match first = seeded_match(config.batch.seed, config.batch.colors, config.rules, config.timing);
    if (!fill_stoppable(matches_, config.batch.num_envs, first, stop) || !reset(config.batch.seed, stop)) throw Interrupted{};
}

Match MatchBatch::seeded_match(std::uint64_t seed, unsigned colors, const Rules& rules, const Timing& timing) {
    const PairSequence sequence = PairSequence::seeded(seed, colors, SequenceKind::Balanced);
    return Match({BitField{}, BitField{}}, {sequence, sequence}, derive_seed(seed, 1), rules, timing);
}

void MatchBatch::start_episode(std::size_t i) {
    const std::uint64_t seed = seeds_.current(i);
    out_.seeds[i] = seed;
    matches_[i] = seeded_match(seed, config_.batch.colors, config_.rules, config_.timing);
    out_.episode_steps[i] = 0;
    write_observation(i);
    // Only rules whose frame limit is 0 end a match before its first decision: it then waits for
    // its reset like any ended match (the binding refuses such rules).
    waiting_[i] = matches_[i].is_over() ? 1 : 0;
}

void MatchBatch::clear_step_outputs(std::size_t i) {
    for (std::size_t k = kPlayers * i; k < kPlayers * (i + 1); ++k) {
        out_.reward[k] = 0;
        out_.chain[k] = 0;
        out_.ojama_sent[k] = 0;
        out_.ojama_received[k] = 0;
        out_.substituted[k] = 0;
    }
}

void MatchBatch::reset_outputs(std::size_t i) {
    clear_step_outputs(i);
    out_.score[kPlayers * i] = 0;
    out_.score[kPlayers * i + 1] = 0;
    out_.terminated[i] = 0;
    out_.truncated[i] = 0;
    out_.winner[i] = static_cast<std::int8_t>(kNoWinner);
}

bool MatchBatch::reset(std::optional<std::uint64_t> seed, const StopCheck& stop) {
    if (seed) {
        config_.batch.seed = *seed;
        seeds_.restart(*seed);
    } else {
        seeds_.advance_all();
    }
    return start_all(stop);
}

bool MatchBatch::reset_each(const std::uint64_t* seeds, const StopCheck& stop) {
    config_.batch.seed = seeds[0];
    seeds_.restart_each(seeds);
    return start_all(stop);
}

bool MatchBatch::start_all(const StopCheck& stop) {
    return run_stoppable(pool_, size(), [this](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            start_episode(i);
            reset_outputs(i);
        }
    }, 2, stop);
}

std::optional<MatchBatchRefusal> MatchBatch::check(const std::int64_t* actions) const {
    const bool refuse_illegal = config_.batch.rules.illegal == IllegalPolicy::Raise;
    for (std::size_t i = 0; i < size(); ++i) {
        for (unsigned p = 0; p < kPlayers; ++p) {
            const std::int64_t a = actions[kPlayers * i + p];
            if (a < 0 || a > kWaitAction) return MatchBatchRefusal{i, p, a, MatchRefusalKind::OutOfRange};
            if (!refuse_illegal || waiting_[i] != 0) continue;
            const MoveMask legal = legal_[i][p];
            if (legal == 0) {
                if (a != kWaitAction) return MatchBatchRefusal{i, p, a, MatchRefusalKind::MustWait};
            } else if (a == kWaitAction) {
                return MatchBatchRefusal{i, p, a, MatchRefusalKind::MustMove};
            } else if (((legal >> a) & 1U) == 0) {
                return MatchBatchRefusal{i, p, a, MatchRefusalKind::Illegal};
            }
        }
    }
    return std::nullopt;
}

void MatchBatch::write_observation(std::size_t i) {
    const Match& match = matches_[i];
    for (unsigned p = 0; p < kPlayers; ++p) {
        const std::size_t row = kPlayers * i + p;
        write_field_cells(match.player(p).field, out_.field + kFieldCells * row);
        write_match_pairs(match, p, config_.batch.visible, out_.pairs + pair_bytes() * row);
        out_.pending_ojama[row] = match.player(p).pending_ojama;
        // Once the match is over no one is due: both masks allow only the wait.
        const MoveMask legal = match.legal_moves(p);
        legal_[i][p] = legal;
        std::uint8_t* mask = out_.action_mask + kNumVersusActions * row;
        write_action_mask(legal, mask);
        mask[kWaitAction] = legal == 0 ? 1 : 0;
        out_.due[row] = legal != 0 ? 1 : 0;
    }
    out_.frame[i] = static_cast<std::int64_t>(match.frame());
}

void MatchBatch::keep_final_observation(std::size_t i) {
    std::memcpy(out_.final_field + kPlayers * kFieldCells * i, out_.field + kPlayers * kFieldCells * i, kPlayers * kFieldCells);
    std::memcpy(out_.final_pairs + kPlayers * pair_bytes() * i, out_.pairs + kPlayers * pair_bytes() * i, kPlayers * pair_bytes());
    std::memcpy(out_.final_pending_ojama + kPlayers * i, out_.pending_ojama + kPlayers * i, kPlayers * sizeof(std::uint32_t));
}

void MatchBatch::write_step(std::size_t i, const StepOutcome& outcome, const std::array<bool, kNumPlayers>& substituted) {
    const Match& match = matches_[i];
    const std::int64_t steps = ++out_.episode_steps[i];
    const bool at_frame_limit = ended_at_frame_limit(match);
    const bool terminated = match.is_over() && !at_frame_limit;
    const bool out_of_steps = !match.is_over() && config_.batch.rules.max_steps != 0 && static_cast<std::uint64_t>(steps) >= config_.batch.rules.max_steps;
    for (unsigned p = 0; p < kPlayers; ++p) {
        const std::size_t row = kPlayers * i + p;
        const PlayerEvents& events = outcome.players[p];
        out_.reward[row] = outcome_reward(match, p) - (substituted[p] ? config_.batch.rules.illegal_penalty : 0.0F);
        out_.chain[row] = static_cast<std::int32_t>(events.chain.chain);
        out_.ojama_sent[row] = events.ojama_sent;
        out_.ojama_received[row] = events.ojama_received;
        out_.substituted[row] = substituted[p] ? 1 : 0;
        out_.score[row] = static_cast<std::int64_t>(match.player(p).score);
    }
    out_.terminated[i] = terminated ? 1 : 0;
    out_.truncated[i] = at_frame_limit || out_of_steps ? 1 : 0;
    out_.winner[i] = static_cast<std::int8_t>(match.winner());
    write_observation(i);
}

void MatchBatch::step_one(std::size_t i, const std::int64_t* actions) {
    if (waiting_[i] != 0) {
        clear_step_outputs(i);
        if (config_.batch.autoreset == AutoReset::Disabled) return;  // stays ended, its flags as they were
        seeds_.advance(i);
        start_episode(i);
        reset_outputs(i);
        return;
    }
    // A player who is not due waits whatever it sent (`check` has refused a move from it under
    // Raise); a due player's action is checked legal under Raise, replaced if not under Substitute.
    std::array<std::optional<unsigned>, kNumPlayers> moves;
    std::array<bool, kNumPlayers> substituted{};
    for (unsigned p = 0; p < kPlayers; ++p) {
        const MoveMask legal = legal_[i][p];
        if (legal == 0) continue;
        const ChosenMove chosen = choose_move(legal, actions[kPlayers * i + p]);
        moves[p] = chosen.move;
        substituted[p] = chosen.substituted;
    }
    const StepOutcome outcome = matches_[i].step_legal(moves);
    write_step(i, outcome, substituted);
    if (out_.terminated[i] == 0 && out_.truncated[i] == 0) return;
    if (config_.batch.autoreset == AutoReset::SameStep) {
        keep_final_observation(i);
        seeds_.advance(i);
        start_episode(i);
        return;
    }
    waiting_[i] = 1;
    write_waiting_masks(i);
}

// A match waiting for its reset ignores its actions: like an ended match, it asks both players to
// wait (a match cut at max_steps may still have a player due).
void MatchBatch::write_waiting_masks(std::size_t i) {
    for (unsigned p = 0; p < kPlayers; ++p) {
        const std::size_t row = kPlayers * i + p;
        std::uint8_t* mask = out_.action_mask + kNumVersusActions * row;
        std::memset(mask, 0, kNumVersusActions);
        mask[kWaitAction] = 1;
        out_.due[row] = 0;
        legal_[i][p] = 0;
    }
}

bool MatchBatch::step(const std::int64_t* actions, const StopCheck& stop) {
    return run_stoppable(pool_, size(), [this, actions](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) step_one(i, actions);
    }, 2, stop);
}

}  // namespace velmo
