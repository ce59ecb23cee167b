#include "batch.hpp"

#include <algorithm>
#include <cstring>

#include "observation.hpp"
#include "random.hpp"

namespace velmo {

WorkerPool::WorkerPool(unsigned num_threads) {
    const unsigned extra = num_threads > 1 ? num_threads - 1 : 0;
    workers_.reserve(extra);
    for (unsigned i = 0; i < extra; ++i) workers_.emplace_back([this, i] { worker_loop(i + 1); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& worker : workers_) worker.join();
}

std::pair<std::size_t, std::size_t> WorkerPool::slice(unsigned index) const {
    const std::size_t n = size();
    return {count_ * index / n, count_ * (index + 1) / n};
}

void WorkerPool::run(std::size_t count, const std::function<void(std::size_t, std::size_t)>& work) {
    // Few games are not worth waking the workers for.
    if (workers_.empty() || count < 2 * size()) {
        work(0, count);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        work_ = &work;
        count_ = count;
        pending_ = static_cast<unsigned>(workers_.size());
        ++generation_;
    }
    wake_.notify_all();
    const auto [begin, end] = slice(0);
    work(begin, end);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    work_ = nullptr;
}

void WorkerPool::worker_loop(unsigned index) {
    std::uint64_t seen = 0;
    for (;;) {
        const std::function<void(std::size_t, std::size_t)>* work = nullptr;
        std::pair<std::size_t, std::size_t> range;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            work = work_;
            range = slice(index);
        }
        (*work)(range.first, range.second);
        {
            std::lock_guard lock(mutex_);
            if (--pending_ == 0) done_.notify_one();
        }
    }
}

GameBatch::GameBatch(const BatchConfig& config, const BatchOutputs& outputs)
    : config_(config), out_(outputs), games_(config.num_envs), episodes_(config.num_envs, 0),
      waiting_(config.num_envs, 0), pool_(std::max(1u, config.num_threads)) {
    reset(config.seed);
}

std::uint64_t GameBatch::episode_seed(std::uint64_t seed, std::size_t index, std::uint64_t episode) {
    const std::uint64_t first = derive_seed(seed, index);
    return episode == 0 ? first : derive_seed(first, episode);
}

void GameBatch::start_episode(std::size_t i) {
    const std::uint64_t seed = episode_seed(config_.seed, i, episodes_[i]);
    out_.seeds[i] = seed;
    games_[i] = Game(BitField{}, PairSequence::seeded(seed, config_.colors, SequenceKind::Balanced), config_.visible);
    waiting_[i] = 0;
    out_.episode_steps[i] = 0;
}

void GameBatch::reset(std::optional<std::uint64_t> seed) {
    if (seed) {
        config_.seed = *seed;
        std::fill(episodes_.begin(), episodes_.end(), 0);
    } else {
        for (auto& episode : episodes_) ++episode;
    }
    pool_.run(size(), [this](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            start_episode(i);
            out_.reward[i] = 0;
            out_.terminated[i] = 0;
            out_.truncated[i] = 0;
            out_.chain[i] = 0;
            out_.score[i] = 0;
            out_.substituted[i] = 0;
            write_observation(i);
        }
    });
}

std::optional<BatchRefusal> GameBatch::check(const std::int64_t* actions) const {
    for (std::size_t i = 0; i < size(); ++i) {
        const std::int64_t a = actions[i];
        if (a < 0 || a >= static_cast<std::int64_t>(kNumMoves)) return BatchRefusal{i, a, true};
        if (config_.illegal == IllegalPolicy::Raise && waiting_[i] == 0 && !games_[i].is_legal(static_cast<std::uint64_t>(a))) {
            return BatchRefusal{i, a, false};
        }
    }
    return std::nullopt;
}

void GameBatch::write_observation(std::size_t i) {
    const Game& game = games_[i];
    write_field_cells(game.field(), out_.field + kFieldCells * i);
    write_visible_pairs(game, out_.pairs + 2 * (1 + std::size_t{config_.visible}) * i);
    write_action_mask(game.legal_moves(), out_.action_mask + kNumMoves * i);
}

// A game waiting for its reset takes any action (and ignores it): an all-true mask keeps masked
// samplers from dividing by zero.
void GameBatch::write_waiting_mask(std::size_t i) { std::memset(out_.action_mask + kNumMoves * i, 1, kNumMoves); }

void GameBatch::step_one(std::size_t i, std::int64_t action) {
    out_.substituted[i] = 0;
    if (waiting_[i] != 0) {
        if (config_.autoreset == AutoReset::Disabled) {
            out_.reward[i] = 0;
            out_.chain[i] = 0;
            return;  // stays finished, terminated/truncated as they were
        }
        ++episodes_[i];
        start_episode(i);
        out_.reward[i] = 0;
        out_.terminated[i] = 0;
        out_.truncated[i] = 0;
        out_.chain[i] = 0;
        out_.score[i] = 0;
        write_observation(i);
        return;
    }
    // Under Raise the batch has been checked, so the action is legal as it stands.
    const ChosenMove chosen = config_.illegal == IllegalPolicy::Substitute ? choose_move(games_[i].legal_moves(), action)
                                                                             : ChosenMove{static_cast<unsigned>(action), false};
    const MoveOutcome outcome = games_[i].play_legal(chosen.move);
    const std::int64_t steps = ++out_.episode_steps[i];
    const bool terminated = outcome.game_over;
    const bool truncated = !terminated && config_.max_steps != 0 && static_cast<std::uint64_t>(steps) >= config_.max_steps;
    out_.reward[i] = static_cast<float>(outcome.chain.score) - (chosen.substituted ? config_.illegal_penalty : 0.0F);
    out_.substituted[i] = chosen.substituted ? 1 : 0;
    out_.chain[i] = static_cast<std::int32_t>(outcome.chain.chain);
    out_.score[i] = static_cast<std::int64_t>(games_[i].score());
    out_.terminated[i] = terminated ? 1 : 0;
    out_.truncated[i] = truncated ? 1 : 0;
    write_observation(i);
    if (!terminated && !truncated) return;
    if (config_.autoreset == AutoReset::SameStep) {
        const std::size_t pair_bytes = 2 * (1 + std::size_t{config_.visible});
        std::memcpy(out_.final_field + kFieldCells * i, out_.field + kFieldCells * i, kFieldCells);
        std::memcpy(out_.final_pairs + pair_bytes * i, out_.pairs + pair_bytes * i, pair_bytes);
        ++episodes_[i];
        start_episode(i);
        write_observation(i);
        return;
    }
    waiting_[i] = 1;
    write_waiting_mask(i);
}

void GameBatch::step(const std::int64_t* actions) {
    pool_.run(size(), [this, actions](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) step_one(i, actions[i]);
    });
}

}  // namespace velmo
