// The batches of games and matches and what they write: the row-at-a-time writers against the cell by
// cell reference, the movement rule's table against the rule written out, and batches stepped on
// several thread counts against the one-thread run (tools/run_tsan.sh runs these under
// ThreadSanitizer).
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "game/batch.hpp"
#include "game/match_batch.hpp"
#include "game/observation.hpp"
#include "game/random.hpp"
#include "harness.hpp"

using namespace velmo;

namespace {

u128 random_plane(SplitMix64& random) { return (u128{random.next()} << 64) | random.next(); }

// The movement rule as moves.hpp states it, move by move: each column the pair occupies is checked
// along its own path from the spawn column.
MoveMask legal_move_mask_by_move(const BitField& field) {
    std::array<std::uint64_t, kFieldWidth> height{};
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) height[x] = field.get_height(x);
    if (height[kSpawnColumn] > 11) return 0;
    const auto rides_high_at = [&](std::uint64_t x, std::uint64_t previous) {
        if (height[x] == 11 || height[x] == 12) return true;  // a floor kick, or a ledge it reached high
        if (x == kSpawnColumn) return height[2] >= 12 && height[4] >= 12;  // the quick turn
        return height[previous] == 12;
    };
    const auto reachable = [&](std::uint64_t target) {
        const int step = target < kSpawnColumn ? -1 : 1;
        for (std::uint64_t x = kSpawnColumn; x != target; x += static_cast<std::uint64_t>(step)) {
            const std::uint64_t next = x + static_cast<std::uint64_t>(step);
            if (height[next] >= 13) return false;
            if (height[next] == 12 && !rides_high_at(x, x - static_cast<std::uint64_t>(step))) return false;
        }
        return true;
    };
    const auto empty_cells = [&](std::uint64_t x) {
        unsigned empty = 0;
        for (std::uint64_t y = kTopPlayableRow; y <= kBottomPlayableRow; ++y) empty += field.get(x, y) == BitPuyoType::Empty ? 1 : 0;
        return empty;
    };
    MoveMask mask = 0;
    for (std::size_t move = 0; move < kNumMoves; ++move) {
        const Hand hand = kAllHands[move];
        bool legal = reachable(hand.x);
        switch (hand.rotation) {
            case Rotation::Top: legal = legal && empty_cells(hand.x) >= 2; break;
            case Rotation::Bottom: legal = legal && height[hand.x] <= 11 && empty_cells(hand.x) >= 2; break;
            case Rotation::Left: legal = legal && reachable(hand.x - 1); break;
            case Rotation::Right: legal = legal && reachable(hand.x + 1); break;
        }
        if (legal) mask |= MoveMask{1} << move;
    }
    return mask;
}

// Buffers for a batch's outputs.
struct Outputs {
    explicit Outputs(std::size_t n, unsigned visible)
        : field(n * kFieldCells), pairs(n * 2 * (1 + visible)), terminated(n), truncated(n), mask(n * kNumMoves),
          final_field(n * kFieldCells), final_pairs(n * 2 * (1 + visible)), substituted(n), reward(n), chain(n), score(n), steps(n), move_score(n), seeds(n) {}

    BatchOutputs view() {
        BatchOutputs out{field.data(), pairs.data(), reward.data(), terminated.data(), truncated.data(), mask.data(), chain.data(),
                         score.data(), steps.data(), final_field.data(), final_pairs.data(), seeds.data()};
        out.substituted = substituted.data();
        out.move_score = move_score.data();
        return out;
    }
    friend bool operator==(const Outputs&, const Outputs&) = default;

    std::vector<std::uint8_t> field, pairs, terminated, truncated, mask, final_field, final_pairs, substituted;
    std::vector<float> reward;
    std::vector<std::int32_t> chain;
    std::vector<std::int64_t> score, steps, move_score;
    std::vector<std::uint64_t> seeds;
};

// Steps a batch with its own sampled actions; the outputs and actions after every step.
struct Run {
    std::vector<Outputs> outputs;
    std::vector<std::vector<std::int64_t>> actions;
};

Run run_batch(BatchConfig config, unsigned steps) {
    Outputs out(config.num_envs, config.visible);
    GameBatch batch(config, out.view());
    Run run;
    std::vector<std::int64_t> actions(config.num_envs);
    for (unsigned s = 0; s < steps; ++s) {
        if (s == steps / 2) batch.reset(std::nullopt);
        batch.sample_actions(actions.data());
        if (batch.check(actions.data())) velmo_test::record("a sampled action was refused", __FILE__, __LINE__);
        batch.step(actions.data());
        run.outputs.push_back(out);
        run.actions.push_back(actions);
    }
    return run;
}

