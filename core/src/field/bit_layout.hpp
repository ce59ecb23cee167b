// The bit field's storage: three 128-bit planes and the fixed masks over them.
//
// Cell (x, y) is bit 16x + (15 - y) of every plane, so each column is one 16-bit lane and bit r
// of a lane is the r-th row counted from the bottom. One lane, bit 15 on the left:
//
//     bit  15   14   13   12 ............ 1    0
//          top  14th 13th 12th ......... 1st  bottom
//          wall row  row  row            row  wall
//          y=0  y=1  y=2  y=3            y=14 y=15
//
// and the eight lanes of a plane, columns 0..3 in the low 64 bits, 4..7 in the high 64 bits:
//
//     high 64: | lane 7 | lane 6 | lane 5 | lane 4 |   low 64: | lane 3 | lane 2 | lane 1 | lane 0 |
//              | wall   |  playable columns 6..1 ...                                    | wall   |
//
// The cell code is p0 + 2 p1 + 4 p2 (a BitPuyoType code); WALL is p1 alone, a colour has p2.
//
// The processor paths of the bit kernels use only the constants of this header, never its
// functions at run time, so no code is shared between units compiled with different targets.
#pragma once

#include <cstdint>

#include "../uint128.hpp"

namespace velmo {

struct BitPlanes {
    u128 p0;  // weight 1 of the cell code
    u128 p1;  // weight 2
    u128 p2;  // weight 4: the colour plane
};

namespace bit_layout {

inline constexpr unsigned kLaneBits = 16;
inline constexpr unsigned kNumLanes = 8;

// Lane patterns, one 16-bit lane each.
inline constexpr std::uint64_t kLaneAll = 0xFFFF;
inline constexpr std::uint64_t kLaneWallRows = 0x8001;        // bits 0 and 15
inline constexpr std::uint64_t kLaneCountedRows = 0x3FFE;     // bits 1..13: rows y = 2..14
inline constexpr std::uint64_t kLaneConnectionRows = 0x1FFE;  // bits 1..12: rows y = 3..14
inline constexpr std::uint64_t kLaneDropKeptRows = 0xC001;    // bits 0, 14, 15: rows never moved

// A 128-bit mask with `wall_lanes` in lanes 0 and 7 and `playable_lanes` in lanes 1..6.
constexpr u128 lanes(std::uint64_t wall_lanes, std::uint64_t playable_lanes) {
    u128 mask = 0;
    for (unsigned lane = 0; lane < kNumLanes; ++lane) {
        const bool is_wall_column = lane == 0 || lane == kNumLanes - 1;
        mask |= static_cast<u128>(is_wall_column ? wall_lanes : playable_lanes) << (kLaneBits * lane);
    }
    return mask;
}

// p1 of a new field: lanes 0 and 7 all ones, lanes 1..6 the two wall rows.
inline constexpr u128 kWalls = lanes(kLaneAll, kLaneWallRows);
// The counted area (columns 1..6, rows y = 2..14); also the region where ojama next to a vanishing
// group is cleared, which reaches the 13th row above the connection region.
inline constexpr u128 kCountedArea = lanes(0, kLaneCountedRows);
// The connection region (columns 1..6, rows y = 3..14): where groups form.
inline constexpr u128 kConnectionRegion = lanes(0, kLaneConnectionRows);
// What gravity never moves: the wall columns, both wall rows and the 14th row.
inline constexpr u128 kDropKeep = lanes(kLaneAll, kLaneDropKeptRows);
// Per-lane masks for shifting rows within a lane without crossing into the neighbouring lane.
inline constexpr u128 kLaneNotTopBit = lanes(0x7FFF, 0x7FFF);
inline constexpr u128 kLaneNotBottomBit = lanes(0xFFFE, 0xFFFE);

static_assert(kWalls == make_u128(0xFFFF800180018001, 0x800180018001FFFF));
static_assert(kCountedArea == make_u128(0x00003FFE3FFE3FFE, 0x3FFE3FFE3FFE0000));
static_assert(kDropKeep == make_u128(0xFFFFC001C001C001, 0xC001C001C001FFFF));
static_assert(kConnectionRegion == make_u128(0x00001FFE1FFE1FFE, 0x1FFE1FFE1FFE0000));

// Bit index of cell (x, y); wraps into the 128 bits for coordinates outside the grid.
constexpr unsigned cell_bit(std::uint64_t x, std::uint64_t y) {
    return static_cast<unsigned>((kLaneBits * x + (kLaneBits - 1) - y) & 127);
}

}  // namespace bit_layout
}  // namespace velmo
