// The versus match as a batch drives it: who is due, refused steps that change nothing, and
// matches that depend on nothing but their seed and moves.
#include <array>
#include <optional>

#include "game/match.hpp"
#include "harness.hpp"

using namespace velmo;

namespace {

using Moves = std::array<std::optional<unsigned>, kNumPlayers>;

// The first legal move of each due player, or a seeded random one.
Moves moves_for(const Match& match, SplitMix64* random) {
    Moves moves;
    for (unsigned p = 0; p < kNumPlayers; ++p) {
        const MoveMask mask = match.legal_moves(p);
        if (mask == 0) continue;
        unsigned move = 0;
        if (random == nullptr) {
            while (((mask >> move) & 1U) == 0) ++move;
        } else {
            do move = static_cast<unsigned>(random->below(kNumMoves)); while (((mask >> move) & 1U) == 0);
        }
        moves[p] = move;
    }
    return moves;
}

Match played(std::uint64_t seed, std::uint64_t move_seed) {
    Match match = Match::seeded(seed);
    SplitMix64 random(move_seed);
    while (!match.is_over()) match.step_legal(moves_for(match, &random));
    return match;
}

}  // namespace

TEST(match_due_players_are_exactly_those_with_legal_moves_until_the_end) {
    Match match = Match::seeded(1);
    CHECK_EQ(match.due_players(), 3u);
    SplitMix64 random(9);
    while (!match.is_over()) {
        const unsigned due = match.due_players();
        CHECK(due != 0);
        for (unsigned p = 0; p < kNumPlayers; ++p) CHECK_EQ(((due >> p) & 1U) != 0, match.legal_moves(p) != 0);
        const std::uint64_t before = match.frame();
        const StepOutcome outcome = match.step_legal(moves_for(match, &random));
        CHECK(outcome.frame >= before);
        CHECK_EQ(outcome.over, match.is_over());
    }
    CHECK_EQ(match.due_players(), 0u);
}

TEST(match_refused_steps_change_nothing) {
    Match match = Match::seeded(2);
    const Match before = match;
    CHECK(match.step(Moves{2u, std::nullopt}).error().kind == StepErrorKind::MissingMove);
    CHECK(match.step(Moves{2u, 22u}).error().kind == StepErrorKind::OutOfRange);
    CHECK(match == before);
    (void)match.step_legal(Moves{2u, 5u});  // player 0 is due at 54, player 1 at 62
    const Match later = match;
    const auto refused = match.step(Moves{2u, 2u});
    CHECK(refused.error().kind == StepErrorKind::NotDue && refused.error().player == 1);
    CHECK(match == later);
}

TEST(match_results_depend_only_on_seed_and_moves) {
    CHECK(played(4, 10) == played(4, 10));
    CHECK(!(played(4, 10) == played(4, 11)));
    const Match over = played(5, 1);
    Match copy = over;
    CHECK(copy.step(Moves{0u, 0u}).error().kind == StepErrorKind::MatchOver);
}