// Buffers for a batch of matches' outputs.
struct MatchOutputs {
    MatchOutputs(std::size_t n, unsigned visible)
        : field(2 * n * kFieldCells), pairs(2 * n * 2 * (1 + visible)), final_field(field.size()), final_pairs(pairs.size()),
          terminated(n), truncated(n), mask(2 * n * kNumVersusActions), due(2 * n), substituted(2 * n), reward(2 * n), chain(2 * n),
          pending(2 * n), sent(2 * n), received(2 * n), final_pending(2 * n), score(2 * n), frame(n), steps(n), winner(n), seeds(n) {}

    MatchBatchOutputs view() {
        MatchBatchOutputs out;
        out.field = field.data();
        out.pairs = pairs.data();
        out.pending_ojama = pending.data();
        out.reward = reward.data();
        out.terminated = terminated.data();
        out.truncated = truncated.data();
        out.action_mask = mask.data();
        out.due = due.data();
        out.chain = chain.data();
        out.score = score.data();
        out.ojama_sent = sent.data();
        out.ojama_received = received.data();
        out.substituted = substituted.data();
        out.winner = winner.data();
        out.frame = frame.data();
        out.episode_steps = steps.data();
        out.final_field = final_field.data();
        out.final_pairs = final_pairs.data();
        out.final_pending_ojama = final_pending.data();
        out.seeds = seeds.data();
        return out;
    }
    friend bool operator==(const MatchOutputs&, const MatchOutputs&) = default;

    std::vector<std::uint8_t> field, pairs, final_field, final_pairs, terminated, truncated, mask, due, substituted;
    std::vector<float> reward;
    std::vector<std::int32_t> chain;
    std::vector<std::uint32_t> pending, sent, received, final_pending;
    std::vector<std::int64_t> score, frame, steps;
    std::vector<std::int8_t> winner;
    std::vector<std::uint64_t> seeds;
};

// Steps a batch of matches with random allowed actions read from its masks (one generator for
// the whole run, so the actions depend on the outputs only); the outputs after every step.
std::vector<MatchOutputs> run_match_batch(const MatchBatchConfig& config, unsigned steps) {
    const std::size_t n = config.batch.num_envs;
    MatchOutputs out(n, config.batch.visible);
    MatchBatch batch(config, out.view());
    SplitMix64 random(config.batch.seed + 1);
    std::vector<std::int64_t> actions(2 * n);
    std::vector<MatchOutputs> run;
    for (unsigned s = 0; s < steps; ++s) {
        if (s == steps / 2) batch.reset(std::nullopt);
        for (std::size_t k = 0; k < 2 * n; ++k) {
            const std::uint8_t* mask = out.mask.data() + kNumVersusActions * k;
            std::int64_t action = 0;
            do action = static_cast<std::int64_t>(random.below(kNumVersusActions)); while (mask[action] == 0);
            actions[k] = action;
        }
        if (batch.check(actions.data())) velmo_test::record("an allowed action was refused", __FILE__, __LINE__);
        batch.step(actions.data());
        run.push_back(out);
    }
    return run;
}

}  // namespace

TEST(field_cells_written_a_row_at_a_time_match_the_cell_by_cell_writer) {
    SplitMix64 random(7);
    for (int i = 0; i < 2000; ++i) {
        // Any planes: walls, the unused code 3 and the hidden rows all included.
        const BitField field = BitField::from_planes(random_plane(random), random_plane(random), random_plane(random));
        std::array<std::uint8_t, kFieldCells> expected{}, portable{}, chosen{};
        write_field_cells_by_cell(field, expected.data());
        write_field_cells_portable(field, portable.data());
        write_field_cells(field, chosen.data());
        CHECK(portable == expected);
        CHECK(chosen == expected);
#if defined(__SSE2__)
        std::array<std::uint8_t, kFieldCells> vector{};
        write_field_cells_sse2(field, vector.data());
        CHECK(vector == expected);
#endif
    }
}

TEST(action_mask_bytes_are_the_mask_bits) {
    for (MoveMask mask = 0; mask < (MoveMask{1} << kNumMoves); mask += 997) {
        std::array<std::uint8_t, kNumMoves + 2> out{};
        out.back() = 0xAB;  // nothing written past the 22 bytes
        write_action_mask(mask, out.data());
        for (std::size_t move = 0; move < kNumMoves; ++move) CHECK_EQ(out[move], static_cast<std::uint8_t>((mask >> move) & 1));
        CHECK_EQ(out.back(), std::uint8_t{0xAB});
    }
}

