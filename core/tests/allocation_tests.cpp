// The bit field's hot paths allocate nothing, a whole chain included (its step scores are held
// inline).
// This binary replaces the global allocation functions with counting ones.
#include <array>
#include <cstdlib>
#include <optional>
#include <new>
#include <random>
#include <vector>

#include "chain/chain.hpp"
#include "field/bit_field.hpp"
#include "field/cpu_path.hpp"
#include "game/match.hpp"
#include "game/match_batch.hpp"
#include "game/observation.hpp"
#include "harness.hpp"
#include "test_support.hpp"

namespace {
std::size_t g_allocations = 0;
}

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace velmo;

namespace {

template <class F>
std::size_t allocations_of(F&& action) {
    const std::size_t before = g_allocations;
    action();
    return g_allocations - before;
}

}  // namespace

TEST(bit_field_hot_paths_allocate_nothing_on_every_cpu_path) {
    const CpuPath saved = active_cpu_path();
    std::mt19937_64 random(5);
    const BitField chain_field = velmo_test::build_chain_field(random, 10, 20000);
    for (const CpuPath path : supported_cpu_paths()) {
        CHECK(force_cpu_path(path));
        BitField field = chain_field;
        GradualChainScoreCalculator calculator;
        const std::size_t hot = allocations_of([&] {
            for (std::uint64_t x = 0; x < 8; ++x) (void)field.get_height(x);
            (void)field.get(3, 14);
            field.set(3, 1, BitPuyoType::Red);
            (void)field.put(2, BitPuyoType::Blue);
            for (int i = 0; i < 25; ++i) {
                field.vanish(nullptr);
                field.drop();
            }
            BitField scored = chain_field;
            for (int i = 0; i < 25; ++i) {
                scored.vanish(&calculator);
                scored.drop();
            }
            (void)field.get_num_puyos();
            (void)field.is_all_clear();
            (void)field.has_type(BitPuyoType::Green);
            (void)(field == scored);
        });
        CHECK_EQ(hot, 0u);
        CHECK(calculator.chain() >= 5);

        BitField chained = chain_field;
        ChainResult result;
        const std::size_t whole_chain = allocations_of([&] { result = velmo::chain(chained); });
        CHECK_EQ(whole_chain, 0u);
        CHECK(result.chain >= 5);
        BitField settled = chained;
        CHECK_EQ(allocations_of([&] { result = velmo::chain(settled); }), 0u);
    }
    (void)force_cpu_path(saved);
}

TEST(array_field_chain_allocates_only_its_group_lists) {
    // An empty field has no groups, so its chain allocates nothing.
    auto field = velmo_test::to_array_field(BitField{});
    CHECK_EQ(allocations_of([&] { (void)velmo::chain(field); }), 0u);
}

TEST(match_steps_allocate_nothing) {
    // A batch of matches steps on worker threads: a whole seeded match, every chain and ojama fall
    // included, must not touch the heap.
    Match match = Match::seeded(7);
    SplitMix64 random(3);
    std::uint64_t steps = 0;
    const std::size_t allocations = allocations_of([&] {
        while (!match.is_over()) {
            std::array<std::optional<unsigned>, kNumPlayers> moves;
            for (unsigned p = 0; p < kNumPlayers; ++p) {
                const MoveMask mask = match.legal_moves(p);
                if (mask == 0) continue;
                unsigned move = 0;
                do move = static_cast<unsigned>(random.below(kNumMoves)); while (((mask >> move) & 1U) == 0);
                moves[p] = move;
            }
            CHECK(match.step(moves).ok());
            ++steps;
        }
    });
    CHECK_EQ(allocations, 0u);
    CHECK(steps > 10);
}

TEST(match_batch_steps_allocate_nothing) {
    // Every step after construction, auto-resets included, runs on the buffers given once; the
    // worker pool is woken (eight matches on two threads) without allocating either.
    constexpr std::size_t n = 8;
    constexpr unsigned visible = 2;
    std::vector<std::uint8_t> field(n * 2 * kFieldCells), pairs(n * 2 * 2 * (1 + visible)), final_field(field.size()),
        final_pairs(pairs.size()), flags(n * 2 * 5), masks(n * 2 * kNumVersusActions);
    std::vector<std::uint32_t> counts(n * 2 * 4);
    std::vector<float> reward(n * 2);
    std::vector<std::int32_t> chain(n * 2);
    std::vector<std::int64_t> wide(n * 2 + n * 2);
    std::vector<std::int8_t> winner(n);
    std::vector<std::uint64_t> seeds(n);
    MatchBatchOutputs out;
    out.field = field.data();
    out.pairs = pairs.data();
    out.pending_ojama = counts.data();
    out.ojama_sent = counts.data() + 2 * n;
    out.ojama_received = counts.data() + 4 * n;
    out.final_pending_ojama = counts.data() + 6 * n;
    out.reward = reward.data();
    out.terminated = flags.data();
    out.truncated = flags.data() + n;
    out.due = flags.data() + 2 * n;
    out.substituted = flags.data() + 4 * n;
    out.action_mask = masks.data();
    out.chain = chain.data();
    out.score = wide.data();
    out.frame = wide.data() + 2 * n;
    out.episode_steps = wide.data() + 3 * n;
    out.winner = winner.data();
    out.final_field = final_field.data();
    out.final_pairs = final_pairs.data();
    out.seeds = seeds.data();
    for (const AutoReset mode : {AutoReset::NextStep, AutoReset::SameStep}) {
        BatchConfig batch{n, 5, 4, visible, 2, mode, {IllegalPolicy::Substitute, 0.5F, 0}};
        MatchBatch matches(MatchBatchConfig{batch, Rules{}, Timing{}}, out);
        // Every player always waits: the due ones play their lowest legal move, and the matches
        // soon top out and start again.
        const std::vector<std::int64_t> waits(2 * n, kWaitAction);
        std::size_t ended = 0;
        const std::size_t allocations = allocations_of([&] {
            for (int step = 0; step < 300; ++step) {
                CHECK(!matches.check(waits.data()).has_value());
                matches.step(waits.data());
                for (std::size_t i = 0; i < n; ++i) ended += out.terminated[i];
            }
        });
        CHECK_EQ(allocations, 0u);
        CHECK(ended > n);
    }
}
