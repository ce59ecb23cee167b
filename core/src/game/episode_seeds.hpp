// Which game each environment copy of a batch plays. Item i of a batch is environment copy
// first_copy + i; it plays episode k of its run seed, episode_seed(run seed, copy, k). A reset
// with one seed gives every item that run seed (the batch is seeded as a whole); a reset with a
// seed per item gives item i seeds[i], so that it plays what a single environment of the same
// copy reset with seeds[i] plays. Both batch kinds keep their seeds here, so the rule has one home.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "random.hpp"

namespace velmo {

class EpisodeSeeds {
public:
    EpisodeSeeds(std::size_t count, std::uint64_t seed, std::uint64_t first_copy)
        : runs_(count, seed), episodes_(count, 0), first_copy_(first_copy) {}

    // Every item starts episode 0 of `seed`.
    void restart(std::uint64_t seed) {
        std::fill(runs_.begin(), runs_.end(), seed);
        std::fill(episodes_.begin(), episodes_.end(), 0);
    }
    // Item i starts episode 0 of seeds[i] (count seeds).
    void restart_each(const std::uint64_t* seeds) {
        std::copy(seeds, seeds + runs_.size(), runs_.begin());
        std::fill(episodes_.begin(), episodes_.end(), 0);
    }
    void advance_all() {
        for (auto& episode : episodes_) ++episode;
    }
    void advance(std::size_t i) { ++episodes_[i]; }

    // The seed of item i's current episode.
    [[nodiscard]] std::uint64_t current(std::size_t i) const { return episode_seed(runs_[i], first_copy_ + i, episodes_[i]); }
    [[nodiscard]] std::uint64_t run_seed(std::size_t i) const { return runs_[i]; }
    [[nodiscard]] std::uint64_t first_copy() const { return first_copy_; }

private:
    std::vector<std::uint64_t> runs_;
    std::vector<std::uint64_t> episodes_;
    std::uint64_t first_copy_;
};

}  // namespace velmo
