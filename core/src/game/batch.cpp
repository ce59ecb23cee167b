#include "batch.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#endif

#include "observation.hpp"
#include "random.hpp"

namespace velmo {

namespace {

// An idle worker, or the caller waiting for the workers, polls a few times before it sleeps: a
// hand-over that is already done costs no sleep. A longer spin (50 microseconds) measured up to
// 2.5x slower on the shared 2-core machine: spinning threads take the cores the work needs.
constexpr int kPolls = 64;

inline void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Polls `ready` kPolls times; whether it holds.
template <class Ready>
bool poll_briefly(Ready ready) {
    for (int i = 0; i < kPolls; ++i) {
        if (ready()) return true;
        pause_briefly();
    }
    return ready();
}

// Children forked so far, counted in the child by a fork handler registered at the first use.
std::atomic<std::uint64_t> forks_in_this_process{0};

std::uint64_t fork_count() {
#if defined(__unix__) || defined(__APPLE__)
    static const bool registered = [] {
        return pthread_atfork(nullptr, nullptr, [] { forks_in_this_process.fetch_add(1, std::memory_order_relaxed); }) == 0;
    }();
    (void)registered;
#endif
    return forks_in_this_process.load(std::memory_order_relaxed);
}

}  // namespace

WorkerPool::WorkerPool(unsigned num_threads) : requested_(std::max(1u, num_threads)), forks_seen_(fork_count()) { start_workers(); }

WorkerPool::~WorkerPool() {
    if (fork_count() != forks_seen_) {
        restart_after_fork();  // abandons the parent's workers; starts none
        return;
    }
    stop_workers();
}

void WorkerPool::start_workers() {
    const unsigned extra = requested_ - 1;
    workers_.reserve(extra);
    for (unsigned i = 0; i < extra; ++i) {
        try {
            workers_.emplace_back([this, i] { worker_loop(i + 1); });
        } catch (const std::system_error& error) {
            stop_workers();
            throw std::runtime_error("could not start worker thread " + std::to_string(i + 1) + " of " + std::to_string(extra) + " (" +
                                     error.what() + "); ask for fewer threads");
        }
    }
}

void WorkerPool::stop_workers() {
    {
        std::lock_guard lock(mutex_);
        stopping_.store(true);
    }
    wake_.notify_all();
    for (auto& worker : workers_) worker.join();
    workers_.clear();
    stopping_.store(false);
}

// Destroying the inherited threads, lock or condition variables would wait for threads that do
// not exist in this process: they are left as they are (a small leak, once per fork) and fresh
// ones are made in their place.
void WorkerPool::restart_after_fork() {
    new (&workers_) std::vector<std::thread>();
    new (&mutex_) std::mutex();
    new (&wake_) std::condition_variable();
    new (&done_) std::condition_variable();
    generation_.store(0);
    pending_.store(0);
    stopping_.store(false);
    forks_seen_ = fork_count();
}

std::size_t WorkerPool::slice_begin(std::size_t count, unsigned threads, unsigned index) {
    if (index >= threads) return count;
    const std::size_t even = count * index / threads;
    const std::size_t aligned = (even + kSliceAlignment / 2) / kSliceAlignment * kSliceAlignment;
    return std::min(aligned, count);
}

void WorkerPool::run(std::size_t count, const std::function<void(std::size_t, std::size_t)>& work, std::size_t min_items_per_thread) {
    if (fork_count() != forks_seen_) {
        restart_after_fork();
        start_workers();
    }
    if (workers_.empty() || count < min_items_per_thread * size()) {
        work(0, count);
        return;
    }
    work_ = &work;
    count_ = count;
    pending_.store(static_cast<unsigned>(workers_.size()));
    {
        // Under the lock, so that a worker between its check and its sleep cannot miss it.
        std::lock_guard lock(mutex_);
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    work(0, slice_begin(count, size(), 1));
    if (!poll_briefly([this] { return pending_.load(std::memory_order_acquire) == 0; })) {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return pending_.load(std::memory_order_acquire) == 0; });
    }
}

