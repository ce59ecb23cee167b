// Core benchmark of the game layer: a versus match step against a one-player move, both with
// random legal moves, measured in the same run on the processor path chosen for this machine.
// Build with -DVELMO_BUILD_BENCHMARKS=ON and run velmo_game_benchmark [batches] (see
// docs/versus.md). Each figure is the best of several timed batches; the two loops take turns
// batch by batch, so a change in the machine's load touches both alike and the ratio holds.
#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "game/game.hpp"
#include "game/match.hpp"
#include "game/random.hpp"

using namespace velmo;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kStarts = 16;        // distinct seeds; a finished game restarts from a copy
constexpr std::uint64_t kMovesPerBatch = 20'000;

volatile std::uint64_t g_sink = 0;

// The k-th set bit of a mask, k drawn uniformly: a random legal move.
unsigned random_move(MoveMask mask, SplitMix64& random) {
    auto k = static_cast<unsigned>(random.below(static_cast<unsigned>(std::popcount(mask))));
    for (; k > 0; --k) mask &= mask - 1;
    return static_cast<unsigned>(std::countr_zero(mask));
}

struct GameLoop {
    std::vector<Game> starts;
    Game game;
    std::size_t next_start = 1;
    SplitMix64 random{1};

    GameLoop() : game() {
        for (std::size_t i = 0; i < kStarts; ++i) starts.emplace_back(BitField{}, PairSequence::seeded(i, 4, SequenceKind::Balanced), 2);
        game = starts[0];
    }

    // Nanoseconds per move over `moves` moves.
    double run(std::uint64_t moves) {
        std::uint64_t score = 0;
        const auto start = Clock::now();
        for (std::uint64_t i = 0; i < moves; ++i) {
            if (game.is_over()) game = starts[next_start++ % kStarts];
            score += game.play_legal(random_move(game.legal_moves(), random)).chain.score;
        }
        const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
        g_sink = g_sink + score;
        return elapsed.count() / static_cast<double>(moves);
    }
};

struct MatchLoop {
    std::vector<Match> starts;
    Match match;
    std::size_t next_start = 1;
    SplitMix64 random{2};
    std::uint64_t steps = 0;
    std::uint64_t moves_made = 0;
    std::uint64_t matches = 0;

    MatchLoop() : match(Match::seeded(0)) {
        for (std::size_t i = 0; i < kStarts; ++i) starts.push_back(Match::seeded(i));
        match = starts[0];
    }

    // Nanoseconds per move (a step moves one player or both) over at least `moves` moves.
    double run(std::uint64_t moves) {
        std::uint64_t made = 0;
        std::uint64_t sent = 0;
        const auto start = Clock::now();
        while (made < moves) {
            if (match.is_over()) {
                match = starts[next_start++ % kStarts];
                ++matches;
            }
            std::array<std::optional<unsigned>, kNumPlayers> chosen;
            const unsigned due = match.due_players();
            for (unsigned p = 0; p < kNumPlayers; ++p) {
                if (((due >> p) & 1U) != 0) {
                    chosen[p] = random_move(match.legal_moves(p), random);
                    ++made;
                }
            }
            const StepOutcome outcome = match.step_legal(chosen);
            sent += outcome.players[0].ojama_sent + outcome.players[1].ojama_sent;
            ++steps;
        }
        const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
        g_sink = g_sink + sent;
        moves_made += made;
        return elapsed.count() / static_cast<double>(made);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int batches = argc > 1 ? std::max(3, std::atoi(argv[1])) : 100;
    GameLoop game;
    MatchLoop match;
    (void)game.run(kMovesPerBatch);  // warm up
    (void)match.run(kMovesPerBatch);

    double best_game = 1e300;
    double best_match = 1e300;
    for (int batch = 0; batch < batches; ++batch) {
        best_game = std::min(best_game, game.run(kMovesPerBatch));
        best_match = std::min(best_match, match.run(kMovesPerBatch));
    }
    const double moves_per_step = static_cast<double>(match.moves_made) / static_cast<double>(match.steps);
    std::printf("velmo game benchmark; best of %d batches of %llu random legal moves\n", batches,
                static_cast<unsigned long long>(kMovesPerBatch));
    std::printf("one-player move (Game::play_legal):      %7.1f ns\n", best_game);
    std::printf("versus move (Match::step_legal, per move): %5.1f ns  (%.2f moves per step, %llu matches)\n", best_match,
                moves_per_step, static_cast<unsigned long long>(match.matches));
    std::printf("versus step (per call):                  %7.1f ns\n", best_match * moves_per_step);
    std::printf("ratio, versus move / one-player move:    %7.2fx\n", best_match / best_game);
    std::printf("ratio, versus step / one-player move:    %7.2fx\n", best_match * moves_per_step / best_game);
    return 0;
}
