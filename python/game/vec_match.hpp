// VecMatch: a batch of two-player matches stepped in native code without the interpreter lock,
// with the NumPy arrays it writes. Actions are (N, 2) integers, 0..21 a move and 22 the wait, as
// in the PettingZoo environment; every output row holds player 0, then player 1.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>
#include <string>

#include "batch_binding.hpp"
#include "game/match_batch.hpp"
#include "numpy_buffers.hpp"
#include "vec_actions.hpp"

namespace velmo_game {

namespace nb = nanobind;

// The batch's configuration from the batch settings and the matches' rules and timing:
// ValueError or TypeError for rules or timing that are not a Rules or Timing (or None), or rules
// no batch can play (a frame limit of 0).
velmo::MatchBatchConfig match_batch_config(const velmo::BatchConfig& batch, nb::handle rules, nb::handle timing);

class VecMatch {
public:
    explicit VecMatch(const velmo::MatchBatchConfig& config);

    // Checks the (N, 2) actions (ValueError, nothing moved) and steps every match with the
    // interpreter lock released; returns the step's tuple of the batch's own arrays.
    // Ctrl-C stops a long step or reset part way: the batch is then marked and the interrupt raised.
    nb::object step(nb::handle actions);
    nb::object reset(nb::handle seed);

    [[nodiscard]] const velmo::MatchBatch& batch() const { return *batch_; }
    [[nodiscard]] const velmo::BatchConfig& config() const { return batch_->config().batch; }
    [[nodiscard]] std::size_t size() const { return batch_->size(); }
    [[nodiscard]] unsigned num_threads() const { return batch_->num_threads(); }
    // A Python velmo_game.Match equal to match `index` (checked against the batch's size).
    [[nodiscard]] nb::object match(nb::handle index) const;

    nb::object field, pairs, pending_ojama, reward, terminated, truncated, action_mask, due, chain, score, ojama_sent,
        ojama_received, substituted, winner, frame, episode_steps, final_field, final_pairs, final_pending_ojama, seeds;
    BatchCalls calls{"VecMatch"};

private:
    [[noreturn]] void raise_refusal(const velmo::MatchBatchRefusal& refusal) const;

    OwnedArrays owned_;  // before batch_: the memory outlives the batch writing into it
    std::unique_ptr<velmo::MatchBatch> batch_;
    nb::object result_;
    StagedActions staged_;
};

void bind_vec_match(nb::module_& m);

}  // namespace velmo_game