// Whether there is work (false: the pool is stopping).
bool WorkerPool::wait_for_work(std::uint64_t seen) {
    const auto published = [&] { return stopping_.load() || generation_.load(std::memory_order_acquire) != seen; };
    if (!poll_briefly(published)) {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, published);
    }
    return !stopping_.load();
}

void WorkerPool::worker_loop(unsigned index) {
    std::uint64_t seen = 0;
    while (wait_for_work(seen)) {
        seen = generation_.load(std::memory_order_acquire);
        const std::size_t count = count_;
        (*work_)(slice_begin(count, size(), index), slice_begin(count, size(), index + 1));
        if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Under the lock, so that the caller between its check and its sleep cannot miss it.
            std::lock_guard lock(mutex_);
            done_.notify_one();
        }
    }
}

bool run_stoppable(WorkerPool& pool, std::size_t count, const std::function<void(std::size_t, std::size_t)>& work,
                   std::size_t min_items_per_thread, const StopCheck& stop) {
    if (!stop) {
        pool.run(count, work, min_items_per_thread);
        return true;
    }
    // 8192 game steps or resets are some 10 to 20 milliseconds of one thread's work: a Ctrl-C is
    // seen well within 100 ms, and a hand-over per block costs nothing measurable.
    const std::size_t block = std::size_t{8192} * pool.size();
    for (std::size_t begin = 0; begin < count; begin += block) {
        const std::size_t end = std::min(count, begin + block);
        pool.run(end - begin, [&](std::size_t b, std::size_t e) { work(begin + b, begin + e); }, min_items_per_thread);
        if (end < count && stop()) return false;
    }
    return true;
}

GameBatch::GameBatch(const BatchConfig& config, const BatchOutputs& outputs, const StopCheck& stop)
    : config_(config), out_(outputs), seeds_(config.num_envs, config.seed, config.first_copy),
      waiting_(config.num_envs, 0), masks_(config.num_envs, 0), samplers_(config.num_envs, 0),
      pool_(std::max(1u, config.num_threads)) {
    if (!fill_stoppable(games_, config.num_envs, Game{}, stop) || !reset(config.seed, stop)) throw Interrupted{};
}

// Apart from the games' own seeds, derive_seed(seed, i), so that the sampler of a game never
// replays the draws that dealt its pairs.
std::uint64_t GameBatch::sampler_seed(std::uint64_t seed) { return mix64(seed ^ 0x5A4D504C45525321); }

void GameBatch::seed_samplers() {
    for (std::size_t i = 0; i < size(); ++i) samplers_[i] = derive_seed(sampler_seed(seeds_.run_seed(i)), i);
}

namespace {

// 512 game steps a thread are some 50 to 100 microseconds of work, well above the cost of a
// hand-over between threads; smaller batches measured no gain from a second thread.
constexpr std::size_t kMinGamesPerThread = 512;

// The k-th (from 0) set bit of a mask with more than k bits set.
unsigned nth_set_bit(MoveMask mask, std::uint64_t k) {
    for (; k > 0; --k) mask &= mask - 1;
    return static_cast<unsigned>(std::countr_zero(mask));
}

}  // namespace

void GameBatch::sample_actions(std::int64_t* out) {
    pool_.run(size(), [this, out](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const MoveMask mask = masks_[i];
            SplitMix64 random(samplers_[i]);
            const std::uint64_t k = random.below(static_cast<std::uint64_t>(std::popcount(mask)));
            samplers_[i] = random.state();
            out[i] = nth_set_bit(mask, k);
        }
    }, kMinGamesPerThread);
}

void GameBatch::start_episode(std::size_t i) {
    const std::uint64_t seed = seeds_.current(i);
    out_.seeds[i] = seed;
    games_[i] = Game(BitField{}, PairSequence::seeded(seed, config_.colors, SequenceKind::Balanced), config_.visible);
    waiting_[i] = 0;
    out_.episode_steps[i] = 0;
}

bool GameBatch::reset(std::optional<std::uint64_t> seed, const StopCheck& stop) {
    if (seed) {
        config_.seed = *seed;
        seeds_.restart(*seed);
        seed_samplers();
    } else {
        seeds_.advance_all();
    }
    return start_all(stop);
}

