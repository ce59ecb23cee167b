// The search primitives in the core: potential chains (up to three added puyos), pair expansion
// and the field hash, per field, on seeded mid-game fields (seeded games played with random legal
// moves, 20 to 40 pairs in; settled, so no chain is pending), against a copy-and-chain baseline
// measured in the same run. Each figure is the best of several batches, the measures taking turns
// batch by batch so that a change in the machine's load touches all of them alike.
//
// Build with -DVELMO_BUILD_BENCHMARKS=ON, then: velmo_search_benchmark [--quick] [batches]
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "game/game.hpp"
#include "search/search.hpp"

namespace {

using Clock = std::chrono::steady_clock;

volatile std::uint64_t g_sink = 0;

std::vector<velmo::BitField> mid_game_fields(std::size_t count) {
    std::vector<velmo::BitField> fields;
    velmo::SplitMix64 moves(1);
    for (std::uint64_t seed = 0; fields.size() < count; ++seed) {
        velmo::Game game(velmo::BitField{}, velmo::PairSequence::seeded(seed, 4, velmo::SequenceKind::Balanced), 2);
        const std::uint64_t stop = 20 + moves.below(21);
        while (!game.is_over() && game.turn() < stop) {
            velmo::MoveMask legal = game.legal_moves();
            for (auto pick = moves.below(static_cast<std::uint64_t>(std::popcount(legal))); pick > 0; --pick) legal &= legal - 1;
            game.play_legal(static_cast<std::size_t>(std::countr_zero(legal)));
        }
        if (!game.is_over() && game.field().get_num_puyos() > 0) fields.push_back(game.field());
    }
    return fields;
}

// Nanoseconds per field of one pass over `fields`.
template <class F>
double nanoseconds_per_field(const std::vector<velmo::BitField>& fields, F&& work) {
    const auto start = Clock::now();
    for (const auto& field : fields) work(field);
    const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
    return elapsed.count() / static_cast<double>(fields.size());
}

struct Measure {
    const char* name;
    const std::vector<velmo::BitField>* fields;
    void (*work)(const velmo::BitField&);
    double best = 1e300;
};

velmo::PotentialChains g_found;
velmo::Children g_children;
constexpr velmo::GamePair kPair{velmo::BitPuyoType::Red, velmo::BitPuyoType::Blue};

void baseline(const velmo::BitField& f) {
    velmo::BitField copy = f;
    g_sink = g_sink + copy.run_chain().score;
}
void detect(const velmo::BitField& f) {
    velmo::detect_potential_chains(f, 3, g_found);
    g_sink = g_sink + g_found.count;
}
void best_chain(const velmo::BitField& f) { g_sink = g_sink + (velmo::best_potential_chain(f, 3) ? 1u : 0u); }
void expand(const velmo::BitField& f) {
    velmo::expand(f, kPair, g_children);
    g_sink = g_sink + g_children.count;
}
void hash(const velmo::BitField& f) { g_sink = g_sink + velmo::field_hash(f); }

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    int batches = 200;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else {
            batches = std::max(1, std::atoi(argv[i]));
        }
    }
    if (quick) batches = std::min(batches, 10);
    const auto fields = mid_game_fields(quick ? 200 : 1000);
    // The fields on which every one of the 22 placements is legal.
    std::vector<velmo::BitField> open_fields;
    std::size_t children = 0;
    for (const auto& f : fields) {
        const auto legal = velmo::legal_move_mask(f);
        children += static_cast<std::size_t>(std::popcount(legal));
        if (std::popcount(legal) == static_cast<int>(velmo::kNumMoves)) open_fields.push_back(f);
    }
    Measure measures[] = {
        {"baseline copy + run_chain   ", &fields, baseline},
        {"detect_potential_chains(3)  ", &fields, detect},
        {"best_potential_chain(3)     ", &fields, best_chain},
        {"expand (all legal children) ", &fields, expand},
        {"expand (fields with all 22) ", &open_fields, expand},
        {"field_hash                  ", &fields, hash},
    };
    for (auto& m : measures) (void)nanoseconds_per_field(*m.fields, m.work);  // warm up
    for (int batch = 0; batch < batches; ++batch) {
        for (auto& m : measures) m.best = std::min(m.best, nanoseconds_per_field(*m.fields, m.work));
    }
    std::printf("%zu seeded mid-game fields (%.1f legal children on average; %zu with all 22), best of %d batches\n",
                fields.size(), static_cast<double>(children) / static_cast<double>(fields.size()), open_fields.size(),
                batches);
    const double base = measures[0].best;
    for (const auto& m : measures) std::printf("%s %8.1f ns/field  (%6.1fx baseline)\n", m.name, m.best, m.best / base);
    return 0;
}
