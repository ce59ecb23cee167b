// Writing a game's state into caller-owned bytes: the field as 14 x 6 PuyoType numbers (row 0 the
// 14th row), the visible pairs, the action mask. Shared by the single game and the batch, which
// writes straight into its NumPy buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "game.hpp"

namespace velmo {

inline constexpr std::size_t kFieldRows = 14;
inline constexpr std::size_t kFieldColumns = 6;
inline constexpr std::size_t kFieldCells = kFieldRows * kFieldColumns;

// Row r, column c at out[6 r + c]: the cell of internal column c + 1, row r + 1. A bit field's
// codes are the Python numbers of its puyo types.
inline void write_field_cells(const BitField& field, std::uint8_t* out) {
    const BitPlanes& planes = field.bit_planes();
    for (std::size_t c = 0; c < kFieldColumns; ++c) {
        const unsigned lane_shift = 16 * static_cast<unsigned>(c + 1);
        const auto p0 = static_cast<unsigned>(planes.p0 >> lane_shift) & 0xFFFF;
        const auto p1 = static_cast<unsigned>(planes.p1 >> lane_shift) & 0xFFFF;
        const auto p2 = static_cast<unsigned>(planes.p2 >> lane_shift) & 0xFFFF;
        for (std::size_t r = 0; r < kFieldRows; ++r) {
            const unsigned bit = 14 - static_cast<unsigned>(r);  // row y = r + 1 is lane bit 15 - y
            out[kFieldColumns * r + c] = static_cast<std::uint8_t>(((p0 >> bit) & 1) | (((p1 >> bit) & 1) << 1) | (((p2 >> bit) & 1) << 2));
        }
    }
}

// The current pair and the visible next ones, child then axis, 2 (1 + visible) bytes.
inline void write_visible_pairs(const Game& game, std::uint8_t* out) {
    for (unsigned k = 0; k <= game.visible(); ++k) {
        const GamePair pair = k == 0 ? game.current_pair() : game.next_pair(k - 1);
        out[2 * k] = bit_code(pair.child());
        out[2 * k + 1] = bit_code(pair.axis());
    }
}

inline void write_action_mask(MoveMask mask, std::uint8_t* out) {
    for (std::size_t move = 0; move < kNumMoves; ++move) out[move] = static_cast<std::uint8_t>((mask >> move) & 1);
}

}  // namespace velmo
