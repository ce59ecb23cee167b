// Game: one player's game, a plain value. A field, a pair sequence and the count of pairs
// placed; each move places the current pair by one of the 22 hands, runs the whole chain and
// moves on to the next pair. The game is over when, after a move and its chain, the death cell
// (the third column's cell in the 12th row) is occupied; a game that starts on such a field is
// over from the start. A move that leaves the counted area empty earns the all-clear bonus: the
// next move that fires a chain scores kAllClearBonus more, once.
#pragma once

#include <cstdint>

#include "../chain/chain_result.hpp"
#include "../field/bit_field.hpp"
#include "../result.hpp"
#include "moves.hpp"
#include "pair_sequence.hpp"
#include "rules.hpp"

namespace velmo {

inline constexpr unsigned kMaxVisiblePairs = 128;

enum class MoveError : std::uint8_t { OutOfRange, Illegal, GameOver };

struct MoveOutcome {
    ChainResult chain;
    std::uint32_t all_clear_bonus = 0;  // points a held all-clear bonus added to the chain's score
    bool all_clear = false;
    bool game_over = false;

    // The move's score: the chain's and any all-clear bonus.
    [[nodiscard]] std::uint64_t score() const { return std::uint64_t{chain.score} + all_clear_bonus; }
};

// Whether the planes are a field that a game can play on: the walls as a new field has them and
// no cell with the unused code 3 (a pickle state is taken as it is, so a velmo.Field can hold any
// planes).
bool is_playable_field(const BitField& field);

class Game {
public:
    Game() : Game(BitField{}, PairSequence{}, 2) {}
    // visible: the number of next pairs shown, at most kMaxVisiblePairs (the binding checks).
    Game(const BitField& field, const PairSequence& sequence, unsigned visible)
        : field_(field), sequence_(sequence), visible_(visible), over_(is_death_cell_occupied(field)) {}

    [[nodiscard]] const BitField& field() const { return field_; }
    [[nodiscard]] const PairSequence& sequence() const { return sequence_; }
    [[nodiscard]] GamePair current_pair() const { return sequence_.at(turn_); }
    // The k-th pair after the current one (k = 0 is the next pair).
    [[nodiscard]] GamePair next_pair(unsigned k) const { return sequence_.at(turn_ + 1 + k); }
    [[nodiscard]] unsigned visible() const { return visible_; }
    [[nodiscard]] std::uint64_t turn() const { return turn_; }
    [[nodiscard]] std::uint64_t score() const { return score_; }
    [[nodiscard]] bool is_over() const { return over_; }
    // Whether an all-clear bonus is held for the next chain.
    [[nodiscard]] bool all_clear_held() const { return all_clear_held_; }

    [[nodiscard]] MoveMask legal_moves() const { return over_ ? 0 : legal_move_mask(field_); }
    [[nodiscard]] bool is_legal(std::uint64_t move) const { return move < kNumMoves && ((legal_moves() >> move) & 1) != 0; }

    // Refuses a move out of range, an illegal move or any move after the end, changing nothing.
    Result<MoveOutcome, MoveError> play(std::uint64_t move);
    // `play` for a move known to be legal (the batch checks a whole batch before it moves).
    MoveOutcome play_legal(std::uint64_t move);

    // For restoring a stored game (the binding checks the values first).
    static Game restore(const BitField& field, const PairSequence& sequence, unsigned visible, std::uint64_t turn,
                        std::uint64_t score, bool over, bool all_clear_held) {
        Game game(field, sequence, visible);
        game.turn_ = turn;
        game.score_ = score;
        game.over_ = over;
        game.all_clear_held_ = all_clear_held;
        return game;
    }

    friend bool operator==(const Game&, const Game&) = default;

private:
    BitField field_;
    PairSequence sequence_;
    std::uint64_t turn_ = 0;
    std::uint64_t score_ = 0;
    unsigned visible_;
    bool over_;
    bool all_clear_held_ = false;
};

}  // namespace velmo
