// The bit field's hot paths allocate nothing, a whole chain included (its step scores are held
// inline).
// This binary replaces the global allocation functions with counting ones.
#include <array>
#include <cstdlib>
#include <optional>
#include <new>
#include <random>

#include "chain/chain.hpp"
#include "field/bit_field.hpp"
#include "field/cpu_path.hpp"
#include "game/match.hpp"
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
