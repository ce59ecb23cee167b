// Match: a two-player versus match, a plain value (trivially copyable: clone it by copying).
//
// Each player has a field, a pair sequence and its position in it, a score, the score left over
// from its last conversion to ojama, the ojama pending against it, the all-clear flag and its
// place in time. The match holds the frame, a seeded generator for ojama columns, and the result.
//
// Time is event-driven, in frames (60 per second). A player's turn is:
//   decision at frame D (its pair has appeared; the match waits for its move)
//   -> the move is resolved at once: the pair is placed and the whole chain runs, and the frames
//      they take are counted (placement, then each chain step), giving the chain's end C
//   -> commit at C: the ojama the chain produced cancels the ojama pending against the player
//      first (offsetting), the rest is added to the opponent's pending count
//   -> fall at C (after every commit of that frame): up to max_ojama_per_fall of the player's
//      pending ojama falls on its field, taking the frames of the fall; the turn settles at S
//   -> settle at S: the player loses if its death cell is occupied
//   -> next decision at S + spawn_delay.
// A placement that fires no chain has C = D + placement frames: its pending ojama falls right
// after it. Events of one frame run in the order commit, fall, settle, decision, and player 0
// before player 1 within a kind; a match stops at the first decision, so every event before it
// has been applied when a player chooses. Because the field shown is the field after the move
// was resolved, a view during a chain shows the field after the whole chain.
//
// How a batch drives a match: while !is_over(), read due_players() (bit p set: player p must move
// now; one or both bits are set) and pass a move for exactly those players, std::nullopt for the
// other: step(moves) checks everything and changes nothing on error; step_legal(moves) skips the
// checks for moves already known legal (legal_moves(p) for each due player). Both advance to the
// next decision or to the end, and report what happened in between per player. Nothing here
// allocates, throws or touches global state, so matches run independently on any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "../chain/chain_result.hpp"
#include "../field/bit_field.hpp"
#include "../result.hpp"
#include "moves.hpp"
#include "pair_sequence.hpp"
#include "random.hpp"
#include "rules.hpp"

namespace velmo {

inline constexpr unsigned kNumPlayers = 2;
// Where a player's turn stands: the kind of its next event.
enum class TurnPhase : std::uint8_t { Commit = 0, Fall = 1, Settle = 2, Decide = 3 };

// One player's state.
struct MatchPlayer {
    BitField field;
    PairSequence sequence;
    std::uint64_t turn = 0;          // pairs placed; the current pair is sequence.at(turn)
    std::uint64_t score = 0;
    std::uint32_t leftover = 0;      // score not yet converted to ojama (below target_points)
    std::uint32_t pending_ojama = 0; // committed against this player, not fallen yet
    std::uint32_t ojama_in_flight = 0;  // produced by the running chain, committed at its end
    bool all_clear = false;          // an all-clear bonus is held
    bool lost = false;
    TurnPhase phase = TurnPhase::Decide;
    std::uint64_t event_frame = 0;   // the frame of the next event

    friend bool operator==(const MatchPlayer& a, const MatchPlayer& b);
};

// What happened to one player in one step (between two decisions of the match).
struct PlayerEvents {
    // The move made at the step's start, and what it resolved to.
    bool moved = false;
    std::uint8_t move = 0;
    std::uint32_t placement_frames = 0;
    ChainResult chain;
    std::array<std::uint32_t, kMaxChainSteps> chain_step_frames{};
    std::uint32_t chain_frames = 0;      // their sum
    bool all_clear = false;              // the move left the counted area empty
    bool all_clear_bonus_used = false;   // the move's chain used a held bonus
    std::uint32_t all_clear_bonus = 0;   // points it added to the move's score (and converted)
    std::uint32_t ojama_produced = 0;    // by the move's chain, bonus included; committed at its end
    // Committed in the step: cancelled against the player's own pending ojama, and sent on.
    std::uint32_t offset = 0;
    std::uint32_t ojama_sent = 0;
    // Fell on the player's field in the step (placed, and found no room below the 14th row).
    std::uint32_t ojama_received = 0;
    std::uint32_t ojama_discarded = 0;
    std::uint32_t ojama_fall_frames = 0;
    bool lost = false;
};

struct StepOutcome {
    std::array<PlayerEvents, kNumPlayers> players;
    std::uint64_t frame_before = 0;
    std::uint64_t frame = 0;  // the match frame after the step
    bool over = false;
};

enum class StepErrorKind : std::uint8_t { MatchOver, NotDue, MissingMove, OutOfRange, Illegal };
struct StepError {
    StepErrorKind kind;
    unsigned player;  // the player the error is about (0 for MatchOver)
};

// No winner: the match is a draw, or not over.
inline constexpr int kNoWinner = -1;

class Match {
public:
    // Player p starts on fields[p] (settled first: gravity, then any chain is run unscored) with
    // sequences[p]; ojama columns are drawn from SplitMix64(ojama_seed). Fields must pass
    // is_playable_field (the binding checks).
    Match(const std::array<BitField, kNumPlayers>& fields, const std::array<PairSequence, kNumPlayers>& sequences,
          std::uint64_t ojama_seed, const Rules& rules = {}, const Timing& timing = {});
    // The default match of a seed: empty fields, both players on PairSequence::seeded(seed, 4,
    // Balanced) (the pairs of a one-player game of that seed), ojama seed derive_seed(seed, 1).
    static Match seeded(std::uint64_t seed, const Rules& rules = {}, const Timing& timing = {});

