// GameBatch: many one-player games stepped together, spread over a small pool of worker threads.
// Everything a step reports is written into caller-owned buffers (the Python binding hands in
// NumPy arrays it allocated once), so a step allocates nothing. Each worker steps one contiguous
// slice of the games, and a game's result depends only on its own seed and moves: the thread
// count changes the speed, never the numbers.
#pragma once

#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "env_rules.hpp"
#include "episode_seeds.hpp"
#include "game.hpp"
#include "interrupt.hpp"

namespace velmo {

// A persistent pool: `run(n, work)` calls work(begin, end) on contiguous slices of [0, count),
// the calling thread taking the first, and returns when every slice is done. Slice borders fall
// on multiples of kSliceAlignment items, so that two threads writing one-byte-per-item outputs
// rarely share a cache line. A worker polls a few times before it sleeps.
//
// A thread that cannot start makes the constructor throw std::runtime_error with the started
// ones stopped and joined. In a child forked from the owning process the workers do not exist
// (and may have held the lock when the parent forked): the pool abandons what it had there, never
// waiting for the missing threads, and starts new workers on its next `run`.
class WorkerPool {
public:
    static constexpr std::size_t kSliceAlignment = 64;

    explicit WorkerPool(unsigned num_threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    [[nodiscard]] unsigned size() const { return requested_; }
    // Fewer than `min_items_per_thread` items a thread run on the calling thread alone: waking
    // the workers costs more than such slices take.
    void run(std::size_t count, const std::function<void(std::size_t, std::size_t)>& work, std::size_t min_items_per_thread = 2);

    // The first item of slice `index` of `count` items over `threads` threads (slice `threads`
    // ends at count).
    static std::size_t slice_begin(std::size_t count, unsigned threads, unsigned index);

private:
    void start_workers();
    void stop_workers();
    void restart_after_fork();
    void worker_loop(unsigned index);
    [[nodiscard]] bool wait_for_work(std::uint64_t seen);

    unsigned requested_;
    std::uint64_t forks_seen_;  // the process's fork count when the workers started
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    // Written by `run` before it publishes a new generation, read by the workers after.
    const std::function<void(std::size_t, std::size_t)>* work_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<unsigned> pending_{0};
    std::atomic<bool> stopping_{false};
};

// `pool.run` over [0, count) in blocks of a few milliseconds of work, asking `stop` between
// blocks; whether every item was done (false: a prefix of the items was).
bool run_stoppable(WorkerPool& pool, std::size_t count, const std::function<void(std::size_t, std::size_t)>& work,
                   std::size_t min_items_per_thread, const StopCheck& stop);

// Gymnasium's meanings: NextStep resets a finished game on the step after the one that ended it
// (ignoring that step's action), SameStep resets it at once and keeps the final observation
// aside, Disabled leaves it finished until the next reset.
enum class AutoReset : std::uint8_t { NextStep, SameStep, Disabled };

struct BatchConfig {
    std::size_t num_envs = 1;
    std::uint64_t seed = 0;
    unsigned colors = 4;
    unsigned visible = 2;
    unsigned num_threads = 1;
    AutoReset autoreset = AutoReset::NextStep;
    // The step of each game: illegal moves, the penalty, truncation at max_steps.
    EnvRules rules;
    // The environment copy of game 0 (episode_seed's `copy`): a single environment of copy c is a
    // batch of one whose first copy is c, and plays the games of game c of a larger batch.
    std::uint64_t first_copy = 0;
};

// Where a step writes, one row per game (all sized by the caller for num_envs games).
struct BatchOutputs {
    std::uint8_t* field = nullptr;        // (N, 14, 6)
    std::uint8_t* pairs = nullptr;        // (N, 1 + visible, 2)
    float* reward = nullptr;              // (N,)
    std::uint8_t* terminated = nullptr;   // (N,) bool
    std::uint8_t* truncated = nullptr;    // (N,) bool
    std::uint8_t* action_mask = nullptr;  // (N, 22) bool
    std::int32_t* chain = nullptr;        // (N,)
    std::int64_t* score = nullptr;        // (N,) the game's total
    std::int64_t* episode_steps = nullptr;  // (N,)
    std::uint8_t* final_field = nullptr;  // (N, 14, 6): same_step only, rows of games that ended this step
    std::uint8_t* final_pairs = nullptr;  // (N, 1 + visible, 2)
    std::uint64_t* seeds = nullptr;       // (N,) the seed of each game's current episode
    std::uint8_t* substituted = nullptr;  // (N,) bool: this step's move was illegal and replaced
    std::int64_t* move_score = nullptr;   // (N,) the score of this step's move (its reward's source)
};

struct BatchRefusal {
    std::size_t index;
    std::int64_t action;
    bool out_of_range;  // otherwise illegal
};

class GameBatch {
public:
    // Throws Interrupted when `stop` ends the first reset.
    GameBatch(const BatchConfig& config, const BatchOutputs& outputs, const StopCheck& stop = {});

    [[nodiscard]] std::size_t size() const { return games_.size(); }
    [[nodiscard]] const BatchConfig& config() const { return config_; }
    [[nodiscard]] const Game& game(std::size_t i) const { return games_[i]; }
    [[nodiscard]] unsigned num_threads() const { return pool_.size(); }


    // Every game starts its next episode (seed given: the batch is reseeded, episodes count anew).
    // False when `stop` ended it part way: then only some games started their episode.
    bool reset(std::optional<std::uint64_t> seed, const StopCheck& stop = {});
    // Every game i starts episode 0 of seeds[i] (size() seeds): what a single environment of its
    // copy plays after a reset with that seed. The batch seed becomes seeds[0].
    bool reset_each(const std::uint64_t* seeds, const StopCheck& stop = {});
    // The first action that `step` would refuse: out of 0..21, or (IllegalPolicy::Raise) illegal
    // for a game in play.
    // A game waiting for its reset (or finished, without auto-reset) accepts any action in range.
    [[nodiscard]] std::optional<BatchRefusal> check(const std::int64_t* actions) const;
    // Steps every game; the actions must have passed `check`.
    // False when `stop` ended it part way: then only some games moved.
    bool step(const std::int64_t* actions, const StopCheck& stop = {});
    // A random legal action for every game, into out[0..N): uniform over the moves its current
    // mask allows (over all 22 for a game waiting for its reset). Game i draws from its own
    // SplitMix64 stream, started at derive_seed(sampler_seed(seed), i) by the construction and
    // by each reset with a seed (with a seed per game: game i's), so the draws never depend on
    // the thread count.
    void sample_actions(std::int64_t* out);
    static std::uint64_t sampler_seed(std::uint64_t seed);
    // The mask last written to game i's action_mask row.
    [[nodiscard]] MoveMask action_mask(std::size_t i) const { return masks_[i]; }

private:
    void start_episode(std::size_t i);
    void step_one(std::size_t i, std::int64_t action);
    void clear_step_outputs(std::size_t i);
    void write_observation(std::size_t i);
    void write_waiting_mask(std::size_t i);
    void seed_samplers();
    bool start_all(const StopCheck& stop);

    BatchConfig config_;
    BatchOutputs out_;
    std::vector<Game> games_;
    EpisodeSeeds seeds_;
    std::vector<std::uint8_t> waiting_;  // finished, not yet reset
    std::vector<MoveMask> masks_;        // as in out_.action_mask, for check and sampling
    std::vector<std::uint64_t> samplers_;  // SplitMix64 states of sample_actions
    WorkerPool pool_;
};

}  // namespace velmo
