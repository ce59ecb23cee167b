// Writing a game's state into caller-owned bytes: the field as 14 x 6 PuyoType numbers (row 0 the
// 14th row), the visible pairs, the action mask. Shared by the single game and the batch, which
// writes straight into its NumPy buffers, so these run once per game and step: they work a whole
// row (or eight moves) at a time rather than cell by cell.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "game.hpp"

namespace velmo {

inline constexpr std::size_t kFieldRows = 14;
inline constexpr std::size_t kFieldColumns = 6;
inline constexpr std::size_t kFieldCells = kFieldRows * kFieldColumns;

namespace observation_detail {

// Bit 0 of each 16-bit column lane.
inline constexpr std::uint64_t kLaneLowBits = 0x0001000100010001;

// The lane bit of field row r (row 0 the 14th row): row y = r + 1 is lane bit 15 - y.
constexpr unsigned lane_bit_of_row(std::size_t r) { return 14 - static_cast<unsigned>(r); }

}  // namespace observation_detail

// Row r, column c at out[6 r + c]: the cell of internal column c + 1, row r + 1. A bit field's
// codes are the Python numbers of its puyo types. Cell by cell: the reference the faster forms
// are tested against.
inline void write_field_cells_by_cell(const BitField& field, std::uint8_t* out) {
    const BitPlanes& planes = field.bit_planes();
    for (std::size_t c = 0; c < kFieldColumns; ++c) {
        const unsigned lane_shift = 16 * static_cast<unsigned>(c + 1);
        const auto p0 = static_cast<unsigned>(planes.p0 >> lane_shift) & 0xFFFF;
        const auto p1 = static_cast<unsigned>(planes.p1 >> lane_shift) & 0xFFFF;
        const auto p2 = static_cast<unsigned>(planes.p2 >> lane_shift) & 0xFFFF;
        for (std::size_t r = 0; r < kFieldRows; ++r) {
            const unsigned bit = observation_detail::lane_bit_of_row(r);
            out[kFieldColumns * r + c] = static_cast<std::uint8_t>(((p0 >> bit) & 1) | (((p1 >> bit) & 1) << 1) | (((p2 >> bit) & 1) << 2));
        }
    }
}

// The same cells, a row at a time: one shift per plane half brings row r's bit of every column
// lane to the lane's bottom, so the eight lanes' codes are built together in two 64-bit words.
inline void write_field_cells_portable(const BitField& field, std::uint8_t* out) {
    using observation_detail::kLaneLowBits;
    const BitPlanes& planes = field.bit_planes();
    const std::uint64_t lo0 = low64(planes.p0), lo1 = low64(planes.p1), lo2 = low64(planes.p2);
    const std::uint64_t hi0 = high64(planes.p0), hi1 = high64(planes.p1), hi2 = high64(planes.p2);
    for (std::size_t r = 0; r < kFieldRows; ++r) {
        const unsigned bit = observation_detail::lane_bit_of_row(r);
        // Lanes 0..3 (walls, columns 1..3) in lo, lanes 4..7 (columns 4..6, wall) in hi.
        const std::uint64_t lo = ((lo0 >> bit) & kLaneLowBits) | (((lo1 >> bit) & kLaneLowBits) << 1) | (((lo2 >> bit) & kLaneLowBits) << 2);
        const std::uint64_t hi = ((hi0 >> bit) & kLaneLowBits) | (((hi1 >> bit) & kLaneLowBits) << 1) | (((hi2 >> bit) & kLaneLowBits) << 2);
        std::uint8_t* row = out + kFieldColumns * r;
        row[0] = static_cast<std::uint8_t>(lo >> 16);
        row[1] = static_cast<std::uint8_t>(lo >> 32);
        row[2] = static_cast<std::uint8_t>(lo >> 48);
        row[3] = static_cast<std::uint8_t>(hi);
        row[4] = static_cast<std::uint8_t>(hi >> 16);
        row[5] = static_cast<std::uint8_t>(hi >> 32);
    }
}

#if defined(__SSE2__)
inline constexpr bool kHasVectorFieldCells = true;

// SSE2 is part of every x86-64 processor, so this form needs no run-time check: the eight
// 16-bit lanes of a plane are exactly the eight lanes of one vector register, and two rows' codes
// pack into one register's bytes.
inline void write_field_cells_sse2(const BitField& field, std::uint8_t* out) {
    const BitPlanes& planes = field.bit_planes();
    const auto load = [](const u128& plane) {
        return _mm_set_epi64x(static_cast<long long>(high64(plane)), static_cast<long long>(low64(plane)));
    };
    // Shifted so that a cell's three plane bits sit one above the other (code bits 0, 1, 2) one
    // place below the cell's own lane bit; the bits pushed out are rows 0 and 15, never shown.
    const __m128i p0 = _mm_srli_epi16(load(planes.p0), 1);
    const __m128i p1 = load(planes.p1);
    const __m128i p2 = _mm_slli_epi16(load(planes.p2), 1);
    const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
    const auto codes_of_row = [&](std::size_t r) {
        const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(observation_detail::lane_bit_of_row(r) - 1));
        return _mm_or_si128(_mm_and_si128(_mm_srl_epi16(p0, shift), one),
                            _mm_or_si128(_mm_and_si128(_mm_srl_epi16(p1, shift), two), _mm_and_si128(_mm_srl_epi16(p2, shift), four)));
    };
    const auto store_row = [&](std::size_t r, std::uint64_t lanes) {
        // x86 is little-endian: byte k of `lanes` is lane k; lanes 1..6 are the columns.
        const std::uint64_t columns = lanes >> 8;
        std::memcpy(out + kFieldColumns * r, &columns, kFieldColumns);
    };
    for (std::size_t r = 0; r < kFieldRows; r += 2) {
        const __m128i both = _mm_packus_epi16(codes_of_row(r), codes_of_row(r + 1));
        store_row(r, static_cast<std::uint64_t>(_mm_cvtsi128_si64(both)));
        store_row(r + 1, static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_srli_si128(both, 8))));
    }
}