bool GameBatch::reset_each(const std::uint64_t* seeds, const StopCheck& stop) {
    config_.seed = seeds[0];
    seeds_.restart_each(seeds);
    seed_samplers();
    return start_all(stop);
}

bool GameBatch::start_all(const StopCheck& stop) {
    return run_stoppable(pool_, size(), [this](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            start_episode(i);
            clear_step_outputs(i);
            write_observation(i);
        }
    }, kMinGamesPerThread, stop);
}

std::optional<BatchRefusal> GameBatch::check(const std::int64_t* actions) const {
    for (std::size_t i = 0; i < size(); ++i) {
        const std::int64_t a = actions[i];
        if (a < 0 || a >= static_cast<std::int64_t>(kNumMoves)) return BatchRefusal{i, a, true};
        if (waiting_[i] == 0 && refuses(config_.rules, masks_[i], a)) {
            return BatchRefusal{i, a, false};
        }
    }
    return std::nullopt;
}

// What a game reports at the start of an episode.
void GameBatch::clear_step_outputs(std::size_t i) {
    out_.reward[i] = 0;
    out_.terminated[i] = 0;
    out_.truncated[i] = 0;
    out_.chain[i] = 0;
    out_.score[i] = 0;
    out_.substituted[i] = 0;
    out_.move_score[i] = 0;
}

void GameBatch::write_observation(std::size_t i) {
    const Game& game = games_[i];
    write_field_cells(game.field(), out_.field + kFieldCells * i);
    write_visible_pairs(game, out_.pairs + 2 * (1 + std::size_t{config_.visible}) * i);
    masks_[i] = game.legal_moves();
    write_action_mask(masks_[i], out_.action_mask + kNumMoves * i);
}

// A game waiting for its reset takes any action (and ignores it): an all-true mask keeps masked
// samplers from dividing by zero.
void GameBatch::write_waiting_mask(std::size_t i) {
    masks_[i] = kEndingMask;
    write_action_mask(kEndingMask, out_.action_mask + kNumMoves * i);
}

void GameBatch::step_one(std::size_t i, std::int64_t action) {
    out_.substituted[i] = 0;
    if (waiting_[i] != 0) {
        if (config_.autoreset == AutoReset::Disabled) {
            out_.reward[i] = 0;
            out_.chain[i] = 0;
            out_.move_score[i] = 0;
            return;  // stays finished, terminated/truncated as they were
        }
        seeds_.advance(i);
        start_episode(i);
        clear_step_outputs(i);
        write_observation(i);
        return;
    }
    // The actions have passed `check`: an action the rules refuse never reaches here.
    const EnvStep step = step_env(games_[i], masks_[i], action, static_cast<std::uint64_t>(++out_.episode_steps[i]), config_.rules);
    out_.reward[i] = step.reward;
    out_.substituted[i] = step.substituted ? 1 : 0;
    out_.chain[i] = static_cast<std::int32_t>(step.outcome.chain.chain);
    out_.move_score[i] = static_cast<std::int64_t>(step.outcome.score());
    out_.score[i] = static_cast<std::int64_t>(games_[i].score());
    out_.terminated[i] = step.terminated ? 1 : 0;
    out_.truncated[i] = step.truncated ? 1 : 0;
    write_observation(i);
    if (!step.ended()) return;
    if (config_.autoreset == AutoReset::SameStep) {
        const std::size_t pair_bytes = 2 * (1 + std::size_t{config_.visible});
        std::memcpy(out_.final_field + kFieldCells * i, out_.field + kFieldCells * i, kFieldCells);
        std::memcpy(out_.final_pairs + pair_bytes * i, out_.pairs + pair_bytes * i, pair_bytes);
        seeds_.advance(i);
        start_episode(i);
        write_observation(i);
        return;
    }
    waiting_[i] = 1;
    write_waiting_mask(i);
}

bool GameBatch::step(const std::int64_t* actions, const StopCheck& stop) {
    return run_stoppable(pool_, size(), [this, actions](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) step_one(i, actions[i]);
    }, kMinGamesPerThread, stop);
}

}  // namespace velmo