TEST(legal_move_table_matches_the_rule_move_by_move) {
    // The rule sees each column's height only as at most 10, 11, 12, or more: every combination of
    // those classes over the six columns, each with and without a puyo left in the 14th row.
    constexpr std::array<std::uint64_t, 5> heights = {0, 10, 11, 12, 13};
    for (std::size_t combination = 0; combination < 5 * 5 * 5 * 5 * 5 * 5; ++combination) {
        std::size_t rest = combination;
        BitField field;
        for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
            const std::uint64_t height = heights[rest % heights.size()];
            rest /= heights.size();
            for (std::uint64_t h = 0; h < height; ++h) field.put(x, h % 2 == 0 ? BitPuyoType::Red : BitPuyoType::Blue);
        }
        CHECK_EQ(legal_move_mask(field), legal_move_mask_by_move(field));
        for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) field.set(x, kTopPlayableRow, BitPuyoType::Green);
        CHECK_EQ(legal_move_mask(field), legal_move_mask_by_move(field));
    }
}

TEST(worker_pool_slices_cover_every_item_once_on_aligned_borders) {
    for (unsigned threads = 1; threads <= 5; ++threads) {
        WorkerPool pool(threads);
        for (std::size_t count : {0u, 1u, 63u, 64u, 129u, 1000u, 4097u}) {
            std::vector<int> seen(count, 0);
            pool.run(count, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) ++seen[i];
            });
            CHECK(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
            for (unsigned k = 0; k <= threads; ++k) {
                const std::size_t border = WorkerPool::slice_begin(count, threads, k);
                CHECK(border == count || border % WorkerPool::kSliceAlignment == 0);
                if (k > 0) CHECK(WorkerPool::slice_begin(count, threads, k - 1) <= border);
            }
            CHECK_EQ(WorkerPool::slice_begin(count, threads, threads), count);
        }
    }
}

TEST(threaded_batches_step_exactly_as_one_thread) {
    for (const AutoReset mode : {AutoReset::NextStep, AutoReset::SameStep, AutoReset::Disabled}) {
        for (const std::size_t n : {std::size_t{1}, std::size_t{1100}, std::size_t{2100}}) {
            const BatchConfig base{n, 11, 4, 2, 1, mode, {.max_steps = mode == AutoReset::SameStep ? 20u : 0u}};
            const Run expected = run_batch(base, 50);
            for (const unsigned threads : {2u, 3u, 4u}) {
                BatchConfig config = base;
                config.num_threads = threads;
                const Run got = run_batch(config, 50);
                CHECK(got.actions == expected.actions);
                CHECK(got.outputs == expected.outputs);
            }
        }
    }
}

TEST(sampled_actions_are_legal_and_follow_the_seed) {
    Outputs out(1500, 2);
    GameBatch batch(BatchConfig{1500, 5, 3, 2, 2, AutoReset::NextStep, {}}, out.view());
    std::vector<std::int64_t> first(1500), actions(1500);
    batch.sample_actions(first.data());
    std::array<unsigned, kNumMoves> counts{};
    for (int s = 0; s < 100; ++s) {
        batch.sample_actions(actions.data());
        for (std::size_t i = 0; i < 1500; ++i) {
            CHECK(((batch.action_mask(i) >> actions[i]) & 1) != 0);
            ++counts[static_cast<std::size_t>(actions[i])];
        }
        batch.step(actions.data());
    }
    // Every move is drawn at some point (the empty field allows all 22).
    CHECK(std::all_of(counts.begin(), counts.end(), [](unsigned c) { return c > 0; }));
    // A reset with the seed restarts the draws.
    batch.reset(5);
    batch.sample_actions(actions.data());
    CHECK(actions == first);
}

TEST(threaded_match_batches_step_exactly_as_one_thread) {
    for (const AutoReset mode : {AutoReset::NextStep, AutoReset::SameStep, AutoReset::Disabled}) {
        for (const std::size_t n : {std::size_t{1}, std::size_t{301}}) {
            const BatchConfig batch{n, 17, 4, 2, 1, mode, {.max_steps = mode == AutoReset::SameStep ? 30u : 0u}};
            const MatchBatchConfig base{batch, Rules{}, Timing{}};
            const std::vector<MatchOutputs> expected = run_match_batch(base, 80);
            for (const unsigned threads : {2u, 3u}) {
                MatchBatchConfig config = base;
                config.batch.num_threads = threads;
                CHECK(run_match_batch(config, 80) == expected);
            }
        }
    }
}
