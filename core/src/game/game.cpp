#include "game.hpp"

#include "../chain/chain.hpp"

namespace velmo {

bool is_playable_field(const BitField& field) {
    const BitPlanes& planes = field.bit_planes();
    const u128 wall_cells = ~bit_layout::lanes(0, 0x7FFE);
    const bool walls_intact = (planes.p0 & wall_cells) == 0 && (planes.p1 & wall_cells) == (bit_layout::kWalls & wall_cells) &&
                              (planes.p2 & wall_cells) == 0;
    const u128 code_three = planes.p0 & planes.p1 & ~planes.p2;
    return walls_intact && code_three == 0;
}

MoveOutcome Game::play_legal(std::uint64_t move) {
    // Cannot fail: a legal move is one that put_pair accepts.
    (void)put_hand(field_, kAllHands[move], current_pair());
    MoveOutcome outcome;
    outcome.chain = chain(field_);
    if (outcome.chain.chain > 0 && all_clear_held_) {
        outcome.all_clear_bonus = kAllClearBonus;
        all_clear_held_ = false;
    }
    outcome.all_clear = field_.is_all_clear();
    if (outcome.all_clear) all_clear_held_ = true;
    score_ += outcome.score();
    ++turn_;
    over_ = is_death_cell_occupied(field_);
    outcome.game_over = over_;
    return outcome;
}

Result<MoveOutcome, MoveError> Game::play(std::uint64_t move) {
    if (over_) return Err{MoveError::GameOver};
    if (move >= kNumMoves) return Err{MoveError::OutOfRange};
    if (!is_legal(move)) return Err{MoveError::Illegal};
    return play_legal(move);
}

}  // namespace velmo