    [[nodiscard]] const MatchPlayer& player(unsigned p) const { return players_[p]; }
    [[nodiscard]] const Rules& rules() const { return rules_; }
    [[nodiscard]] const Timing& timing() const { return timing_; }
    [[nodiscard]] std::uint64_t frame() const { return frame_; }
    [[nodiscard]] bool is_over() const { return over_; }
    // 0 or 1, or kNoWinner for a draw or a match not over.
    [[nodiscard]] int winner() const { return winner_; }
    [[nodiscard]] std::uint64_t ojama_generator_state() const { return ojama_random_.state(); }

    // Bit p set: player p must move now (none once the match is over).
    [[nodiscard]] unsigned due_players() const;
    [[nodiscard]] bool is_due(unsigned p) const { return ((due_players() >> p) & 1U) != 0; }
    // The legal moves of player p now (0 unless it is due).
    [[nodiscard]] MoveMask legal_moves(unsigned p) const { return is_due(p) ? legal_move_mask(players_[p].field) : 0; }
    // The frame of player p's next decision once known (the current frame if it is due); nothing
    // while its chain or its ojama fall is still to come.
    [[nodiscard]] std::optional<std::uint64_t> next_decision_frame(unsigned p) const;
    // The frame player p's running chain ends, while its ojama is still to be committed.
    [[nodiscard]] std::optional<std::uint64_t> chain_end_frame(unsigned p) const;

    // Moves for exactly the due players (indices into kAllHands). Refuses a move after the end,
    // for a player not due, a missing move, a move out of range or an illegal one, changing nothing.
    Result<StepOutcome, StepError> step(const std::array<std::optional<unsigned>, kNumPlayers>& moves);
    // `step` for moves known valid.
    StepOutcome step_legal(const std::array<std::optional<unsigned>, kNumPlayers>& moves);

    // Frames a placement of `move` takes on `field` (sideways travel, drop, landing, split).
    [[nodiscard]] static std::uint32_t placement_frames(const BitField& field, unsigned move, const Timing& timing);

    // For restoring a stored match (the binding checks the values first).
    static Match restore(const std::array<MatchPlayer, kNumPlayers>& players, std::uint64_t ojama_state,
                         const Rules& rules, const Timing& timing, std::uint64_t frame, bool over, int winner) {
        Match match;
        match.players_ = players;
        match.ojama_random_ = SplitMix64(ojama_state);
        match.rules_ = rules;
        match.timing_ = timing;
        match.frame_ = frame;
        match.over_ = over;
        match.winner_ = winner;
        return match;
    }

    friend bool operator==(const Match& a, const Match& b);

private:
    Match() = default;

    [[nodiscard]] unsigned earliest_player() const;
    void resolve_move(unsigned p, unsigned move, PlayerEvents& events);
    void commit(unsigned p, PlayerEvents& events);
    void fall(unsigned p, PlayerEvents& events);
    void settle(unsigned p, PlayerEvents& events);
    void finish();
    void advance(StepOutcome& outcome);

    std::array<MatchPlayer, kNumPlayers> players_{};
    SplitMix64 ojama_random_{0};
    Rules rules_{};
    Timing timing_{};
    std::uint64_t frame_ = 0;
    bool over_ = false;
    int winner_ = kNoWinner;
};

}  // namespace velmo
