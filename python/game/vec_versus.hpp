// The versus side of VecGame (VecGame(..., versus=True)): a MatchBatch and the NumPy arrays it
// writes. VecGame (bind_vec.cpp) forwards to it; the parsing of actions, the refusals and the
// arrays of the versus batch live in bind_vec_versus.cpp.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "game/match_batch.hpp"
#include "numpy_buffers.hpp"
#include "vec_actions.hpp"

namespace velmo_game {

namespace nb = nanobind;

// The batch's configuration from VecGame's arguments: ValueError or TypeError for rules or timing
// that are not a Rules or Timing (or None), or rules no batch can play (a frame limit of 0).
velmo::MatchBatchConfig versus_config(const velmo::BatchConfig& batch, nb::handle rules, nb::handle timing);

class VersusVec {
public:
    explicit VersusVec(const velmo::MatchBatchConfig& config);

    // Checks the (N, 2) actions (ValueError, nothing moved) and steps every match with the
    // interpreter lock released; returns the step's tuple of the batch's own arrays.
    // Ctrl-C stops a long step or reset part way: `unfinished` then says so and the interrupt is raised.
    nb::object step(nb::handle actions, std::string& unfinished);
    nb::object reset(std::optional<std::uint64_t> seed, std::string& unfinished);

    [[nodiscard]] const velmo::MatchBatch& batch() const { return *batch_; }
    // A Python velmo_game.Match equal to match `index` (checked against the batch's size).
    [[nodiscard]] nb::object match(nb::handle index) const;

    nb::object field, pairs, pending_ojama, reward, terminated, truncated, action_mask, due, chain, score, ojama_sent,
        ojama_received, substituted, winner, frame, episode_steps, final_field, final_pairs, final_pending_ojama, seeds;

private:
    [[noreturn]] void raise_refusal(const velmo::MatchBatchRefusal& refusal) const;

    OwnedArrays owned_;  // before batch_: the memory outlives the batch writing into it
    std::unique_ptr<velmo::MatchBatch> batch_;
    nb::object result_;
    StagedActions staged_;
};

}  // namespace velmo_game