inline void write_field_cells(const BitField& field, std::uint8_t* out) { write_field_cells_sse2(field, out); }
#else
inline constexpr bool kHasVectorFieldCells = false;

inline void write_field_cells(const BitField& field, std::uint8_t* out) { write_field_cells_portable(field, out); }
#endif

// The current pair and the visible next ones, child then axis, 2 (1 + visible) bytes.
inline void write_visible_pairs(const Game& game, std::uint8_t* out) {
    for (unsigned k = 0; k <= game.visible(); ++k) {
        const GamePair pair = k == 0 ? game.current_pair() : game.next_pair(k - 1);
        out[2 * k] = bit_code(pair.child());
        out[2 * k + 1] = bit_code(pair.axis());
    }
}

namespace observation_detail {

// Byte j of entry b is bit j of b, in memory order on any byte order.
constexpr std::array<std::array<std::uint8_t, 8>, 256> make_bit_bytes() {
    std::array<std::array<std::uint8_t, 8>, 256> table{};
    for (std::size_t b = 0; b < 256; ++b) {
        for (std::size_t j = 0; j < 8; ++j) table[b][j] = static_cast<std::uint8_t>((b >> j) & 1);
    }
    return table;
}
inline constexpr auto kBitBytes = make_bit_bytes();

}  // namespace observation_detail

// 22 bytes, move i's byte 1 when bit i of the mask is set: eight moves per table entry.
inline void write_action_mask(MoveMask mask, std::uint8_t* out) {
    static_assert(kNumMoves == 22);
    const auto& table = observation_detail::kBitBytes;
    std::memcpy(out, table[mask & 0xFF].data(), 8);
    std::memcpy(out + 8, table[(mask >> 8) & 0xFF].data(), 8);
    std::memcpy(out + 16, table[(mask >> 16) & 0x3F].data(), 6);
}

}  // namespace velmo
